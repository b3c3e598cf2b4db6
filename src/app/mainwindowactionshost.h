#pragma once

#include <QList>
#include <QString>

class CommandHandler;
class GeneralSettings;
class GraphicsScene;
class GraphicsView;
class QAction;
class QPoint;
class QUrl;
class QWidget;

// What the window's commands act on: the board (scene, view, undo stack), the window as the
// parent of their actions, menus and dialogs, and the window's own operations they trigger. The
// main window implements it.
class MainWindowActionsHost {
public:
    enum PreferencesPage { SettingsPage, ColorsPage, KeyBindingsPage };

    virtual ~MainWindowActionsHost() = default;

    virtual QWidget *asWidget() = 0;
    virtual GeneralSettings *generalSettings() const = 0;
    virtual GraphicsScene *scene() const = 0;
    virtual GraphicsView *view() const = 0;
    virtual CommandHandler *commandHandler() const = 0;
    // One entry per recent file; those without a file are hidden.
    virtual QList<QAction *> recentFileActions() const = 0;
    // The folder the last file dialog ended in, and the one to remember from a chosen file.
    virtual QString browsePath() const = 0;
    virtual void saveBrowsePath(const QString &path) = 0;
    virtual void showNotice(const QString &category, const QString &heading,
        const QString &iconPath, const QString &bindingText = QString())
        = 0;
    // False when the edit may go on; otherwise the user has been told why not.
    virtual bool refuseEdit() = 0;

    virtual void clearScene() = 0;
    // Asks for a scene file and opens it.
    virtual void load() = 0;
    virtual void save(int options = 0) = 0;
    virtual void saveAs() = 0;
    virtual void handleOpenFileRequest(const QList<QUrl> &urls) = 0;
    virtual void relinkMissingImages() = 0;
    virtual void undo() = 0;
    virtual void redo() = 0;
    virtual void copy() = 0;
    // Pastes at globalPosition when it is over the canvas, else at the canvas centre.
    virtual void pasteAt(const QPoint &globalPosition) = 0;
    // page: a PreferencesPage.
    virtual void showPreferences(int page) = 0;
    virtual void showAbout() = 0;
    virtual void checkForUpdates() = 0;
    virtual void exportSceneWithDialog() = 0;
    virtual void exportAllImagesWithDialog() = 0;
    virtual void exportSelectedImages() = 0;
};
