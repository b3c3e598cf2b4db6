#include "app/exportcontroller.h"

#include "app/commandlineexecutor.h"
#include "app/jobcontroller.h"
#include "export/imageexporter.h"
#include "input/actionhandler.h"
#include "jobs/loadjob.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"
#include "ui/exportimagesdialog.h"
#include "ui/exportscenedialog.h"
#include "view/regionpicker.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsView>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <utility>

ExportController::ExportController(
    GraphicsScene *scene, JobController *jobs, QThread *worker, Host host, QObject *parent)
    : QObject(parent)
    , m_scene(scene)
    , m_jobs(jobs)
    , m_host(std::move(host))
{
    m_exporter = new ImageExporter;
    m_exporter->moveToThread(worker);
    connect(worker, &QThread::finished, m_exporter, &QObject::deleteLater);
    m_jobs->follow(m_exporter, JobController::Placement::AsRead, false);
    setUpCommands();
}

void ExportController::setUpCommands()
{
    m_executor = new CommandLineExecutor(this);
    m_executor->registerStandardCommands(
        m_host.commandTarget, this, m_host.imageLoader, m_host.sceneLoader, m_exporter);
    // A command is done when nothing it caused is left: a scene file that the image loader
    // found is read by a job that starts only after the image job has ended.
    m_executor->setIdleCheck([this] { return m_jobs->isIdle(); });

    // Scripts' commands can go on keys too: listed for experienced users, bound to nothing, run
    // with their default arguments.
    const QStringList commands = m_executor->commandNames();
    for (const QString &name : commands) {
        Action *action = ActionHandler::instance()->createAction(name, name, m_host.window,
            ActionBinding(ActionBinding::Triggered, QKeySequence()),
            Action::ListedFlag | Action::AdvancedFlag, tr("Commands"));
        connect(action, &QAction::triggered, this, [this, name] { runBoundCommand(name); });
    }
}

void ExportController::runBoundCommand(const QString &name)
{
    if (m_executor->isRunning())
        return;
    // On a key, the commands that drop the board ask first, as the window's own actions do: a
    // script has no one to ask, a user at the keys has.
    if (name == QLatin1String("exit")) {
        m_host.window->close();
        return;
    }
    if (name == QLatin1String("clearScene") && !m_host.mayDropBoard())
        return;
    m_executor->execute({ name });
}

void ExportController::exportScene(const QString &fileName, int width, int height,
    bool includeBackground, bool includeBorders, int quality)
{
    if (width == -1 || height == -1) {
        const QRectF rect = m_scene->sceneRect();
        width = int(rect.width());
        height = int(rect.height());
    }
    width = qMin(width, int(ImageExporter::MaximumSceneSide));
    height = qMin(height, int(ImageExporter::MaximumSceneSide));
    // Painted here, where the scene lives; the worker only encodes and writes.
    // An empty board has no picture: the export fails with the writer's message instead of
    // writing the one-pixel rectangle of an empty scene.
    const QImage image = m_scene->isEmpty()
        ? QImage()
        : ImageExporter::renderScene(
            m_scene, QSize(width, height), includeBackground, includeBorders);
    writeImage(image, fileName, quality);
}

void ExportController::exportScene(const QString &fileName, int width, int height,
    bool includeBackground, bool includeBorders, int quality, const QString &region, int scale)
{
    const QString part = region.trimmed().toLower();
    if ((part.isEmpty() || part == QLatin1String("board")) && scale == -1) {
        exportScene(fileName, width, height, includeBackground, includeBorders, quality);
        return;
    }
    QRectF rect;
    const bool selectionOnly = part == QLatin1String("selection");
    if (part.isEmpty() || part == QLatin1String("board")) {
        rect = m_scene->sceneRect();
    } else if (selectionOnly) {
        rect = ImageExporter::selectionBounds(m_scene);
    } else {
        const QStringList numbers = part.split(QLatin1Char(','));
        QList<qreal> values;
        bool read = numbers.size() == 4;
        for (const QString &number : numbers) {
            bool ok = false;
            values.append(number.trimmed().toDouble(&ok));
            read &= ok && qIsFinite(values.constLast());
        }
        if (read)
            rect = QRectF(values.at(0), values.at(1), values.at(2), values.at(3)).normalized();
    }
    QSize size;
    if (!rect.isEmpty()) {
        if (scale != -1) {
            size = ImageExporter::scaledSize(rect, scale);
        } else {
            // A side left at -1 keeps the region's proportions, or its size when both are.
            const qreal ratio = rect.height() / rect.width();
            if (width == -1 && height == -1)
                size = ImageExporter::scaledSize(rect, 100);
            else if (width == -1)
                size = QSize(qRound(height / ratio), height);
            else if (height == -1)
                size = QSize(width, qRound(width * ratio));
            else
                size = QSize(width, height);
            size = size.boundedTo(
                QSize(ImageExporter::MaximumSceneSide, ImageExporter::MaximumSceneSide));
        }
    }
    // Nothing to paint fails with the writer's message, as an empty board does.
    const QImage image = rect.isEmpty() || size.isEmpty()
        ? QImage()
        : ImageExporter::renderRegion(
            m_scene, rect, size, includeBackground, includeBorders, selectionOnly);
    writeImage(image, fileName, quality);
}

void ExportController::writeImage(const QImage &image, const QString &fileName, int quality)
{
    ImageExporter::ExportSettings settings;
    settings.path = fileName;
    settings.quality = quality;
    m_host.loadingStarted();
    QMetaObject::invokeMethod(m_exporter, "exportImage", Qt::QueuedConnection, Q_ARG(QImage, image),
        Q_ARG(ImageExporter::ExportSettings, settings),
        Q_ARG(LoadJob *, m_jobs->createJob(m_exporter)));
}

void ExportController::exportSceneWithDialog()
{
    if (m_scene->isEmptyFlag() || m_host.refuseWhileLoading())
        return;
    const QString directory = m_host.browsePath();
    QString path = QFileDialog::getSaveFileName(m_host.window, tr("Export Scene"),
        QDir(directory).filePath(QStringLiteral("Scene.png")),
        tr("Image (*.png *.jpg *.jpeg *.webp)"));
    if (path.isEmpty())
        return;
    m_host.saveBrowsePath(path);
    ExportSceneDialog dialog(m_scene->sceneRect().size().toSize(), m_host.window);
    dialog.setSelectionSize(ImageExporter::selectionBounds(m_scene).size().toSize());
    const QFileInfo file(path);
    dialog.setFormat(file.suffix());
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The format chosen names the file; a name that says it already keeps its spelling.
    const QString suffix = file.suffix().toLower();
    const bool named = suffix == dialog.format()
        || (dialog.format() == QLatin1String("jpg") && suffix == QLatin1String("jpeg"));
    if (!named) {
        const QString base = suffix == QLatin1String("png") || suffix == QLatin1String("jpg")
                || suffix == QLatin1String("jpeg") || suffix == QLatin1String("webp")
            ? file.completeBaseName()
            : file.fileName();
        path = file.dir().filePath(base + QLatin1Char('.') + dialog.format());
    }
    const bool background = dialog.includeBackground();
    const bool borders = dialog.includeBorders();
    const int quality = dialog.quality();
    const int scale = dialog.scale();
    switch (dialog.region()) {
    case ExportSceneDialog::Region::Board:
        exportScene(path, dialog.exportWidth(), dialog.exportHeight(), background, borders, quality,
            QStringLiteral("board"), scale);
        break;
    case ExportSceneDialog::Region::Selection:
        exportScene(path, dialog.exportWidth(), dialog.exportHeight(), background, borders, quality,
            QStringLiteral("selection"), scale);
        break;
    case ExportSceneDialog::Region::Rectangle: {
        const QList<QGraphicsView *> views = m_scene->views();
        if (views.isEmpty())
            return;
        auto *picker = new RegionPicker(views.first());
        connect(picker, &RegionPicker::picked, this, [=](const QRectF &rect) {
            const QString region = QStringLiteral("%1,%2,%3,%4")
                                       .arg(rect.x(), 0, 'g', 17)
                                       .arg(rect.y(), 0, 'g', 17)
                                       .arg(rect.width(), 0, 'g', 17)
                                       .arg(rect.height(), 0, 'g', 17);
            exportScene(path, -1, -1, background, borders, quality, region, scale);
        });
        break;
    }
    }
}

void ExportController::exportAllImages(
    const QString &savePath, bool exportCropping, const QString &nameOverride, int quality)
{
    startImageExport(m_scene->graphicsItems(), savePath, exportCropping, nameOverride, quality);
}

void ExportController::exportAllImagesWithDialog()
{
    exportImagesWithDialog(m_scene->graphicsItems());
}

void ExportController::exportSelectedImages()
{
    exportImagesWithDialog(m_scene->selectedGraphicsItems());
}

void ExportController::exportImagesWithDialog(const QList<GraphicsItem *> &items)
{
    const bool anyImage = std::any_of(items.cbegin(), items.cend(),
        [](GraphicsItem *item) { return item->itemType() == GraphicsItem::ImageItemType; });
    if (!anyImage || !m_jobs->isIdle())
        return;
    const QString directory = QFileDialog::getExistingDirectory(
        m_host.window, tr("Export Images"), m_host.browsePath());
    if (directory.isEmpty())
        return;
    ExportImagesDialog dialog(m_host.window);
    if (dialog.exec() != QDialog::Accepted)
        return;
    startImageExport(items, directory, dialog.exportCropping(), dialog.nameOverride(), 100);
}

void ExportController::startImageExport(const QList<GraphicsItem *> &items,
    const QString &directory, bool exportCropping, const QString &nameOverride, int quality)
{
    QList<ImageExporter::Picture> pictures;
    for (GraphicsItem *item : items) {
        if (item->itemType() != GraphicsItem::ImageItemType)
            continue;
        const auto *image = static_cast<GraphicsImageItem *>(item);
        // Painted by the exporter, one at a time.
        ImageExporter::Picture picture { image->name(), ItemPicture::of(image, exportCropping) };
        // An image whose file was missing has nothing to write.
        if (!picture.picture.isNull())
            pictures.append(picture);
    }
    ImageExporter::ExportSettings settings;
    settings.exportCropping = exportCropping;
    settings.path = directory;
    settings.nameOverride = nameOverride;
    settings.quality = quality;
    m_host.loadingStarted();
    QMetaObject::invokeMethod(m_exporter, "exportItems", Qt::QueuedConnection,
        Q_ARG(QList<ImageExporter::Picture>, pictures),
        Q_ARG(ImageExporter::ExportSettings, settings),
        Q_ARG(LoadJob *, m_jobs->createJob(m_exporter)));
}
