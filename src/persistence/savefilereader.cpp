#include "persistence/savefilereader.h"

#include "picture/picture.h"
#include "picture/sourcefile.h"

#include "jobs/baseloader.h"
#include "jobs/loadjob.h"
#include "persistence/itemrecordcodec.h"
#include "persistence/savefileformat.h"
#include "persistence/savefilerecovery.h"
#include "persistence/savefilestream.h"
#include "platform/platform.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <limits>

using SaveFileFormat::readString;
using SaveFileStream::isFinite;
using SaveFileStream::isOk;

namespace {

// Texts users see belong to the loader's translation context, as they always did.
QString trLoader(const char *text)
{
    return QCoreApplication::translate("SaveFileLoader", text);
}

// The checksum reads the whole file once, beside the decoders. It has a pool of its own: on the
// global pool it would queue behind long work of other boards or image jobs, and the load's end
// waits for it. Its thread runs at a lower priority: the board is shown before the checksum is
// known, and the pictures that show it should not share their cores with it.
Q_GLOBAL_STATIC(QThreadPool, checksumPool)

} // namespace

QString SaveFileReader::corruptMessage()
{
    return trLoader("The Velkora file you are trying to load is corrupt and can not be loaded.");
}

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
        Platform::lowerThreadPriority();
        const QString checksum = SaveFileFormat::checksumOfMapping(bytes, size);
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
    if (m_job->isCanceled() && !m_canceled)
        cancelRunners();
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

int SaveFileReader::addTree(ItemRecord record)
{
    // The old formats attach notes to pictures, and nothing to notes.
    const QList<ItemRecord> attached = std::exchange(record.children, {});
    const int node = addNode(std::move(record), -1);
    for (const ItemRecord &child : attached)
        addNode(child, node);
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
    if (depth > ItemRecordCodec::MaximumNesting)
        return -1;
    ItemRecord record;
    qint32 childCount = 0;
    if (!ItemRecordCodec::readOne(m_in, m_header.formatVersion, m_size, &record, &childCount))
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

    m_mapping = m_file->map(0, m_size);
    if (!m_mapping) {
        m_roots.clear();
        finishEarly(corruptMessage());
        return;
    }
    startChecksum();

    int highestId = -1;
    for (int root : qAsConst(m_roots)) {
        for (int member : treeOf(root))
            highestId = std::max(highestId, m_nodes.at(member).record.id);
    }
    emitSceneState(highestId);
    auto context = std::make_shared<ImageLoaderRunner::Context>();
    context->mapping = m_mapping;
    // Image blocks lie before the index; an entry reaching into it or beyond is broken.
    context->size = std::min(m_header.indexOffset, m_size);
    context->fileSize = m_size;
    context->currentSceneDirectory = m_currentSceneDirectory;
    context->savedSceneDirectory = m_savedSceneDirectory;
    context->keepOriginals = m_keepOriginals;
    if (m_blocksOnDisk)
        context->sourceFile = SourceFile::forPath(m_file->fileName());
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
            auto *runner
                = new ImageLoaderRunner(m_header.imageRecords.at(entry), member, record, m_context);
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
        if (runner->picture()) {
            record.picture = runner->picture();
            record.original = runner->original();
            decoded.picture = record.picture;
            decoded.original = record.original;
            decoded.source = record.source;
        } else if (runner->image().isNull()) {
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
        } else if (owner->picture) {
            m_nodes[node].record.picture = owner->picture;
            m_nodes[node].record.source = owner->source;
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
    for (int member : qAsConst(kept)) {
        m_nodes[member].record.image = QImage();
        m_nodes[member].record.picture.reset();
    }
}

QString SaveFileReader::bruteForce()
{
    m_reporter->reportProgressRange(m_job, 0, m_header.imageCount);
    if (readSceneBlock(true))
        emitSceneState(-1);

    const SaveFileRecovery::Outcome outcome
        = SaveFileRecovery::recoverPictures(m_reporter, m_job, m_file, m_size, m_header.imageCount);
    if (!outcome.readable)
        return trLoader("Could not recover any images. :(");
    if (m_job->isCanceled())
        return QString();
    if (outcome.found == 0)
        return trLoader("Could not recover any images. :(");
    if (outcome.failed > 0)
        return trLoader("Some images could not be recovered.");
    return QString();
}
