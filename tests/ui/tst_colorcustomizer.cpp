#include "ui/colorcustomizer.h"

#include "settings/settings.h"
#include "settings/settingshandler.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class tst_ColorCustomizer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void masterOpacityIsClamped_data();
    void masterOpacityIsClamped();
    void choosingPresetAppliesIt_data();
    void choosingPresetAppliesIt();
    void storedColorWinsOverBuiltIn_data();
    void storedColorWinsOverBuiltIn();
    void savedColorSurvivesRestart();

private:
    void startHandler() { m_handler = std::make_unique<SettingsHandler>(baseName()); }
    // A new base name for every test: the toolkit caches parsed INI files by name.
    QString baseName() const { return QStringLiteral("Colors%1").arg(m_run); }
    static void store(const QString &key, const QVariant &value)
    {
        SettingsHandler::instance()->store()->setValue(SettingsHandler::storageKey(key), value);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsHandler> m_handler;
    int m_run = 0;
};

void tst_ColorCustomizer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

void tst_ColorCustomizer::init()
{
    ++m_run;
    startHandler();
}

void tst_ColorCustomizer::cleanup()
{
    m_handler.reset();
}

void tst_ColorCustomizer::masterOpacityIsClamped_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("expected");

    QTest::addRow("below the range") << 10 << 30;
    QTest::addRow("inside the range") << 57 << 57;
    QTest::addRow("above the range") << 150 << 100;
}

void tst_ColorCustomizer::masterOpacityIsClamped()
{
    QFETCH(int, percent);
    QFETCH(int, expected);

    ColorCustomizer customizer;
    customizer.registerStandard();
    QSignalSpy updated(&customizer, &ColorCustomizer::masterOpacityUpdated);
    customizer.setMasterOpacity(percent);

    QCOMPARE(customizer.findChild<QSlider *>()->value(), expected);
    // Once: moving the slider must not come back as a second change.
    QCOMPARE(updated.count(), 1);
    QCOMPARE(updated.at(0).at(0).toReal(), expected / 100.0);
    QCOMPARE(m_handler->store()->value("Color_Settings/Active/MasterOpacity").toReal(),
        expected / 100.0);
}

void tst_ColorCustomizer::choosingPresetAppliesIt_data()
{
    QTest::addColumn<QString>("preset");
    QTest::addColumn<QString>("canvas");
    QTest::addColumn<QString>("selection");
    QTest::addColumn<int>("opacity");

    QTest::addRow("light") << "light"
                           << "#eaeaea"
                           << "#ff0000" << 100;
    QTest::addRow("transparent") << "transparent"
                                 << "rgba(0,0,0,2)"
                                 << "#168e99" << 100;
    // 0.57 * 100 is just below 57 in binary.
    QTest::addRow("custom with stored opacity") << "custom1"
                                                << "#2a2a2a"
                                                << "#168e99" << 57;
}

void tst_ColorCustomizer::choosingPresetAppliesIt()
{
    QFETCH(QString, preset);
    QFETCH(QString, canvas);
    QFETCH(QString, selection);
    QFETCH(int, opacity);

    store("Color_Settings/custom1/MasterOpacity", 0.57);
    ColorCustomizer customizer;
    customizer.registerStandard();
    customizer.addStyleTemplate("QLabel { color: %1; background: %8; }");
    QSignalSpy styles(&customizer, &ColorCustomizer::styleUpdated);
    QSignalSpy fonts(&customizer, &ColorCustomizer::fontUpdated);

    customizer.updatePreset(preset);
    const QString sheet = "QLabel { color: " + canvas + "; background: " + selection + "; }";
    QCOMPARE(styles.count(), 1);
    QCOMPARE(styles.at(0).at(0).toString(), sheet);
    QCOMPARE(customizer.currentStyleSheet(), sheet);
    QCOMPARE(fonts.count(), 1);
    QCOMPARE(customizer.findChild<QSlider *>()->value(), opacity);
    const QPushButton *swatch = customizer.findChildren<QPushButton *>("colorSwatch").at(1);
    QCOMPARE(swatch->styleSheet(), "background-color: " + canvas + "; border-color: black;");
}

void tst_ColorCustomizer::storedColorWinsOverBuiltIn_data()
{
    QTest::addColumn<QString>("role");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QColor>("expected");

    QTest::addRow("colour") << "Selection Color" << QVariant(QColor(1, 2, 3)) << QColor(1, 2, 3);
    QTest::addRow("colour as text") << "Text Color" << QVariant("#102030") << QColor(16, 32, 48);
    QTest::addRow("text that is no colour") << "Text Color" << QVariant("none of it") << QColor();
}

void tst_ColorCustomizer::storedColorWinsOverBuiltIn()
{
    QFETCH(QString, role);
    QFETCH(QVariant, stored);
    QFETCH(QColor, expected);

    store("Color_Settings/light/" + role, stored);
    ColorCustomizer customizer;
    customizer.registerStandard();

    const ColorScheme &scheme = customizer.scheme();
    const ColorScheme::ColorSet *light = scheme.preset("light");
    const ColorScheme::ColorRole &read = light->roles.at(scheme.roleIndex(role));
    QCOMPARE(read.color, expected);
    QVERIFY(read.loadedFromStorage);
    // The other colours are the preset's own, not the role defaults.
    QCOMPARE(light->roles.at(0).color, QColor(224, 224, 224));
    QVERIFY(!light->roles.at(0).loadedFromStorage);
}

void tst_ColorCustomizer::savedColorSurvivesRestart()
{
    const QColor saved(200, 10, 10);
    {
        ColorCustomizer customizer;
        customizer.registerStandard();
        customizer.updatePreset("custom2");
        QCOMPARE(customizer.saveTarget(), QStringLiteral("custom2"));
        customizer.setEditedRole(8);
        customizer.updateColor(saved);
        customizer.saveColorSelection();
        customizer.updateColor(Qt::blue);
        customizer.revertColorSelection();
        QCOMPARE(customizer.scheme().workingSet().roles.at(8).color, saved);
    }
    m_handler.reset();
    startHandler();
    ColorCustomizer customizer;
    customizer.registerStandard();
    QCOMPARE(customizer.scheme().preset("custom2")->roles.at(8).color, saved);
    QCOMPARE(customizer.scheme().workingSet().roles.at(8).color, saved);
    QCOMPARE(customizer.scheme().preset("custom1")->roles.at(8).color, QColor(22, 142, 153));
}

QTEST_MAIN(tst_ColorCustomizer)
#include "tst_colorcustomizer.moc"
