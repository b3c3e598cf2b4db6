#include "platform/filefaults.h"
#include "update/updateinstaller.h"
#include "updatefixture.h"

#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>

Q_DECLARE_METATYPE(FileFaults::Operation)

// Installing downloaded files: what a finished installation looks like, and that every way of
// failing, a killed process included, leaves the installation as it was.
class TestUpdateInstaller : public QObject {
    Q_OBJECT

private slots:
    void init();
    void installs();
    void failureRollsBack_data();
    void failureRollsBack();
    void fileFaultsRollBack_data();
    void fileFaultsRollBack();
    void unrestorableBackupIsReported();
    void killedInstallationRollsBackAtNextStart_data();
    void killedInstallationRollsBackAtNextStart();

private:
    // An installation of 1.11.1 and the downloads of 1.11.2: the program, a changed library, a
    // new file in a new folder.
    UpdateInstaller::Plan makePlan();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;
    QString m_downloads;
};

void TestUpdateInstaller::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_root = m_dir->path() + "/app";
    m_downloads = m_root + "/.velkora-update-download-test";
}

UpdateInstaller::Plan TestUpdateInstaller::makePlan()
{
    UpdateFixture::writeFile(m_root + "/velkora", "#!/bin/sh\necho 1.11.1\n");
    QFile(m_root + "/velkora")
        .setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    UpdateFixture::writeFile(m_root + "/lib/core.so", "core 1.11.1");
    UpdateFixture::writeFile(m_root + "/old.txt", "obsolete");
    UpdateFixture::writeFile(m_root + "/mine.txt", "changed by the user");

    UpdateFixture::writeFile(m_downloads + "/velkora", "#!/bin/sh\necho 1.11.2\n");
    UpdateFixture::writeFile(m_downloads + "/lib/core.so", "core 1.11.2");
    UpdateFixture::writeFile(m_downloads + "/plugins/new.so", "new plugin");

    UpdateInstaller::Plan plan;
    plan.installDir = m_root;
    plan.targetPath = m_root + "/velkora";
    plan.files = { { "velkora", m_downloads + "/velkora", true, 20 },
        { "lib/core.so", m_downloads + "/lib/core.so", false, 11 },
        { "plugins/new.so", m_downloads + "/plugins/new.so", false, 10 } };
    plan.links = { { "lib/core.so.1", "core.so" } };
    plan.deletions = { { "old.txt", UpdateDownloader::md5Of("obsolete") },
        { "mine.txt", UpdateDownloader::md5Of("as shipped") } };
    return plan;
}

// The tree without the downloads folder, which the updater, not the installer, discards.
static QMap<QString, QByteArray> installed(QMap<QString, QByteArray> tree)
{
    for (auto it = tree.begin(); it != tree.end();)
        it = it.key().startsWith(".velkora-update-download") ? tree.erase(it) : std::next(it);
    return tree;
}

static QByteArray run(const QString &program)
{
    QProcess process;
    process.start(program, {});
    process.waitForFinished(10000);
    return process.readAllStandardOutput().trimmed();
}

void TestUpdateInstaller::installs()
{
    const UpdateInstaller::Plan plan = makePlan();
    UpdateInstaller installer;
    QString heading;
    QString details;
    QVERIFY2(installer.install(plan, &heading, &details), qPrintable(heading + details));

    QCOMPARE(run(m_root + "/velkora"), QByteArray("1.11.2"));
    QMap<QString, QByteArray> tree = UpdateFixture::tree(m_root);
    QCOMPARE(tree.take("lib/core.so"), QByteArray("core 1.11.2"));
    QCOMPARE(tree.take("plugins/new.so"), QByteArray("new plugin"));
    QCOMPARE(tree.take("lib/core.so.1"),
        "-> " + QFileInfo(m_root + "/lib/core.so").absoluteFilePath().toUtf8());
    // Only the obsolete file as shipped is deleted; the one the user changed stays.
    QVERIFY(!tree.contains("old.txt"));
    QCOMPARE(tree.take("mine.txt"), QByteArray("changed by the user"));
    tree.remove("velkora");
    QVERIFY2(installed(tree).isEmpty(), qPrintable(tree.keys().join(' '))); // no backups left
}

void TestUpdateInstaller::failureRollsBack_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addRow("the third download is missing") << "missing download";
    QTest::addRow("a link cannot be made after another was") << "link";
    QTest::addRow("a folder on the way leads outside") << "escaping folder";
}

void TestUpdateInstaller::failureRollsBack()
{
    QFETCH(QString, fault);
    UpdateInstaller::Plan plan = makePlan();
    QTemporaryDir outside;
    if (fault == "missing download")
        QFile::remove(m_downloads + "/plugins/new.so");
    if (fault == "link")
        plan.links.append(
            UpdateManifest::Pair { "mine.txt/x", "velkora" }); // a file is no folder for a link
    if (fault == "escaping folder") {
        QVERIFY(QFile::link(outside.path(), m_root + "/plugins"));
    }
    const QMap<QString, QByteArray> before = UpdateFixture::tree(m_root);
    const QMap<QString, QByteArray> outsideBefore = UpdateFixture::tree(outside.path());

    UpdateInstaller installer;
    installer.setRetryDelay(0);
    QString heading;
    QString details;
    QVERIFY(!installer.install(plan, &heading, &details));
    QCOMPARE(heading, QStringLiteral("Failed to copy update files."));
    QVERIFY(installer.unrestoredFiles().isEmpty());

    QCOMPARE(installed(UpdateFixture::tree(m_root)), installed(before));
    QCOMPARE(UpdateFixture::tree(outside.path()), outsideBefore);
    QCOMPARE(run(m_root + "/velkora"), QByteArray("1.11.1"));
}

void TestUpdateInstaller::fileFaultsRollBack_data()
{
    QTest::addColumn<FileFaults::Operation>("operation");
    QTest::addColumn<bool>("diskFull");
    QTest::addRow("every write") << FileFaults::Operation::Write << false;
    QTest::addRow("every rename") << FileFaults::Operation::Rename << false;
    QTest::addRow("every sync") << FileFaults::Operation::Sync << false;
    QTest::addRow("disk full") << FileFaults::Operation::Write << true;
}

void TestUpdateInstaller::fileFaultsRollBack()
{
    QFETCH(FileFaults::Operation, operation);
    QFETCH(bool, diskFull);

    QString heading;
    QString details;
    UpdateInstaller::Plan plan = makePlan();
    const auto install = [&] {
        UpdateInstaller installer;
        installer.setRetryDelay(0);
        const bool installed = installer.install(plan, &heading, &details);
        return installed && installer.unrestoredFiles().isEmpty();
    };
    FileFaults::countOnly(m_root);
    QVERIFY2(install(), qPrintable(heading + details));
    FileFaults::disarm();
    const int operations = FileFaults::count(operation);
    const int writes = FileFaults::count(FileFaults::Operation::Write);
    QVERIFY(operations > 0);

    // The journal takes a write a line: a disk full after so many lines.
    const int tries = diskFull ? writes + 1 : operations;
    for (int n = 1; n <= tries; ++n) {
        QDir(m_root).removeRecursively();
        plan = makePlan();
        const QMap<QString, QByteArray> before = installed(UpdateFixture::tree(m_root));
        if (diskFull)
            FileFaults::fillDiskAfter(m_root, n - 1);
        else
            FileFaults::failNth(m_root, operation, n, EIO);
        const bool done = install();
        FileFaults::disarm();
        // The lock only has to exist while the run holds it: its data need not be on the disk.
        if (FileFaults::failedPath() == UpdateInstaller::lockPath(m_root)
            && operation == FileFaults::Operation::Sync)
            continue;
        QVERIFY2(!done,
            qPrintable(
                QStringLiteral("failing number %1: %2").arg(n).arg(FileFaults::failedPath())));
        const QString cause = QString::fromLocal8Bit(std::strerror(diskFull ? ENOSPC : EIO));
        const QString failed = QFileInfo(FileFaults::failedPath()).fileName();
        QVERIFY2(details.contains(failed) && details.contains(cause),
            qPrintable(QStringLiteral("failing number %1: %2 %3").arg(n).arg(heading, details)));
        QCOMPARE(installed(UpdateFixture::tree(m_root)), before);
        QCOMPARE(run(m_root + "/velkora"), QByteArray("1.11.1"));
    }
}

void TestUpdateInstaller::unrestorableBackupIsReported()
{
    UpdateInstaller::Plan plan = makePlan();
    QFile::remove(m_downloads + "/plugins/new.so");
    // Something takes the place of the new library, where its backup cannot go back.
    UpdateInstaller installer;
    installer.setRetryDelay(0);
    installer.afterFileMoved = [this](int moved) {
        if (moved == 2) {
            QFile::remove(m_root + "/lib/core.so");
            UpdateFixture::writeFile(m_root + "/lib/core.so/busy", "in the way");
        }
        return true;
    };
    QString heading;
    QString details;
    QVERIFY(!installer.install(plan, &heading, &details));
    QCOMPARE(installer.unrestoredFiles().size(), 1);
    QVERIFY(installer.unrestoredFiles().first().contains(m_root + "/lib/core.so"));
    // The rest was restored all the same; the backup that could not go back is kept, and no
    // other update starts over it.
    QCOMPARE(run(m_root + "/velkora"), QByteArray("1.11.1"));
    QFile backup(UpdateInstaller::backupFolder(m_root) + "/lib/core.so");
    QVERIFY(backup.open(QIODevice::ReadOnly));
    QCOMPARE(backup.readAll(), QByteArray("core 1.11.1"));
    UpdateInstaller next;
    next.setRetryDelay(0);
    QVERIFY(!next.install(plan, &heading, &details));
    QVERIFY2(details.contains("could not be rolled back"), qPrintable(details));
}

void TestUpdateInstaller::killedInstallationRollsBackAtNextStart_data()
{
    QTest::addColumn<int>("killedAfter");
    QTest::addRow("after the program was replaced") << 1;
    QTest::addRow("after half the files") << 2;
}

void TestUpdateInstaller::killedInstallationRollsBackAtNextStart()
{
    QFETCH(int, killedAfter);
    const UpdateInstaller::Plan plan = makePlan();
    const QMap<QString, QByteArray> before = UpdateFixture::tree(m_root);

    // The journal and the backups are on the disk before each step, so stopping on the spot
    // leaves exactly what a kill there would.
    UpdateInstaller installer;
    installer.afterFileMoved = [killedAfter](int moved) { return moved < killedAfter; };
    QString heading;
    QString details;
    QVERIFY(!installer.install(plan, &heading, &details));
    QCOMPARE(run(m_root + "/velkora"), QByteArray("1.11.2"));

    // Not while another process installs.
    QLockFile running(UpdateInstaller::lockPath(m_root));
    QVERIFY(running.tryLock(0));
    QVERIFY(!UpdateInstaller::recoverInterrupted(m_root));
    QCOMPARE(run(m_root + "/velkora"), QByteArray("1.11.2"));
    running.unlock();

    // The next start.
    QVERIFY(UpdateInstaller::recoverInterrupted(m_root));
    QCOMPARE(installed(UpdateFixture::tree(m_root)), installed(before));
    QCOMPARE(run(m_root + "/velkora"), QByteArray("1.11.1"));
    // Nothing is left to roll back a second time.
    QVERIFY(!UpdateInstaller::recoverInterrupted(m_root));
}

QTEST_GUILESS_MAIN(TestUpdateInstaller)
#include "tst_updateinstaller.moc"
