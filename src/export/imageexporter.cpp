#include "export/imageexporter.h"

#include "export/exportlog.h"
#include "jobs/loadjob.h"
#include "picture/pngencoder.h"
#include "platform/platform.h"
#include "scene/graphicsscene.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsItem>
#include <QImageWriter>
#include <QPainter>
#include <QStyleOptionGraphicsItem>

#include <functional>

namespace {

struct Written {
    bool written = false;
    // The file could not be created or written, as opposed to the image not being encodable;
    // nameRefused: because the file system refused its name.
    bool deviceError = false;
    bool nameRefused = false;
    QString error;
    bool canceled = false;
};

// PNG is lossless: for it the quality only trades time for size, the highest being the fastest.
int pngDeflateLevel(int quality)
{
    if (quality >= 67)
        return PngEncoder::deflateLevel(PngEncoder::Fastest);
    if (quality >= 34)
        return PngEncoder::deflateLevel(PngEncoder::Balanced);
    return PngEncoder::deflateLevel(PngEncoder::Smallest);
}

// PNG files come from our encoder, several times faster than the toolkit's writer; the toolkit
// writes every other format, with the quality as given. Either is encoded in memory first and
// then replaces the file in one step: a failing disk leaves the file that was there, whole.
// canceled, asked between encoding and writing, leaves the file as it was: a large picture takes
// long to encode, and the user may give up meanwhile.
Written writeImage(const QImage &image, const QString &path, const QByteArray &format, int quality,
    const std::function<bool()> &canceled = {})
{
    QByteArray bytes;
    if (format.compare("png", Qt::CaseInsensitive) != 0) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        writer.setQuality(quality);
        if (!writer.write(image))
            return { false, false, false, writer.errorString() };
    } else {
        // The toolkit writer's words for it, which scripts may look for.
        if (image.isNull())
            return { false, false, false, QStringLiteral("Image is empty") };
        QString error;
        if (!PngEncoder::encode(image, pngDeflateLevel(quality), &bytes, &error))
            return { false, false, false, error };
    }
    Written result;
    if (canceled && canceled()) {
        result.canceled = true;
        return result;
    }
    result.written = Platform::writeFileAtomically(path, bytes, &result.error, &result.nameRefused);
    result.deviceError = !result.written;
    return result;
}

} // namespace

ImageExporter::ImageExporter(QObject *parent)
    : BaseLoader(parent)
{
    qRegisterMetaType<ImageExporter::ExportSettings>("ImageExporter::ExportSettings");
    qRegisterMetaType<ImageExporter::Picture>("ImageExporter::Picture");
    qRegisterMetaType<QList<ImageExporter::Picture>>("QList<ImageExporter::Picture>");
}

namespace {

// The scene as an export paints it: background and borders only when asked for, no selection
// highlight, every picture from its full pixels. The board looks as before once it is painted.
class ExportLook {
public:
    ExportLook(GraphicsScene *scene, bool background, bool borders)
        : m_scene(scene)
        , m_drewBackground(scene->drawBackgroundEnabled())
        , m_borderMode(scene->borderMode())
        , m_highlight(scene->selectionHighlight())
        , m_exactly(scene->rendersExactly())
    {
        if (!background)
            scene->setDrawBackgroundEnabled(false);
        if (!borders)
            scene->setBorderMode(0);
        // What happens to be selected is no part of the board's picture.
        scene->setSelectionHighlight(false);
        scene->setRendersExactly(true);
    }
    ~ExportLook()
    {
        m_scene->setRendersExactly(m_exactly);
        m_scene->setDrawBackgroundEnabled(m_drewBackground);
        m_scene->setBorderMode(m_borderMode);
        m_scene->setSelectionHighlight(m_highlight);
    }
    ExportLook(const ExportLook &) = delete;
    ExportLook &operator=(const ExportLook &) = delete;

private:
    GraphicsScene *m_scene;
    bool m_drewBackground;
    int m_borderMode;
    bool m_highlight;
    bool m_exactly;
};

// A transparent image of the size; null when it is empty or cannot be had, which the writer
// then reports.
QImage exportCanvas(const QSize &size)
{
    if (size.isEmpty())
        return QImage();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (!image.isNull())
        image.fill(Qt::transparent);
    return image;
}

void prepare(QPainter *painter)
{
    painter->setRenderHint(QPainter::Antialiasing);
    // Each picture sets its own smoothing while it paints; this is for the rest.
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
}

bool isInSelection(const QGraphicsItem *item)
{
    for (; item; item = item->parentItem()) {
        if (item->isSelected())
            return true;
    }
    return false;
}

} // namespace

QImage ImageExporter::renderScene(
    GraphicsScene *scene, const QSize &size, bool background, bool borders)
{
    QImage image = exportCanvas(size);
    if (image.isNull())
        return image;
    const ExportLook look(scene, background, borders);
    QPainter painter(&image);
    prepare(&painter);
    scene->render(&painter, QRectF(image.rect()), scene->sceneRect(), Qt::KeepAspectRatio);
    return image;
}

QImage ImageExporter::renderRegion(GraphicsScene *scene, const QRectF &region, const QSize &size,
    bool background, bool borders, bool selectionOnly)
{
    QImage image = exportCanvas(size);
    if (image.isNull() || region.isEmpty())
        return image;
    const ExportLook look(scene, background, borders);
    QPainter painter(&image);
    prepare(&painter);
    if (!selectionOnly) {
        scene->render(&painter, QRectF(image.rect()), region, Qt::IgnoreAspectRatio);
        return image;
    }
    // The scene would paint every item in the region: the selected ones are painted here, in
    // its stacking order, as it paints them.
    const QTransform toImage = QTransform::fromTranslate(-region.left(), -region.top())
        * QTransform::fromScale(size.width() / region.width(), size.height() / region.height());
    if (background && scene->drawBackgroundEnabled())
        painter.fillRect(image.rect(), scene->canvasColor());
    const QList<QGraphicsItem *> items
        = scene->items(region, Qt::IntersectsItemBoundingRect, Qt::AscendingOrder);
    for (QGraphicsItem *item : items) {
        if (!item->isVisible() || !isInSelection(item))
            continue;
        QStyleOptionGraphicsItem option;
        option.exposedRect = item->boundingRect();
        option.rect = option.exposedRect.toAlignedRect();
        painter.save();
        painter.setWorldTransform(item->sceneTransform() * toImage);
        item->paint(&painter, &option, nullptr);
        painter.restore();
    }
    return image;
}

QRectF ImageExporter::selectionBounds(GraphicsScene *scene)
{
    // What is attached to a selected item goes with it.
    QRectF bounds;
    QList<QGraphicsItem *> pending = scene->selectedItems();
    while (!pending.isEmpty()) {
        const QGraphicsItem *item = pending.takeLast();
        bounds |= item->sceneBoundingRect();
        pending += item->childItems();
    }
    return bounds;
}

QSize ImageExporter::scaledSize(const QRectF &region, int percent)
{
    const qreal scale = qBound(SmallestScale, percent, LargestScale) / 100.0;
    const auto side = [scale](qreal length) {
        return qBound(1, qRound(length * scale), int(MaximumSceneSide));
    };
    return QSize(side(region.width()), side(region.height()));
}

QString ImageExporter::safeFileName(const QString &name)
{
    QString safe = name;
    for (QChar &c : safe) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            c = QLatin1Char('_');
    }
    if (safe == QLatin1String(".") || safe == QLatin1String(".."))
        return QString();
    return safe;
}

QString ImageExporter::exportName(const QString &nameOverride, int number, const QString &imageName)
{
    if (nameOverride.isEmpty())
        return imageName;
    QString name = nameOverride;
    // The image's name goes in last, so a "%0" inside it stays as it is.
    name.replace(QLatin1String("%0"), QString::number(number));
    name.replace(QLatin1String("%1"), imageName);
    return name;
}

QString ImageExporter::uniquePngPath(const QString &directory, const QString &name)
{
    const QDir dir(directory);
    const auto taken = [](const QString &path) {
        const QFileInfo info(path);
        // A dangling link does not exist, yet writing to it would create its target elsewhere.
        return info.exists() || info.isSymLink();
    };
    QString path = dir.filePath(name + QLatin1String(".png"));
    for (int copy = 2; taken(path); ++copy)
        path = dir.filePath(name + QStringLiteral("(%1).png").arg(copy));
    return path;
}

void ImageExporter::exportImage(
    const QImage &image, const ImageExporter::ExportSettings &settings, LoadJob *job)
{
    job = ensureJob(job);
    reportStarted(job, tr("Exporting Scene"));
    const Written result
        = writeImage(image, settings.path, QFileInfo(settings.path).suffix().toLatin1(),
            settings.quality, [job] { return job->isCanceled(); });
    if (result.canceled) {
        reportFinished(job);
        return;
    }
    if (!result.written) {
        qCWarning(lcExport, "ImageExporter: could not write %s: %s", qUtf8Printable(settings.path),
            qUtf8Printable(result.error));
        // The file is named where the disk failed; an image that cannot be encoded keeps the
        // toolkit writer's words alone, which scripts look for.
        reportFinished(job, tr("Failed to export image."),
            result.deviceError ? QStringLiteral("%1: %2").arg(
                QDir::toNativeSeparators(settings.path), result.error)
                               : result.error);
        return;
    }
    reportFinished(job);
}

void ImageExporter::exportItems(const QList<ImageExporter::Picture> &pictures,
    const ImageExporter::ExportSettings &settings, LoadJob *job)
{
    job = ensureJob(job);
    reportStarted(job, tr("Exporting Images"));
    reportProgressRange(job, 0, pictures.size());
    if (pictures.isEmpty()) {
        reportFinished(job, tr("No images to export."));
        return;
    }

    QString report;
    int number = 1;
    for (int i = 0; i < pictures.size(); ++i) {
        const Picture &picture = pictures.at(i);
        if (job->isCanceled())
            break;
        QString error;
        const QImage image = picture.picture.paint(&error);
        if (image.isNull()) {
            report += picture.name + QLatin1String(": ") + error + QLatin1String("<br>");
            reportProgress(job, i + 1);
            continue;
        }
        const QString numberText = QString::number(number);
        QString name = safeFileName(exportName(settings.nameOverride, number, picture.name));
        // Nothing usable left of the name: the number names the file instead.
        if (name.isEmpty())
            name = numberText;

        QString path = uniquePngPath(settings.path, name);
        Written result = writeImage(image, path, "png", settings.quality);
        if (result.written) {
            ++number;
        } else if (result.nameRefused) {
            // A name the file system refuses (too long, characters it rejects). Nothing else
            // gets the number: a failing disk is told, not hidden under another name.
            path = uniquePngPath(settings.path, numberText);
            result = writeImage(image, path, "png", settings.quality);
        }
        if (!result.written) {
            report += QDir::toNativeSeparators(path) + QLatin1String(": ") + result.error
                + QLatin1String("<br>");
            if (result.deviceError)
                break;
        }
        reportProgress(job, i + 1);
    }
    if (!report.isEmpty())
        reportFinished(job, tr("Failed to export images."), report);
    else
        reportFinished(job);
}
