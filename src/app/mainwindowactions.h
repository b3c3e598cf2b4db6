#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPoint>

class Action;
class ContextMenu;
class MainWindowActionsHost;
class QKeySequence;
class QWidget;
class Setting;

// The main window's commands as actions of the action system: each is listed in the key binder
// and can be rebound, and the context menu offers them, grouped in submenus, together with the
// canvas actions the view registers (arranging, flipping, focusing). An entry that cannot run
// now (nothing selected, nothing to undo, the canvas locked) is disabled, not hidden.
//
// GUI thread only; owned by the main window.
class MainWindowActions : public QObject {
    Q_OBJECT

public:
    explicit MainWindowActions(MainWindowActionsHost *host);

    Action *action(const QString &name) const { return m_actions.value(name); }
    // Every action this class registered, in order of registration.
    QList<Action *> actions() const { return m_ordered; }

    // Recomputes which commands can run now.
    void updateEnabled();

private:
    template<typename Slot>
    Action *add(const char *name, const QString &label, const QString &category,
        const QKeySequence &keys, Slot slot);
    void createActions();
    void createMenus();
    // Adds the window's sections to the context menu opened at position (global).
    void contributeToMenu(const QPoint &position);
    // The canvas action of that name, registered by the view.
    Action *viewAction(const char *name) const;

    void selectAll();
    void deleteSelection();
    void createNote();
    void loadImages();
    void normalize(int mode);
    void resetTransform();
    void resetCrop();
    void toggleGrey();
    // Smooths every selected picture, or none when all of them are.
    void toggleSmoothing();
    // direction: DepthChangeCommand::Direction.
    void changeDepth(int direction);
    // Shows where the selected images came from: local files selected in the file manager, web
    // pages (or, without one, the pictures' addresses) in the browser. Asks first when that
    // opens more than one.
    void openSources();
    // Puts where the selected images came from on the clipboard as text, one to a line.
    void copySourceAddresses();
    // While its keys are held, the popup label tells where the picture under the pointer came
    // from.
    void createSourceHover(const QString &category);
    void showSourceAt(const QPoint &globalPosition);

    MainWindowActionsHost *m_host;
    // The host's window: parent of the actions, menus and dialogs.
    QWidget *m_window;
    Setting *m_hideOpenSourceWarning;
    QHash<QString, Action *> m_actions;
    QHash<QString, Action *> m_viewActions;
    QList<Action *> m_ordered;
    // Where the menu opened: a note made from the menu goes there, not where the pointer went.
    QPoint m_menuPosition;
    bool m_fromMenu = false;
    Action *m_sourceHover = nullptr;
    // The source the popup label shows while the hover runs: told once, not on every move.
    QString m_sourceShown;

    ContextMenu *m_fileMenu = nullptr;
    ContextMenu *m_recentMenu = nullptr;
    ContextMenu *m_arrangeMenu = nullptr;
    ContextMenu *m_imageMenu = nullptr;
    ContextMenu *m_viewMenu = nullptr;
    ContextMenu *m_exportMenu = nullptr;
};
