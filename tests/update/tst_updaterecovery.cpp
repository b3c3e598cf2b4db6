#include "updatefixture.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The program itself, copied into a folder of its own, finds there an installation that an update
// left half done and rolls it back before anything else.
class TestUpdateRecovery : public QObject {
    Q_OBJECT

private slots:
    void startRollsBackInterruptedUpdate_data();
    void startRollsBackInterruptedUpdate();
};

void TestUpdateRecovery::startRollsBackInterruptedUpdate_data()
{
    QTest::addColumn<bool>("committed");
    QTest::addRow("killed while replacing files") << false;
    QTest::addRow("killed while deleting obsolete files") << true;
}

void TestUpdateRecovery::startRollsBackInterruptedUpdate()
{
    QFETCH(bool, committed);
    QTemporaryDir dir;
    const QString root = dir.path() + "/app";
    QVERIFY(QDir().mkpath(root));
    QVERIFY(QFile::copy(QStringLiteral(VELKORA_BINARY), root + "/velkora"));

    // What a kill after the second of three files leaves: the journal, the backups of the two
    // files replaced, the new files in their place.
    const QString backups = root + "/.velkora-update-backup";
    UpdateFixture::writeFile(root + "/share/a.txt", "a 1.11.2");
    UpdateFixture::writeFile(backups + "/share/a.txt", "a 1.11.1");
    UpdateFixture::writeFile(root + "/share/new.txt", "new in 1.11.2");
    UpdateFixture::writeFile(root + "/share/c.txt", "c 1.11.1");
    QVERIFY(QFile::link("a.txt", root + "/share/link.txt"));
    const auto record = [&](bool existed, const QString &name) -> QByteArray {
        return "file\t" + QByteArray(existed ? "1" : "0") + '\t'
            + QUrl::toPercentEncoding(root + "/share/" + name) + '\t'
            + QUrl::toPercentEncoding(backups + "/share/" + name) + '\n';
    };
    UpdateFixture::writeFile(backups + "/journal",
        "begin\n" + record(true, "a.txt") + record(false, "new.txt") + record(true, "c.txt")
            + "link\t" + QUrl::toPercentEncoding(root + "/share/link.txt") + '\n'
            + (committed ? "commit\n" : ""));

    QProcess program;
    program.start(
        root + "/velkora", { "--settings", dir.path() + "/settings.ini", "--command-help" });
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), 0);

    const QMap<QString, QByteArray> tree = UpdateFixture::tree(root + "/share");
    if (committed) {
        QCOMPARE(tree.value("a.txt"), QByteArray("a 1.11.2"));
        QCOMPARE(tree.value("new.txt"), QByteArray("new in 1.11.2"));
        QVERIFY(tree.contains("link.txt"));
    } else {
        QCOMPARE(
            tree, (QMap<QString, QByteArray> { { "a.txt", "a 1.11.1" }, { "c.txt", "c 1.11.1" } }));
    }
    QVERIFY(!QFileInfo::exists(backups));
    dir.setAutoRemove(!QTest::currentTestFailed());
}

QTEST_GUILESS_MAIN(TestUpdateRecovery)
#include "tst_updaterecovery.moc"
