#include "persistence/autosavefile.h"
#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class tst_AutoSaveFile : public QObject {
    Q_OBJECT

private slots:
    void folderIsPrivate_data();
    void folderIsPrivate();
    void ownerKeepsItsFile();
};

void tst_AutoSaveFile::folderIsPrivate_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("usable");
    QTest::newRow("missing, parents too") << "missing" << true;
    QTest::newRow("ours, open to others") << "open" << true;
    QTest::newRow("a link to a folder") << "link" << false;
    QTest::newRow("a file") << "file" << false;
    QTest::newRow("another user's") << "foreign" << false;
}

// Autosaves hold whole boards: their folder is made for this user alone, and one that is not
// clearly ours is refused rather than written into.
void tst_AutoSaveFile::folderIsPrivate()
{
    QFETCH(QString, before);
    QFETCH(bool, usable);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("state/velkora/autosave"));
    QDir().mkpath(dir.filePath(QStringLiteral("state/velkora")));
    if (before == QLatin1String("open")) {
        QVERIFY(QDir().mkdir(folder));
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7755));
    } else if (before == QLatin1String("link")) {
        QVERIFY(QDir().mkdir(dir.filePath(QStringLiteral("elsewhere"))));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("elsewhere")), folder));
    } else if (before == QLatin1String("file")) {
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (before == QLatin1String("foreign")) {
        QVERIFY(QDir().mkdir(folder));
        if (::chown(QFile::encodeName(folder).constData(), 65534, 65534) != 0)
            QSKIP("Only the superuser can give a folder away");
    }

    AutoSaveFile::setFolderForTesting(folder);
    AutoSaveFile file;
    QCOMPARE(file.create(), usable);
    AutoSaveFile::setFolderForTesting(QString());
    if (!usable) {
        QCOMPARE(
            file.error(), QStringLiteral("Failed to create temporary directory for autosave."));
        QVERIFY(!file.isValid());
        return;
    }
    struct stat status;
    QCOMPARE(::lstat(QFile::encodeName(folder).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, mode_t(0700));
    QVERIFY(file.path().startsWith(folder + QLatin1Char('/')));
}

// While its owner lives nobody else takes a file; a file without an owner can be taken, and
// only an owner deletes it when it goes.
void tst_AutoSaveFile::ownerKeepsItsFile()
{
    QTemporaryDir dir;
    AutoSaveFile::setFolderForTesting(dir.filePath(QStringLiteral("autosave")));
    QString path;
    {
        AutoSaveFile owner;
        QVERIFY(owner.create());
        path = owner.path();
        QVERIFY(owner.isOwned());
        QVERIFY(owner.ownerAlive());
        AutoSaveFile other;
        QVERIFY(!other.takeOver(path));
        QVERIFY(!other.isValid());
    }
    QVERIFY(!QFile::exists(path));

    QFile leftOver(dir.filePath(QStringLiteral("autosave/Velkora-AutoSave-1-x.vlk")));
    QVERIFY(leftOver.open(QIODevice::WriteOnly));
    leftOver.close();
    {
        AutoSaveFile looking;
        QVERIFY(looking.takeOver(leftOver.fileName()));
        QVERIFY(!looking.ownerAlive());
    }
    QVERIFY(leftOver.exists());
    {
        AutoSaveFile restoring;
        QVERIFY(restoring.takeOver(leftOver.fileName()));
        restoring.startServer();
        QVERIFY(restoring.ownerAlive());
    }
    QVERIFY(!leftOver.exists());
    AutoSaveFile::setFolderForTesting(QString());
}

QTEST_GUILESS_MAIN(tst_AutoSaveFile)
#include "tst_autosavefile.moc"
