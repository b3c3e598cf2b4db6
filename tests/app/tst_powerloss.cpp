#include "app/abstractdocumentprompter.h"
#include "app/scenedocument.h"
#include "commands/commandhandler.h"
#include "jobs/loadjob.h"
#include "persistence/autosavefile.h"
#include "persistence/savefileloader.h"
#include "platform/filefaults.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>

#include <sys/stat.h>

// Saves that lose power: every save kind is run once while the file layer records what it does,
// and the folder is then rebuilt as a disk could have kept it at each moment of that save. Each
// of those folders is opened as the user would open it, and must give the board as it was
// before the save or as the save left it.
//
// The disk model, kept simple on purpose. Calls reach the disk in order, except that anything
// not yet synced may be missing or half written when the power goes:
// - a write or a size change of a file is durable once that file is synced (fsync, fdatasync);
// - a change to the folder's entries (a file created, renamed or removed) is durable once the
//   folder itself is synced. Some file systems also commit a new name with the file's own sync;
//   POSIX does not promise it, so it is not counted on here.
// A crash state is the folder after the first calls of the save, with at most one of the calls
// still pending at that point lost, or one pending write kept only up to a 512-byte boundary
// (a sector the disk finished). Two losses at once, and lost syncs, are not tried.

namespace {

using Call = FileFaults::Recorded;

// Answers like a user who trusts the backup: "Load Backup" wherever it is offered, nothing else.
class BackupChoosingPrompter : public AbstractDocumentPrompter {
public:
    bool isInteractive() const override { return interactive; }

    int ask(const QString &title, const QString &, const QList<ConfirmDialog::Button> &buttons,
        Setting *, int) override
    {
        questions << title;
        for (int i = 0; interactive && i < buttons.size(); ++i) {
            if (buttons.at(i).text == QLatin1String("Load Backup"))
                return i;
        }
        return -1;
    }

    void showError(const QString &heading, const QString &details) override
    {
        errors << heading + QLatin1Char(' ') + details;
    }

    QString askSavePath(
        const QString &, const QString &, const QStringList &, int *chosenType) override
    {
        *chosenType = 0;
        return savePath;
    }

    bool interactive = false;
    QString savePath;
    QStringList questions;
    QStringList errors;
};

QImage noise(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            image.setPixel(x, y, seed >> 8);
        }
    }
    return image;
}

ItemRecord picture(int id, quint32 seed)
{
    ItemRecord record;
    record.id = id;
    // Noise does not compress: each picture takes several writes of the file's buffer.
    record.image = noise(128, 96, seed);
    return record;
}

ItemRecord note(int id)
{
    ItemRecord record;
    record.type = ItemRecord::Type::Note;
    record.id = id;
    record.text = QStringLiteral("note %1").arg(id);
    return record;
}

// What opening a board gave: its items by id and its scene rectangle; or nothing.
struct Board {
    bool opened = false;
    QList<int> ids;
    QRectF rect;

    bool operator==(const Board &other) const
    {
        return opened == other.opened && ids == other.ids && rect == other.rect;
    }
    QString toString() const
    {
        if (!opened)
            return QStringLiteral("nothing");
        QStringList names;
        for (int id : ids)
            names << QString::number(id);
        return QStringLiteral("items %1, %2x%3")
            .arg(names.join(QLatin1Char(',')))
            .arg(rect.width())
            .arg(rect.height());
    }
};

// A folder as the disk holds it: names to inodes to bytes.
struct Folder {
    QHash<QString, quint64> names;
    QHash<quint64, QByteArray> files;
};

// One save as the file layer saw it.
struct Recording {
    QString board;
    bool autoSave = false;
    Folder before;
    QList<Call> calls;
    Board boardBefore;
    Board boardAfter;
    // The crash points tried: after the first `from` to `to` calls.
    int from = 0;
    int to = 0;
};

// Where a crash state differs from the first `prefix` calls having reached the disk whole.
struct CrashPoint {
    int prefix = 0;
    int changed = -1;
    // -1: the changed call is lost; else the bytes of the changed write that were kept.
    qint64 kept = -1;
};

void resize(QByteArray &bytes, qint64 size)
{
    // Grown files read zeros where nothing was written.
    if (size > bytes.size())
        bytes.append(QByteArray(int(size - bytes.size()), '\0'));
    else
        bytes.truncate(int(size));
}

Folder replay(const Recording &recording, const CrashPoint &point)
{
    Folder folder = recording.before;
    for (int i = 0; i < point.prefix; ++i) {
        const Call &call = recording.calls.at(i);
        if (i == point.changed && point.kept < 0)
            continue;
        switch (call.kind) {
        case Call::Kind::Write: {
            const QByteArray data
                = i == point.changed ? call.data.left(int(point.kept)) : call.data;
            QByteArray &file = folder.files[call.inode];
            if (file.size() < call.offset + data.size())
                resize(file, call.offset + data.size());
            file.replace(int(call.offset), data.size(), data);
            break;
        }
        case Call::Kind::Truncate:
            resize(folder.files[call.inode], call.offset);
            break;
        case Call::Kind::Create:
            folder.names.insert(call.name, call.inode);
            folder.files.insert(call.inode, QByteArray());
            break;
        case Call::Kind::Rename:
            if (folder.names.contains(call.name))
                folder.names.insert(call.target, folder.names.take(call.name));
            break;
        case Call::Kind::Remove:
            folder.names.remove(call.name);
            break;
        case Call::Kind::Sync:
        case Call::Kind::SyncFolder:
            break;
        }
    }
    return folder;
}

// Whether call i may still be lost after the first prefix calls: nothing synced it since.
bool isPending(const QList<Call> &calls, int i, int prefix)
{
    const Call &call = calls.at(i);
    const bool ofFile = call.kind == Call::Kind::Write || call.kind == Call::Kind::Truncate;
    if (!ofFile && call.kind != Call::Kind::Create && call.kind != Call::Kind::Rename
        && call.kind != Call::Kind::Remove)
        return false;
    for (int j = i + 1; j < prefix; ++j) {
        const Call &later = calls.at(j);
        if (ofFile ? later.kind == Call::Kind::Sync && later.inode == call.inode
                   : later.kind == Call::Kind::SyncFolder)
            return false;
    }
    return true;
}

QByteArray fingerprint(const Folder &folder)
{
    QStringList names = folder.names.keys();
    names.sort();
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (const QString &name : qAsConst(names)) {
        hash.addData(name.toUtf8());
        hash.addData(QCryptographicHash::hash(
            folder.files.value(folder.names.value(name)), QCryptographicHash::Md5));
    }
    return hash.result();
}

// How many crash states of one save kind are opened, at most: an opening takes some thirty
// milliseconds, so the whole table stays well within a minute on two busy cores.
constexpr int StatesPerKind = 250;
// Sector boundaries tried in one write.
constexpr qint64 TearsPerWrite = 8;

// The crash states of a recording, each distinct folder once: every prefix first, then the
// lost and torn calls. When those are too many, every nth of them in the order of the save is
// taken, so that the sample spreads evenly over its calls.
QList<CrashPoint> crashPoints(const Recording &recording)
{
    QList<CrashPoint> prefixes;
    QList<CrashPoint> variants;
    for (int prefix = recording.from; prefix <= recording.to; ++prefix) {
        prefixes.append({ prefix, -1, -1 });
        for (int i = 0; i < prefix; ++i) {
            if (!isPending(recording.calls, i, prefix))
                continue;
            variants.append({ prefix, i, -1 });
            const Call &call = recording.calls.at(i);
            if (call.kind != Call::Kind::Write)
                continue;
            // Sectors end at multiples of 512 in the file. A long write has many: the first, the
            // last and some evenly between them are tried.
            const qint64 end = call.offset + call.data.size();
            const qint64 first = call.offset / 512 + 1;
            const qint64 last = (end - 1) / 512;
            const qint64 step = std::max<qint64>(1, (last - first) / (TearsPerWrite - 1));
            for (qint64 sector = first; sector <= last; sector += step)
                variants.append({ prefix, i, sector * 512 - call.offset });
            if (last > first && (last - first) % step != 0)
                variants.append({ prefix, i, last * 512 - call.offset });
        }
    }
    QSet<QByteArray> seen;
    QList<CrashPoint> distinct;
    for (const QList<CrashPoint> *list : { &prefixes, &variants }) {
        QList<CrashPoint> fresh;
        for (const CrashPoint &point : *list) {
            const QByteArray key = fingerprint(replay(recording, point));
            if (!seen.contains(key)) {
                seen.insert(key);
                fresh.append(point);
            }
        }
        const int room = std::max(0, StatesPerKind - int(distinct.size()));
        const double step = fresh.size() > room ? double(fresh.size()) / room : 1.0;
        for (double at = 0; int(at) < fresh.size() && room > 0; at += step)
            distinct.append(fresh.at(int(at)));
    }
    return distinct;
}

QString describe(const Recording &recording, int i)
{
    const Call &call = recording.calls.at(i);
    QString file;
    for (auto it = recording.before.names.cbegin(); it != recording.before.names.cend(); ++it) {
        if (it.value() == call.inode)
            file = it.key();
    }
    for (int j = 0; j < i && file.isEmpty(); ++j) {
        if (recording.calls.at(j).kind == Call::Kind::Create
            && recording.calls.at(j).inode == call.inode)
            file = recording.calls.at(j).name;
    }
    // Names of files written beside the board end in random letters: tell them apart by role.
    const auto role = [&](QString name) {
        const QString board = recording.board;
        if (name == board || name == board + QLatin1String(".old"))
            return name.replace(board, QStringLiteral("board"));
        if (name.startsWith(board + QLatin1String(".old.")))
            return QStringLiteral("new backup");
        return name.startsWith(board + QLatin1Char('.')) ? QStringLiteral("new board")
                                                         : QStringLiteral("other file");
    };
    switch (call.kind) {
    case Call::Kind::Write:
        return QStringLiteral("write %1 at %2").arg(role(file)).arg(call.offset);
    case Call::Kind::Truncate:
        return QStringLiteral("size %1 %2").arg(role(file)).arg(call.offset);
    case Call::Kind::Create:
        return QStringLiteral("create %1").arg(role(call.name));
    case Call::Kind::Rename:
        return QStringLiteral("rename %1 to %2").arg(role(call.name), role(call.target));
    case Call::Kind::Remove:
        return QStringLiteral("remove %1").arg(role(call.name));
    case Call::Kind::Sync:
        return QStringLiteral("sync %1").arg(role(file));
    case Call::Kind::SyncFolder:
        return QStringLiteral("sync folder");
    }
    return QString();
}

} // namespace

Q_DECLARE_METATYPE(CrashPoint)

class tst_PowerLoss : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void crashedSaveOpensWhole_data();
    void crashedSaveOpensWhole();

private:
    bool waitUntilIdle();
    // Saves the board in records, rect to a new file at path, and waits.
    bool saveNew(const QString &path, const QList<ItemRecord> &records, const QRectF &rect);
    // Runs one save kind while the file layer records it.
    bool record(const QString &kind, Recording *recording);
    Board open(const QString &path, bool restoreAutoSave);

    QTemporaryDir m_dir;
    QThread m_thread;
    SaveFileLoader *m_loader = nullptr;
    CommandHandler m_commands;
    BackupChoosingPrompter m_prompter;
    SceneDocument *m_document = nullptr;
    int m_running = 0;
    int m_folders = 0;
    QRectF m_rect;
    QList<ItemRecord> m_records;
    // What the loads gave, by job; the last load that ended decides.
    QHash<LoadJob *, Board> m_loading;
    Board m_lastLoad;
    QHash<QString, Recording> m_recordings;
};

void tst_PowerLoss::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_loader = new SaveFileLoader;
    m_loader->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_loader, &QObject::deleteLater);
    m_thread.start();
    connect(m_loader, &SaveFileLoader::loadedSceneState, this,
        [this](const SaveFileLoader::SceneState &state, LoadJob *job) {
            m_loading[job].rect = state.sceneRect;
        });
    connect(m_loader, &BaseLoader::itemGenerated, this,
        [this](const ItemRecord &record, LoadJob *job) { m_loading[job].ids << record.id; });
    connect(m_loader, &BaseLoader::finished, this,
        [this](const QString &message, const QString &details, LoadJob *job) {
            --m_running;
            Board board = m_loading.take(job);
            const bool isLoad = m_document->ownsJob(job) && !m_document->isSaveJob(job);
            if (m_document->ownsJob(job)) {
                m_document->jobFinished(job, message, details);
                m_document->runFollowUp(job);
            }
            if (isLoad) {
                board.opened = message.isEmpty() && !job->isCanceled();
                std::sort(board.ids.begin(), board.ids.end());
                m_lastLoad = board;
            }
            job->deleteLater();
        });

    SceneDocument::Host host;
    host.sceneState = [this] {
        SaveFileLoader::SceneState state;
        state.sceneRect = m_rect;
        state.items = m_records;
        state.nextItemId = 10;
        return state;
    };
    host.createJob = [this](bool) {
        ++m_running;
        return new LoadJob(m_loader);
    };
    host.isLoading = [this] { return m_running > 0; };
    host.refuseWhileBusy = [this] { return m_running > 0; };
    host.clearBoard = [this] {
        m_commands.clear();
        m_document->clear();
    };
    m_document = new SceneDocument(m_loader, &m_commands, host, this);
    m_document->setPrompter(&m_prompter);
    AutoSaveFile::setFolderForTesting(m_dir.filePath(QStringLiteral("autosave")));
}

void tst_PowerLoss::cleanupTestCase()
{
    delete m_document;
    AutoSaveFile::setFolderForTesting(QString());
    m_thread.quit();
    m_thread.wait();
    m_dir.setAutoRemove(!QTest::currentTestFailed());
}

bool tst_PowerLoss::waitUntilIdle()
{
    return QTest::qWaitFor([this] { return m_running == 0; }, 30000);
}

bool tst_PowerLoss::saveNew(
    const QString &path, const QList<ItemRecord> &records, const QRectF &rect)
{
    m_document->clear();
    m_records = records;
    m_rect = rect;
    return m_document->save(path, SceneDocument::NoBackup) && waitUntilIdle()
        && m_prompter.errors.isEmpty();
}

bool tst_PowerLoss::record(const QString &kind, Recording *recording)
{
    const QString folderPath = m_dir.filePath(kind).replace(QLatin1Char(' '), QLatin1Char('-'));
    QDir().mkpath(folderPath);
    QString board = QDir(folderPath).filePath(QStringLiteral("board.vlk"));
    const QList<ItemRecord> before { picture(0, 7), note(1) };
    const QList<ItemRecord> after { picture(0, 7), note(1), picture(2, 9) };
    const QRectF beforeRect(0, 0, 100, 100);
    const QRectF afterRect(0, 0, 300, 200);
    recording->boardBefore = { true, { 0, 1 }, beforeRect };
    recording->boardAfter = { true, { 0, 1, 2 }, afterRect };
    m_prompter = BackupChoosingPrompter();

    std::function<void()> save;
    if (kind == QLatin1String("autosave")) {
        recording->autoSave = true;
        m_document->clear();
        m_records = before;
        m_rect = beforeRect;
        m_document->autoSave();
        if (!waitUntilIdle() || !m_document->autoSaveFile())
            return false;
        board = m_document->autoSaveFile()->path();
        save = [this] { m_document->autoSave(); };
    } else if (kind == QLatin1String("save as, new file")) {
        recording->boardBefore = Board();
        m_document->clear();
        m_prompter.savePath = board;
        save = [this] { m_document->saveAs(); };
    } else {
        if (!saveNew(board, before, beforeRect))
            return false;
        if (kind == QLatin1String("quiet save")) {
            save = [this, board] { m_document->saveQuiet(board); };
        } else if (kind == QLatin1String("save as, over a board")) {
            // Another board of the same name is replaced: the one in the file is not this one.
            m_document->clear();
            m_prompter.savePath = board;
            save = [this] { m_document->saveAs(); };
        } else {
            if (kind == QLatin1String("full save")) {
                // A board stored with original files, saved with PNG blocks only: it is
                // converted, written from the start. The version is outside the checksum.
                QFile file(board);
                if (!file.open(QIODevice::ReadWrite) || !file.seek(11) || !file.putChar('1'))
                    return false;
                QMetaObject::invokeMethod(m_loader, "setPictureStorage",
                    Qt::BlockingQueuedConnection, Q_ARG(int, SaveFileLoader::PngOnly));
            }
            save = [this] { m_document->save(); };
        }
    }
    m_records = after;
    m_rect = afterRect;
    recording->board = QFileInfo(board).fileName();

    const QString folder = QFileInfo(board).absolutePath();
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString &name : names) {
        struct stat status { };
        const QString file = QDir(folder).filePath(name);
        if (::stat(QFile::encodeName(file).constData(), &status) != 0)
            return false;
        QFile read(file);
        if (!read.open(QIODevice::ReadOnly))
            return false;
        recording->before.names.insert(name, quint64(status.st_ino));
        recording->before.files.insert(quint64(status.st_ino), read.readAll());
    }
    FileFaults::record(folder);
    save();
    const bool saved = waitUntilIdle();
    FileFaults::disarm();
    QMetaObject::invokeMethod(m_loader, "setPictureStorage", Qt::BlockingQueuedConnection,
        Q_ARG(int, SaveFileLoader::OriginalFiles));
    recording->calls = FileFaults::recorded();
    if (!saved || !m_prompter.errors.isEmpty()) {
        qWarning() << kind << "did not save:" << m_prompter.errors;
        return false;
    }

    // The backup is made before anything of the board is written: its crash points are a kind
    // of their own, and the save's are those after it.
    const quint64 boardInode = recording->before.names.value(recording->board);
    int firstOnBoard = recording->calls.size();
    for (int i = 0; i < recording->calls.size(); ++i) {
        const Call &call = recording->calls.at(i);
        if ((call.kind == Call::Kind::Write || call.kind == Call::Kind::Truncate)
            && call.inode == boardInode) {
            firstOnBoard = i;
            break;
        }
    }
    // A full save writes the first picture's block anew, an incremental one keeps it in place:
    // else the two kinds would be one.
    bool rewritesFirstBlock = false;
    for (const Call &call : qAsConst(recording->calls)) {
        rewritesFirstBlock = rewritesFirstBlock
            || (call.kind == Call::Kind::Write && call.inode == boardInode && call.offset <= 300
                && call.offset + call.data.size() > 300);
    }
    if ((kind == QLatin1String("full save")) != rewritesFirstBlock
        && (kind == QLatin1String("full save") || kind == QLatin1String("incremental save"))) {
        qWarning() << kind << "did not write the way it is meant to";
        return false;
    }
    recording->from = 0;
    recording->to = recording->calls.size();
    if (kind == QLatin1String(".old backup"))
        recording->to = firstOnBoard;
    else if (kind == QLatin1String("incremental save") || kind == QLatin1String("full save"))
        recording->from = firstOnBoard;
    m_document->clear();
    return true;
}

Board tst_PowerLoss::open(const QString &path, bool restoreAutoSave)
{
    m_prompter = BackupChoosingPrompter();
    m_prompter.interactive = true;
    m_lastLoad = Board();
    m_document->clear();
    if (restoreAutoSave) {
        // As the instance that recovers a left-over autosave opens it.
        if (!m_document->restoreAutoSave(path))
            return Board();
        m_document->load(path, SceneDocument::RestoreAutoSave);
    } else {
        m_document->load(path);
    }
    waitUntilIdle();
    m_document->clear();
    return m_lastLoad;
}

void tst_PowerLoss::crashedSaveOpensWhole_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<CrashPoint>("point");

    const QStringList kinds { "full save", "incremental save", ".old backup", "quiet save",
        "autosave", "save as, new file", "save as, over a board" };
    for (const QString &kind : kinds) {
        Recording recording;
        QVERIFY2(record(kind, &recording), qPrintable(kind));
        QVERIFY2(!recording.calls.isEmpty(), qPrintable(kind));
        const QList<CrashPoint> points = crashPoints(recording);
        for (const CrashPoint &point : points) {
            QString name = QStringLiteral("%1, after call %2 of %3")
                               .arg(kind)
                               .arg(point.prefix)
                               .arg(recording.calls.size());
            if (point.prefix > 0)
                name += QStringLiteral(" (%1)").arg(describe(recording, point.prefix - 1));
            if (point.changed >= 0 && point.kept < 0)
                name += QStringLiteral(", call %1 lost (%2)")
                            .arg(point.changed + 1)
                            .arg(describe(recording, point.changed));
            else if (point.changed >= 0)
                name += QStringLiteral(", call %1 torn after %2 bytes (%3)")
                            .arg(point.changed + 1)
                            .arg(point.kept)
                            .arg(describe(recording, point.changed));
            QTest::newRow(qPrintable(name)) << kind << point;
        }
        m_recordings.insert(kind, recording);
    }
}

void tst_PowerLoss::crashedSaveOpensWhole()
{
    QFETCH(QString, kind);
    QFETCH(CrashPoint, point);
    const Recording &recording = m_recordings[kind];

    // The folder the power cut left, rebuilt under a name of its own: pictures of an open board
    // decode from its file, which must never be another state's.
    const Folder folder = replay(recording, point);
    const QString path = m_dir.filePath(QStringLiteral("state-%1").arg(++m_folders));
    QVERIFY(QDir().mkpath(path));
    for (auto it = folder.names.cbegin(); it != folder.names.cend(); ++it) {
        QFile file(QDir(path).filePath(it.key()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(
            file.write(folder.files.value(it.value())) == folder.files.value(it.value()).size());
    }
    const QString board = QDir(path).filePath(recording.board);
    if (!folder.names.contains(recording.board)
        && !folder.names.contains(recording.board + QLatin1String(".old"))) {
        // A board that never had a file may have none still; any other must be there.
        QVERIFY2(!recording.boardBefore.opened, qPrintable(QStringLiteral("no board in ") + path));
        QDir(path).removeRecursively();
        return;
    }

    const Board opened = open(board, recording.autoSave);
    QVERIFY2(opened.opened && (opened == recording.boardBefore || opened == recording.boardAfter),
        qPrintable(
            QStringLiteral("opened %1 (kept in %2); before %3, after %4; %5")
                .arg(opened.toString(), path, recording.boardBefore.toString(),
                    recording.boardAfter.toString(), m_prompter.errors.join(QLatin1String("; ")))));
    QDir(path).removeRecursively();
}

QTEST_MAIN(tst_PowerLoss)
#include "tst_powerloss.moc"
