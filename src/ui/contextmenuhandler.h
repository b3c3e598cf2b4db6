#pragma once

#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QWidget>

class ContextMenu;
class QAction;

// The one context menu of the program, which has no menu bar: every command that is not a
// gesture is reached through it. The menu is built anew each time it opens. Contributors connect
// to contextMenuRequested and, while it is being emitted, add actions to named sections. Sections
// are shown in ascending order of their names, which therefore start with a two-digit rank
// ("10 - settings", "80 - window", "99 - bottom"), with a separator between two sections.
//
// The handler is a hidden widget that is never shown; the menu is a child of the window given to
// setMenuParent (so that it follows the window's style sheet) or of the handler. It is created on
// first use and deleted with the application object. GUI thread only.
class ContextMenuHandler : public QWidget {
    Q_OBJECT

public:
    static ContextMenuHandler *instance();
    ~ContextMenuHandler() override;

    void setMenuParent(QWidget *window);

    // Puts the action at the front of the section's list, creating the section: of two
    // contributions to one section, the later comes first.
    void addAction(QAction *action, const QString &section);
    // Puts the actions, in their order, at the front of the section's list.
    void addActions(const QList<QAction *> &actions, const QString &section);

    // Asks the contributors for their actions at position (global screen coordinates) and
    // returns the menu's entries, separators included, without showing them. The separators
    // belong to the handler.
    QList<QAction *> build(const QPoint &position);
    // Builds the menu and pops it up (without waiting for it to close) at the mouse pointer or
    // at globalPosition. Nothing opens when no contributor added a visible entry.
    void showMenu();
    void showMenu(const QPoint &globalPosition);

    // The menu, made again when the window it was a child of has been destroyed.
    ContextMenu *menu() const;

signals:
    // menuPos in global screen coordinates.
    void contextMenuRequested(const QPoint &menuPos);

private:
    ContextMenuHandler();
    QAction *separator(int index);

    // Guarded pointers: a contributor may delete an action between the request and the build.
    QMap<QString, QList<QPointer<QAction>>> m_sections;
    QList<QAction *> m_separators;
    QPointer<QWidget> m_menuParent;
    mutable QPointer<ContextMenu> m_menu;
};
