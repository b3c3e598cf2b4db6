#pragma once

#include "loading/imageloader.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <QStringList>
#include <QUrl>

#include <functional>

class CopyPasteHandler;
class GraphicsScene;
class GraphicsView;
class JobController;
class QMimeData;
class QThread;
class QWidget;
class Setting;

// Brings pictures, notes and boards onto the canvas: files opened or named by a script, drops,
// and the clipboard, whose copies of our own items go through the copy-paste handler. Each
// becomes a job of the image loader or the copy-paste handler; the job controller places the
// items when it ends.
//
// Threads: GUI thread; the loaders run on the worker thread and are reached by queued calls.
class ImportController : public QObject {
    Q_OBJECT

public:
    struct Host {
        // Raised and activated after a drop when "DropFocus" asks for it.
        QWidget *window = nullptr;
        Setting *dropFocus = nullptr;
        // Refuses, with a notice saying why, while jobs run or the canvas is locked; true when
        // refused.
        std::function<bool()> refuseEdit;
        // A job of this controller is about to start.
        std::function<void()> loadingStarted;
        // Tells the user, in a popup, why nothing happened.
        std::function<void(const QString &heading)> notice;
    };

    ImportController(GraphicsView *view, JobController *jobs, ImageLoader *imageLoader,
        QThread *worker, Host host, QObject *parent = nullptr);

    // Loads these at the centre of the view.
    void queueImageLoad(const QList<QUrl> &urls);
    // Loads what a drop or paste brought, at source.position.
    void loadSource(const ImageLoader::Source &source);
    // Loads what was dropped on the canvas at the drop point (view coordinates).
    void handleDrop(const QMimeData *mimeData, const QPoint &position);
    // Loads files with the images centred on (x, y) in the scene.
    void load(const QStringList &paths, float x, float y);
    // Copies the selection; pastes at the pointer when it is over the canvas, else at the
    // canvas centre.
    void copy();
    void pasteAt(const QPoint &globalPosition);

private:
    GraphicsView *m_view;
    GraphicsScene *m_scene;
    JobController *m_jobs;
    ImageLoader *m_imageLoader;
    Host m_host;
    CopyPasteHandler *m_copyPaste = nullptr;
};
