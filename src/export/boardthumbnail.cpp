#include "export/boardthumbnail.h"

#include "persistence/savefileformat.h"
#include "picture/decoderpool.h"
#include "picture/pictureblock.h"
#include "picture/pngdecoder.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsitem.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>
#include <QPainter>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

using SaveFileFormat::isGreater;

namespace {

// The canvas of the default colour scheme: what the window shows around the pictures.
const QColor CanvasColor(32, 32, 32);

bool isFinite(const QRectF &rect)
{
    return std::isfinite(rect.x()) && std::isfinite(rect.y()) && std::isfinite(rect.width())
        && std::isfinite(rect.height());
}

// The size a block's picture says it has; empty when the bytes are no picture. A JPEG's frame
// header may come after its metadata, which is at most a few segments of 64 KiB.
QSize declaredSize(const QByteArray &head)
{
    return PictureBlock::declaredSize(
        reinterpret_cast<const uchar *>(head.constData()), head.size());
}

constexpr qint64 HeadLength = 512 * 1024;

} // namespace

struct BoardThumbnail::Picture {
    int item = -1;
    QTransform scene;
    QTransform imageTransform;
    QPainterPath crop;
    QRectF bounds;
    // The pixels: a PNG block of the file, or a linked file in the board's folder.
    ImageRecord block;
    QString linkedPath;
    // False for a linked file that is not in the board's folder: the window shows a placeholder
    // there, which takes its place on the board but is not drawn here.
    bool hasPixels = true;
    qint64 pixels = 0;
    float opacity = 1.0f;
    int filter = 1;
};

BoardThumbnail::BoardThumbnail(QIODevice *board, const QString &folder)
    : m_board(board)
    , m_folder(folder)
{
}

QString BoardThumbnail::linkedFile(const QString &source) const
{
    if (m_folder.isEmpty() || source.isEmpty())
        return {};
    // Only the file of that name in the board's own folder: a link that leads elsewhere is
    // another folder's file, whatever it is called here.
    const QDir folder(m_folder);
    const QFileInfo candidate(folder.filePath(QFileInfo(source).fileName()));
    if (!candidate.isFile())
        return {};
    const QFileInfo target(candidate.canonicalFilePath());
    if (target.absolutePath() != folder.canonicalPath())
        return {};
    return target.absoluteFilePath();
}

bool BoardThumbnail::plan(QList<Picture> *pictures, QString *error)
{
    if (!m_board->seek(0)) {
        *error = QStringLiteral("the file cannot be read");
        return false;
    }
    m_header = SaveFileFormat::readHeaderFields(m_board);
    const QString &version = m_header.formatVersion;
    if (!SaveFileFormat::isValidVersion(version) || !isGreater(version, QStringLiteral("1.5"))
        || isGreater(version, SaveFileFormat::OriginalsVersion)) {
        *error = QStringLiteral("not a board of a format with an index of its pictures");
        return false;
    }
    if (!SaveFileFormat::isValidHeader(m_header) || !SaveFileFormat::isValidIndex(m_header)) {
        *error = QStringLiteral("the header or the index of the pictures is damaged");
        return false;
    }
    if (!SaveFileReader::readOutline(m_board, m_header, &m_outline)) {
        *error = QStringLiteral("the item records are damaged");
        return false;
    }

    // Item to scene, as the scene places an item attached to another.
    QVector<QTransform> scene(m_outline.size());
    for (int i = 0; i < m_outline.size(); ++i) {
        const ItemRecord &record = m_outline.at(i).record;
        const QTransform local = record.transform
            ? GraphicsItem::sanitizeTransform(*record.transform)
            : QTransform::fromTranslate(record.position.x(), record.position.y());
        const int parent = m_outline.at(i).parent;
        scene[i] = parent >= 0 ? local * scene.at(parent) : local;
    }

    // A block of four bytes names the picture whose pixels it shares, or -1 for a linked file.
    QHash<int, qint32> sharedOwner;
    QHash<int, int> ownerById;
    for (int i = 0; i < m_outline.size(); ++i) {
        const SaveFileReader::OutlineItem &item = m_outline.at(i);
        if (item.record.type != ItemRecord::Type::Image)
            continue;
        if (item.block.id < 0) {
            *error = QStringLiteral("a picture has no block in the file");
            return false;
        }
        if (item.block.end - item.block.start == 4) {
            const QByteArray ownerBytes
                = m_board->seek(item.block.start) ? m_board->read(4) : QByteArray();
            if (ownerBytes.size() != 4) {
                *error = QStringLiteral("a picture's block cannot be read");
                return false;
            }
            const qint32 owner
                = qFromBigEndian<qint32>(reinterpret_cast<const uchar *>(ownerBytes.constData()));
            sharedOwner.insert(i, owner);
            if (owner == -1)
                ownerById.insert(item.record.id, i);
        } else {
            ownerById.insert(item.record.id, i);
        }
    }

    for (int i = 0; i < m_outline.size(); ++i) {
        const ItemRecord &record = m_outline.at(i).record;
        if (record.type != ItemRecord::Type::Image)
            continue;
        // The writer names owners directly: a chain of shares is as broken as a loop.
        int source = i;
        const auto shared = sharedOwner.constFind(i);
        if (shared != sharedOwner.constEnd() && shared.value() != -1) {
            source = ownerById.value(shared.value(), -1);
            if (source < 0) {
                *error = QStringLiteral("a picture shares pixels the file does not hold");
                return false;
            }
        }
        Picture picture;
        picture.item = i;
        picture.scene = scene.at(i);
        picture.opacity = record.opacity;
        picture.filter = record.filter;
        picture.imageTransform = record.imageTransform.value_or(QTransform());
        QSize size;
        const ImageRecord &block = m_outline.at(source).block;
        if (sharedOwner.value(source, 0) == -1) {
            picture.linkedPath = linkedFile(m_outline.at(source).record.source);
            picture.hasPixels = !picture.linkedPath.isEmpty();
            picture.pixels = picture.hasPixels ? qint64(LinkedSide) * LinkedSide : 0;
        } else {
            if (!m_board->seek(block.start)
                || !(size
                    = declaredSize(m_board->read(std::min(HeadLength, block.end - block.start))))
                        .isValid()) {
                *error = QStringLiteral("a picture's block holds no picture");
                return false;
            }
            if (!PngDecoder::isPlausible(size, block.end - block.start)) {
                *error = QStringLiteral("a picture claims to be far larger than its data can hold");
                return false;
            }
            picture.block = block;
            picture.pixels = qint64(size.width()) * size.height();
        }
        const QRectF cropBounds = record.cropPath ? record.cropPath->boundingRect() : QRectF();
        if (record.cropPath && !record.cropPath->isEmpty() && cropBounds.width() > 1.0
            && cropBounds.height() > 1.0) {
            picture.crop = *record.cropPath;
        } else if (size.isValid()) {
            // As the item does without a crop of its own: the whole picture, centred.
            picture.crop.addRect(
                -size.width() / 2.0, -size.height() / 2.0, size.width(), size.height());
            picture.imageTransform.translate(-size.width() / 2.0, -size.height() / 2.0);
        } else {
            continue;
        }
        picture.bounds = picture.scene.mapRect(picture.crop.boundingRect());
        if (!isFinite(picture.bounds)) {
            *error = QStringLiteral("a picture lies outside any board");
            return false;
        }
        pictures->append(picture);
    }
    if (std::none_of(pictures->cbegin(), pictures->cend(),
            [](const Picture &picture) { return picture.hasPixels; })) {
        *error = QStringLiteral("the board shows no pictures");
        return false;
    }
    return true;
}

QImage BoardThumbnail::render(int size, QString *error)
{
    if (size < 1 || size > MaximumSize) {
        *error = QStringLiteral("the size must be 1 to %1").arg(MaximumSize);
        return {};
    }
    QList<Picture> pictures;
    if (!plan(&pictures, error))
        return {};

    // Painting order: top-level items by depth, each followed by what is attached to it, also
    // by depth; equal depths keep the file's order, as the scene keeps insertion order.
    QVector<QList<int>> children(m_outline.size());
    QList<int> roots;
    for (int i = 0; i < m_outline.size(); ++i) {
        const int parent = m_outline.at(i).parent;
        (parent >= 0 ? children[parent] : roots).append(i);
    }
    const auto byDepth
        = [this](int a, int b) { return m_outline.at(a).record.z < m_outline.at(b).record.z; };
    QList<int> order;
    std::function<void(QList<int>)> visit = [&](QList<int> items) {
        std::stable_sort(items.begin(), items.end(), byDepth);
        for (int item : qAsConst(items)) {
            order.append(item);
            visit(children.at(item));
        }
    };
    visit(roots);
    QHash<int, int> rank;
    for (int i = 0; i < order.size(); ++i)
        rank.insert(order.at(i), i);
    std::sort(pictures.begin(), pictures.end(), [&rank](const Picture &a, const Picture &b) {
        return rank.value(a.item) < rank.value(b.item);
    });

    // Too many pixels to decode in time: the largest picture that fits, alone.
    qint64 total = 0;
    bool fits = true;
    for (const Picture &picture : qAsConst(pictures)) {
        const qint64 blockBytes = picture.block.end - picture.block.start;
        fits = fits && picture.pixels <= PicturePixels && blockBytes <= BlockBytes;
        total += std::min(picture.pixels, PicturePixels + 1);
    }
    if (!fits || total > BoardPixels) {
        const Picture *largest = nullptr;
        for (const Picture &picture : qAsConst(pictures)) {
            if (picture.hasPixels && picture.pixels <= PicturePixels
                && picture.block.end - picture.block.start <= BlockBytes
                && (!largest || picture.pixels > largest->pixels))
                largest = &picture;
        }
        if (!largest) {
            *error = QStringLiteral("every picture is too large to decode");
            return {};
        }
        pictures = { *largest };
    }

    QRectF board;
    for (const Picture &picture : qAsConst(pictures))
        board = board.united(picture.bounds);
    const qreal scale = size / std::max(board.width(), board.height());
    if (!isFinite(board) || !std::isfinite(scale) || scale <= 0) {
        *error = QStringLiteral("the board has no size");
        return {};
    }
    const QSize extent(std::clamp(int(std::lround(board.width() * scale)), 1, size),
        std::clamp(int(std::lround(board.height() * scale)), 1, size));
    const QTransform fit = QTransform::fromTranslate(-board.left(), -board.top())
        * QTransform::fromScale(scale, scale);

    QImage thumbnail(extent, QImage::Format_RGB32);
    if (thumbnail.isNull()) {
        *error = QStringLiteral("no memory for the thumbnail");
        return {};
    }
    thumbnail.fill(CanvasColor);
    for (const Picture &picture : qAsConst(pictures)) {
        if (m_deadline.hasExpired()) {
            *error = QStringLiteral("the board takes too long to draw");
            return {};
        }
        if (!draw(picture, fit, &thumbnail, error))
            return {};
    }
    return thumbnail;
}

QImage BoardThumbnail::decode(const Picture &picture, QString *error)
{
    QImage image;
    if (!picture.linkedPath.isEmpty()) {
        // In a helper unless the toolkit reads it, and reduced there.
        DecoderPool::instance().decodeFile(
            picture.linkedPath, true, QSize(LinkedSide, LinkedSide), &image);
        return image;
    }
    const qint64 length = picture.block.end - picture.block.start;
    const QByteArray bytes
        = m_board->seek(picture.block.start) ? m_board->read(length) : QByteArray();
    if (bytes.size() == length) {
        PictureBlock::Failure failure;
        image = PictureBlock::decode(
            reinterpret_cast<const uchar *>(bytes.constData()), length, &failure);
    }
    if (image.isNull())
        *error = QStringLiteral("a picture's block does not decode");
    return image;
}

bool BoardThumbnail::draw(
    const Picture &picture, const QTransform &fit, QImage *target, QString *error)
{
    const QTransform toTarget = picture.scene * fit;
    if (!picture.hasPixels
        || !toTarget.mapRect(picture.crop.boundingRect()).intersects(QRectF(target->rect())))
        return true;
    QImage image = decode(picture, error);
    if (image.isNull())
        return picture.block.id < 0; // a linked file that does not read shows nothing
    // Reduced here with an averaging filter close to the size it is drawn at: the painter's
    // smooth transform samples only a few pixels of a large picture.
    QTransform pixels = picture.imageTransform * toTarget;
    const qreal drawnScale = std::sqrt(std::abs(pixels.determinant()));
    if (drawnScale < 0.5) {
        const QSize reduced(std::max(1, int(std::ceil(image.width() * drawnScale * 2))),
            std::max(1, int(std::ceil(image.height() * drawnScale * 2))));
        const QSize full = image.size();
        image = image.scaled(reduced, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        pixels = QTransform::fromScale(
                     qreal(full.width()) / image.width(), qreal(full.height()) / image.height())
            * pixels;
    }
    if (picture.filter & GraphicsImageItem::GrayscaleFilter)
        image = image.convertToFormat(QImage::Format_Grayscale8);

    QPainter painter(target);
    painter.setRenderHint(
        QPainter::SmoothPixmapTransform, picture.filter & GraphicsImageItem::SmoothFilter);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(qBound(0.0f, picture.opacity, 1.0f));
    painter.setTransform(toTarget);
    painter.setClipPath(picture.crop);
    painter.setTransform(pixels);
    painter.drawImage(0, 0, image);
    return true;
}
