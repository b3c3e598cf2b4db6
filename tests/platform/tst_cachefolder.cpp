#include "platform/cachefolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char HoldArgument[] = "--hold-cache-folder";

// What this program does when started with HoldArgument: holds a cache folder in base, prints
// its path and ends normally when its input closes.
int holdFolder(const QString &base)
{
    CacheFolder folder(base);
    std::printf("%s\n", qPrintable(folder.path()));
    std::fflush(stdout);
    while (std::getchar() != EOF) { }
    return 0;
}

// Another process holding a cache folder of its own in base.
class Holder {
public:
    explicit Holder(const QString &base)
    {
        m_process.start(QCoreApplication::applicationFilePath(), { HoldArgument, base });
        if (m_process.waitForReadyRead(60000))
            m_path = QString::fromLocal8Bit(m_process.readLine().trimmed());
    }
    ~Holder()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(60000);
        }
    }
    QString path() const { return m_path; }
    bool kill()
    {
        m_process.kill();
        return m_process.waitForFinished(60000);
    }
    bool end()
    {
        m_process.closeWriteChannel();
        return m_process.waitForFinished(60000) && m_process.exitCode() == 0;
    }

private:
    QProcess m_process;
    QString m_path;
};

mode_t modeOf(const QString &path)
{
    struct stat status { };
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Whether some process could take the folder's lock now, as removeLeftovers() would.
bool isLockFree(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder + "/lock").constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

void touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x");
}

enum class Leftover { Killed, Live, Own, EmptyWithoutLock, LinkToFolderElsewhere };

} // namespace

Q_DECLARE_METATYPE(Leftover)

class tst_CacheFolder : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void folderIsPrivateLockedAndRemoved();
    void foreignBaseIsRefused_data();
    void foreignBaseIsRefused();
    void leftoversOfDeadProcessesOnlyAreRemoved_data();
    void leftoversOfDeadProcessesOnlyAreRemoved();
    void clearKeepsFolderAndLock();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_base;
};

void tst_CacheFolder::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_base = m_dir->filePath("cache/velkora");
}

void tst_CacheFolder::cleanup()
{
    m_dir->setAutoRemove(!QTest::currentTestFailed());
    m_dir.reset();
}

void tst_CacheFolder::folderIsPrivateLockedAndRemoved()
{
    CacheFolder folder(m_base);
    // Made on first use only.
    QVERIFY(!QFileInfo::exists(m_base));
    const QString path = folder.path();
    QVERIFY(!path.isEmpty());
    QCOMPARE(QFileInfo(path).absolutePath(), m_base);
    QCOMPARE(folder.path(), path);
    QCOMPARE(modeOf(m_base), mode_t(0700));
    QCOMPARE(modeOf(path), mode_t(0700));
    QVERIFY(!isLockFree(path));
    // Each process, and each instance, has a folder of its own.
    CacheFolder other(m_base);
    QVERIFY(!other.path().isEmpty());
    QVERIFY(other.path() != path);

    touch(path + "/1.png");
    folder.close();
    QVERIFY(!QFileInfo::exists(path));
    QVERIFY(folder.path().isEmpty());

    // A process ending normally takes its folder with it.
    Holder holder(m_base);
    QVERIFY(QFileInfo(holder.path()).isDir());
    QVERIFY(holder.end());
    QVERIFY(!QFileInfo::exists(holder.path()));
}

void tst_CacheFolder::foreignBaseIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addRow("link to a folder") << "link";
    QTest::addRow("folder of another user") << "foreign";
}

void tst_CacheFolder::foreignBaseIsRefused()
{
    QFETCH(QString, kind);
    if (kind == "foreign" && ::geteuid() != 0)
        QSKIP("Only root can give a folder to another user.");
    // Holds a folder whose lock anyone can take: neither it nor its files may go.
    const QString target = kind == "link" ? m_dir->filePath("elsewhere") : m_base;
    QVERIFY(QDir().mkpath(target + "/1-abcdef"));
    QVERIFY(QDir().mkpath(QFileInfo(m_base).absolutePath()));
    touch(target + "/1-abcdef/lock");
    if (kind == "link")
        QVERIFY(QFile::link(target, m_base));
    else
        QVERIFY(::chown(QFile::encodeName(m_base).constData(), 4242, 4242) == 0);
    CacheFolder folder(m_base);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^No cache folder in "));
    QVERIFY(folder.path().isEmpty());
    CacheFolder::removeLeftovers(m_base);
    QVERIFY(QFileInfo::exists(target + "/1-abcdef/lock"));
    QCOMPARE(QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList { "1-abcdef" });
}

void tst_CacheFolder::leftoversOfDeadProcessesOnlyAreRemoved_data()
{
    QTest::addColumn<Leftover>("leftover");
    QTest::addColumn<bool>("kept");
    QTest::addRow("folder of a killed process") << Leftover::Killed << false;
    QTest::addRow("folder of a live process") << Leftover::Live << true;
    QTest::addRow("folder of this process") << Leftover::Own << true;
    QTest::addRow("empty folder without a lock") << Leftover::EmptyWithoutLock << false;
    QTest::addRow("link to a folder elsewhere") << Leftover::LinkToFolderElsewhere << true;
}

void tst_CacheFolder::leftoversOfDeadProcessesOnlyAreRemoved()
{
    QFETCH(Leftover, leftover);
    QFETCH(bool, kept);
    Holder holder(m_base);
    QVERIFY(!holder.path().isEmpty());
    CacheFolder own(m_base);
    QString folder;
    switch (leftover) {
    case Leftover::Killed:
        folder = holder.path();
        touch(folder + "/1.png");
        touch(folder + "/2.png.part");
        QVERIFY(holder.kill());
        QVERIFY(isLockFree(folder));
        break;
    case Leftover::Live:
        folder = holder.path();
        touch(folder + "/1.png");
        break;
    case Leftover::Own:
        folder = own.path();
        touch(folder + "/1.png");
        break;
    case Leftover::EmptyWithoutLock:
        folder = m_base + "/1-abcdef";
        QVERIFY(QDir().mkdir(folder));
        break;
    case Leftover::LinkToFolderElsewhere:
        folder = m_dir->filePath("elsewhere");
        QVERIFY(QDir().mkdir(folder));
        touch(folder + "/lock");
        touch(folder + "/1.png");
        QVERIFY(QFile::link(folder, m_base + "/1-abcdef"));
        break;
    }
    const QStringList entries = QDir(folder).entryList(QDir::Files);

    CacheFolder::removeLeftovers(m_base);
    QCOMPARE(QFileInfo::exists(folder), kept);
    if (kept)
        QCOMPARE(QDir(folder).entryList(QDir::Files), entries);
    // The other process's folder stays as long as the process lives.
    if (leftover != Leftover::Killed)
        QVERIFY(!isLockFree(holder.path()));
}

void tst_CacheFolder::clearKeepsFolderAndLock()
{
    CacheFolder folder(m_base);
    const QString path = folder.path();
    QVERIFY(!path.isEmpty());
    touch(path + "/1.png");
    touch(path + "/.hidden");
    touch(path + "/2.png.part");
    folder.clear();
    QCOMPARE(QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList { "lock" });
    QVERIFY(!isLockFree(path));
    QCOMPARE(folder.path(), path);
}

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], HoldArgument) == 0)
        return holdFolder(QString::fromLocal8Bit(argv[2]));
    QCoreApplication app(argc, argv);
    tst_CacheFolder test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cachefolder.moc"
