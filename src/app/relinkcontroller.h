#pragma once

#include "loading/imageloader.h"
#include "persistence/relinker.h"
#include "persistence/relinktree.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <functional>

class CommandHandler;
class GraphicsImageItem;
class GraphicsScene;
class LoadJob;
class RelinkDialog;
class Setting;
class QWidget;

// Gives missing pictures their pixels back: remembers why each file was missing when the board
// was opened, asks for a file or a folder, rewrites the items' paths, has the relinker read the
// files, and sets the pixels it returns. What was relinked becomes one undoable step once the
// dialog closes, or at once when there is no dialog.
//
// Threads: GUI thread; the relinker runs on the loader thread and answers by queued signals.
class RelinkController : public QObject {
    Q_OBJECT

public:
    struct Host {
        QWidget *window = nullptr;
        GraphicsScene *scene = nullptr;
        CommandHandler *commands = nullptr;
        Setting *showOnLoad = nullptr;
        // A job the window follows, for the relinker.
        std::function<LoadJob *()> createJob;
        // Asks for a file, or a folder, to relink to; empty when cancelled. Left empty, the
        // system's file dialog asks, over the window.
        std::function<QString(const QString &title, const QString &start)> chooseFile;
        std::function<QString(const QString &title, const QString &start)> chooseFolder;
    };

    RelinkController(Relinker *relinker, Host host, QObject *parent = nullptr);
    ~RelinkController() override;

    // Why a file was missing when a board was opened; a later report of a path replaces the
    // earlier one.
    void recordMissing(const QString &path, const ImageLoader::LoadImageResult &reason);
    void clear();

    // Lists every missing picture of the board in the dialog.
    void openDialog();
    RelinkDialog *dialog() const;
    // Relinks the items to one file the user picks; false when none was picked.
    bool relinkToChosenFile(const QList<GraphicsImageItem *> &items);
    // Relinks a folder's pictures to the folder the user picks.
    void relinkFolder(const RelinkTree::Group &group);

    // For tests: what stands in for the file and folder choosers.
    void setChoosers(const std::function<QString(const QString &, const QString &)> &file,
        const std::function<QString(const QString &, const QString &)> &folder)
    {
        m_host.chooseFile = file;
        m_host.chooseFolder = folder;
    }

    // The relinker's job ended; with no dialog open, its pictures become an undoable step.
    void jobFinished();

private:
    void relink(const QList<GraphicsImageItem *> &items, const QString &path);
    void start(const QList<Relinker::Request> &requests);
    void imageRelinked(const QList<int> &itemIds, const QString &path, const QImage &image,
        const ImageLoader::LoadImageResult &result);
    void finish(bool removeUnresolved, bool showOnLoad);
    void recordCommand();

    Relinker *m_relinker;
    Host m_host;
    QHash<QString, ImageLoader::LoadImageResult> m_missing;
    QPointer<RelinkDialog> m_dialog;
    // Items given pixels since the last undoable step, with the file each linked before.
    QSet<int> m_relinked;
    QHash<int, QString> m_previousSources;
};
