#pragma once

#include <QList>
#include <QObject>

#include <functional>

class BaseLoader;
class CommandLineExecutor;
class GraphicsItem;
class GraphicsScene;
class ImageExporter;
class JobController;
class QThread;
class QWidget;

// Writes the board out as pictures, the whole scene as one image or each picture as a file of
// its own, with or without asking where, and runs the named commands that scripts and keys
// start. A scene is painted here, where it lives; pictures of their own are painted, encoded and
// written by the exporter on the worker thread.
//
// Threads: GUI thread; the exporter answers through the jobs the job controller follows.
class ExportController : public QObject {
    Q_OBJECT

public:
    struct Host {
        // Parent of the dialogs, and owner of the commands' key actions: their key context.
        QWidget *window = nullptr;
        // The folder the last file dialog ended in, and remembering a new one.
        std::function<QString()> browsePath;
        std::function<void(const QString &path)> saveBrowsePath;
        // Refuses, with a notice, while jobs run; true when refused.
        std::function<bool()> refuseWhileLoading;
        // A job of this controller is about to start.
        std::function<void()> loadingStarted;
        // Asks whether the board may be dropped (unsaved changes); false when not.
        std::function<bool()> mayDropBoard;
        // The named commands other than the exports; "load" and "save" run on it.
        QObject *commandTarget = nullptr;
        BaseLoader *imageLoader = nullptr;
        BaseLoader *sceneLoader = nullptr;
    };

    ExportController(GraphicsScene *scene, JobController *jobs, QThread *worker, Host host,
        QObject *parent = nullptr);

    ImageExporter *exporter() const { return m_exporter; }
    CommandLineExecutor *commandLineExecutor() const { return m_executor; }

public slots:
    // Width or height -1: the scene's own size. Both are bounded by the largest side a scene
    // export may have.
    void exportScene(const QString &fileName, int width, int height, bool includeBackground,
        bool includeBorders, int quality);
    // The same of part of the board: region is "board", "selection" or a rectangle of the
    // scene as "x,y,width,height"; scale is in percent (25 to 400), or -1 to take the width and
    // the height (-1 for either: the region's own, or kept in proportion to the other). The
    // format comes from the file name's suffix (png, jpg, webp). A region that cannot be read,
    // or is empty, fails the export.
    void exportScene(const QString &fileName, int width, int height, bool includeBackground,
        bool includeBorders, int quality, const QString &region, int scale);
    void exportSceneWithDialog();
    void exportAllImages(
        const QString &savePath, bool exportCropping, const QString &nameOverride, int quality);
    void exportAllImagesWithDialog();
    void exportSelectedImages();

private:
    // Writes the rendered picture on the exporter's thread as a job the window shows.
    void writeImage(const QImage &image, const QString &fileName, int quality);
    void setUpCommands();
    // A named command started from its key binding.
    void runBoundCommand(const QString &name);
    void exportImagesWithDialog(const QList<GraphicsItem *> &items);
    // Has the exporter paint and write the items' pictures.
    void startImageExport(const QList<GraphicsItem *> &items, const QString &directory,
        bool exportCropping, const QString &nameOverride, int quality);

    GraphicsScene *m_scene;
    JobController *m_jobs;
    Host m_host;
    ImageExporter *m_exporter = nullptr;
    CommandLineExecutor *m_executor = nullptr;
};
