#include "update/autoupdater.h"
#include "update/updatedialog.h"
#include "update/updaterestarter.h"
#include "updatefixture.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

// Starting the updating process and the updated program.
class TestUpdateRestarter : public QObject {
    Q_OBJECT

private slots:
    void otherInstances_data();
    void otherInstances();
    void temporaryCopyStaysInside();
    void fullUpdateRestartsIntoNewVersion();
};

void TestUpdateRestarter::otherInstances_data()
{
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<QList<int>>("answers"); // UpdateRestarter::InstancesAnswer
    QTest::addColumn<int>("outcome");
    const int retry = int(UpdateRestarter::InstancesAnswer::Retry);
    const int ignore = int(UpdateRestarter::InstancesAnswer::Ignore);
    const int cancel = int(UpdateRestarter::InstancesAnswer::Cancel);
    QTest::addRow("alone: no question")
        << QList<int> { 1 } << QList<int> {} << int(UpdateRestarter::Outcome::Started);
    QTest::addRow("retry after the other closed")
        << QList<int> { 2, 1 } << QList<int> { retry } << int(UpdateRestarter::Outcome::Started);
    QTest::addRow("ignore") << QList<int> { 3 } << QList<int> { ignore }
                            << int(UpdateRestarter::Outcome::Started);
    QTest::addRow("retry, then cancel") << QList<int> { 2, 2 } << QList<int> { retry, cancel }
                                        << int(UpdateRestarter::Outcome::Cancelled);
}

void TestUpdateRestarter::otherInstances()
{
    QFETCH(QList<int>, counts);
    QFETCH(QList<int>, answers);
    QFETCH(int, outcome);
    QTemporaryDir dir;
    const QString target = dir.path() + "/velkora";
    UpdateFixture::writeFile(target, "#!/bin/sh\n");

    UpdateRestarter restarter;
    int counted = 0;
    int asked = 0;
    QStringList started;
    restarter.countInstances = [&] { return counts.value(counted++, 1); };
    restarter.askAboutInstances
        = [&] { return UpdateRestarter::InstancesAnswer(answers.value(asked++)); };
    restarter.start = [&](const QString &program, const QStringList &arguments) {
        started << program << arguments;
        return true;
    };
    QString error;
    QCOMPARE(
        int(restarter.restartForUpdate(target, {}, { "--settings", "/s.ini" }, &error)), outcome);
    QCOMPARE(asked, answers.size());
    if (outcome == int(UpdateRestarter::Outcome::Started))
        QCOMPARE(started, QStringList({ target, "--update", target, "--settings", "/s.ini" }));
    else
        QVERIFY(started.isEmpty());
}

void TestUpdateRestarter::temporaryCopyStaysInside()
{
    QTemporaryDir dir;
    UpdateFixture::writeFile(dir.path() + "/app/velkora", "program");
    UpdateFixture::writeFile(dir.path() + "/app/lib/core.so", "library");
    QString error;
    const QString copy = UpdateRestarter::makeTemporaryCopy(
        dir.path() + "/app/velkora", { "velkora", "../lib/core.so" }, &error);
    QVERIFY2(!copy.isEmpty(), qPrintable(error));
    const QString copyDir = QFileInfo(copy).absolutePath();
    QVERIFY(UpdateRestarter::isTemporaryCopy(copyDir));
    QVERIFY(!UpdateRestarter::isTemporaryCopy(dir.path() + "/app"));
    const QMap<QString, QByteArray> tree = UpdateFixture::tree(copyDir);
    QDir(copyDir).removeRecursively();
    QCOMPARE(QFileInfo(copy).fileName(), QStringLiteral("velkora"));
    // "../lib/core.so" lost its dots and landed inside the copy, not beside it.
    QCOMPARE(tree,
        (QMap<QString, QByteArray> { { "velkora", "program" }, { "lib/core.so", "library" } }));
    QVERIFY(!QFile::exists(QFileInfo(copyDir).absolutePath() + "/lib/core.so"));
}

void TestUpdateRestarter::fullUpdateRestartsIntoNewVersion()
{
    QTemporaryDir dir;
    const QString root = dir.path() + "/Velkora";
    const QString program = root + "/velkora";
    const QString marker = dir.path() + "/started";
    // The stand-ins of the two versions write who they are, and what they were given, to the
    // file named by their first argument.
    const QByteArray oldProgram = "#!/bin/sh\necho \"1.11.1 $*\" > \"$1\"\n";
    const QByteArray newProgram = "#!/bin/sh\necho \"1.11.2 $*\" > \"$1\"\n";
    UpdateFixture::writeFile(program, oldProgram);
    QFile(program).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    UpdateFixture::writeFile(root + "/share/about.txt", "about 1.11.1");

    UpdateFixture fixture;
    const QByteArray record = "{\"version\": \"1.11.2\", \"updatefiles\": [[\"velkora\", \""
        + UpdateDownloader::md5Of(newProgram).toUtf8() + "\", \"main\"], [\"share/about.txt\", \""
        + UpdateDownloader::md5Of("about 1.11.2").toUtf8() + "\"]]}";
    fixture.serveSigned(record);
    fixture.serveFile("velkora", "1.11.2", newProgram);
    fixture.serveFile("share/about.txt", "1.11.2", "about 1.11.2");

    AutoUpdater updater(nullptr, fixture.service());
    UpdateRestarter restarter;
    connect(&updater, &AutoUpdater::finishedUpdating, this, [&](const QString &path, bool forced) {
        QVERIFY(forced);
        QString error;
        QVERIFY2(restarter.startProgram(path, { marker }, &error), qPrintable(error));
    });
    QSignalSpy ended(&updater, &AutoUpdater::stageEnded);
    // As the updating process does: "--update <program>".
    updater.checkForUpdates(true, program);
    QVERIFY(ended.wait(5000));
    QCOMPARE(updater.dialog()->status(), QStringLiteral("Finished updating"));
    QCOMPARE(updater.dialog()->actionButton()->text(), QStringLiteral("Restart"));
    updater.dialog()->actionButton()->click();

    QFile started(marker);
    QTRY_VERIFY_WITH_TIMEOUT(started.exists() && started.size() > 0, 10000);
    QVERIFY(started.open(QIODevice::ReadOnly));
    QCOMPARE(started.readAll().trimmed(), QByteArray("1.11.2 " + marker.toUtf8()));
    QVERIFY(QFileInfo(program).isExecutable());
    QCOMPARE(UpdateFixture::tree(root).value("share/about.txt"), QByteArray("about 1.11.2"));
}

QTEST_MAIN(TestUpdateRestarter)
#include "tst_updaterestarter.moc"
