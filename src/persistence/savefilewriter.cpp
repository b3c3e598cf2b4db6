#include "persistence/savefilewriter.h"

#include "picture/picture.h"
#include "picture/pngencoder.h"
#include "picture/sourcefile.h"

#include "jobs/loadjob.h"
#include "persistence/itemrecordcodec.h"
#include "persistence/persistencelog.h"
#include "persistence/savefileformat.h"
#include "platform/platform.h"
#include "platform/workpools.h"
#include "settings/versionnumber.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QHash>
#include <QImageWriter>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <functional>
#include <optional>

namespace {

// Where the image blocks begin: the header is this long as long as the application version
// string keeps its six characters.
constexpr qint64 HeaderEnd = 224;
// The header stores both counts as qint16.
constexpr int MaximumCount = 32767;
// Files are hashed a mebibyte at a time.
constexpr qint64 HashChunk = 1 << 20;

QByteArray bigEndian32(qint32 value)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << value;
    return bytes;
}

qint32 fromBigEndian32(const QByteArray &bytes)
{
    QDataStream stream(bytes);
    qint32 value = 0;
    stream >> value;
    return value;
}

} // namespace

SaveFileWriter::SaveFileWriter(SaveFileLoader *loader, QFile *file, LoadJob *job,
    bool embedLocalFiles, int deflateLevel, bool storeOriginals, Urgency urgency)
    : m_loader(loader)
    , m_file(file)
    , m_job(job)
    , m_deflateLevel(deflateLevel)
    , m_urgency(urgency)
    , m_embedLocalFiles(embedLocalFiles)
    , m_storeOriginals(storeOriginals)
{
}

QByteArray SaveFileWriter::encodePng(const QImage &image, int deflateLevel)
{
    // Any PNG reader decodes these blocks, older versions of this program included; only the
    // encoder is our own, several times faster than the toolkit's writer.
    QByteArray png;
    QString error;
    if (!PngEncoder::encode(image, deflateLevel, &png, &error)) {
        qCWarning(lcPersistence) << "SaveFileLoader: could not encode a picture:" << error;
        return {};
    }
    return png;
}

bool SaveFileWriter::fail(const QString &reason)
{
    // A flush cut short by a full disk says no reason; trying the rest again gives it.
    if (reason.isEmpty())
        m_file->flush();
    // The file by name: a save may fail in the board, its backup or the file written beside it.
    m_loader->reportFinished(m_job, SaveFileLoader::tr("Failed to write save file."),
        QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(m_file->fileName()),
            reason.isEmpty() ? m_file->errorString() : reason));
    return false;
}

bool SaveFileWriter::isLinked(const QString &source) const
{
    return !m_embedLocalFiles && !source.isEmpty() && QFileInfo(source).isFile();
}

QList<ItemRecord> SaveFileWriter::withStoredOverviews(QList<ItemRecord> records) const
{
    QHash<int, const WrittenBlock *> written;
    for (const WrittenBlock &block : m_written)
        written.insert(block.id, &block);
    const std::function<void(QList<ItemRecord> &)> fill = [&](QList<ItemRecord> &list) {
        for (ItemRecord &record : list) {
            fill(record.children);
            // A linked file is read whole when the board opens; a block that names its owner
            // holds no stream of its own.
            if (record.type != ItemRecord::Type::Image || !record.picture
                || (record.pixelsOwnerId >= 0 && record.pixelsOwnerId != record.id)
                || isLinked(record.source))
                continue;
            // The block written now, or the one kept in place, which is the picture's source.
            PictureBlock::Kind kind = PictureBlock::Kind::Unknown;
            quint32 checksum = 0;
            if (const WrittenBlock *block = written.value(record.id)) {
                kind = block->kind;
                checksum = block->checksum;
            } else {
                const PictureSource source = record.picture->source();
                kind = source.blockKind();
                checksum = source.checksum();
            }
            // A WebP block decodes in full when opened, which makes its overview anyway.
            if (kind != PictureBlock::Kind::Jpeg && kind != PictureBlock::Kind::Png)
                continue;
            record.overview = record.picture->storedOverview();
            record.overviewChecksum = checksum;
        }
    };
    fill(records);
    return records;
}

bool SaveFileWriter::isForeignBlockAt(qint64 start, qint64 end)
{
    // Four bytes are the id of the block's owner or -1 for a link, never pixels.
    if (end - start <= 4)
        return false;
    QByteArray head;
    if (!readBlock(start, std::min<qint64>(8, end - start), &head))
        return true;
    return !head.startsWith("\x89PNG\r\n\x1a\n");
}

bool SaveFileWriter::readBlock(qint64 start, qint64 length, QByteArray *data)
{
    // Seeking writes out what the file buffers: a failure here may be a write's, which a later
    // flush could repeat with success. The save must fail all the same.
    if (!m_file->seek(start)) {
        if (m_ioError.isEmpty())
            m_ioError = m_file->errorString();
        return false;
    }
    *data = m_file->read(length);
    if (data->size() != length && m_ioError.isEmpty())
        m_ioError = m_file->errorString();
    return data->size() == length;
}

bool SaveFileWriter::writeAt(qint64 position, const QByteArray &data)
{
    return m_file->seek(position) && writeAll(data);
}

bool SaveFileWriter::writeAll(const QByteArray &data)
{
    // A disk that fills up takes part of a write without a reason; the rest brings the reason.
    for (qint64 written = 0; written < data.size();) {
        const qint64 n = m_file->write(data.constData() + written, data.size() - written);
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

QList<SaveFileWriter::Image> SaveFileWriter::imagesOf(const QList<ItemRecord> &records)
{
    QList<Image> images;
    QList<const ItemRecord *> pending;
    for (const ItemRecord &record : records)
        pending.append(&record);
    while (!pending.isEmpty()) {
        const ItemRecord *record = pending.takeFirst();
        for (const ItemRecord &child : record->children)
            pending.append(&child);
        if (record->type != ItemRecord::Type::Image)
            continue;
        Image image;
        image.id = record->id;
        image.ownerId = record->pixelsOwnerId < 0 ? record->id : record->pixelsOwnerId;
        // A copy shows its owner's pixels; an owner has its own or none.
        image.hasPixels = !record->image.isNull() || record->picture || image.ownerId != image.id;
        image.source = record->source;
        image.image = record->image;
        image.picture = record->picture;
        image.original = record->original;
        images.append(image);
    }
    std::stable_sort(
        images.begin(), images.end(), [](const Image &a, const Image &b) { return a.id < b.id; });
    return images;
}

void SaveFileWriter::run(const QString &oldChecksum, const SaveFileLoader::SceneState &state)
{
    SaveInspection found;
    if (begin(oldChecksum, state, &found))
        finish();
}

bool SaveFileWriter::begin(
    const QString &oldChecksum, const SaveFileLoader::SceneState &state, SaveInspection *found)
{
    m_state = state;
    // Older readers refuse any block that is not PNG: this save stores none, setting or not.
    if (state.forOlderReaders)
        m_storeOriginals = false;
    m_images = imagesOf(state.items);
    const int itemCount = state.items.size();
    const int imageCount = m_images.size();
    if (itemCount > MaximumCount || imageCount > MaximumCount) {
        // The counts would not survive the header's 16 bits: refuse before touching the file.
        m_loader->reportFinished(m_job, SaveFileLoader::tr("Failed to write save file."),
            SaveFileLoader::tr("A scene file holds at most %1 items and %1 images; this scene "
                               "has %2 items and %3 images.")
                .arg(MaximumCount)
                .arg(itemCount)
                .arg(imageCount));
        return false;
    }
    m_loader->reportProgressRange(m_job, 0, imageCount);

    // What the header holds behind the checksum: the part of the header the checksum covers.
    QByteArray sceneFields;
    {
        QDataStream fields(&sceneFields, QIODevice::WriteOnly);
        fields << qint32(state.nextItemId) << state.sceneRect << state.viewTransform
               << qint32(state.horizontalScroll) << qint32(state.verticalScroll);
    }
    m_checksum.reset();
    m_checksum.addData(sceneFields);
    // Where the blocks that stay in place end, should this become an incremental save, so that
    // the pass that checks the old file also hashes them for the new one.
    qint64 hashedKeptEnd = HeaderEnd;

    Mode mode = Mode::Full;
    QList<ImageRecord> entries;
    if (!oldChecksum.isEmpty()) {
        SaveFileHeader old = SaveFileFormat::readHeaderFields(m_file);
        if (old.checksumStart >= 0) {
            if (old.checksumStart <= HeaderEnd && !old.imageRecords.isEmpty()
                && old.imageRecords.first().start == HeaderEnd) {
                hashedKeptEnd = std::max(hashedKeptEnd, inPlaceEnd(old.imageRecords));
            }
            old.actualChecksum = checksumOldFile(old.checksumStart, hashedKeptEnd);
            if (m_file->size() < hashedKeptEnd)
                hashedKeptEnd = -1;
            emit m_loader->checksumLoaded(old.storedChecksum, old.actualChecksum, m_job);
            found->oldFileRead = true;
            found->actualChecksum = old.actualChecksum;
        }
        if (!m_file->seek(0))
            return fail();
        found->applicationVersion = old.applicationVersion;
        if (!m_job->isCanceled()) {
            if (oldChecksum != old.actualChecksum) {
                // Changed behind our back: nothing in it can be trusted to stay.
            } else if (old.formatVersion != SaveFileFormat::CurrentVersion
                && !(old.formatVersion == SaveFileFormat::OriginalsVersion && m_storeOriginals)) {
                // Older layouts, and blocks that are not PNG in a board that is to hold PNG
                // only, are written anew.
                m_loader->reportProgressMessage(m_job,
                    SaveFileLoader::tr("Converting to %0 save format...<br><center>This "
                                       "might take longer than usual.</center>")
                        .replace(QLatin1String("%0"), SaveFileFormat::ApplicationVersion));
            } else if (!SaveFileFormat::isValidHeader(old) || !SaveFileFormat::isValidIndex(old)
                || old.storedChecksum != old.actualChecksum) {
                m_loader->reportProgressMessage(m_job,
                    SaveFileLoader::tr("Updating incorrect metadata...<br><center>This "
                                       "might take longer than usual.</center>"));
            } else {
                mode = Mode::Incremental;
                entries = old.imageRecords;
            }
        }
    }
    m_sceneFields = sceneFields;
    m_hashedKeptEnd = hashedKeptEnd;
    m_mode = mode;
    m_entries = entries;
    return true;
}

void SaveFileWriter::finish()
{
    // Answering a question with cancel must leave the file as it was.
    if (m_job->isCanceled()) {
        m_loader->reportFinished(m_job);
        return;
    }
    const SaveFileLoader::SceneState &state = m_state;
    const QByteArray &sceneFields = m_sceneFields;
    const qint64 hashedKeptEnd = m_hashedKeptEnd;
    Mode mode = m_mode;
    QList<ImageRecord> entries = m_entries;
    const int itemCount = state.items.size();
    const int imageCount = m_images.size();

    // Pictures decoding from this file wait (elsewhere) while its blocks move.
    m_sourceFile = SourceFile::find(m_file->fileName());
    std::unique_ptr<QWriteLocker> sourceLock;
    if (m_sourceFile)
        sourceLock = std::make_unique<QWriteLocker>(m_sourceFile->lock());

    // The board this file will be renamed over: what decodes from it must not read another
    // file's bytes under its name.
    if (!state.replacesPath.isEmpty()) {
        if (const std::shared_ptr<SourceFile> replaced = SourceFile::find(state.replacesPath)) {
            QWriteLocker replacedLock(replaced->lock());
            moveSourcesOutOf(replaced.get(), {});
        }
    }

    // Kept blocks only stay valid where the new header ends exactly where they begin.
    if (mode == Mode::Incremental && !entries.isEmpty() && entries.first().start != HeaderEnd)
        mode = Mode::Full;
    if (mode == Mode::Incremental) {
        // compact() moves every block behind the first one it squeezes out.
        QList<ImageRecord> staying;
        for (int k = 0; k < std::min<int>(entries.size(), m_images.size()); ++k) {
            if (entries.at(k).id != m_images.at(k).id)
                break;
            staying.append(entries.at(k));
        }
        moveSourcesOutOfFile(staying);
        if (!compact(entries))
            return;
        if (!keptBlocksStillFit(entries))
            mode = Mode::Full;
    }
    if (mode == Mode::Full) {
        entries.clear();
        moveSourcesOutOfFile({});
    }
    const qint64 keptEnd = entries.isEmpty() ? HeaderEnd : entries.last().end;
    if (keptEnd != hashedKeptEnd) {
        // Blocks moved, or the old file was not what the pass expected: hash what stays anew.
        m_checksum.reset();
        m_checksum.addData(sceneFields);
        if (!SaveFileFormat::addToHash(m_file, HeaderEnd, keptEnd, &m_checksum)) {
            fail();
            return;
        }
    }
    if (!m_file->seek(0)) {
        fail();
        return;
    }

    QDataStream out(m_file);
    out << SaveFileFormat::CurrentVersion << qint16(itemCount) << qint16(imageCount);
    const qint64 indexSlot = m_file->pos();
    out << qint64(0) << SaveFileFormat::ApplicationVersion;
    const qint64 checksumPosition = m_file->pos();
    out << QStringLiteral("XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX");
    out.writeRawData(sceneFields.constData(), sceneFields.size());
    if (out.status() != QDataStream::Ok) {
        fail();
        return;
    }
    Q_ASSERT(m_file->pos() == HeaderEnd);

    QList<ImageRecord> index;
    if (!writeImageBlocks(entries, index))
        return;

    // Records and index are small: they are hashed from the file once written.
    const qint64 recordsStart = m_file->pos();
    // Readers of the older format keep PNG blocks only, for which no overview is kept. Where
    // pictures came from on the web goes only into boards that say "1.11" anyway: a board of
    // format "1.10" stays one as every reader of it knows it.
    ItemRecordCodec::write(out,
        state.forOlderReaders ? state.items : withStoredOverviews(state.items), m_foreignBlocks);
    out << QFileInfo(m_file->fileName()).absolutePath();
    const qint64 indexOffset = m_file->pos();
    if (out.status() != QDataStream::Ok || !m_file->seek(indexSlot)) {
        fail();
        return;
    }
    out << indexOffset;
    if (!m_file->seek(indexOffset)) {
        fail();
        return;
    }
    for (const ImageRecord &record : qAsConst(index))
        out << qint32(record.id) << record.start << record.end;
    if (out.status() != QDataStream::Ok || !m_file->resize(m_file->pos())) {
        fail();
        return;
    }
    // Readers that know PNG blocks only must see a newer format and ask rather than misread
    // the others. Both versions are as long, so nothing behind the version moves; the checksum
    // does not cover it.
    if (m_foreignBlocks) {
        if (!m_file->seek(0)) {
            fail();
            return;
        }
        out << SaveFileFormat::OriginalsVersion;
    }

    if (!m_file->flush()
        || !SaveFileFormat::addToHash(m_file, recordsStart, m_file->size(), &m_checksum)
        || !m_file->seek(checksumPosition)) {
        fail();
        return;
    }
    const QString checksum = QString::fromLatin1(m_checksum.result().toHex());
    out << checksum;
    if (out.status() != QDataStream::Ok || !m_file->flush()) {
        fail();
        return;
    }
    if (!m_ioError.isEmpty()) {
        fail(m_ioError);
        return;
    }
    // Success means the board is on the disk: the caller deletes the backup, or renames this
    // file over the board, as soon as it hears of it.
    QString syncError;
    if (!Platform::syncOpenFile(m_file->handle(), &syncError)) {
        fail(syncError);
        return;
    }
    if (m_urgency == UserWaits && state.replacesPath.isEmpty())
        pointPicturesAtFile();
    emit m_loader->checksumSaved(checksum, m_job);
    m_loader->reportFinished(m_job);
}

void SaveFileWriter::moveSourcesOutOfFile(const QList<ImageRecord> &keptEntries)
{
    if (m_sourceFile)
        moveSourcesOutOf(m_sourceFile.get(), keptEntries);
}

void SaveFileWriter::moveSourcesOutOf(SourceFile *file, const QList<ImageRecord> &keptEntries)
{
    for (const std::shared_ptr<Picture> &picture : file->pictures()) {
        const PictureSource source = picture->source();
        const bool stays = std::any_of(
            keptEntries.cbegin(), keptEntries.cend(), [&source](const ImageRecord &entry) {
                return entry.start == source.start() && entry.end - entry.start == source.length();
            });
        if (stays)
            continue;
        // Read under the lock this save holds; a block that no longer matches stays as it is,
        // unreadable either way.
        const QByteArray bytes = source.encodedBytes(nullptr, true);
        if (!bytes.isEmpty())
            picture->setSource(PictureSource::fromBytes(bytes));
    }
}

void SaveFileWriter::pointPicturesAtFile()
{
    if (m_written.isEmpty())
        return;
    const std::shared_ptr<SourceFile> file = SourceFile::forPath(m_file->fileName());
    for (const WrittenBlock &block : qAsConst(m_written)) {
        // A picture whose pixels changed meanwhile is another picture: pictures never change.
        block.picture->setSource(PictureSource::fromFileBlock(
            file, block.start, block.length, block.checksum, block.kind));
    }
    m_written.clear();
}

bool SaveFileWriter::copiesSource(const Image &image) const
{
    if (!image.picture || !image.image.isNull())
        return false;
    const PictureBlock::Kind kind = image.picture->source().blockKind();
    // A PNG stream is what the board stores anyway; other files only where originals are kept.
    return kind == PictureBlock::Kind::Png
        || (kind != PictureBlock::Kind::Unknown && m_storeOriginals);
}

QByteArray SaveFileWriter::sourceBlockOf(const Image &image)
{
    if (!copiesSource(image))
        return {};
    const PictureSource source = image.picture->source();
    QString error;
    const QByteArray bytes
        = source.encodedBytes(&error, m_sourceFile && source.file() == m_sourceFile);
    if (bytes.isEmpty())
        qCWarning(lcPersistence) << "SaveFileWriter: the source of a picture is lost:" << error;
    return bytes;
}

bool SaveFileWriter::writeImageBlocks(const QList<ImageRecord> &kept, QList<ImageRecord> &index)
{
    const QList<Image> &images = m_images;
    QList<int> toEncode;
    const auto storesOriginal
        = [this](const Image &image) { return m_storeOriginals && !image.original.isEmpty(); };
    // Pictures whose source is a stream the board may hold are copied from it, not decoded and
    // encoded again.
    for (int k = kept.size(); k < images.size(); ++k) {
        const Image &image = images.at(k);
        if (image.ownerId == image.id && image.hasPixels && !isLinked(image.source)
            && !storesOriginal(image) && !copiesSource(image))
            toEncode.append(k);
    }

    // Encode ahead (on every core when the user waits for the save), but hold only a bounded
    // number of finished streams.
    std::optional<WorkPools::Foreground> foreground;
    if (m_urgency == UserWaits)
        foreground.emplace();
    QThreadPool *pool = QThreadPool::globalInstance();
    const int window = std::max(2, 2 * pool->maxThreadCount());
    QHash<int, QFuture<QByteArray>> encoding;
    int submitted = 0;
    const auto submit = [&] {
        while (submitted < toEncode.size() && encoding.size() < window) {
            const int k = toEncode.at(submitted++);
            const Image &image = images.at(k);
            encoding.insert(k,
                QtConcurrent::run(
                    pool, [picture = image.picture, pixels = image.image, level = m_deflateLevel] {
                        // Pixels not in memory are decoded here, a window's worth at a time.
                        QString error;
                        const QImage decoded
                            = pixels.isNull() && picture ? picture->pixels(&error) : pixels;
                        if (decoded.isNull() && picture) {
                            qCWarning(lcPersistence)
                                << "SaveFileWriter: a picture could not be had:" << error;
                        }
                        return encodePng(decoded, level);
                    }));
        }
    };

    for (int k = 0; k < images.size(); ++k) {
        submit();
        const Image &image = images.at(k);
        const qint64 start = m_file->pos();
        if (k < kept.size()) {
            m_foreignBlocks |= isForeignBlockAt(kept.at(k).start, kept.at(k).end);
            if (!m_file->seek(kept.at(k).end))
                return fail();
        } else {
            QByteArray block;
            if (image.ownerId != image.id) {
                block = bigEndian32(image.ownerId);
            } else if (image.hasPixels && !isLinked(image.source) && storesOriginal(image)) {
                // Copied as it came: decoding it gives the item's pixels exactly.
                block = image.original;
                m_foreignBlocks |= !block.startsWith("\x89PNG\r\n\x1a\n");
            } else if (encoding.contains(k)) {
                block = encoding.take(k).result();
            } else if (image.hasPixels && !isLinked(image.source)) {
                block = sourceBlockOf(image);
                m_foreignBlocks |= !block.isEmpty() && !block.startsWith("\x89PNG\r\n\x1a\n");
            }
            if (image.picture && !block.isEmpty() && image.ownerId == image.id) {
                const auto *data = reinterpret_cast<const uchar *>(block.constData());
                m_written.append({ image.id, image.picture, start, block.size(),
                    PictureSource::checksumOf(data, block.size()),
                    PictureBlock::kindOf(data, block.size()) });
            }
            // A picture known only by a source that cannot be read any more must not be saved
            // as if it were a link: the board would lose it without a word.
            if (block.isEmpty() && image.picture && image.image.isNull()
                && image.ownerId == image.id && !isLinked(image.source)) {
                m_loader->reportFinished(m_job, SaveFileLoader::tr("Failed to write save file."),
                    SaveFileLoader::tr("The picture of item %1 could not be read back from "
                                       "where it was kept.")
                        .arg(image.id));
                return false;
            }
            // A picture the writer cannot encode is kept as a link to its source.
            if (block.isEmpty())
                block = bigEndian32(-1);
            if (!writeHashed(block))
                return fail();
        }
        index.append({ image.id, start, m_file->pos() });
        m_loader->reportProgress(m_job, k + 1);
        if (m_job->isCanceled()) {
            m_loader->reportFinished(m_job);
            return false;
        }
    }
    return true;
}

bool SaveFileWriter::compact(QList<ImageRecord> &entries)
{
    const QList<Image> &images = m_images;
    int i = 0;
    int k = 0;
    while (i < entries.size() && k < images.size()) {
        if (entries.at(i).id == images.at(k).id) {
            ++i;
            ++k;
            continue;
        }
        // The image of entry i is gone: squeeze its block out, handing its pixels to the first
        // later block that shared them.
        const ImageRecord deleted = entries.at(i);
        const qint64 heldLength = deleted.end - deleted.start;
        QByteArray held;
        if (!readBlock(deleted.start, heldLength, &held))
            return fail();
        const QByteArray deletedId = bigEndian32(deleted.id);
        qint64 w = deleted.start;
        bool handedOver = false;
        QByteArray newOwnerId;
        for (int j = i + 1; j < entries.size(); ++j) {
            ImageRecord &entry = entries[j];
            const qint64 length = entry.end - entry.start;
            QByteArray data;
            if (!readBlock(entry.start, length, &data))
                return fail();
            if (length == 4 && data == deletedId) {
                if (!handedOver) {
                    handedOver = true;
                    newOwnerId = bigEndian32(entry.id);
                    if (!writeAt(w, held))
                        return fail();
                    entry.start = w;
                    entry.end = w + heldLength;
                    w = entry.end;
                    continue;
                }
                data = newOwnerId;
            }
            if (!writeAt(w, data))
                return fail();
            entry.start = w;
            entry.end = w + length;
            w = entry.end;
        }
        entries.removeAt(i);
    }
    // Once the images have run out, every entry left belongs to a deleted one: the records go
    // where its block began. Kept in the list, its old bytes would count as kept and be hashed
    // for the new file, whose records overwrite them.
    entries.erase(entries.begin() + i, entries.end());
    return true;
}

bool SaveFileWriter::keptBlocksStillFit(const QList<ImageRecord> &entries)
{
    const int kept = std::min<int>(entries.size(), m_images.size());
    for (int k = 0; k < kept; ++k) {
        const ImageRecord &entry = entries.at(k);
        const Image &image = m_images.at(k);
        if (entry.id != image.id)
            return false;
        if (entry.end - entry.start != 4) {
            // Files of format "1.10" hold PNG blocks only, yet the version is not covered by
            // the checksum: a block of another kind must not stay where PNG only is wanted.
            if (!m_storeOriginals && isForeignBlockAt(entry.start, entry.end))
                return false;
            continue;
        }
        QByteArray data;
        if (!readBlock(entry.start, 4, &data))
            return false;
        const qint32 held = fromBigEndian32(data);
        if (image.ownerId != image.id) {
            if (held != image.ownerId)
                return false;
        } else if (held != -1 || (image.hasPixels && !isLinked(image.source))) {
            // A link whose picture would now be embedded, or a copy that owns its pixels now.
            return false;
        }
    }
    return true;
}

qint64 SaveFileWriter::inPlaceEnd(const QList<ImageRecord> &entries) const
{
    // Entries past the last image belong to deleted ones, which compact() drops off the end.
    const int matched = std::min<int>(entries.size(), m_images.size());
    for (int k = 0; k < matched; ++k) {
        if (entries.at(k).id != m_images.at(k).id)
            return -1;
    }
    return matched == 0 ? HeaderEnd : entries.at(matched - 1).end;
}

QString SaveFileWriter::checksumOldFile(qint64 from, qint64 keptEnd)
{
    if (!m_file->seek(from))
        return QString();
    // Both hashes take as long as each other: the new one runs on another core, a chunk behind.
    std::optional<WorkPools::Foreground> foreground;
    if (m_urgency == UserWaits)
        foreground.emplace();
    QFuture<void> fresh;
    QCryptographicHash old(QCryptographicHash::Md5);
    const qint64 size = m_file->size();
    bool complete = true;
    for (qint64 position = from; position < size;) {
        const QByteArray chunk = m_file->read(std::min(HashChunk, size - position));
        if (chunk.isEmpty()) {
            complete = false;
            break;
        }
        const qint64 keptFrom = std::max(position, HeaderEnd);
        const qint64 keptTo = std::min(position + chunk.size(), keptEnd);
        fresh.waitForFinished();
        if (keptFrom < keptTo) {
            fresh = QtConcurrent::run(
                [this, chunk, offset = int(keptFrom - position), length = int(keptTo - keptFrom)] {
                    m_checksum.addData(chunk.constData() + offset, length);
                });
        }
        old.addData(chunk);
        position += chunk.size();
    }
    fresh.waitForFinished();
    return complete ? QString::fromLatin1(old.result().toHex()) : QString();
}

bool SaveFileWriter::writeHashed(const QByteArray &data)
{
    if (!writeAll(data))
        return false;
    m_checksum.addData(data);
    return true;
}
