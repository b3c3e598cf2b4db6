#include "persistence/savefilereader.h"

#include "jobs/baseloader.h"
#include "jobs/loadjob.h"
#include "persistence/pictureblock.h"
#include "persistence/savefileformat.h"
#include "picture/pngdecoder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPolygonF>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>

using SaveFileFormat::isAtLeast;
using SaveFileFormat::readString;

namespace {

// Texts users see belong to the loader's translation context, as they always did.
QString trLoader(const char *text)
{
    return QCoreApplication::translate("SaveFileLoader", text);
}

// The checksum reads the whole file once, beside the decoders. It has a pool of its own: on the
// global pool it would queue behind long work of other boards or image jobs, and the scene waits
// for it.
Q_GLOBAL_STATIC(QThreadPool, checksumPool)

QString corruptMessage()
{
    return trLoader("The Velkora file you are trying to load is corrupt and can not be loaded.");
}

qint64 bytesLeft(const QDataStream &in)
{
    const QIODevice *device = in.device();
    return device->size() - device->pos();
}

bool isOk(const QDataStream &in)
{
    return in.status() == QDataStream::Ok;
}

// Sizes computed from counts and dimensions on disk: false where the result would not fit, so
// that no product of two stored numbers is ever used before it has been checked.
bool multiply(qint64 a, qint64 b, qint64 *result)
{
    return !__builtin_mul_overflow(a, b, result);
}

bool add(qint64 a, qint64 b, qint64 *result)
{
    return !__builtin_add_overflow(a, b, result);
}

// Whether count elements of elementBytes each, plus trailingBytes, are all still there.
bool fits(const QDataStream &in, qint64 count, qint64 elementBytes, qint64 trailingBytes = 0)
{
    qint64 needed = 0;
    return count >= 0 && multiply(count, elementBytes, &needed)
        && add(needed, trailingBytes, &needed) && needed <= bytesLeft(in);
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
    if (!isOk(in) || count < 0)
        return false;
    // An empty path is its count alone: no subpath start, no fill rule.
    if (count == 0) {
        *path = QPainterPath();
        return true;
    }
    if (!fits(in, count, ElementBytes, 8))
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
    // A vector holds at most an int's worth of points, whatever a huge file might claim.
    if (!isOk(in) || count > quint32(std::numeric_limits<int>::max()) || !fits(in, count, 16))
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

// What every format stores of an image the same way; a record without a name is "Untitled".
ItemRecord imageRecord(
    const QString &path, const QString &name, qint32 id, float opacity, const QTransform &transform)
{
    ItemRecord record;
    record.source = path;
    record.name = name.isNull() ? QStringLiteral("Untitled") : name;
    record.id = id;
    record.opacity = qBound(0.0f, opacity, 1.0f);
    record.transform = transform;
    return record;
}

// Decodes the PNG stream at the device's position, which only its own chunks bound, and leaves
// the device after its end chunk. Chunk lengths come from disk: each is checked against the
// length left before the device skips it.
QImage decodeFrom(QIODevice *device, qint64 length)
{
    const qint64 start = device->pos();
    uchar signature[8];
    if (device->read(reinterpret_cast<char *>(signature), 8) != 8
        || std::memcmp(signature, "\x89PNG\r\n\x1a\n", 8) != 0)
        return {};
    for (qint64 at = 8; at + 12 <= length;) {
        uchar chunk[8];
        if (device->read(reinterpret_cast<char *>(chunk), 8) != 8)
            return {};
        const qint64 chunkLength = qFromBigEndian<quint32>(chunk);
        if (chunkLength > length - at - 12 || chunkLength > std::numeric_limits<int>::max())
            return {};
        at += 12 + chunkLength;
        if (std::memcmp(chunk + 4, "IEND", 4) == 0) {
            if (at > std::numeric_limits<int>::max() || !device->seek(start))
                return {};
            const QByteArray block = device->read(at);
            return ImageLoaderRunner::decodePng(
                reinterpret_cast<const uchar *>(block.constData()), block.size());
        }
        if (!device->seek(start + at))
            return {};
    }
    return {};
}

// A picture stream of any kind a block may hold, found at offset by its signature; its end is
// found in the stream itself, since nothing else in a damaged file can be trusted.
QImage decodeAt(const uchar *mapping, qint64 offset, qint64 size)
{
    const uchar *at = mapping + offset;
    const qint64 length = PictureBlock::streamLength(
        at, std::min<qint64>(size - offset, std::numeric_limits<int>::max()));
    if (length <= 0)
        return {};
    LoadLosses::Reason failure;
    return PictureBlock::decode(at, length, &failure);
}

} // namespace

SaveFileReader::SaveFileReader(
    BaseLoader *reporter, QFile *file, LoadJob *job, const SaveFileHeader &header)
    : QObject(reporter)
    , m_reporter(reporter)
    , m_file(file)
    , m_job(job)
    , m_header(header)
    , m_in(file)
    , m_size(file->size())
{
    mapIndex();
}

void SaveFileReader::mapIndex()
{
    m_entryById.clear();
    m_entryClaimed.clear();
    for (int i = 0; i < m_header.imageRecords.size(); ++i) {
        if (!m_entryById.contains(m_header.imageRecords.at(i).id))
            m_entryById.insert(m_header.imageRecords.at(i).id, i);
        m_entryClaimed.append(false);
    }
}

SaveFileReader::SaveFileReader(QIODevice *device, const QString &formatVersion)
    : m_reporter(nullptr)
    , m_file(nullptr)
    , m_job(nullptr)
    , m_in(device)
    , m_size(device->size())
{
    m_header.formatVersion = formatVersion;
}

bool SaveFileReader::readItemRecords(QIODevice *device, int count, QList<ItemRecord> *records)
{
    SaveFileReader reader(device, SaveFileFormat::CurrentVersion);
    QList<ItemRecord> read;
    // Each record takes at least its end offset: a count larger than the bytes fails on the way.
    for (int i = 0; i < count; ++i) {
        const int root = reader.readRecord(0);
        if (root < 0)
            return false;
        read.append(reader.assemble(root));
    }
    *records = read;
    return true;
}

bool SaveFileReader::readOutline(
    QIODevice *device, const SaveFileHeader &header, QList<OutlineItem> *outline)
{
    SaveFileReader reader(device, header.formatVersion);
    reader.m_header = header;
    reader.mapIndex();
    outline->clear();
    if (!reader.readSceneBlock(true))
        return false;
    if (header.itemCount == 0)
        return true;
    // As readCurrent: the item records follow the last image block.
    if (!header.imageRecords.isEmpty()) {
        const qint64 end = header.imageRecords.constLast().end;
        if (end < device->pos() || end > header.indexOffset || !device->seek(end))
            return false;
    }
    while (!reader.m_in.atEnd() && reader.m_roots.size() < header.itemCount) {
        const int root = reader.readRecord(0);
        if (root < 0)
            return false;
        reader.m_roots.append(root);
    }
    // Entries are claimed in the order startRunners claims them, so that a picture gets the
    // block a load would decode for it.
    int position = 0;
    for (int root : qAsConst(reader.m_roots)) {
        QHash<int, int> placed;
        for (int member : reader.treeOf(root)) {
            const Node &node = reader.m_nodes.at(member);
            OutlineItem item;
            item.record = node.record;
            item.parent = placed.value(member, -1);
            if (item.record.type == ItemRecord::Type::Image) {
                const int entry = reader.takeEntryFor(member, position++);
                if (entry >= 0)
                    item.block = header.imageRecords.at(entry);
            }
            outline->append(item);
            for (int child : node.children)
                placed.insert(child, outline->size() - 1);
        }
    }
    return true;
}

SaveFileReader::~SaveFileReader()
{
    // The checksum and the runners read the mapping: they must be done before it goes.
    m_checksum.waitForFinished();
    // Runners are only still out when the loader goes away mid-load.
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
}

void SaveFileReader::finish(const QString &message)
{
    m_finished = true;
    // One message a load: what was left out is told only when nothing worse is.
    if (message.isEmpty() && !m_job->isCanceled() && !m_losses.isEmpty())
        emit itemsNotRead(m_losses);
    m_reporter->reportFinished(m_job, message);
    deleteLater();
}

void SaveFileReader::drop(int node, LoadLosses::Reason reason)
{
    m_dropped.insert(node, reason);
}

void SaveFileReader::countDropped(const QList<int> &roots)
{
    for (int root : roots) {
        QList<int> reached { root };
        for (int i = 0; i < reached.size(); ++i) {
            const int node = reached.at(i);
            const auto dropped = m_dropped.constFind(node);
            if (dropped == m_dropped.constEnd()) {
                reached.append(m_nodes.at(node).children);
                continue;
            }
            m_losses.add(m_nodes.at(node).record.type, dropped.value());
            const QList<int> attached = treeOf(node);
            for (int k = 1; k < attached.size(); ++k)
                m_losses.add(
                    m_nodes.at(attached.at(k)).record.type, LoadLosses::Reason::AttachedToLost);
        }
    }
}

bool SaveFileReader::checkChecksumNow()
{
    const qint64 position = m_file->pos();
    m_header.actualChecksum = SaveFileFormat::checksumOf(m_file, m_header.checksumStart);
    m_file->seek(position);
    emit checksumComputed(m_header);
    return !m_job->isCanceled();
}

void SaveFileReader::startChecksum()
{
    const qint64 start = std::clamp<qint64>(m_header.checksumStart, 0, m_size);
    const uchar *bytes = m_mapping + start;
    const qint64 size = m_size - start;
    m_checksumPending = true;
    m_checksum = QtConcurrent::run(checksumPool(), [this, bytes, size] {
        const QString checksum = SaveFileFormat::checksumOf(bytes, size);
        // The reader waits for this before it is deleted, so it is still there to post to.
        QMetaObject::invokeMethod(
            this, [this, checksum] { checksumReady(checksum); }, Qt::QueuedConnection);
    });
}

void SaveFileReader::checksumReady(const QString &checksum)
{
    m_checksumPending = false;
    m_header.actualChecksum = checksum;
    // A mismatch asks whether to go on; the blocks go on decoding meanwhile.
    emit checksumComputed(m_header);
    if (m_job->isCanceled()) {
        if (!m_canceled)
            cancelRunners();
    } else {
        emitSceneState(m_highestId);
        const QList<int> held = std::exchange(m_heldRoots, {});
        for (int root : held)
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
    SceneState state = m_sceneState;
    // A stored counter below a loaded id would hand that id out again.
    if (highestId < std::numeric_limits<int>::max())
        state.nextItemId = std::max(state.nextItemId, highestId + 1);
    emit sceneStateRead(state);
}

int SaveFileReader::addNode(ItemRecord record, int parent)
{
    m_nodes.append({ std::move(record), {} });
    const int node = m_nodes.size() - 1;
    if (parent >= 0)
        m_nodes[parent].children.append(node);
    return node;
}

QList<int> SaveFileReader::treeOf(int root) const
{
    QList<int> tree { root };
    for (int i = 0; i < tree.size(); ++i)
        tree.append(m_nodes.at(tree.at(i)).children);
    return tree;
}

// Returns the node read, or -1. A node of a record that fails half-way stays in the table,
// unreachable from any root.
int SaveFileReader::readRecord(int depth)
{
    if (depth > MaximumNesting)
        return -1;
    const QString &version = m_header.formatVersion;
    const bool withEnd = isAtLeast(version, QStringLiteral("1.9"));
    qint64 end = -1;
    if (withEnd) {
        m_in >> end;
        if (!isOk(m_in) || end < m_in.device()->pos() || end > m_size)
            return -1;
    }
    // A body is read from its own bytes only: fields cannot reach past its end offset, and the
    // bodies of successive records never overlap, so a file is read about once whatever its
    // offsets say.
    QByteArray bodyBytes;
    QBuffer bodyBuffer(&bodyBytes);
    QDataStream bodyStream(&bodyBuffer);
    if (withEnd) {
        const qint64 length = end - m_in.device()->pos();
        bodyBytes = m_in.device()->read(length);
        if (bodyBytes.size() != length)
            return -1;
        bodyBuffer.open(QIODevice::ReadOnly);
    }
    QDataStream &in = withEnd ? bodyStream : m_in;
    QString type;
    if (!readString(in, &type))
        return -1;

    ItemRecord record;
    if (type == QLatin1String("GraphicsImageItem")) {
        QString path;
        QString name;
        float opacity = 1.0f;
        QTransform transform;
        qint32 id = -1;
        double z = 0;
        QTransform imageTransform;
        QPainterPath crop;
        qint32 filter = record.filter;
        bool autoDownscaled = false;
        QSize downscaleLimit;
        if (!readString(in, &path) || !readString(in, &name))
            return -1;
        in >> opacity;
        if (!isOk(in) || !qIsFinite(opacity) || !readTransform(in, &transform))
            return -1;
        in >> id;
        if (!readDouble(in, &z))
            return -1;
        if (isAtLeast(version, QStringLiteral("1.8"))) {
            if (!readTransform(in, &imageTransform) || !readPath(in, &crop))
                return -1;
            in >> filter;
        } else {
            double x = 0;
            double y = 0;
            QPolygonF polygon;
            if (!readDouble(in, &x) || !readDouble(in, &y) || !readPolygon(in, &polygon))
                return -1;
            imageTransform = QTransform::fromTranslate(-x, -y);
            crop = pathOf(polygon);
            if (version == QLatin1String("1.7"))
                in >> filter;
        }
        // Later fields are only ever appended; the end offset tells whether these are there.
        if (withEnd && bytesLeft(in) >= 1 + 8 + 4)
            in >> autoDownscaled >> downscaleLimit;
        if (!isOk(in))
            return -1;
        record = imageRecord(path, name, id, opacity, transform);
        record.imageTransform = imageTransform;
        record.cropPath = crop;
        record.z = z;
        record.filter = filter;
        record.autoDownscaled = autoDownscaled;
        record.downscaleLimit = downscaleLimit;
    } else if (type == QLatin1String("GraphicsTextItem")) {
        QString text;
        QTransform transform;
        qint32 id = -1;
        double z = 0;
        QColor textColor;
        QColor backgroundColor;
        if (!readString(in, &text) || !readTransform(in, &transform))
            return -1;
        in >> id;
        if (!readDouble(in, &z) || !readColor(in, &textColor) || !readColor(in, &backgroundColor))
            return -1;
        record.type = ItemRecord::Type::Note;
        record.text = text;
        record.transform = transform;
        record.id = id;
        record.z = z;
        record.textColor = textColor;
        record.backgroundColor = backgroundColor;
    } else {
        return -1;
    }

    qint32 childCount = 0;
    in >> childCount;
    const qint64 smallestRecord = withEnd ? 8 : 4;
    if (!isOk(in) || !isOk(m_in) || childCount < 0 || childCount > bytesLeft(m_in) / smallestRecord)
        return -1;
    const int node = addNode(std::move(record), -1);
    for (qint32 i = 0; i < childCount; ++i) {
        const int child = readRecord(depth + 1);
        if (child < 0)
            return -1;
        m_nodes[node].children.append(child);
    }
    return node;
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
    m_roots.clear();
    emit brokenItemMetadataDetected();
    if (m_job->isCanceled())
        finish();
    else
        finish(QStringLiteral("Failed to load image metadata, the save file might be corrupt."));
}

void SaveFileReader::readCurrent()
{
    m_reporter->reportProgressRange(m_job, 0, m_header.imageCount);
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
        finishEarly(corruptMessage());
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
        const int root = readRecord(0);
        if (root < 0) {
            brokenEarly();
            return;
        }
        m_roots.append(root);
    }
    // The file ended before the records its header counts.
    m_losses.addUnread(m_header.itemCount - m_roots.size(), LoadLosses::Reason::FileEnds);

    readSceneDirectories();

    for (int root : qAsConst(m_roots)) {
        for (int member : treeOf(root))
            m_highestId = std::max(m_highestId, m_nodes.at(member).record.id);
    }

    m_mapping = m_file->map(0, m_size);
    if (!m_mapping) {
        m_roots.clear();
        finishEarly(corruptMessage());
        return;
    }
    startChecksum();
    auto context = std::make_shared<ImageLoaderRunner::Context>();
    context->mapping = m_mapping;
    // Image blocks lie before the index; an entry reaching into it or beyond is broken.
    context->size = std::min(m_header.indexOffset, m_size);
    context->fileSize = m_size;
    context->currentSceneDirectory = m_currentSceneDirectory;
    context->savedSceneDirectory = m_savedSceneDirectory;
    context->keepOriginals = m_keepOriginals;
    m_context = context;

    startRunners();
    if (!m_finished && m_reported.size() == m_runners.size())
        complete();
}

int SaveFileReader::takeEntryFor(int node, int position)
{
    int entry = m_entryById.value(m_nodes.at(node).record.id, -1);
    if (entry < 0 || m_entryClaimed.at(entry))
        entry = position < m_entryClaimed.size() && !m_entryClaimed.at(position) ? position : -1;
    if (entry >= 0)
        m_entryClaimed[entry] = true;
    return entry;
}

void SaveFileReader::startRunners()
{
    // The largest blocks start first, so that the decoders do not end on one large picture
    // while the other cores have nothing left: a block's length is the best guess of its work
    // there is before it decodes.
    QVector<QPair<qint64, ImageLoaderRunner *>> queue;
    int position = 0;
    for (int root : qAsConst(m_roots)) {
        int &unsettled = m_unsettled[root];
        for (int member : treeOf(root)) {
            const ItemRecord &record = m_nodes.at(member).record;
            if (record.type != ItemRecord::Type::Image)
                continue;
            m_rootOf.insert(member, root);
            const int entry = takeEntryFor(member, position++);
            if (entry < 0) {
                // More image records than index entries: this one has no pixels to get.
                drop(member, LoadLosses::Reason::NoPictureData);
                continue;
            }
            auto *runner = new ImageLoaderRunner(m_header.imageRecords.at(entry), member,
                record.source, record.autoDownscaled, record.downscaleLimit, m_context);
            connect(runner, &ImageLoaderRunner::imageDone, this,
                [this, runner] { handleImageDone(runner); });
            connect(runner, &ImageLoaderRunner::missingImage, this,
                [this, member](
                    const PictureFile::LoadResult &result) { m_missing.insert(member, result); });
            connect(runner, &ImageLoaderRunner::isCopy, this,
                [this, member](int ownerId) { m_copies.insert(member, ownerId); });
            m_runners.append(runner);
            ++unsettled;
            const ImageRecord &block = m_header.imageRecords.at(entry);
            queue.append({ std::max<qint64>(0, block.end - block.start), runner });
        }
        if (unsettled == 0)
            finalizeRoot(root);
    }
    std::stable_sort(queue.begin(), queue.end(),
        [](const auto &one, const auto &other) { return one.first > other.first; });
    for (const auto &queued : qAsConst(queue))
        QThreadPool::globalInstance()->start(queued.second);
}

void SaveFileReader::handleImageDone(ImageLoaderRunner *runner)
{
    if (m_reported.contains(runner))
        return;
    m_reported.insert(runner);
    runner->deleteLater();
    if (m_finished)
        return;

    const int node = runner->node();
    ItemRecord &record = m_nodes[node].record;
    Decoded decoded;
    decoded.node = node;
    if (runner->decoded()) {
        if (runner->image().isNull()) {
            drop(node, runner->failure());
            decoded.node = -1;
            decoded.lost = runner->failure();
        } else {
            record.image = runner->image();
            record.original = runner->original();
            decoded.image = record.image;
            decoded.original = record.original;
            decoded.source = record.source;
        }
    } else if (m_copies.contains(node)) {
        decoded.isCopy = true;
        decoded.copyOf = m_copies.value(node);
    } else {
        if (!runner->resolvedPath().isEmpty()) {
            record.image = runner->image();
            record.original = runner->original();
            record.source = runner->resolvedPath();
            decoded.image = record.image;
            decoded.original = record.original;
        }
        decoded.source = record.source;
    }
    m_itemsById.insert(record.id, decoded);

    if (!m_canceled && m_job->isCanceled())
        cancelRunners();
    // Copies wait for the end of the load, when every owner has its pixels.
    const int root = m_rootOf.value(node);
    if (!decoded.isCopy && --m_unsettled[root] == 0 && !m_canceled)
        finalizeRoot(root);

    m_reporter->reportProgress(m_job, ++m_done);
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
        finish();
        return;
    }
    resolveCopies();
    for (int root : qAsConst(m_roots))
        finalizeRoot(root);
    countDropped(m_roots);
    finish();
}

void SaveFileReader::resolveCopies()
{
    for (auto it = m_copies.constBegin(); it != m_copies.constEnd(); ++it) {
        const int node = it.key();
        int ownerId = it.value();
        const Decoded *owner = nullptr;
        // Ids come from disk: copies may name each other, or a copy itself, in a loop. The
        // writer names owners directly; a chain longer than a few steps is as broken as a loop
        // and only costs time.
        QSet<int> visited { m_nodes.at(node).record.id };
        LoadLosses::Reason lost = LoadLosses::Reason::SharingLoop;
        while (!visited.contains(ownerId) && visited.size() <= 100) {
            visited.insert(ownerId);
            const auto found = m_itemsById.constFind(ownerId);
            if (found == m_itemsById.constEnd()) {
                lost = LoadLosses::Reason::NoPictureData;
                break;
            }
            if (found->node < 0) {
                lost = found->lost;
                break;
            }
            if (!found->isCopy) {
                owner = &found.value();
                break;
            }
            ownerId = found->copyOf;
        }
        if (!owner) {
            drop(node, lost);
        } else if (!owner->image.isNull()) {
            // The very same pixels: the item built from this record shares the owner's pixmap.
            m_nodes[node].record.image = owner->image;
            m_nodes[node].record.original = owner->original;
            m_nodes[node].record.source = owner->source;
        } else {
            m_missing.insert(node, m_missing.value(owner->node));
        }
    }
}

void SaveFileReader::finalizeRoot(int root)
{
    if (m_generated.contains(root))
        return;
    if (m_checksumPending) {
        if (!m_heldRoots.contains(root))
            m_heldRoots.append(root);
        return;
    }
    m_generated.insert(root);
    if (!m_dropped.contains(root))
        generate(root);
}

ItemRecord SaveFileReader::assemble(int node) const
{
    ItemRecord record = m_nodes.at(node).record;
    for (int child : m_nodes.at(node).children) {
        if (!m_dropped.contains(child))
            record.children.append(assemble(child));
    }
    return record;
}

void SaveFileReader::generate(int root)
{
    // Reported only for images that are handed over, never for one left out with its parent.
    QList<int> kept { root };
    for (int i = 0; i < kept.size(); ++i) {
        for (int child : m_nodes.at(kept.at(i)).children) {
            if (!m_dropped.contains(child))
                kept.append(child);
        }
    }
    for (int member : qAsConst(kept)) {
        const auto missing = m_missing.constFind(member);
        if (missing != m_missing.constEnd())
            emit missingImage(m_nodes.at(member).record, missing.value());
    }
    m_reporter->reportItem(m_job, assemble(root));
    // The receiver holds the pixels now; the tree is not handed over twice. Owners keep theirs
    // in m_itemsById for the images that share them.
    for (int member : qAsConst(kept))
        m_nodes[member].record.image = QImage();
}

void SaveFileReader::applyBlock(int node, const ImageRecord &record)
{
    const qint64 limit = std::min(m_header.indexOffset, m_size);
    ItemRecord &item = m_nodes[node].record;
    Decoded decoded;
    decoded.node = node;
    // A dropped image is remembered too: images sharing its block are lost for the same reason.
    const auto lose = [this, node, id = item.id](LoadLosses::Reason reason) {
        drop(node, reason);
        Decoded dropped;
        dropped.lost = reason;
        m_itemsById.insert(id, dropped);
    };
    if (record.id < 0 || record.start < 0 || record.end < record.start) {
        lose(LoadLosses::Reason::BrokenIndex);
        return;
    }
    if (record.end > limit || !m_file->seek(record.start)) {
        lose(record.end > m_size ? LoadLosses::Reason::FileEnds : LoadLosses::Reason::BrokenIndex);
        return;
    }
    const qint64 length = record.end - record.start;
    if (length == 4) {
        qint32 ownerId = -1;
        m_in >> ownerId;
        if (ownerId != -1) {
            // Owners come before the images sharing them; one not read yet is not in the file.
            const auto owner = m_itemsById.constFind(ownerId);
            if (owner == m_itemsById.constEnd()) {
                lose(LoadLosses::Reason::NoPictureData);
                return;
            }
            if (owner->node < 0) {
                lose(owner->lost);
                return;
            }
            if (owner->image.isNull()) {
                m_missing.insert(node, m_missing.value(owner->node));
            } else {
                item.image = owner->image;
                item.source = owner->source;
            }
            m_itemsById.insert(item.id, *owner);
            return;
        }
        const QString path = ImageLoaderRunner::resolveLinkedPath(
            item.source, m_currentSceneDirectory, m_savedSceneDirectory);
        PictureFile::LoadResult result;
        result.code = PictureFile::LoadResult::NotFound;
        QImage image;
        if (!path.isEmpty())
            result = PictureFile::load(path, item.autoDownscaled, item.downscaleLimit, &image);
        if (!path.isEmpty() && result.code == PictureFile::LoadResult::Loaded && !image.isNull()) {
            item.image = image;
            item.source = path;
            decoded.image = image;
        } else {
            m_missing.insert(node, result);
        }
        decoded.source = item.source;
    } else {
        const QByteArray block = m_file->read(length);
        QImage image;
        LoadLosses::Reason failure = LoadLosses::Reason::FileEnds;
        if (block.size() == length)
            image = ImageLoaderRunner::decodePng(
                reinterpret_cast<const uchar *>(block.constData()), length, &failure);
        if (image.isNull()) {
            lose(failure);
            return;
        }
        decoded.image = image;
        decoded.source = item.source;
        item.image = image;
    }
    m_itemsById.insert(item.id, decoded);
}

void SaveFileReader::readOldNotes(int parent)
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
        ItemRecord note;
        note.type = ItemRecord::Type::Note;
        note.text = text;
        note.transform = transform;
        note.textColor = textColor;
        note.backgroundColor = backgroundColor;
        addNode(std::move(note), parent);
    }
}

int SaveFileReader::readVersion5Record()
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
        return -1;
    m_in >> opacity;
    if (!isOk(m_in) || !qIsFinite(opacity) || !readTransform(m_in, &transform))
        return -1;
    m_in >> id;
    if (!readDouble(m_in, &z) || !readDouble(m_in, &x) || !readDouble(m_in, &y)
        || !readPolygon(m_in, &polygon))
        return -1;
    ItemRecord image = imageRecord(path, name, id, opacity, transform);
    image.imageTransform = QTransform::fromTranslate(-x, -y);
    image.cropPath = pathOf(polygon);
    image.z = z;
    const int node = addNode(std::move(image), -1);
    readOldNotes(node);
    return isOk(m_in) ? node : -1;
}

// Formats "1.2" to "1.4" keep each picture inside its item record.
int SaveFileReader::readOldImage(int index)
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
        return -1;
    if (!readString(m_in, &name))
        return -1;
    m_in >> opacity;
    if (!isOk(m_in) || !qIsFinite(opacity) || !readTransform(m_in, &transform))
        return -1;
    if (withPath) {
        if (!readPolygon(m_in, &polygon))
            return -1;
        m_in >> id;
        if (!isOk(m_in))
            return -1;
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
                return -1;
        } else {
            image = decodeFrom(m_file, bytesLeft(m_in));
        }
        if (image.isNull())
            return -1;
    } else {
        qint32 byteCount = 0;
        qint32 width = 0;
        qint32 height = 0;
        qint32 format = 0;
        m_in >> byteCount >> width >> height >> format;
        if (version == QLatin1String("1.3") && !readPolygon(m_in, &polygon))
            return -1;
        // Raw pixels: only a real format whose rows add up to exactly the stored byte count, and
        // that count must be there. Rows of the widest format times the highest picture do not
        // fit 64 bits: each step is checked.
        if (!isOk(m_in) || format <= QImage::Format_Invalid || format >= QImage::NImageFormats
            || width <= 0 || height <= 0 || byteCount <= 0 || byteCount > bytesLeft(m_in))
            return -1;
        const int depth = QImage::toPixelFormat(QImage::Format(format)).bitsPerPixel();
        qint64 bitsPerLine = 0;
        qint64 bytes = 0;
        if (!multiply(width, depth, &bitsPerLine) || !add(bitsPerLine, 31, &bitsPerLine)
            || !multiply(bitsPerLine / 32 * 4, height, &bytes) || bytes != byteCount)
            return -1;
        image = QImage(width, height, QImage::Format(format));
        if (image.isNull() || image.sizeInBytes() != byteCount
            || m_in.readRawData(reinterpret_cast<char *>(image.bits()), byteCount) != byteCount)
            return -1;
        image = PictureFile::toDisplayFormat(std::move(image));
    }
    if (!isOk(m_in))
        return -1;

    ItemRecord item = imageRecord(path, name, id, opacity, transform);
    // These formats drew the picture from the item's origin, cropped in picture pixels.
    QPainterPath crop;
    crop.addRect(QRectF(QPointF(0, 0), QSizeF(image.size())));
    if (!polygon.isEmpty())
        crop = pathOf(polygon);
    item.cropPath = crop;
    item.image = std::move(image);
    const int node = addNode(std::move(item), -1);
    if (withPath) {
        readOldNotes(node);
        if (!isOk(m_in))
            return -1;
    }
    return node;
}

void SaveFileReader::readOld()
{
    const QString &version = m_header.formatVersion;
    const bool indexed = isAtLeast(version, QStringLiteral("1.4"));
    const qint32 count = m_header.legacyCount;
    m_reporter->reportProgressRange(m_job, 0, count);
    if (!readSceneBlock(indexed)) {
        finish(corruptMessage());
        return;
    }
    int highestId = -1;
    const auto generateOne = [this, &highestId](int node) {
        highestId = std::max(highestId, m_nodes.at(node).record.id);
        m_roots.append(node);
        m_generated.insert(node);
        generate(node);
    };

    if (version == QLatin1String("1.5")) {
        if (!m_header.imageRecords.isEmpty()) {
            const qint64 end = m_header.imageRecords.constLast().end;
            if (end < m_file->pos() || end > m_header.indexOffset || !m_file->seek(end)) {
                finishWithBrokenMetadata();
                return;
            }
        }
        QList<int> records;
        while (!m_in.atEnd() && records.size() < count) {
            const int node = readVersion5Record();
            if (node < 0) {
                finishWithBrokenMetadata();
                return;
            }
            records.append(node);
        }
        // Every record of this format is a picture.
        m_losses.add(ItemRecord::Type::Image, LoadLosses::Reason::FileEnds, count - records.size());
        readSceneDirectories();
        for (int k = 0; k < records.size(); ++k) {
            const int node = records.at(k);
            if (m_job->isCanceled())
                break;
            const int entry = takeEntryFor(node, k);
            if (entry >= 0)
                applyBlock(node, m_header.imageRecords.at(entry));
            else
                drop(node, LoadLosses::Reason::NoPictureData);
            if (!m_dropped.contains(node))
                generateOne(node);
            m_reporter->reportProgress(m_job, k + 1);
        }
        countDropped(records);
    } else {
        qint32 read = 0;
        for (; read < count && !m_in.atEnd(); ++read) {
            if (m_job->isCanceled())
                break;
            const int node = readOldImage(read);
            if (node < 0) {
                emitSceneState(highestId);
                finishWithBrokenMetadata();
                return;
            }
            generateOne(node);
            m_reporter->reportProgress(m_job, read + 1);
        }
        // The count is the header's: the file may end before as many pictures as it claims.
        m_losses.add(ItemRecord::Type::Image, LoadLosses::Reason::FileEnds, count - read);
    }
    emitSceneState(highestId);
    finish();
}

QString SaveFileReader::bruteForce()
{
    m_reporter->reportProgressRange(m_job, 0, m_header.imageCount);
    if (readSceneBlock(true))
        emitSceneState(-1);

    const uchar *mapping = m_size > 0 ? m_file->map(0, m_size) : nullptr;
    if (!mapping)
        return trLoader("Could not recover any images. :(");

    // Every picture stream starts with its signature; only there is a decoder worth starting.
    // A JPEG found is not searched for others: its thumbnails start the same way.
    QList<qint64> candidates;
    // Each first byte's next occurrence is searched for again only once the scan has passed it.
    const uchar *const end = mapping + m_size;
    const uchar firstBytes[3] = { 0x89, 0xff, 'R' };
    const uchar *nextOf[3] = {};
    for (int i = 0; i < 3; ++i)
        nextOf[i] = static_cast<const uchar *>(std::memchr(mapping, firstBytes[i], size_t(m_size)));
    for (const uchar *at = mapping; at < end;) {
        const uchar *next = end;
        for (int i = 0; i < 3; ++i) {
            if (nextOf[i] && nextOf[i] < at)
                nextOf[i]
                    = static_cast<const uchar *>(std::memchr(at, firstBytes[i], size_t(end - at)));
            if (nextOf[i] && nextOf[i] < next)
                next = nextOf[i];
        }
        if (next == end)
            break;
        at = next + 1;
        const PictureBlock::Kind kind = PictureBlock::kindOf(next, end - next);
        if (kind == PictureBlock::Kind::Unknown)
            continue;
        candidates.append(next - mapping);
        if (kind == PictureBlock::Kind::Jpeg) {
            const qint64 length = PictureBlock::streamLength(next, end - next);
            if (length > 0)
                at = next + length;
        }
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
                m_reporter->reportProgressRange(m_job, 0, 0);
            }
            continue;
        }
        ItemRecord item;
        item.name = QStringLiteral("BruteForceLoaded");
        item.image = image;
        m_reporter->reportItem(m_job, item);
        if (busy) {
            busy = false;
            m_reporter->reportProgressRange(m_job, 0, m_header.imageCount);
            m_reporter->reportProgressMessage(m_job, QString());
        }
        m_reporter->reportProgress(m_job, ++found);
    }
    // Decoders still running after a cancel only read the mapping: wait before releasing it.
    for (QFuture<QImage> &future : decoding)
        future.waitForFinished();
    m_file->unmap(const_cast<uchar *>(mapping));
    if (m_job->isCanceled())
        return QString();
    if (found == 0)
        return trLoader("Could not recover any images. :(");
    if (failed > 0)
        return trLoader("Some images could not be recovered.");
    return QString();
}
