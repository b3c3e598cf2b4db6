#include "persistence/savefilereader.h"

#include "persistence/persistencelog.h"
#include "loading/loadjob.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicstextitem.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QImage>
#include <QImageReader>
#include <QPainterPath>
#include <QPolygonF>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <deque>

namespace {

const QString CorruptMessage = QStringLiteral("corrupt");

qint64 bytesLeft(const QDataStream &in)
{
    const QIODevice *device = in.device();
    return device->size() - device->pos();
}

bool isOk(const QDataStream &in)
{
    return in.status() == QDataStream::Ok;
}

// A QString whose length field claims more bytes than the file still holds is refused before
// the toolkit allocates for it.
bool readString(QDataStream &in, QString *out)
{
    if (!isOk(in))
        return false;
    const QByteArray peeked = in.device()->peek(4);
    if (peeked.size() < 4) {
        in.setStatus(QDataStream::ReadPastEnd);
        return false;
    }
    const quint32 length = qFromBigEndian<quint32>(peeked.constData());
    if (length != 0xffffffffu && qint64(length) > bytesLeft(in) - 4) {
        in.setStatus(QDataStream::ReadCorruptData);
        return false;
    }
    in >> *out;
    return isOk(in);
}

bool readDouble(QDataStream &in, double *value)
{
    in >> *value;
    return isOk(in) && qIsFinite(*value);
}

bool isFinite(const QTransform &t)
{
    return qIsFinite(t.m11()) && qIsFinite(t.m12()) && qIsFinite(t.m13()) && qIsFinite(t.m21())
        && qIsFinite(t.m22()) && qIsFinite(t.m23()) && qIsFinite(t.m31()) && qIsFinite(t.m32())
        && qIsFinite(t.m33());
}

bool readTransform(QDataStream &in, QTransform *transform)
{
    in >> *transform;
    return isOk(in) && isFinite(*transform);
}

// Rebuilt through the path's own operations rather than streamed, so a broken element sequence
// or subpath start from disk cannot reach the toolkit's internals.
bool readPath(QDataStream &in, QPainterPath *path)
{
    qint32 count = 0;
    in >> count;
    constexpr qint64 ElementBytes = 4 + 8 + 8;
    if (!isOk(in) || count < 0 || count * ElementBytes + 8 > bytesLeft(in))
        return false;
    QPainterPath result;
    for (qint32 i = 0; i < count; ++i) {
        qint32 type = 0;
        double x = 0;
        double y = 0;
        in >> type;
        if (!readDouble(in, &x) || !readDouble(in, &y))
            return false;
        switch (type) {
        case QPainterPath::MoveToElement:
            result.moveTo(x, y);
            break;
        case QPainterPath::LineToElement:
            result.lineTo(x, y);
            break;
        case QPainterPath::CurveToElement: {
            QPointF data[2];
            for (QPointF &point : data) {
                qint32 dataType = 0;
                double dx = 0;
                double dy = 0;
                in >> dataType;
                if (++i >= count || dataType != QPainterPath::CurveToDataElement
                    || !readDouble(in, &dx) || !readDouble(in, &dy))
                    return false;
                point = QPointF(dx, dy);
            }
            result.cubicTo(QPointF(x, y), data[0], data[1]);
            break;
        }
        default:
            return false;
        }
    }
    qint32 start = 0;
    qint32 fillRule = 0;
    in >> start >> fillRule;
    if (!isOk(in))
        return false;
    result.setFillRule(fillRule == Qt::WindingFill ? Qt::WindingFill : Qt::OddEvenFill);
    *path = result;
    return true;
}

bool readPolygon(QDataStream &in, QPolygonF *polygon)
{
    quint32 count = 0;
    in >> count;
    if (!isOk(in) || qint64(count) * 16 > bytesLeft(in))
        return false;
    QPolygonF result;
    result.reserve(int(count));
    for (quint32 i = 0; i < count; ++i) {
        double x = 0;
        double y = 0;
        if (!readDouble(in, &x) || !readDouble(in, &y))
            return false;
        result.append(QPointF(x, y));
    }
    *polygon = result;
    return true;
}

bool readColor(QDataStream &in, QColor *color)
{
    const QByteArray colorSpec = in.device()->peek(1);
    if (colorSpec.size() < 1 || bytesLeft(in) < 11 || qint8(colorSpec.at(0)) < QColor::Invalid
        || qint8(colorSpec.at(0)) > QColor::ExtendedRgb)
        return false;
    in >> *color;
    return isOk(in);
}

QPainterPath pathOf(const QPolygonF &polygon)
{
    QPainterPath path;
    path.addPolygon(polygon);
    return path;
}

QImage decodeFrom(QIODevice *device, qint64 length)
{
    QImageReader reader(device, "png");
    reader.setAutoDetectImageFormat(false);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > 8300 * length + 4096)
        return {};
    QImage image;
    if (!reader.read(&image))
        return {};
    return image;
}

QImage decodeAt(const uchar *mapping, qint64 offset, qint64 size)
{
    return ImageLoaderRunner::decodePng(
        mapping + offset, std::min<qint64>(size - offset, std::numeric_limits<int>::max()));
}

QList<GraphicsItem *> treeOf(GraphicsItem *root)
{
    QList<GraphicsItem *> tree = root->childGraphicsItems(true);
    tree.prepend(root);
    return tree;
}

} // namespace

SaveFileReader::SaveFileReader(
    SaveFileLoader *loader, QFile *file, LoadJob *job, const SaveFileHeader &header)
    : QObject(loader)
    , m_loader(loader)
    , m_file(file)
    , m_job(job)
    , m_header(header)
    , m_in(file)
    , m_size(file->size())
{
    for (int i = 0; i < m_header.imageRecords.size(); ++i) {
        if (!m_entryById.contains(m_header.imageRecords.at(i).id))
            m_entryById.insert(m_header.imageRecords.at(i).id, i);
        m_entryClaimed.append(false);
    }
}

SaveFileReader::~SaveFileReader()
{
    // The checksum thread reads the mapping.
    if (m_checksumThread.joinable())
        m_checksumThread.join();
    // Only reached early when the loader goes away mid-load: runners still on the pool read the
    // mapping, so they must be gone before it is.
    bool running = false;
    for (ImageLoaderRunner *runner : qAsConst(m_runners)) {
        if (m_reported.contains(runner))
            continue;
        if (QThreadPool::globalInstance()->tryTake(runner))
            delete runner;
        else
            running = true;
    }
    if (running)
        QThreadPool::globalInstance()->waitForDone();
    for (ImageLoaderRunner *runner : qAsConst(m_runners)) {
        if (!m_reported.contains(runner))
            delete runner;
    }
    if (m_mapping)
        m_file->unmap(m_mapping);
    deleteHeldItems();
}

void SaveFileReader::finish(const QString &message)
{
    m_finished = true;
    m_loader->reportFinished(m_job, message);
    deleteLater();
}

bool SaveFileReader::checkChecksumNow()
{
    m_loader->checkChecksum(m_file, &m_header, m_job);
    return !m_job->isCanceled();
}

void SaveFileReader::startChecksum()
{
    const qint64 start = std::clamp<qint64>(m_header.checksumStart, 0, m_size);
    const uchar *bytes = m_mapping + start;
    const qint64 size = m_size - start;
    m_checksumPending = true;
    m_checksumThread = std::thread([this, bytes, size] {
        const QString checksum = SaveFileLoader::checksumOf(bytes, size);
        // The reader joins this thread before it is deleted, so it is still there to post to.
        QMetaObject::invokeMethod(
            this, [this, checksum] { checksumComputed(checksum); }, Qt::QueuedConnection);
    });
}

void SaveFileReader::checksumComputed(const QString &checksum)
{
    m_checksumThread.join();
    m_checksumPending = false;
    m_header.actualChecksum = checksum;
    // A mismatch asks whether to go on; the blocks go on decoding meanwhile.
    m_loader->reportChecksum(m_header, m_job);
    if (m_job->isCanceled()) {
        if (!m_canceled)
            cancelRunners();
    } else {
        emitSceneState(m_highestId);
        const QList<GraphicsItem *> held = m_heldRoots;
        m_heldRoots.clear();
        for (GraphicsItem *root : held)
            finalizeRoot(root);
    }
    if (m_completeHeld || m_reported.size() == m_runners.size())
        complete();
}

bool SaveFileReader::readSceneBlock(bool withNextId)
{
    qint32 nextId = m_header.legacyCount;
    if (withNextId)
        m_in >> nextId;
    QRectF rect;
    QTransform viewTransform;
    qint32 horizontal = 0;
    qint32 vertical = 0;
    m_in >> rect >> viewTransform >> horizontal >> vertical;
    if (!isOk(m_in))
        return false;
    m_sceneState.nextItemId = nextId;
    m_sceneState.sceneRect = rect;
    m_sceneState.viewTransform = viewTransform;
    m_sceneState.horizontalScroll = horizontal;
    m_sceneState.verticalScroll = vertical;
    m_sceneStateUsable = !(withNextId && nextId == 0) && qIsFinite(rect.x()) && qIsFinite(rect.y())
        && qIsFinite(rect.width()) && qIsFinite(rect.height()) && rect.isValid() && !rect.isEmpty()
        && rect.width() > 1.0 && rect.height() > 1.0 && isFinite(viewTransform);
    return true;
}

void SaveFileReader::emitSceneState(int highestId)
{
    if (!m_sceneStateUsable)
        return;
    SaveFileLoader::SceneState state = m_sceneState;
    // A stored counter below a loaded id would hand that id out again.
    if (highestId < std::numeric_limits<int>::max())
        state.nextItemId = std::max(state.nextItemId, highestId + 1);
    emit m_loader->loadedSceneState(state, m_job);
}

GraphicsItem *SaveFileReader::readRecord(QGraphicsItem *parent, int depth)
{
    if (depth > MaximumNesting)
        return nullptr;
    const QString &version = m_header.formatVersion;
    const bool withEnd = SaveFileLoader::isFormatAtLeast(version, QStringLiteral("1.9"));
    qint64 end = -1;
    if (withEnd) {
        m_in >> end;
        if (!isOk(m_in) || end < m_file->pos() || end > m_size)
            return nullptr;
    }
    // A body is read from its own bytes only: fields cannot reach past its end offset, and the
    // bodies of successive records never overlap, so a file is read about once whatever its
    // offsets say.
    QByteArray bodyBytes;
    QBuffer bodyBuffer(&bodyBytes);
    QDataStream bodyStream(&bodyBuffer);
    if (withEnd) {
        const qint64 length = end - m_file->pos();
        bodyBytes = m_file->read(length);
        if (bodyBytes.size() != length)
            return nullptr;
        bodyBuffer.open(QIODevice::ReadOnly);
    }
    QDataStream &in = withEnd ? bodyStream : m_in;
    QString type;
    if (!readString(in, &type))
        return nullptr;

    GraphicsItem *item = nullptr;
    if (type == QLatin1String("GraphicsImageItem")) {
        QString path;
        QString name;
        float opacity = 1.0f;
        QTransform transform;
        qint32 id = -1;
        double z = 0;
        QTransform imageTransform;
        QPainterPath crop;
        qint32 filter = GraphicsImageItem::SmoothFilter;
        bool autoDownscaled = false;
        QSize downscaleLimit;
        if (!readString(in, &path) || !readString(in, &name))
            return nullptr;
        in >> opacity;
        if (!isOk(in) || !qIsFinite(opacity) || !readTransform(in, &transform))
            return nullptr;
        in >> id;
        if (!readDouble(in, &z))
            return nullptr;
        if (SaveFileLoader::isFormatAtLeast(version, QStringLiteral("1.8"))) {
            if (!readTransform(in, &imageTransform) || !readPath(in, &crop))
                return nullptr;
            in >> filter;
        } else {
            double x = 0;
            double y = 0;
            QPolygonF polygon;
            if (!readDouble(in, &x) || !readDouble(in, &y) || !readPolygon(in, &polygon))
                return nullptr;
            imageTransform = QTransform::fromTranslate(-x, -y);
            crop = pathOf(polygon);
            if (version == QLatin1String("1.7"))
                in >> filter;
        }
        // Later fields are only ever appended; the end offset tells whether these are there.
        if (withEnd && bytesLeft(in) >= 1 + 8 + 4)
            in >> autoDownscaled >> downscaleLimit;
        if (!isOk(in))
            return nullptr;
        auto *image = new GraphicsImageItem(
            nullptr, path, name.isNull() ? QStringLiteral("Untitled") : name, QPointF(), parent);
        image->setId(id);
        image->setOpacity(qBound(0.0f, opacity, 1.0f));
        image->setTransform(GraphicsItem::sanitizeTransform(transform));
        image->setImageTransform(imageTransform);
        image->setCropPath(crop);
        image->setZValue(z);
        image->setFilter(filter);
        image->setAutoDownscale(autoDownscaled, downscaleLimit);
        item = image;
    } else if (type == QLatin1String("GraphicsTextItem")) {
        QString text;
        QTransform transform;
        qint32 id = -1;
        double z = 0;
        QColor textColor;
        QColor backgroundColor;
        if (!readString(in, &text) || !readTransform(in, &transform))
            return nullptr;
        in >> id;
        if (!readDouble(in, &z) || !readColor(in, &textColor) || !readColor(in, &backgroundColor))
            return nullptr;
        auto *note = new GraphicsTextItem(QPointF(), text, parent);
        note->setTransform(GraphicsItem::sanitizeTransform(transform));
        note->setId(id);
        note->setZValue(z);
        note->setTextColor(textColor);
        note->setTextBackgroundColor(backgroundColor);
        item = note;
    } else {
        return nullptr;
    }

    qint32 childCount = 0;
    in >> childCount;
    const qint64 smallestRecord = withEnd ? 8 : 4;
    if (!isOk(in) || !isOk(m_in) || childCount < 0
        || childCount > bytesLeft(m_in) / smallestRecord) {
        GraphicsItem::deleteItem(item);
        return nullptr;
    }
    for (qint32 i = 0; i < childCount; ++i) {
        if (!readRecord(item, depth + 1)) {
            GraphicsItem::deleteItem(item);
            return nullptr;
        }
    }
    return item;
}

void SaveFileReader::deleteHeldItems()
{
    for (GraphicsItem *root : qAsConst(m_roots)) {
        if (!m_generated.contains(root))
            GraphicsItem::deleteItem(root);
    }
    m_roots.clear();
}

void SaveFileReader::readSceneDirectories()
{
    m_currentSceneDirectory = QFileInfo(m_file->fileName()).absolutePath();
    QString saved;
    if (!m_in.atEnd() && readString(m_in, &saved)) {
        // A drive prefix such as "C:" means nothing here: keep the path from its first "/".
        const int slash = saved.indexOf(QLatin1Char('/'));
        m_savedSceneDirectory = slash > 0 ? saved.mid(slash) : saved;
    }
}

void SaveFileReader::finishWithBrokenMetadata()
{
    deleteHeldItems();
    emit m_loader->brokenItemMetadataDetected(m_job);
    if (m_job->isCanceled())
        finish();
    else
        finish(QStringLiteral("Failed to load image metadata, the save file might be corrupt."));
}

void SaveFileReader::readCurrent()
{
    m_currentFormat = true;
    m_loader->reportProgressRange(m_job, 0, m_header.imageCount);
    // Each way out before the blocks decode reports the checksum first, as a reader that checks
    // it up front would: its answer may cancel the load.
    const auto finishEarly = [this](const QString &message) {
        if (checkChecksumNow())
            finish(message);
        else
            finish();
    };
    const auto brokenEarly = [this] {
        if (checkChecksumNow())
            finishWithBrokenMetadata();
        else
            finish();
    };
    if (!readSceneBlock(true)) {
        finishEarly(SaveFileLoader::tr(
            "The Velkora file you are trying to load is corrupt and can not be loaded."));
        return;
    }
    if (m_header.itemCount == 0) {
        if (checkChecksumNow())
            emitSceneState(-1);
        finish();
        return;
    }
    // The item records follow the last image block.
    if (!m_header.imageRecords.isEmpty()) {
        const qint64 end = m_header.imageRecords.constLast().end;
        if (end < m_file->pos() || end > m_header.indexOffset || !m_file->seek(end)) {
            brokenEarly();
            return;
        }
    }
    while (!m_in.atEnd() && m_roots.size() < m_header.itemCount) {
        GraphicsItem *item = readRecord(nullptr, 0);
        if (!item) {
            brokenEarly();
            return;
        }
        m_roots.append(item);
    }

    readSceneDirectories();

    for (GraphicsItem *root : qAsConst(m_roots)) {
        for (const GraphicsItem *member : treeOf(root))
            m_highestId = std::max(m_highestId, member->id());
    }

    m_mapping = m_file->map(0, m_size);
    if (!m_mapping) {
        deleteHeldItems();
        finishEarly(SaveFileLoader::tr(
            "The Velkora file you are trying to load is corrupt and can not be loaded."));
        return;
    }
    startChecksum();
    auto context = std::make_shared<ImageLoaderRunner::Context>();
    context->mapping = m_mapping;
    // Image blocks lie before the index; an entry reaching into it or beyond is broken.
    context->size = std::min(m_header.indexOffset, m_size);
    context->currentSceneDirectory = m_currentSceneDirectory;
    context->savedSceneDirectory = m_savedSceneDirectory;
    m_context = context;

    startRunners();
    if (!m_finished && m_reported.size() == m_runners.size())
        complete();
}

int SaveFileReader::takeEntryFor(GraphicsImageItem *item, int position)
{
    int entry = m_entryById.value(item->id(), -1);
    if (entry < 0 || m_entryClaimed.at(entry))
        entry = position < m_entryClaimed.size() && !m_entryClaimed.at(position) ? position : -1;
    if (entry >= 0)
        m_entryClaimed[entry] = true;
    return entry;
}

void SaveFileReader::startRunners()
{
    int position = 0;
    for (GraphicsItem *root : qAsConst(m_roots)) {
        int &unsettled = m_unsettled[root];
        for (GraphicsItem *member : treeOf(root)) {
            auto *image = dynamic_cast<GraphicsImageItem *>(member);
            if (!image)
                continue;
            m_rootOf.insert(image, root);
            const int entry = takeEntryFor(image, position++);
            if (entry < 0) {
                // More image records than index entries: this one has no pixels to get.
                m_dropped.insert(image);
                continue;
            }
            auto *runner = new ImageLoaderRunner(m_header.imageRecords.at(entry), image, m_context);
            connect(runner, &ImageLoaderRunner::imageDone, this,
                [this, runner] { handleImageDone(runner); });
            connect(runner, &ImageLoaderRunner::missingImage, this,
                [this, image](const ImageLoader::LoadImageResult &result) {
                    m_missing.insert(image, result);
                });
            connect(runner, &ImageLoaderRunner::isCopy, this,
                [this, image](int ownerId) { m_copies.insert(image, ownerId); });
            m_runners.append(runner);
            m_pending.insert(image);
            ++unsettled;
            QThreadPool::globalInstance()->start(runner);
        }
        if (unsettled == 0)
            finalizeRoot(root);
    }
}

void SaveFileReader::handleImageDone(ImageLoaderRunner *runner)
{
    if (m_reported.contains(runner))
        return;
    m_reported.insert(runner);
    runner->deleteLater();
    if (m_finished)
        return;

    GraphicsImageItem *item = runner->item();
    m_pending.remove(item);
    Decoded decoded;
    decoded.item = item;
    if (runner->decoded()) {
        if (runner->pixmap().isNull()) {
            m_dropped.insert(item);
            decoded.item = nullptr;
        } else {
            item->setImage(new QPixmap(runner->pixmap()));
            decoded.pixmap = runner->pixmap();
            decoded.source = item->source();
        }
    } else if (m_copies.contains(item)) {
        decoded.isCopy = true;
        decoded.copyOf = m_copies.value(item);
    } else {
        if (!runner->resolvedPath().isEmpty()) {
            item->setImage(new QPixmap(runner->pixmap()));
            item->setSource(runner->resolvedPath());
            decoded.pixmap = runner->pixmap();
        }
        decoded.source = item->source();
    }
    m_itemsById.insert(item->id(), decoded);

    if (!m_canceled && m_job->isCanceled())
        cancelRunners();
    // Copies wait for the end of the load, when every owner has its pixels.
    GraphicsItem *root = m_rootOf.value(item);
    if (!decoded.isCopy && --m_unsettled[root] == 0 && !m_canceled)
        finalizeRoot(root);

    m_loader->reportProgress(m_job, ++m_done);
    if (m_reported.size() == m_runners.size())
        complete();
}

void SaveFileReader::cancelRunners()
{
    m_canceled = true;
    // Only this load's runners leave the pool's queue; other work queued there stays.
    for (ImageLoaderRunner *runner : qAsConst(m_runners)) {
        if (!m_reported.contains(runner) && QThreadPool::globalInstance()->tryTake(runner)) {
            m_reported.insert(runner);
            delete runner;
        }
    }
}

void SaveFileReader::complete()
{
    if (m_checksumPending) {
        m_completeHeld = true;
        return;
    }
    if (m_mapping) {
        m_file->unmap(m_mapping);
        m_mapping = nullptr;
    }
    if (m_canceled || m_job->isCanceled()) {
        deleteHeldItems();
        finish();
        return;
    }
    resolveCopies();
    for (GraphicsItem *root : qAsConst(m_roots))
        finalizeRoot(root);
    finish();
}

void SaveFileReader::resolveCopies()
{
    for (auto it = m_copies.constBegin(); it != m_copies.constEnd(); ++it) {
        GraphicsImageItem *item = it.key();
        int ownerId = it.value();
        const Decoded *owner = nullptr;
        for (int step = 0; step < 100; ++step) {
            const auto found = m_itemsById.constFind(ownerId);
            if (found == m_itemsById.constEnd() || !found->item)
                break;
            if (!found->isCopy) {
                owner = &found.value();
                break;
            }
            ownerId = found->copyOf;
        }
        if (!owner) {
            m_dropped.insert(item);
        } else if (!owner->pixmap.isNull()) {
            item->setImage(new QPixmap(owner->pixmap));
            item->setSource(owner->source);
        } else {
            m_missing.insert(item, m_missing.value(owner->item));
        }
    }
}

void SaveFileReader::deleteDroppedIn(GraphicsItem *item)
{
    const QList<GraphicsItem *> children = item->childGraphicsItems();
    for (GraphicsItem *child : children) {
        if (m_dropped.contains(child))
            GraphicsItem::deleteItem(child);
        else
            deleteDroppedIn(child);
    }
}

void SaveFileReader::finalizeRoot(GraphicsItem *root)
{
    if (m_generated.contains(root))
        return;
    if (m_checksumPending) {
        if (!m_heldRoots.contains(root))
            m_heldRoots.append(root);
        return;
    }
    if (m_dropped.contains(root)) {
        m_generated.insert(root);
        GraphicsItem::deleteItem(root);
        return;
    }
    deleteDroppedIn(root);
    generate(root);
}

void SaveFileReader::generate(GraphicsItem *root)
{
    const QList<GraphicsItem *> tree = treeOf(root);
    // Reported only for items that are handed over, so the receiver never hears of an item
    // the reader deletes afterwards.
    for (GraphicsItem *member : tree) {
        auto *image = dynamic_cast<GraphicsImageItem *>(member);
        if (image && m_missing.contains(image))
            emit m_loader->foundItemWithMissingImage(image, m_missing.value(image), m_job);
    }
    QThread *guiThread = QCoreApplication::instance()->thread();
    for (GraphicsItem *member : tree)
        member->moveToThread(guiThread);
    m_generated.insert(root);
    m_loader->reportItem(m_job, root);
}

void SaveFileReader::applyBlock(GraphicsImageItem *item, const ImageRecord &record)
{
    const qint64 limit = std::min(m_header.indexOffset, m_size);
    Decoded decoded;
    decoded.item = item;
    if (record.id < 0 || record.start < 0 || record.end < record.start || record.end > limit
        || !m_file->seek(record.start)) {
        m_dropped.insert(item);
        return;
    }
    const qint64 length = record.end - record.start;
    if (length == 4) {
        qint32 ownerId = -1;
        m_in >> ownerId;
        if (ownerId != -1) {
            const auto owner = m_itemsById.constFind(ownerId);
            if (owner == m_itemsById.constEnd() || !owner->item) {
                m_dropped.insert(item);
                return;
            }
            if (owner->pixmap.isNull()) {
                m_missing.insert(item, m_missing.value(owner->item));
            } else {
                item->setImage(new QPixmap(owner->pixmap));
                item->setSource(owner->source);
            }
            m_itemsById.insert(item->id(), *owner);
            return;
        }
        const QString path = ImageLoaderRunner::resolveLinkedPath(
            item->source(), m_currentSceneDirectory, m_savedSceneDirectory);
        ImageLoader::LoadImageResult result;
        result.code = ImageLoader::LoadImageResult::NotFound;
        QPixmap pixmap;
        if (!path.isEmpty())
            result = ImageLoader::loadImageFile(
                path, item->autoDownscaled(), item->downscaleLimit(), &pixmap);
        if (!path.isEmpty() && result.code == ImageLoader::LoadImageResult::Loaded
            && !pixmap.isNull()) {
            item->setImage(new QPixmap(pixmap));
            item->setSource(path);
            decoded.pixmap = pixmap;
        } else {
            m_missing.insert(item, result);
        }
        decoded.source = item->source();
    } else {
        const QByteArray block = m_file->read(length);
        QImage image;
        if (block.size() == length)
            image = ImageLoaderRunner::decodePng(
                reinterpret_cast<const uchar *>(block.constData()), length);
        if (image.isNull()) {
            m_dropped.insert(item);
            return;
        }
        decoded.pixmap = QPixmap::fromImage(std::move(image));
        decoded.source = item->source();
        item->setImage(new QPixmap(decoded.pixmap));
    }
    m_itemsById.insert(item->id(), decoded);
}

void SaveFileReader::readOldNotes(GraphicsItem *parent)
{
    qint32 count = 0;
    m_in >> count;
    // A note takes at least a string length, a transform and two colours.
    constexpr qint64 SmallestNote = 4 + 72 + 11 + 11;
    if (!isOk(m_in) || count < 0 || count > bytesLeft(m_in) / SmallestNote) {
        m_in.setStatus(QDataStream::ReadCorruptData);
        return;
    }
    for (qint32 i = 0; i < count; ++i) {
        QString text;
        QTransform transform;
        QColor textColor;
        QColor backgroundColor;
        if (!readString(m_in, &text) || !readTransform(m_in, &transform)
            || !readColor(m_in, &textColor) || !readColor(m_in, &backgroundColor)) {
            m_in.setStatus(QDataStream::ReadCorruptData);
            return;
        }
        auto *note = new GraphicsTextItem(QPointF(), text, parent);
        note->setTransform(GraphicsItem::sanitizeTransform(transform));
        note->setTextColor(textColor);
        note->setTextBackgroundColor(backgroundColor);
    }
}

GraphicsImageItem *SaveFileReader::readVersion5Record()
{
    QString path;
    QString name;
    float opacity = 1.0f;
    QTransform transform;
    qint32 id = -1;
    double z = 0;
    double x = 0;
    double y = 0;
    QPolygonF polygon;
    if (!readString(m_in, &path) || !readString(m_in, &name))
        return nullptr;
    m_in >> opacity;
    if (!isOk(m_in) || !qIsFinite(opacity) || !readTransform(m_in, &transform))
        return nullptr;
    m_in >> id;
    if (!readDouble(m_in, &z) || !readDouble(m_in, &x) || !readDouble(m_in, &y)
        || !readPolygon(m_in, &polygon))
        return nullptr;
    auto *image = new GraphicsImageItem(
        nullptr, path, name.isNull() ? QStringLiteral("Untitled") : name, QPointF());
    image->setId(id);
    image->setOpacity(qBound(0.0f, opacity, 1.0f));
    image->setTransform(GraphicsItem::sanitizeTransform(transform));
    image->setImageTransform(QTransform::fromTranslate(-x, -y));
    image->setCropPath(pathOf(polygon));
    image->setZValue(z);
    readOldNotes(image);
    if (!isOk(m_in)) {
        GraphicsItem::deleteItem(image);
        return nullptr;
    }
    return image;
}

// Formats "1.2" to "1.4" keep each picture inside its item record.
GraphicsItem *SaveFileReader::readOldImage(int index)
{
    const QString &version = m_header.formatVersion;
    const bool withPath = version == QLatin1String("1.4");
    QString path;
    QString name;
    float opacity = 1.0f;
    QTransform transform;
    QPolygonF polygon;
    qint32 id = index;
    QImage image;
    if (withPath && !readString(m_in, &path))
        return nullptr;
    if (!readString(m_in, &name))
        return nullptr;
    m_in >> opacity;
    if (!isOk(m_in) || !qIsFinite(opacity) || !readTransform(m_in, &transform))
        return nullptr;
    if (withPath) {
        if (!readPolygon(m_in, &polygon))
            return nullptr;
        m_in >> id;
        if (!isOk(m_in))
            return nullptr;
        // The index bounds the stream when it agrees with where the record put it.
        const qint64 start = m_file->pos();
        const ImageRecord record = index < m_header.imageRecords.size()
            ? m_header.imageRecords.at(index)
            : ImageRecord();
        if (record.start == start && record.end > start
            && record.end <= std::min(m_header.indexOffset, m_size)) {
            const QByteArray block = m_file->read(record.end - start);
            image = ImageLoaderRunner::decodePng(
                reinterpret_cast<const uchar *>(block.constData()), block.size());
            if (!m_file->seek(record.end))
                return nullptr;
        } else {
            image = decodeFrom(m_file, bytesLeft(m_in));
        }
        if (image.isNull())
            return nullptr;
    } else {
        qint32 byteCount = 0;
        qint32 width = 0;
        qint32 height = 0;
        qint32 format = 0;
        m_in >> byteCount >> width >> height >> format;
        if (version == QLatin1String("1.3") && !readPolygon(m_in, &polygon))
            return nullptr;
        // Raw pixels: only a real format whose rows add up to exactly the stored byte count.
        if (!isOk(m_in) || format <= QImage::Format_Invalid || format >= QImage::NImageFormats
            || width <= 0 || height <= 0 || byteCount > bytesLeft(m_in))
            return nullptr;
        const int depth = QImage::toPixelFormat(QImage::Format(format)).bitsPerPixel();
        const qint64 bytesPerLine = ((qint64(width) * depth + 31) / 32) * 4;
        if (bytesPerLine * height != byteCount)
            return nullptr;
        image = QImage(width, height, QImage::Format(format));
        if (image.isNull() || image.sizeInBytes() != byteCount
            || m_in.readRawData(reinterpret_cast<char *>(image.bits()), byteCount) != byteCount)
            return nullptr;
    }
    if (!isOk(m_in))
        return nullptr;

    auto *item = new GraphicsImageItem(
        nullptr, path, name.isNull() ? QStringLiteral("Untitled") : name, QPointF());
    item->setId(id);
    item->setOpacity(qBound(0.0f, opacity, 1.0f));
    item->setTransform(GraphicsItem::sanitizeTransform(transform));
    // These formats drew the picture from the item's origin, cropped in picture pixels.
    QPainterPath crop;
    crop.addRect(QRectF(QPointF(0, 0), QSizeF(image.size())));
    if (!polygon.isEmpty())
        crop = pathOf(polygon);
    item->setCropPath(crop);
    item->setImage(new QPixmap(QPixmap::fromImage(std::move(image))));
    if (withPath) {
        readOldNotes(item);
        if (!isOk(m_in)) {
            GraphicsItem::deleteItem(item);
            return nullptr;
        }
    }
    return item;
}

void SaveFileReader::readOld()
{
    const QString &version = m_header.formatVersion;
    const bool indexed = SaveFileLoader::isFormatAtLeast(version, QStringLiteral("1.4"));
    const qint32 count = m_header.legacyCount;
    m_loader->reportProgressRange(m_job, 0, count);
    if (!readSceneBlock(indexed)) {
        finish(SaveFileLoader::tr(
            "The Velkora file you are trying to load is corrupt and can not be loaded."));
        return;
    }
    int highestId = -1;
    const auto generateOne = [this, &highestId](GraphicsItem *item) {
        highestId = std::max(highestId, item->id());
        m_roots.append(item);
        generate(item);
    };

    if (version == QLatin1String("1.5")) {
        if (!m_header.imageRecords.isEmpty()) {
            const qint64 end = m_header.imageRecords.constLast().end;
            if (end < m_file->pos() || end > m_header.indexOffset || !m_file->seek(end)) {
                finishWithBrokenMetadata();
                return;
            }
        }
        QList<GraphicsImageItem *> records;
        while (!m_in.atEnd() && records.size() < count) {
            GraphicsImageItem *item = readVersion5Record();
            if (!item) {
                qDeleteAll(records);
                finishWithBrokenMetadata();
                return;
            }
            records.append(item);
        }
        readSceneDirectories();
        for (int k = 0; k < records.size(); ++k) {
            GraphicsImageItem *item = records.at(k);
            if (m_job->isCanceled()) {
                qDeleteAll(records.mid(k));
                break;
            }
            const int entry = takeEntryFor(item, k);
            if (entry >= 0)
                applyBlock(item, m_header.imageRecords.at(entry));
            if (entry < 0 || m_dropped.contains(item))
                delete item;
            else
                generateOne(item);
            m_loader->reportProgress(m_job, k + 1);
        }
    } else {
        for (qint32 i = 0; i < count && !m_in.atEnd(); ++i) {
            if (m_job->isCanceled())
                break;
            GraphicsItem *item = readOldImage(i);
            if (!item) {
                emitSceneState(highestId);
                finishWithBrokenMetadata();
                return;
            }
            generateOne(item);
            m_loader->reportProgress(m_job, i + 1);
        }
    }
    emitSceneState(highestId);
    finish();
}

QString SaveFileReader::bruteForce()
{
    m_loader->reportProgressRange(m_job, 0, m_header.imageCount);
    if (readSceneBlock(true))
        emitSceneState(-1);

    const uchar *mapping = m_size > 0 ? m_file->map(0, m_size) : nullptr;
    if (!mapping)
        return SaveFileLoader::tr("Could not recover any images. :(");

    // Every PNG stream starts with this signature; only there is a decoder worth starting.
    static const uchar Signature[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };
    QList<qint64> candidates;
    for (const uchar *at = mapping, *end = mapping + m_size;;) {
        at = static_cast<const uchar *>(std::memchr(at, Signature[0], size_t(end - at)));
        if (!at || end - at < 8)
            break;
        if (std::memcmp(at, Signature, 8) == 0)
            candidates.append(at - mapping);
        ++at;
    }

    QThreadPool *pool = QThreadPool::globalInstance();
    const int window = std::max(2, 2 * pool->maxThreadCount());
    std::deque<QFuture<QImage>> decoding;
    int submitted = 0;
    int found = 0;
    int failed = 0;
    bool busy = false;
    for (int i = 0; i < candidates.size() && !m_job->isCanceled(); ++i) {
        while (submitted < candidates.size() && int(decoding.size()) < window
            && !m_job->isCanceled()) {
            decoding.push_back(
                QtConcurrent::run(pool, decodeAt, mapping, candidates.at(submitted++), m_size));
        }
        if (decoding.empty())
            break;
        const QImage image = decoding.front().result();
        decoding.pop_front();
        if (image.isNull()) {
            ++failed;
            if (!busy) {
                busy = true;
                m_loader->reportProgressRange(m_job, 0, 0);
            }
            continue;
        }
        auto *item = new GraphicsImageItem(new QPixmap(QPixmap::fromImage(image)), QString(),
            QStringLiteral("BruteForceLoaded"), QPointF());
        item->moveToThread(QCoreApplication::instance()->thread());
        m_loader->reportItem(m_job, item);
        if (busy) {
            busy = false;
            m_loader->reportProgressRange(m_job, 0, m_header.imageCount);
            m_loader->reportProgressMessage(m_job, QString());
        }
        m_loader->reportProgress(m_job, ++found);
    }
    // Decoders still running after a cancel only read the mapping: wait before releasing it.
    for (QFuture<QImage> &future : decoding)
        future.waitForFinished();
    m_file->unmap(const_cast<uchar *>(mapping));
    if (m_job->isCanceled())
        return QString();
    if (found == 0)
        return SaveFileLoader::tr("Could not recover any images. :(");
    if (failed > 0)
        return SaveFileLoader::tr("Some images could not be recovered.");
    return QString();
}
