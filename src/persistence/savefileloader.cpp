#include "persistence/savefileloader.h"

#include "jobs/loadjob.h"
#include "persistence/beeboardreader.h"
#include "persistence/persistencelog.h"
#include "persistence/savefileformat.h"
#include "persistence/savefilereader.h"
#include "persistence/savefilewriter.h"
#include "picture/pngencoder.h"
#include "platform/platform.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRandomGenerator>

#include <algorithm>

using namespace SaveFileFormat;

SaveFileLoader::SaveFileLoader(QObject *parent)
    : BaseLoader(parent)
{
    qRegisterMetaType<SceneState>("SaveFileLoader::SceneState");
    qRegisterMetaType<PictureFile::LoadResult>("PictureFile::LoadResult");
    qRegisterMetaType<LoadLosses>("LoadLosses");
    qRegisterMetaType<SaveInspection>("SaveInspection");
    // save and load are invoked by name across threads.
    qRegisterMetaType<QFile *>("QFile*");
    connect(this, &BaseLoader::finished, this,
        [this](const QString &, const QString &, LoadJob *job) { m_stopWhenDamaged.remove(job); });
}

SaveFileLoader::~SaveFileLoader() = default;

namespace {

QString fileError(const QFile &file, const QString &reason = QString())
{
    return QStringLiteral("%1: %2").arg(
        QDir::toNativeSeparators(file.fileName()), reason.isEmpty() ? file.errorString() : reason);
}

// QFile::remove() refuses a file whose buffer could not be written out: by name it goes.
void discard(QFile &file)
{
    file.close();
    QFile::remove(file.fileName());
}

} // namespace

bool SaveFileLoader::createFileBeside(const QString &path, QFile *file)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    if (QFileInfo(path).fileName().isEmpty()) {
        // No file name: let opening it fail with the system's reason.
        file->setFileName(path);
        return file->open(QIODevice::ReadWrite | QIODevice::NewOnly);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString name = path + QLatin1Char('.');
        for (int i = 0; i < 6; ++i)
            name += QLatin1Char(
                letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)]);
        file->setFileName(name);
        if (file->open(QIODevice::ReadWrite | QIODevice::NewOnly))
            return true;
        if (!QFileInfo::exists(name))
            return false;
    }
    return false;
}

bool SaveFileLoader::copyWithProgress(
    const QString &from, const QString &to, LoadJob *job, QString *error)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = fileError(source);
        return false;
    }
    // The copy is written beside and takes the backup's name only once it is whole and on the
    // disk: a ".old" is what opening the board offers instead of it, so a power cut while it is
    // copied must not leave half a backup under that name.
    QFile target;
    if (!createFileBeside(to, &target)) {
        *error = fileError(target);
        return false;
    }
    constexpr qint64 chunk = 1 << 20;
    const qint64 size = source.size();
    const int steps = int(std::min<qint64>(100, size / chunk + 1));
    reportProgressRange(job, 0, steps);
    QByteArray buffer;
    qint64 copied = 0;
    while (copied < size) {
        buffer = source.read(std::min(chunk, size - copied));
        if (buffer.isEmpty()) {
            *error = fileError(source);
            discard(target);
            return false;
        }
        // A disk that fills up takes part of a write without a reason; the rest brings it.
        for (qint64 written = 0; written < buffer.size();) {
            const qint64 n = target.write(buffer.constData() + written, buffer.size() - written);
            if (n <= 0) {
                *error = fileError(target);
                discard(target);
                return false;
            }
            written += n;
        }
        copied += buffer.size();
        reportProgress(job, int(copied * steps / std::max<qint64>(size, 1)));
    }
    // The board is overwritten in place next: its backup must be on the disk before, and so
    // must its name, which only a sync of the folder makes sure of.
    QString syncError;
    if (!target.flush() || !Platform::syncOpenFile(target.handle(), &syncError)) {
        *error = fileError(target, syncError);
        discard(target);
        return false;
    }
    target.close();
    // Never over a backup made meanwhile: whether to replace one was asked before.
    if (QFileInfo::exists(to)) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(to), tr("File exists"));
        QFile::remove(target.fileName());
        return false;
    }
    if (!Platform::replaceFile(target.fileName(), to, &syncError)) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(to), syncError);
        QFile::remove(target.fileName());
        return false;
    }
    if (!Platform::syncDirectory(QFileInfo(to).absolutePath(), &syncError)) {
        // The backup is whole under its name; only its name surviving a power cut is in doubt.
        qCWarning(lcPersistence, "Could not flush the folder of %s: %s", qUtf8Printable(to),
            qUtf8Printable(syncError));
    }
    return true;
}

SaveFileWriter *SaveFileLoader::makeWriter(QFile *file, LoadJob *job, int urgency)
{
    return new SaveFileWriter(this, file, job, m_embedLocalFiles,
        PngEncoder::deflateLevel(m_saveCompression), m_pictureStorage == OriginalFiles,
        SaveFileWriter::Urgency(urgency));
}

void SaveFileLoader::saveTo(const QString &path, const QString &oldChecksum,
    const SaveFileLoader::SceneState &sceneState, LoadJob *loadJob, int options)
{
    LoadJob *job = ensureJob(loadJob);
    reportStarted(job, tr("Saving Scene"));
    auto paused = std::make_shared<PausedSave>();
    paused->file = std::make_unique<QFile>(path);
    QFile *file = paused->file.get();
    if (!file->open(QIODevice::ReadWrite)) {
        reportFinished(job, tr("Failed to open save file for writing."), fileError(*file));
        return;
    }
    SaveInspection found;
    if (options & MakeBackup) {
        found.backupWanted = true;
        // Copied here, a mebibyte at a time, so that the window never waits for a large board.
        reportProgressMessage(job, tr("Making a backup..."));
        found.backupMade
            = copyWithProgress(path, path + QLatin1String(".old"), job, &found.backupError);
        reportProgressMessage(job, QString());
    }
    const int urgency
        = options & InBackground ? SaveFileWriter::InBackground : SaveFileWriter::UserWaits;
    paused->writer.reset(makeWriter(file, job, urgency));
    if (!paused->writer->begin(oldChecksum, sceneState, &found))
        return;
    if (!(options & Inspect)) {
        paused->writer->finish();
        return;
    }
    m_paused.insert(job, paused);
    emit saveInspected(found, job);
}

void SaveFileLoader::continueSave(LoadJob *loadJob, bool proceed)
{
    const std::shared_ptr<PausedSave> paused = m_paused.take(loadJob);
    if (!paused)
        return;
    if (!proceed)
        loadJob->cancel();
    paused->writer->finish();
}

void SaveFileLoader::reportChecksum(const SaveFileHeader &header, LoadJob *loadJob)
{
    emit checksumLoaded(header.storedChecksum, header.actualChecksum, loadJob);
    if (isAtLeast(header.formatVersion, QStringLiteral("1.10"))
        && header.storedChecksum != header.actualChecksum) {
        emit checksumMissmatchDetected(loadJob);
        // The pictures decoded while the checksum was computed are on the board already.
        if (m_stopWhenDamaged.contains(loadJob))
            loadJob->discard();
    }
}

SaveFileReader *SaveFileLoader::makeReader(QFile *file, LoadJob *job, const SaveFileHeader &header)
{
    // Direct connections: the reader runs on this thread, and a question must be answered before
    // it goes on.
    auto *reader = new SaveFileReader(this, file, job, header);
    if (file == m_handedOver)
        file->setParent(reader);
    reader->setKeepOriginals(m_pictureStorage == OriginalFiles);
    if (file == m_handedOver && m_keepBlocksOnDisk)
        reader->setBlocksOnDisk(true);
    connect(reader, &SaveFileReader::checksumComputed, this,
        [this, job](const SaveFileHeader &computed) { reportChecksum(computed, job); });
    connect(reader, &SaveFileReader::brokenItemMetadataDetected, this, [this, job] {
        emit brokenItemMetadataDetected(job);
        if (m_stopWhenDamaged.contains(job))
            job->discard();
    });
    connect(reader, &SaveFileReader::sceneStateRead, this,
        [this, job](const SceneState &state) { emit loadedSceneState(state, job); });
    connect(reader, &SaveFileReader::missingImage, this,
        [this, job](const ItemRecord &record, const PictureFile::LoadResult &reason) {
            emit foundItemWithMissingImage(record, reason, job);
        });
    connect(reader, &SaveFileReader::itemsNotRead, this,
        [this, job](const LoadLosses &losses) { emit itemsNotRead(losses, job); });
    return reader;
}

void SaveFileLoader::save(QFile *saveFile, const QString &oldChecksum,
    const SaveFileLoader::SceneState &sceneState, LoadJob *loadJob)
{
    write(saveFile, oldChecksum, sceneState, loadJob, SaveFileWriter::UserWaits);
}

void SaveFileLoader::write(QFile *saveFile, const QString &oldChecksum,
    const SaveFileLoader::SceneState &sceneState, LoadJob *loadJob, int urgency)
{
    LoadJob *job = ensureJob(loadJob);
    reportStarted(job, tr("Saving Scene"));
    if (!saveFile || !saveFile->isOpen() || !saveFile->isWritable() || !saveFile->isReadable()) {
        reportFinished(
            job, tr("Failed to write save file."), saveFile ? saveFile->errorString() : QString());
        return;
    }
    SaveFileWriter(this, saveFile, job, m_embedLocalFiles,
        PngEncoder::deflateLevel(m_saveCompression), m_pictureStorage == OriginalFiles,
        SaveFileWriter::Urgency(urgency))
        .run(oldChecksum, sceneState);
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
        return isGreater(version, QStringLiteral("1.5")) && !isGreater(version, OriginalsVersion);
    };
    if (force) {
        // Recovery is for files whose metadata is broken: a readable format version and the
        // counts are all it reads, and it has no use for a checksum over the whole file.
        SaveFileHeader brief;
        QDataStream in(loadFile);
        if (readString(in, &brief.formatVersion) && isCurrent(brief.formatVersion)) {
            in >> brief.itemCount >> brief.imageCount >> brief.indexOffset;
            if (isAtLeast(brief.formatVersion, QStringLiteral("1.9")))
                readString(in, &brief.applicationVersion);
            if (isAtLeast(brief.formatVersion, QStringLiteral("1.10")))
                readString(in, &brief.storedChecksum);
            SaveFileReader *reader = makeReader(loadFile, job, brief);
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
        makeReader(loadFile, job, header)->readCurrent();
        return;
    }
    if (header.checksumStart >= 0) {
        const qint64 position = loadFile->pos();
        header.actualChecksum = checksumOf(loadFile, header.checksumStart);
        loadFile->seek(position);
        if (!force)
            reportChecksum(header, job);
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
        makeReader(loadFile, job, header)->readOld();
    } else if (isGreater(version, OriginalsVersion)) {
        if (isAtLeast(version, QStringLiteral("1.9")))
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

void SaveFileLoader::loadFrom(const QString &path, LoadJob *loadJob, int options)
{
    LoadJob *job = ensureJob(loadJob);
    if (BeeBoardReader::isBeeBoard(path)) {
        loadBeeBoard(path, job);
        return;
    }
    if (options & StopWhenDamaged)
        m_stopWhenDamaged.insert(job);
    // The reader keeps reading the file after this returns, while its blocks decode: the file
    // goes with the reader, or with this load when no reader took it.
    auto *file = new QFile(path, this);
    if (!file->open(QIODevice::ReadOnly)) {
        reportStarted(job, tr("Loading Scene"));
        reportFinished(job, tr("Could not open save file."), file->errorString());
        delete file;
        return;
    }
    const QPointer<QFile> opened = file;
    m_handedOver = file;
    m_keepBlocksOnDisk = options & KeepBlocksOnDisk;
    load(file, job, options & Force);
    m_keepBlocksOnDisk = false;
    m_handedOver = nullptr;
    if (opened && opened->parent() == this)
        delete opened;
}

void SaveFileLoader::loadBeeBoard(const QString &path, LoadJob *job)
{
    reportStarted(job, tr("Loading Scene"));
    const BeeBoardReader::Outcome outcome = BeeBoardReader(this, job).read(path);
    if (job->isCanceled()) {
        reportFinished(job);
        return;
    }
    if (!outcome.error.isEmpty()) {
        qCWarning(lcPersistence, "%s", qUtf8Printable(outcome.error));
        reportFinished(job, outcome.error, QDir::toNativeSeparators(path));
        return;
    }
    if (!outcome.losses.isEmpty())
        emit itemsNotRead(outcome.losses, job);
    reportFinished(job);
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

void SaveFileLoader::setPictureStorage(int pictureStorage)
{
    m_pictureStorage = pictureStorage;
}

void SaveFileLoader::setSaveCompression(int saveCompression)
{
    m_saveCompression = saveCompression;
}
