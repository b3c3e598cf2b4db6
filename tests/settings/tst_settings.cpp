#include "picture/picturebudget.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settings.h"
#include "settings/settingsfileguard.h"
#include "settings/settingshandler.h"
#include "settings/settingsupgrade.h"
#include "settings/versionnumber.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <limits>
#include <memory>

class tst_Settings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void settingsOfOneKeyStayEqual();
    void storedValueReachesSetting_data();
    void storedValueReachesSetting();
    void resetRemovesStoredKey();
    void keysAreStoredWithUnderscores();
    void handlerAnnouncesKeys();
    void settingWithoutHandler();
    void integersAreClampedWhenUsed_data();
    void integersAreClampedWhenUsed();
    void pictureMemory_data();
    void pictureMemory();
    void autoSaveIntervalDoesNotOverflow_data();
    void autoSaveIntervalDoesNotOverflow();
    void versionComparison_data();
    void versionComparison();
    void upgrade_data();
    void upgrade();
    void unsafeStoredValuesAreDropped_data();
    void unsafeStoredValuesAreDropped();
    void storeOpensFileWithUnsafeValue();

private:
    // A new base name for every test: the toolkit caches parsed INI files by name and may not
    // notice a rewrite of the same size within the same second.
    QString baseName() const { return QStringLiteral("Velkora%1").arg(m_run); }
    QString iniPath() const { return m_dir.filePath(baseName() + QLatin1String(".ini")); }
    void writeIni(const QByteArray &text);
    QByteArray readIni();
    void startHandler();

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsHandler> m_handler;
    int m_run = 0;
};

void tst_Settings::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

void tst_Settings::init()
{
    ++m_run;
}

void tst_Settings::cleanup()
{
    m_handler.reset();
}

void tst_Settings::writeIni(const QByteArray &text)
{
    QFile file(iniPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

QByteArray tst_Settings::readIni()
{
    m_handler->sync();
    QFile file(iniPath());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void tst_Settings::startHandler()
{
    m_handler = std::make_unique<SettingsHandler>(baseName());
}

void tst_Settings::settingsOfOneKeyStayEqual()
{
    startHandler();
    Setting view(QStringLiteral("InvertWheel"), false, GeneralSettings::group());
    Setting window(QStringLiteral("InvertWheel"), false, GeneralSettings::group());
    QSignalSpy viewSpy(&view, &Setting::changed);
    QSignalSpy windowSpy(&window, &Setting::changed);

    window.setValue(true);
    QCOMPARE(view.value(), QVariant(true));
    QCOMPARE(window.value(), QVariant(true));
    QCOMPARE(viewSpy.count(), 1);
    QCOMPARE(windowSpy.count(), 1);
    QCOMPARE(viewSpy.at(0).at(0), QVariant(false));
    QCOMPARE(viewSpy.at(0).at(1), QVariant(true));

    // Setting the same value again changes nothing and announces nothing.
    view.setValue(true);
    QCOMPARE(viewSpy.count(), 1);
    QCOMPARE(windowSpy.count(), 1);
}

void tst_Settings::storedValueReachesSetting_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("defaultValue");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QVariant>("expected");
    QTest::addColumn<int>("changes");

    QTest::addRow("integer from text")
        << "AutoSaveInterval" << QVariant(10) << QByteArray("25") << QVariant(25) << 1;
    QTest::addRow("integer that is not a number")
        << "AutoSaveInterval" << QVariant(10) << QByteArray("abc") << QVariant(10) << 0;
    QTest::addRow("integer beyond 32 bits")
        << "AutoSaveInterval" << QVariant(10) << QByteArray("99999999999") << QVariant(10) << 0;
    QTest::addRow("integer equal to default")
        << "AutoSaveInterval" << QVariant(10) << QByteArray("10") << QVariant(10) << 0;
    QTest::addRow("boolean true") << "InvertWheel" << QVariant(false) << QByteArray("true")
                                  << QVariant(true) << 1;
    QTest::addRow("boolean that is not a boolean")
        << "InvertWheel" << QVariant(false) << QByteArray("abc") << QVariant(false) << 0;
    QTest::addRow("boolean equal to default")
        << "DropFocus" << QVariant(true) << QByteArray("true") << QVariant(true) << 0;
    QTest::addRow("no fixed type") << "Last Browse Path" << QVariant() << QByteArray("/home/a b")
                                   << QVariant(QStringLiteral("/home/a b")) << 1;
}

void tst_Settings::storedValueReachesSetting()
{
    QFETCH(QString, name);
    QFETCH(QVariant, defaultValue);
    QFETCH(QByteArray, stored);
    QFETCH(QVariant, expected);
    QFETCH(int, changes);

    writeIni(
        "[General_Settings]\n" + SettingsHandler::storageKey(name).toUtf8() + '=' + stored + '\n');
    startHandler();

    // Owners connect before the setting registers, so the stored value reaches them once.
    Setting setting;
    QSignalSpy spy(&setting, &Setting::changed);
    setting.init(name, defaultValue, GeneralSettings::group());

    QCOMPARE(setting.value(), expected);
    QCOMPARE(spy.count(), changes);
    QCOMPARE(setting.isDefault(), changes == 0);
}

void tst_Settings::resetRemovesStoredKey()
{
    startHandler();
    Setting first(QStringLiteral("Alignment Padding"), 10, GeneralSettings::group());
    Setting second(QStringLiteral("Alignment Padding"), 10, GeneralSettings::group());
    first.setValue(42);
    QVERIFY(readIni().contains("Alignment_Padding=42"));

    QSignalSpy spy(&second, &Setting::changed);
    second.reset();
    QCOMPARE(first.value(), QVariant(10));
    QCOMPARE(second.value(), QVariant(10));
    QCOMPARE(spy.count(), 1);
    QVERIFY(!readIni().contains("Alignment_Padding"));
}

void tst_Settings::keysAreStoredWithUnderscores()
{
    startHandler();
    Setting embed(QStringLiteral("Embed Local Files"), true, GeneralSettings::group());
    embed.setValue(false);
    const QByteArray text = readIni();
    QVERIFY2(text.contains("[General_Settings]\nEmbed_Local_Files=false\n"), text.constData());

    // A new handler reads it back through the same mapping.
    m_handler.reset();
    startHandler();
    Setting reread(QStringLiteral("Embed Local Files"), true, GeneralSettings::group());
    QCOMPARE(reread.value(), QVariant(false));
}

void tst_Settings::handlerAnnouncesKeys()
{
    startHandler();
    QSignalSpy added(m_handler.get(), &SettingsHandler::settingAdded);
    QSignalSpy removed(m_handler.get(), &SettingsHandler::settingRemoved);
    {
        Setting first(QStringLiteral("Redos"), 50, GeneralSettings::group());
        {
            Setting second(QStringLiteral("Redos"), 50, GeneralSettings::group());
            QCOMPARE(added.count(), 1);
        }
        QCOMPARE(removed.count(), 0);
        QCOMPARE(m_handler->settingsOf(first.key()).size(), 1);
    }
    QCOMPARE(removed.count(), 1);
    QVERIFY(m_handler->settingsOf(GeneralSettings::key(QStringLiteral("Redos"))).isEmpty());
}

void tst_Settings::settingWithoutHandler()
{
    QTest::ignoreMessage(
        QtCriticalMsg, "SettingsHandler needs to be created before the creation of a Setting");
    Setting orphan(QStringLiteral("Redos"), 50, GeneralSettings::group());
    orphan.setValue(7);
    QCOMPARE(orphan.value(), QVariant(7));
}

void tst_Settings::integersAreClampedWhenUsed_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("expected");

    QTest::addRow("below range") << "AutoSaveInterval" << QByteArray("0") << 1;
    QTest::addRow("above range") << "AutoSaveInterval" << QByteArray("100000") << 99999;
    QTest::addRow("negative") << "NumOfRecentFiles" << QByteArray("-3") << 1;
    QTest::addRow("inside range") << "Redos" << QByteArray("7") << 7;
    // Only two ways of storing pictures exist; a name with a space is stored with "_".
    QTest::addRow("storage above range") << "Picture Storage" << QByteArray("2") << 1;
    QTest::addRow("storage below range") << "Picture Storage" << QByteArray("-1") << 0;
}

void tst_Settings::integersAreClampedWhenUsed()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, stored);
    QFETCH(int, expected);

    const QByteArray line = SettingsHandler::storageKey(name).toUtf8() + '=' + stored + '\n';
    writeIni("[General_Settings]\n" + line);
    startHandler();
    GeneralSettings settings;
    QCOMPARE(settings.intValue(name), expected);
    // The file keeps what the user wrote.
    QVERIFY(readIni().contains(line));
}

void tst_Settings::pictureMemory_data()
{
    QTest::addColumn<QByteArray>("stored"); // empty: nothing stored
    QTest::addColumn<int>("expected");

    const qint64 megabyte = qint64(1024) * 1024;
    const int defaultMegabytes = int(PictureBudget::defaultLimit() / megabyte);
    const qint64 machine = qint64(::sysconf(_SC_PHYS_PAGES)) * ::sysconf(_SC_PAGESIZE);
    const int machineMegabytes = int(machine / megabyte);
    QTest::addRow("nothing stored: the budget's default") << QByteArray() << defaultMegabytes;
    QTest::addRow("inside the range") << QByteArray("300") << 300;
    QTest::addRow("below the least") << QByteArray("100") << 256;
    QTest::addRow("negative") << QByteArray("-1024") << 256;
    QTest::addRow("more than the machine has")
        << QByteArray::number(machineMegabytes + 1) << std::max(machineMegabytes, defaultMegabytes);
    QTest::addRow("not a number") << QByteArray("1 GB") << defaultMegabytes;
}

// The limit of decoded pictures, in MB: a quarter of the machine by default (never below 512),
// at least 256 and at most all of the machine's memory.
void tst_Settings::pictureMemory()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, expected);

    const QByteArray line = "Picture_Memory=" + stored + '\n';
    if (!stored.isEmpty())
        writeIni("[General_Settings]\n" + line);
    startHandler();
    GeneralSettings settings;
    QCOMPARE(settings.intValue(QStringLiteral("Picture Memory")), expected);
    QVERIFY(expected >= 256);
    if (!stored.isEmpty()) {
        QVERIFY(readIni().contains(line));
        return;
    }
    QVERIFY(expected >= 512);
    QVERIFY(!readIni().contains("Picture"));
    settings.setting(QStringLiteral("Picture Memory"))->setValue(2048);
    const QByteArray text = readIni();
    QVERIFY2(text == "[General_Settings]\nPicture_Memory=2048\n", text.constData());
}

void tst_Settings::autoSaveIntervalDoesNotOverflow_data()
{
    QTest::addColumn<qint64>("minutes");
    QTest::addColumn<int>("msecs");

    QTest::addRow("default") << qint64(10) << 600000;
    QTest::addRow("largest that fits") << qint64(35791) << 35791 * 60000;
    QTest::addRow("first that overflows") << qint64(35792) << std::numeric_limits<int>::max();
    QTest::addRow("largest on the page") << qint64(99999) << std::numeric_limits<int>::max();
}

void tst_Settings::autoSaveIntervalDoesNotOverflow()
{
    QFETCH(qint64, minutes);
    QFETCH(int, msecs);
    QCOMPARE(GeneralSettings::autoSaveIntervalMsecs(minutes), msecs);
}

void tst_Settings::versionComparison_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("sign");

    QTest::addRow("numeric, not textual") << "1.10"
                                          << "1.9" << 1;
    QTest::addRow("patch level") << "1.10.5"
                                 << "1.10.0" << 1;
    QTest::addRow("missing version is oldest") << ""
                                               << "1.8.0" << -1;
    QTest::addRow("equal") << "1.11.1"
                           << "1.11.1" << 0;
    QTest::addRow("missing part counts as 0") << "1.2"
                                              << "1.2.0" << 0;
}

void tst_Settings::versionComparison()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, sign);
    const int result = compareVersions(a, b);
    QCOMPARE((result > 0) - (result < 0), sign);
    QCOMPARE((compareVersions(b, a) > 0) - (compareVersions(b, a) < 0), -sign);
}

void tst_Settings::upgrade_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("hideAutoSaveWarning");
    QTest::addColumn<int>("rebindWith"); // -1: not called
    QTest::addColumn<QByteArrayList>("absentKeys");
    QTest::addColumn<QByteArrayList>("keptLines");

    QTest::addRow("1.10.0 moves the autosave warning")
        << QByteArray("[General_Settings]\nVersion=1.10.0\nAutoSaveUnsavedWarning=true\n") << true
        << -1 << QByteArrayList { "AutoSaveUnsavedWarning" } << QByteArrayList {};
    QTest::addRow("1.10.5 is already upgraded")
        << QByteArray("[General_Settings]\nVersion=1.10.5\nAutoSaveUnsavedWarning=true\n") << false
        << -1 << QByteArrayList {} << QByteArrayList { "AutoSaveUnsavedWarning=true" };
    QTest::addRow("old scroll choice zoom")
        << QByteArray("[General_Settings]\nVersion=1.7.2\nScrollFunctionality=2\n") << false << 2
        << QByteArrayList { "ScrollFunctionality" } << QByteArrayList {};
    QTest::addRow("old scroll choice delete")
        << QByteArray("[General_Settings]\nScrollFunctionality=0\n") << false << 0
        << QByteArrayList { "ScrollFunctionality" } << QByteArrayList {};
    QTest::addRow("old scroll choice pan needs no binding")
        << QByteArray("[General_Settings]\nVersion=1.7.2\nScrollFunctionality=1\n") << false << -1
        << QByteArrayList { "ScrollFunctionality" } << QByteArrayList {};
    QTest::addRow("scroll choice after 1.8.0 is left alone")
        << QByteArray("[General_Settings]\nVersion=1.9\nScrollFunctionality=0\n") << false << -1
        << QByteArrayList {} << QByteArrayList { "ScrollFunctionality=0" };
    QTest::addRow("fresh file") << QByteArray() << false << -1
                                << QByteArrayList { "AutoSaveUnsavedWarning", "Scroll" }
                                << QByteArrayList {};
}

void tst_Settings::upgrade()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, hideAutoSaveWarning);
    QFETCH(int, rebindWith);
    QFETCH(QByteArrayList, absentKeys);
    QFETCH(QByteArrayList, keptLines);

    if (!ini.isEmpty())
        writeIni(ini);
    startHandler();
    GeneralSettings settings;
    int rebound = -1;
    int calls = 0;
    SettingsUpgrade::run(settings, [&](int value) {
        rebound = value;
        ++calls;
    });

    QCOMPARE(settings.boolValue(QStringLiteral("Hide Auto Save Warning")), hideAutoSaveWarning);
    QCOMPARE(rebound, rebindWith);
    QCOMPARE(calls, rebindWith < 0 ? 0 : 1);
    QCOMPARE(settings.value(QStringLiteral("Version")), QVariant(QStringLiteral("1.11.1")));
    const QByteArray text = readIni();
    QVERIFY(text.contains("Version=1.11.1\n"));
    for (const QByteArray &key : absentKeys)
        QVERIFY2(!text.contains(key), key.constData());
    for (const QByteArray &line : keptLines)
        QVERIFY2(text.contains(line), line.constData());
}

void tst_Settings::unsafeStoredValuesAreDropped_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("kept");
    QTest::addColumn<QStringList>("dropped");

    // Kinds 11, 9, 8 and 28 are lists and maps, 16 a date with its time, 127 names a registered
    // type; 67 is a colour.
    const QByteArray colour
        = "[Colors]\nText=@Variant(\\0\\0\\0\\x43\\x1\\xff\\xff\\0\\0\\0\\0\\0\\0\\0\\0)\n";
    QTest::newRow("colour") << colour << colour << QStringList();
    QTest::newRow("string list") << QByteArray(
        "[General]\nA=1\nB=@Variant(\\0\\0\\0\\v\\xff\\xff\\xff\\xff)\nC=2\n")
                                 << QByteArray("[General]\nA=1\n\nC=2\n")
                                 << QStringList { QStringLiteral("General/B") };
    QTest::newRow("escaped at sign") << QByteArray("X=\\x40Variant(\\0\\0\\0\\t)\n")
                                     << QByteArray("\n") << QStringList { QStringLiteral("X") };
    QTest::newRow("octal kind") << QByteArray("X=@Variant(\\0\\0\\0\\13)\nY=2")
                                << QByteArray("\nY=2") << QStringList { QStringLiteral("X") };
    QTest::newRow("hex escape cut to one unit")
        << QByteArray("X=@Variant(\\0\\0\\0\\x10043)\n")
        << QByteArray("X=@Variant(\\0\\0\\0\\x10043)\n") << QStringList();
    QTest::newRow("list item") << QByteArray("[S]\nX=a, @Variant(\\0\\0\\0\\b)\n")
                               << QByteArray("[S]\n\n") << QStringList { QStringLiteral("S/X") };
    QTest::newRow("quotes across lines")
        << QByteArray("X=\"a\nY=@Variant(\\0\\0\\0\\v)\"\nZ=1\n")
        << QByteArray("X=\"a\nY=@Variant(\\0\\0\\0\\v)\"\nZ=1\n") << QStringList();
    QTest::newRow("comment") << QByteArray(";X=@Variant(\\0\\0\\0\\v)\n")
                             << QByteArray(";X=@Variant(\\0\\0\\0\\v)\n") << QStringList();
    QTest::newRow("semicolon ends the line")
        << QByteArray("X=1;Y=@Variant(\\0\\0\\0\\v)\n")
        << QByteArray("X=1;Y=@Variant(\\0\\0\\0\\v)\n") << QStringList();
    QTest::newRow("continued line") << QByteArray("X=\\\n@Variant(\\0\\0\\0\\v)\nZ=1\n")
                                    << QByteArray("\nZ=1\n") << QStringList { QStringLiteral("X") };
    QTest::newRow("trailing spaces") << QByteArray("X=@Variant(\\0\\0\\0\\v)  \r\n")
                                     << QByteArray("\r\n") << QStringList { QStringLiteral("X") };
    QTest::newRow("quoted spaces keep the end")
        << QByteArray("X=\"@Variant(\\0\\0\\0\\v) \"\n")
        << QByteArray("X=\"@Variant(\\0\\0\\0\\v) \"\n") << QStringList();
    QTest::newRow("newer stream") << QByteArray(
        "X=@DateTime(\\0\\0\\0\\x10)\nY=@DateTime(\\0\\0\\0\\x43)\n")
                                  << QByteArray("\nY=@DateTime(\\0\\0\\0\\x43)\n")
                                  << QStringList { QStringLiteral("X") };
    QTest::newRow("registered type") << QByteArray("X=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x4name)\n")
                                     << QByteArray("\n") << QStringList { QStringLiteral("X") };
    QTest::newRow("too short for a kind") << QByteArray("X=@Variant(\\0\\v)\n")
                                          << QByteArray("X=@Variant(\\0\\v)\n") << QStringList();
}

void tst_Settings::unsafeStoredValuesAreDropped()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, kept);
    QFETCH(QStringList, dropped);

    QStringList keys;
    QCOMPARE(SettingsFileGuard::withoutUnsafeValues(text, &keys), kept);
    QCOMPARE(keys, dropped);
}

void tst_Settings::storeOpensFileWithUnsafeValue()
{
    // A list that claims two billion strings: the toolkit's reader aborted on it.
    writeIni("[General_Settings]\nRedos=7\n[Color_Settings]\n"
             "Active\\Text_Color=@Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n");
    startHandler();
    Settings *store = m_handler->store();
    for (const QString &key : store->allKeys())
        store->value(key);
    QCOMPARE(store->value(QStringLiteral("General_Settings/Redos")), QVariant(QStringLiteral("7")));
    QVERIFY(!store->contains(QStringLiteral("Color_Settings/Active/Text_Color")));
    store->setValue(QStringLiteral("General_Settings/Redos"), 8);
    const QByteArray text = readIni();
    QVERIFY(text.contains("Redos=8"));
    QVERIFY(!text.contains("Text_Color"));
}

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
