#include "update/autoupdater.h"
#include "update/updatedialog.h"
#include "update/updatedownloader.h"
#include "updatefixture.h"

#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

// The updater against a local update service: what each answer of the service leads to, and what
// is left of the installation afterwards.
class TestAutoUpdater : public QObject {
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void packageInstallationIsOnlyTold();
    void unconfiguredBuildChecksNothing();
    void userAgentNamesLinux();

private:
    static const QStringList names;
    static QByteArray newContent(int i) { return "new content of file " + QByteArray::number(i); }
    // Five changed files in lib/ plus the given entries.
    static QByteArray record(const QByteArray &extraEntries = QByteArray(),
        const QByteArray &version = "1.11.2", const QByteArray &extraFields = QByteArray());
    static void makeInstallation(const QString &root);
};

const QStringList TestAutoUpdater::names { "lib/a.txt", "lib/b.txt", "lib/c.txt", "d.txt",
    "share/e.txt" };

QByteArray TestAutoUpdater::record(
    const QByteArray &extraEntries, const QByteArray &version, const QByteArray &extraFields)
{
    QByteArray files;
    for (int i = 0; i < names.size(); ++i) {
        files += "[\"" + names[i].toUtf8() + "\", \""
            + UpdateDownloader::md5Of(newContent(i)).toUtf8() + "\"],";
    }
    files += extraEntries;
    if (files.endsWith(','))
        files.chop(1);
    return "{\"version\": \"" + version + "\", \"message\": \"Better.\", " + extraFields
        + "\"updatefiles\": [" + files + "]}";
}

void TestAutoUpdater::makeInstallation(const QString &root)
{
    UpdateFixture::writeFile(root + "/velkora", "#!/bin/sh\necho 1.11.1\n");
    QFile(root + "/velkora").setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const QString &name : names)
        UpdateFixture::writeFile(root + '/' + name, "old " + name.toUtf8());
}

void TestAutoUpdater::answers_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("signing"); // 0 signed, 1 unsigned, 2 another key, 3 no server
    QTest::addColumn<bool>("forced");
    QTest::addColumn<int>("corrupt"); // the file served wrong, -1 none
    QTest::addColumn<int>("stall"); // 0 none, 1 the record, 2 a file
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text"); // in the outcome's status, details or message
    QTest::addColumn<bool>("installed");

    QTest::addRow("up to date") << record({}, "1.11.1") << 0 << true << -1 << 0 << 1 << "up to date"
                                << false;
    QTest::addRow("newer, offered") << record() << 0 << false << -1 << 0 << 2 << "Better." << false;
    QTest::addRow("newer, forced, installed")
        << record() << 0 << true << -1 << 0 << 2 << "Finished updating" << true;
    QTest::addRow("message only") << QByteArray(
        R"({"version": "1.11.2", "message": "Read this.", "messageonly": true})")
                                  << 0 << true << -1 << 0 << 2 << "Read this." << false;
    QTest::addRow("malformed JSON") << QByteArray("{\"version\": \"1.11.2\"") << 0 << true << -1
                                    << 0 << 1 << "up to date" << false;
    QTest::addRow("network error")
        << record() << 3 << true << -1 << 0 << 0 << "Failed to fetch version data." << false;
    QTest::addRow("path with ..") << record(R"(["lib/../../evil", "x"])") << 0 << true << -1 << 0
                                  << 0 << "invalid file paths" << false;
    QTest::addRow("absolute path") << record(R"(["/tmp/evil", "x"])") << 0 << true << -1 << 0 << 0
                                   << "invalid file paths" << false;
    QTest::addRow("link outside") << record(R"(["lib/l", "../../../etc/passwd", "link"])") << 0
                                  << true << -1 << 0 << 0 << "points outside" << false;
    QTest::addRow("checksum mismatch on the third of five")
        << record() << 0 << true << 2 << 0 << 2 << "Verification of downloaded files failed."
        << false;
    QTest::addRow("installer needed")
        << record({}, "1.11.2", R"("installerfiles": [["s.run", "x", "", 0]], )") << 0 << true << -1
        << 0 << 2 << "installed by hand" << false;
    QTest::addRow("missing signature")
        << record() << 1 << true << -1 << 0 << 0 << "not signed" << false;
    QTest::addRow("wrong signature")
        << record() << 2 << true << -1 << 0 << 0 << "does not match" << false;
    QTest::addRow("record stalls")
        << record() << 0 << true << -1 << 1 << 0 << "Failed to fetch version data." << false;
    QTest::addRow("file stalls") << record() << 0 << true << -1 << 2 << 2
                                 << "Failed to download files." << false;
}

void TestAutoUpdater::answers()
{
    QFETCH(QByteArray, body);
    QFETCH(int, signing);
    QFETCH(bool, forced);
    QFETCH(int, corrupt);
    QFETCH(int, stall);
    QFETCH(int, result);
    QFETCH(QString, text);
    QFETCH(bool, installed);

    QTemporaryDir dir;
    const QString root = dir.path() + "/app";
    makeInstallation(root);
    const QMap<QString, QByteArray> before = UpdateFixture::tree(root);

    UpdateFixture fixture;
    UpdateService service = fixture.service();
    service.transferTimeoutMs = 500;
    if (signing == 3)
        fixture.server.close(); // nothing answers at the address any more
    unsigned char otherPublic[crypto_sign_PUBLICKEYBYTES];
    unsigned char otherSecret[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(otherPublic, otherSecret);
    const QByteArray signature = signing == 0 ? fixture.sign(body)
        : signing == 2                        ? fixture.sign(body, otherSecret)
                                              : QByteArray();
    fixture.serveRecord(body, signature,
        stall == 1 ? HttpTestServer::Behaviour::Stall : HttpTestServer::Behaviour::Whole);
    for (int i = 0; i < names.size(); ++i) {
        // The tampered file comes last, slowly: all its bytes arrive when the others are done.
        HttpTestServer::Behaviour behaviour = HttpTestServer::Behaviour::Whole;
        if (stall == 2 && i == 3)
            behaviour = HttpTestServer::Behaviour::Stall;
        if (i == corrupt)
            behaviour = HttpTestServer::Behaviour::Slow;
        fixture.serveFile(
            names[i], "1.11.2", i == corrupt ? QByteArray(3000, 't') : newContent(i), behaviour);
    }

    AutoUpdater updater(nullptr, service);
    QString shownMessage;
    updater.showMessage = [&](const QString &, const QString &message) { shownMessage = message; };
    QSignalSpy checked(&updater, &AutoUpdater::versionCheckFinished);
    QSignalSpy offered(&updater, &AutoUpdater::updateAvailable);
    QSignalSpy ended(&updater, &AutoUpdater::stageEnded);
    updater.checkForUpdates(forced, root + "/velkora");
    // The bar is full only once every file has been verified.
    int full = 0;
    if (UpdateDialog *dialog = updater.dialog()) {
        QProgressBar *bar = dialog->progressBar();
        connect(bar, &QProgressBar::valueChanged, this, [&full, bar](int value) {
            full += value == bar->maximum() && bar->maximum() > 1 ? 1 : 0;
        });
    }
    QVERIFY(checked.wait(5000));
    QCOMPARE(checked.first().at(0).toInt(), result);
    if (forced && ended.isEmpty())
        QVERIFY(ended.wait(5000));

    QString outcome = checked.first().at(1).toString() + '\n' + shownMessage + '\n';
    if (!offered.isEmpty())
        outcome += offered.first().at(0).toString();
    if (UpdateDialog *dialog = updater.dialog())
        outcome += dialog->status() + '\n' + dialog->details() + '\n' + dialog->message();
    QVERIFY2(outcome.contains(text), qPrintable(outcome));
    QCOMPARE(updater.isFinished(), installed);
    QCOMPARE(full > 0, installed);

    QMap<QString, QByteArray> expected = before;
    if (installed) {
        for (int i = 0; i < names.size(); ++i)
            expected[names[i]] = newContent(i);
    }
    // No downloads, backups or journals are left behind either.
    QCOMPARE(UpdateFixture::tree(root), expected);
    if (forced && result == 2 && !installed && updater.dialog()) {
        QVERIFY(updater.dialog()->actionButton()->isEnabled());
        QCOMPARE(updater.dialog()->actionButton()->text(), QStringLiteral("Close"));
    }
    if (result != 2 || text == "Better.")
        QCOMPARE(fixture.fileRequests(), 0);
    dir.setAutoRemove(!QTest::currentTestFailed());
}

void TestAutoUpdater::packageInstallationIsOnlyTold()
{
    QTemporaryDir dir;
    const QString root = dir.path() + "/usr/bin";
    makeInstallation(root);
    const QMap<QString, QByteArray> before = UpdateFixture::tree(root);
    // dpkg's record of the package that installed the program.
    UpdateFixture::writeFile(
        dir.path() + "/dpkg/velkora.list", "/.\n/usr\n/usr/bin\n" + root.toUtf8() + "/velkora\n");

    UpdateFixture fixture;
    UpdateService service = fixture.service();
    service.packageDatabase = dir.path() + "/dpkg";
    fixture.serveSigned(record());
    for (int i = 0; i < names.size(); ++i)
        fixture.serveFile(names[i], "1.11.2", newContent(i));

    QCOMPARE(AutoUpdater::installKind(root + "/velkora", service.packageDatabase),
        AutoUpdater::InstallKind::PackageManaged);
    for (const bool forced : { false, true }) {
        AutoUpdater updater(nullptr, service);
        QSignalSpy checked(&updater, &AutoUpdater::versionCheckFinished);
        QSignalSpy offered(&updater, &AutoUpdater::updateAvailable);
        updater.checkForUpdates(forced, root + "/velkora");
        QVERIFY(checked.wait(5000));
        QCOMPARE(checked.first().at(0).toInt(), int(AutoUpdater::NewerVersion));
        QVERIFY(!updater.canInstall());
        const QString told
            = forced ? updater.dialog()->details() : offered.value(0).value(0).toString();
        QVERIFY2(told.contains("package manager"), qPrintable(told));
        updater.startUpdate();
    }
    QCOMPARE(fixture.fileRequests(), 0);
    QCOMPARE(UpdateFixture::tree(root), before);
}

void TestAutoUpdater::unconfiguredBuildChecksNothing()
{
    UpdateFixture fixture;
    for (const QString &address : { QString(), QStringLiteral("http://example.org/") }) {
        UpdateService service = fixture.service();
        service.address = QUrl(address);
        AutoUpdater updater(nullptr, service);
        QSignalSpy checked(&updater, &AutoUpdater::versionCheckFinished);
        updater.checkForUpdates(false, QCoreApplication::applicationFilePath());
        QCOMPARE(checked.size(), 1);
        QCOMPARE(checked.first().at(0).toInt(), int(AutoUpdater::CheckFailed));
        if (address.isEmpty())
            QCOMPARE(checked.first().at(1).toString(),
                QStringLiteral("No update service is configured for this build."));
    }
    QCOMPARE(fixture.server.requestedPaths.size(), 0);
}

void TestAutoUpdater::userAgentNamesLinux()
{
    UpdateFixture fixture;
    fixture.serveSigned(record({}, "1.11.1"));
    AutoUpdater updater(nullptr, fixture.service());
    QSignalSpy checked(&updater, &AutoUpdater::versionCheckFinished);
    updater.checkForUpdates(false, QCoreApplication::applicationFilePath());
    QVERIFY(checked.wait(5000));
    QCOMPARE(fixture.server.userAgents.value(0),
        QByteArray("Velkora/1.11.1 (Linux " + QSysInfo::productVersion().toUtf8() + "; "
            + QSysInfo::productType().toUtf8() + "; " + QSysInfo::currentCpuArchitecture().toUtf8()
            + ")"));
}

QTEST_MAIN(TestAutoUpdater)
#include "tst_autoupdater.moc"
