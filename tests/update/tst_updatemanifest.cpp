#include "update/updatemanifest.h"
#include "update/updatesignature.h"
#include "update/updateversion.h"

#include <QtTest>

#include <sodium.h>

// What the updater believes of a version record before it touches anything: whether it is newer,
// what it lists, whether its paths stay in the installation and whether it is signed.
class TestUpdateManifest : public QObject {
    Q_OBJECT

private slots:
    void versionComparison_data();
    void versionComparison();
    void updateFileKinds();
    void pathChecks_data();
    void pathChecks();
    void signature_data();
    void signature();
};

void TestUpdateManifest::versionComparison_data()
{
    QTest::addColumn<QString>("latest");
    QTest::addColumn<QString>("current");
    QTest::addColumn<bool>("newer");
    QTest::addRow("next minor") << "1.12.0"
                                << "1.11.1" << true;
    QTest::addRow("same") << "1.11.1"
                          << "1.11.1" << false;
    QTest::addRow("older") << "1.10.9"
                           << "1.11.1" << false;
    QTest::addRow("numeric, not textual") << "1.11.10"
                                          << "1.11.9" << true;
    QTest::addRow("two parts never") << "1.12"
                                     << "1.11.1" << false;
    QTest::addRow("beta decided before the beta part") << "1.12.0beta"
                                                       << "1.11.1" << true;
    QTest::addRow("beta against beta") << "1.11.2beta"
                                       << "1.11.1beta" << true;
    QTest::addRow("beta against a number") << "1.11.beta2"
                                           << "1.11.1" << false;
    QTest::addRow("garbage part") << "1.x.5"
                                  << "1.11.1" << false;
    QTest::addRow("four parts equal in three") << "1.11.1.5"
                                               << "1.11.1" << false;
    QTest::addRow("current with more parts") << "1.11.1"
                                             << "1.11.1.0" << true;
    QTest::addRow("empty") << ""
                           << "1.11.1" << false;
}

void TestUpdateManifest::versionComparison()
{
    QFETCH(QString, latest);
    QFETCH(QString, current);
    QFETCH(bool, newer);
    QCOMPARE(UpdateVersion::isNewer(latest, current), newer);
}

void TestUpdateManifest::updateFileKinds()
{
    const UpdateManifest manifest = UpdateManifest::parse(R"({
        "version": "1.11.2", "needstempcopy": true, "copyfiles": ["velkora", "lib/a.so"],
        "installerfiles": [["setup.run", "abc", "-q", 0], ["short", "abc"]],
        "updatefiles": [
            ["velkora", "m1", "main"], ["lib/a.so", "m2"], ["lib/link.so", "lib/a.so", "link"],
            ["old.txt", "m3", "delete"], ["alone"], ["four", "m4", "link", "x"]
        ]})");
    QCOMPARE(manifest.version, QStringLiteral("1.11.2"));
    QCOMPARE(manifest.copyFiles, QStringList({ "velkora", "lib/a.so" }));
    QCOMPARE(manifest.installers.size(), 1);
    QCOMPARE(manifest.files.size(), 3);
    QVERIFY(manifest.files[0].isMain);
    QVERIFY(!manifest.files[1].isMain);
    // Four elements: an update file whatever the third says.
    QCOMPARE(manifest.files[2].path, QStringLiteral("four"));
    QCOMPARE(manifest.links.size(), 1);
    QCOMPARE(manifest.links[0].second, QStringLiteral("lib/a.so"));
    QCOMPARE(manifest.deletions.size(), 1);
    QCOMPARE(manifest.deletions[0].first, QStringLiteral("old.txt"));

    QVERIFY(UpdateManifest::parse("[1, 2]").version.isEmpty());
    QVERIFY(UpdateManifest::parse("{\"version\": ").version.isEmpty());
}

void TestUpdateManifest::pathChecks_data()
{
    QTest::addColumn<QByteArray>("updateFiles");
    QTest::addColumn<bool>("accepted");
    QTest::addRow("plain") << QByteArray(R"([["lib/a.so", "x"], ["velkora", "y", "main"]])")
                           << true;
    QTest::addRow("link inside") << QByteArray(R"([["lib/b.so", "a.so", "link"]])") << true;
    QTest::addRow("climbing") << QByteArray(R"([["lib/../../x", "x"]])") << false;
    QTest::addRow("climbing with backslashes")
        << QByteArray(R"([["lib\\..\\..\\x", "x"]])") << false;
    QTest::addRow("absolute") << QByteArray(R"([["/etc/passwd", "x"]])") << false;
    QTest::addRow("drive letter") << QByteArray(R"([["C:\\x", "x"]])") << false;
    QTest::addRow("backslash absolute") << QByteArray(R"([["\\etc\\passwd", "x"]])") << false;
    QTest::addRow("link target outside")
        << QByteArray(R"([["lib/b.so", "../../x", "link"]])") << false;
    QTest::addRow("link target absolute")
        << QByteArray(R"([["b", "/etc/passwd", "link"]])") << false;
    QTest::addRow("link name outside") << QByteArray(R"([["../b", "a", "link"]])") << false;
    QTest::addRow("deletion outside") << QByteArray(R"([["../x", "m", "delete"]])") << false;
    QTest::addRow("into the updater's backups")
        << QByteArray(R"([[".velkora-update-backup/journal", "x"]])") << false;
    QTest::addRow("empty") << QByteArray(R"([["", "x"]])") << false;
}

void TestUpdateManifest::pathChecks()
{
    QFETCH(QByteArray, updateFiles);
    QFETCH(bool, accepted);
    UpdateManifest manifest
        = UpdateManifest::parse("{\"version\": \"1.11.2\", \"updatefiles\": " + updateFiles + "}");
    QCOMPARE(manifest.checkPaths().isEmpty(), accepted);

    UpdateManifest copies = UpdateManifest::parse("{\"needstempcopy\": true, \"copyfiles\": [\""
        + QByteArray(accepted ? "a" : "../a") + "\"]}");
    QCOMPARE(copies.checkPaths().isEmpty(), accepted);
}

void TestUpdateManifest::signature_data()
{
    QTest::addColumn<int>("tamper");
    QTest::addColumn<int>("expected");
    QTest::addRow("signed") << 0 << int(UpdateSignature::Result::Valid);
    QTest::addRow("body changed") << 1 << int(UpdateSignature::Result::Wrong);
    QTest::addRow("other key") << 2 << int(UpdateSignature::Result::Wrong);
    QTest::addRow("no signature") << 3 << int(UpdateSignature::Result::Missing);
    QTest::addRow("not base64") << 4 << int(UpdateSignature::Result::Malformed);
    QTest::addRow("no key built in") << 5 << int(UpdateSignature::Result::NoKey);
}

void TestUpdateManifest::signature()
{
    QFETCH(int, tamper);
    QFETCH(int, expected);
    QVERIFY(sodium_init() >= 0);
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    unsigned char otherPublic[crypto_sign_PUBLICKEYBYTES];
    unsigned char otherSecret[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(publicKey, secretKey);
    crypto_sign_keypair(otherPublic, otherSecret);

    QByteArray body = R"({"version": "1.11.2"})";
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char *>(body.data()),
        static_cast<unsigned long long>(body.size()), tamper == 2 ? otherSecret : secretKey);
    QByteArray header
        = QByteArray(reinterpret_cast<const char *>(signature), crypto_sign_BYTES).toBase64();
    QByteArray key(reinterpret_cast<const char *>(publicKey), crypto_sign_PUBLICKEYBYTES);
    if (tamper == 1)
        body.replace("1.11.2", "1.11.3");
    if (tamper == 3)
        header.clear();
    if (tamper == 4)
        header = "!!" + header.mid(2);
    if (tamper == 5)
        key.clear();
    QCOMPARE(int(UpdateSignature::verify(body, header, key)), expected);
}

QTEST_GUILESS_MAIN(TestUpdateManifest)
#include "tst_updatemanifest.moc"
