#include "persistence/savefileloader.h"

#include "persistence/pngencoder.h"

#include "persistence/persistencelog.h"
#include "loading/loadjob.h"
#include "persistence/savefilereader.h"
#include "persistence/savefilewriter.h"
#include "persistence/scenesnapshot.h"
#include "scene/graphicsimageitem.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QFile>
#include <QStringList>
#include <QThread>
#include <QtEndian>

#include <algorithm>

const QString SaveFileLoader::FormatVersion = QStringLiteral("1.10");
const QString SaveFileLoader::ApplicationVersion = QStringLiteral(VELKORA_VERSION);

namespace {

bool splitFormat(const QString &version, int *major, int *minor)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    if (parts.size() != 2)
        return false;
    bool majorOk = false;
    bool minorOk = false;
    *major = parts.at(0).toInt(&majorOk);
    *minor = parts.at(1).toInt(&minorOk);
    return majorOk && minorOk;
}


// A QString read only when the file holds as many bytes as its length field claims.
bool readBoundedString(QDataStream &in, QString *out)
{
    const QByteArray peeked = in.device()->peek(4);
    if (peeked.size() < 4)
        return false;
    const quint32 length = qFromBigEndian<quint32>(peeked.constData());
    if (length != 0xffffffffu && qint64(length) > in.device()->size() - in.device()->pos() - 4)
        return false;
    in >> *out;
    return in.status() == QDataStream::Ok;
}

} // namespace

void SaveFileLoader::SceneState::takeSnapshot()
{
    snapshot = std::make_shared<const SceneSnapshot>(SceneSnapshot::take(items));
}

SaveFileLoader::SaveFileLoader(QObject *parent)
    : BaseLoader(parent)
{
    qRegisterMetaType<SaveFileLoader::SceneState>("SaveFileLoader::SceneState");
    qRegisterMetaType<ImageLoader::LoadImageResult>("ImageLoader::LoadImageResult");
    qRegisterMetaType<GraphicsImageItem *>("GraphicsImageItem*");
    qRegisterMetaType<GraphicsItem *>("GraphicsItem*");
    // save and load are invoked by name across threads.
    qRegisterMetaType<QFile *>("QFile*");
}

SaveFileLoader::~SaveFileLoader() = default;

void SaveFileLoader::writeItemRecords(
    QDataStream &stream, const QList<GraphicsItem *> &items, bool selectedOnly)
{
    const double baseZ = SceneSnapshot::lowestZ(items);
    for (GraphicsItem *item : items)
        writeItemRecord(stream, item, baseZ, selectedOnly);
}

void SaveFileLoader::writeItemRecord(
    QDataStream &stream, GraphicsItem *item, double baseZ, bool selectedOnly)
{
    if (!item)
        return;
    QList<QByteArray> bodies;
    SceneSnapshot::appendRecordBodies(bodies, item, baseZ, selectedOnly);
    SceneSnapshot::writeRecordBodies(stream, bodies);
}

bool SaveFileLoader::isValidFormatVersion(const QString &version)
{
    int major = 0;
    int minor = 0;
    return splitFormat(version, &major, &minor);
}

bool SaveFileLoader::isFormatGreater(const QString &a, const QString &b)
{
    int aMajor = 0;
    int aMinor = 0;
    int bMajor = 0;
    int bMinor = 0;
    if (!splitFormat(a, &aMajor, &aMinor))
        return false;
    splitFormat(b, &bMajor, &bMinor);
    return aMajor > bMajor || (aMajor == bMajor && aMinor > bMinor);
}

bool SaveFileLoader::isFormatAtLeast(const QString &a, const QString &b)
{
    return a == b || isFormatGreater(a, b);
}

QString SaveFileLoader::checksumOf(QFile *file, qint64 from)
{
    if (!file->seek(from))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Md5);
    constexpr qint64 Chunk = 1 << 20;
    const qint64 size = file->size();
    for (qint64 position = from; position < size;) {
        const QByteArray chunk = file->read(std::min(Chunk, size - position));
        if (chunk.isEmpty())
            return QString();
        hash.addData(chunk);
        position += chunk.size();
    }
    return QString::fromLatin1(hash.result().toHex());
}

QString SaveFileLoader::checksumOf(const uchar *bytes, qint64 size)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    // The toolkit takes lengths as int: feed large mappings in pieces.
    constexpr qint64 Chunk = 1 << 30;
    for (qint64 done = 0; done < size; done += Chunk) {
        hash.addData(reinterpret_cast<const char *>(bytes + done), int(std::min(Chunk, size - done)));
    }
    return QString::fromLatin1(hash.result().toHex());
}

SaveFileHeader SaveFileLoader::readHeader(QFile *file, LoadJob *loadJob)
{
    SaveFileHeader header = readHeaderFields(file);
    if (header.checksumStart >= 0)
        checkChecksum(file, &header, loadJob);
    return header;
}

void SaveFileLoader::checkChecksum(QFile *file, SaveFileHeader *header, LoadJob *loadJob)
{
    const qint64 position = file->pos();
    header->actualChecksum = checksumOf(file, header->checksumStart);
    file->seek(position);
    reportChecksum(*header, loadJob);
}

void SaveFileLoader::reportChecksum(const SaveFileHeader &header, LoadJob *loadJob)
{
    emit checksumLoaded(header.storedChecksum, header.actualChecksum, loadJob);
    if (isFormatAtLeast(header.formatVersion, QStringLiteral("1.10"))
        && header.storedChecksum != header.actualChecksum)
        emit checksumMissmatchDetected(loadJob);
}

SaveFileHeader SaveFileLoader::readHeaderFields(QFile *file)
{
    SaveFileHeader header;
    QDataStream in(file);
    const qint64 size = file->size();
    if (!readBoundedString(in, &header.formatVersion)) {
        header.truncated = true;
        return header;
    }
    const QString &version = header.formatVersion;
    if (isFormatAtLeast(version, QStringLiteral("1.6"))) {
        in >> header.itemCount >> header.imageCount;
    } else {
        in >> header.legacyCount;
        const qint16 count = qint16(std::clamp<qint32>(header.legacyCount, -1, 32767));
        header.itemCount = count;
        header.imageCount = count;
    }
    if (in.status() != QDataStream::Ok) {
        header.truncated = true;
        return header;
    }
    if (!isFormatAtLeast(version, QStringLiteral("1.4")))
        return header;

    in >> header.indexOffset;
    if (isFormatAtLeast(version, QStringLiteral("1.9")))
        readBoundedString(in, &header.applicationVersion);
    if (isFormatAtLeast(version, QStringLiteral("1.10")))
        readBoundedString(in, &header.storedChecksum);
    if (in.status() != QDataStream::Ok)
        header.truncated = true;
    const qint64 headerEnd = file->pos();
    header.checksumStart = headerEnd;

    // Offsets come from disk: the whole index must lie between the header and the file's end.
    const qint64 count
        = isFormatAtLeast(version, QStringLiteral("1.6")) ? header.imageCount : header.legacyCount;
    constexpr qint64 EntryBytes = 4 + 8 + 8;
    if (!header.truncated && count > 0 && header.indexOffset >= headerEnd
        && header.indexOffset <= size && count <= (size - header.indexOffset) / EntryBytes
        && file->seek(header.indexOffset)) {
        in.resetStatus();
        for (qint64 i = 0; i < count; ++i) {
            ImageRecord record;
            in >> record.id >> record.start >> record.end;
            header.imageRecords.append(record);
        }
        if (in.status() != QDataStream::Ok) {
            header.imageRecords.clear();
            header.truncated = true;
        }
    } else if (count > 0 || header.indexOffset < headerEnd || header.indexOffset > size) {
        header.truncated = true;
    }
    file->seek(headerEnd);
    return header;
}

bool SaveFileLoader::isValidHeader(const SaveFileHeader &header)
{
    const QString &version = header.formatVersion;
    if (!isValidFormatVersion(version))
        return false;
    if (!isFormatGreater(version, QStringLiteral("1.3")))
        return true;
    const qint64 count
        = isFormatAtLeast(version, QStringLiteral("1.6")) ? header.imageCount : header.legacyCount;
    return header.itemCount >= 0 && !header.truncated && count == header.imageRecords.size();
}

bool SaveFileLoader::isValidIndex(const SaveFileHeader &header)
{
    qint64 previousEnd = 0;
    for (const ImageRecord &record : header.imageRecords) {
        if (record.id < 0 || record.start < 0 || record.end < record.start
            || record.start < previousEnd || record.end > header.indexOffset)
            return false;
        previousEnd = record.end;
    }
    return true;
}

void SaveFileLoader::save(QFile *saveFile, const QString &oldChecksum,
    const SaveFileLoader::SceneState &sceneState, LoadJob *loadJob)
{
    LoadJob *job = ensureJob(loadJob);
    reportStarted(job, tr("Saving Scene"));
    std::shared_ptr<const SceneSnapshot> snapshot = sceneState.snapshot;
    if (!snapshot) {
        // Items belong to the GUI thread: only there, or with nothing to read, may the writer
        // take the snapshot itself.
        const bool itemsThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        if (!sceneState.items.isEmpty() && !itemsThread) {
            qCCritical(lcPersistence) << "SaveFileLoader: save called without a snapshot";
            reportFinished(job, tr("Failed to write save file."),
                tr("The scene was handed over without a snapshot of its items."));
            return;
        }
        snapshot = std::make_shared<const SceneSnapshot>(SceneSnapshot::take(sceneState.items));
    }
    if (!saveFile || !saveFile->isOpen() || !saveFile->isWritable() || !saveFile->isReadable()) {
        reportFinished(
            job, tr("Failed to write save file."), saveFile ? saveFile->errorString() : QString());
        return;
    }
    SaveFileWriter(this, saveFile, job, m_embedLocalFiles, PngEncoder::deflateLevel(m_saveCompression))
        .run(oldChecksum, sceneState, *snapshot);
}

void SaveFileLoader::save(
    QFile *saveFile, const QString &oldChecksum, const SaveFileLoader::SceneState &sceneState)
{
    save(saveFile, oldChecksum, sceneState, nullptr);
}

void SaveFileLoader::load(QFile *loadFile, LoadJob *loadJob, bool force)
{
    LoadJob *job = ensureJob(loadJob);
    reportStarted(job, tr("Loading Scene"));
    const QString corrupt
        = tr("The Velkora file you are trying to load is corrupt and can not be loaded.");
    if (!loadFile || !loadFile->isOpen() || !loadFile->isReadable()) {
        reportFinished(job, corrupt);
        return;
    }

    if (job->isCanceled()) {
        reportFinished(job);
        return;
    }
    const auto isCurrent = [](const QString &version) {
        return isFormatGreater(version, QStringLiteral("1.5"))
            && !isFormatGreater(version, FormatVersion);
    };
    if (force) {
        // Recovery is for files whose metadata is broken: a readable format version and the
        // counts are all it reads, and it has no use for a checksum over the whole file.
        SaveFileHeader brief;
        QDataStream in(loadFile);
        if (readBoundedString(in, &brief.formatVersion) && isCurrent(brief.formatVersion)) {
            in >> brief.itemCount >> brief.imageCount >> brief.indexOffset;
            if (isFormatAtLeast(brief.formatVersion, QStringLiteral("1.9")))
                readBoundedString(in, &brief.applicationVersion);
            if (isFormatAtLeast(brief.formatVersion, QStringLiteral("1.10")))
                readBoundedString(in, &brief.storedChecksum);
            auto *reader = new SaveFileReader(this, loadFile, job, brief);
            const QString message = reader->bruteForce();
            delete reader;
            reportFinished(job, message);
            return;
        }
        loadFile->seek(0);
    }

    SaveFileHeader header = readHeaderFields(loadFile);
    const QString &version = header.formatVersion;
    const bool current = isCurrent(version);
    if (!force && current && isValidHeader(header)) {
        // The current reader checks the checksum while its image blocks decode.
        (new SaveFileReader(this, loadFile, job, header))->readCurrent();
        return;
    }
    if (header.checksumStart >= 0) {
        const bool wasBlocked = blockSignals(force);
        checkChecksum(loadFile, &header, job);
        blockSignals(wasBlocked);
    }
    if (job->isCanceled()) {
        reportFinished(job);
        return;
    }

    if (!isValidHeader(header)) {
        reportFinished(job, corrupt);
        return;
    }
    if (version == QLatin1String("1.2") || version == QLatin1String("1.3")
        || version == QLatin1String("1.4") || version == QLatin1String("1.5")) {
        (new SaveFileReader(this, loadFile, job, header))->readOld();
    } else if (isFormatGreater(version, FormatVersion)) {
        if (isFormatAtLeast(version, QStringLiteral("1.9")))
            reportFinished(job,
                tr("The save file was saved with a newer version of Velkora (%0), "
                   "you are currently using Velkora %1. Please update to Velkora "
                   "%0 or higher to be able to open it.")
                    // The stored version is text from the file: put it in last, so a "%1"
                    // inside it stays as it is.
                    .replace(QLatin1String("%1"), ApplicationVersion)
                    .replace(QLatin1String("%0"), header.applicationVersion));
        else
            reportFinished(job,
                tr("The save file was saved with a newer version of Velkora, "
                   "please update to be able to open it."));
    } else {
        reportFinished(job, tr("Unrecognized Velkora save file."));
    }
}

void SaveFileLoader::load(QFile *loadFile, LoadJob *loadJob)
{
    load(loadFile, loadJob, false);
}

void SaveFileLoader::load(QFile *loadFile)
{
    load(loadFile, nullptr, false);
}

void SaveFileLoader::setEmbedLocalFiles(bool embedLocalFiles)
{
    m_embedLocalFiles = embedLocalFiles;
}

void SaveFileLoader::setSaveCompression(int saveCompression)
{
    m_saveCompression = saveCompression;
}
