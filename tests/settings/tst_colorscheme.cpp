#include "settings/colorscheme.h"

#include <QRegularExpression>
#include <QTest>

static void initResources()
{
    Q_INIT_RESOURCE(velkora);
}

class tst_ColorScheme : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void placeholders_data();
    void placeholders();
    void removedSlotIsReused();
    void templateFiles_data();
    void templateFiles();

private:
    // The standard roles with the colours of the transparent preset, which has every kind of
    // colour: opaque dark and light, fully transparent, half transparent.
    static void addTransparentRoles(ColorScheme *scheme);
};

void tst_ColorScheme::initTestCase()
{
    initResources();
}

void tst_ColorScheme::addTransparentRoles(ColorScheme *scheme)
{
    const QVector<ColorScheme::ColorRole> roles = ColorScheme::standardRoles();
    const QVector<QColor> colors = ColorScheme::standardPresets().at(2).colors;
    for (int i = 0; i < roles.size(); ++i)
        scheme->addColorRole(roles.at(i).key, roles.at(i).label, colors.at(i));
}

void tst_ColorScheme::placeholders_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::addRow("contrast of the selection colour is white") << "%8 inverted"
                                                               << "#ffffff";
    QTest::addRow("contrast of a light colour is black") << "%6 inverted"
                                                         << "#000000";
    QTest::addRow("contrast keeps the alpha") << "%2 inverted"
                                              << "rgba(255,255,255,50)";
    QTest::addRow("transparent black gets alpha 2") << "%0"
                                                    << "rgba(0,0,0,2)";
    QTest::addRow("lighter inside a rule") << "a { color: %3 lighter; border: 0; }"
                                           << "a { color: #2d2d2d; border: 0; }";
    QTest::addRow("darker") << "%5 darker;"
                            << "#232323;";
    QTest::addRow("modifier words are case-sensitive") << "%3 Lighter"
                                                       << "#1e1e1e Lighter";
    QTest::addRow("percent before a letter") << "width: 5%x"
                                             << "width: 5%x";
    QTest::addRow("percent at the end") << "50%"
                                        << "50%";
    QTest::addRow("number beyond the roles") << "%99 %9"
                                             << "%99 %9";
    QTest::addRow("number that overflows") << "%12345678901"
                                           << "%12345678901";
    QTest::addRow("literal percent before a placeholder") << "%%3"
                                                          << "%#1e1e1e";
    QTest::addRow("adjacent placeholders") << "%3%5"
                                           << "#1e1e1e#464646";
}

void tst_ColorScheme::placeholders()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);

    ColorScheme scheme;
    addTransparentRoles(&scheme);
    scheme.addStyleTemplate(text);
    QCOMPARE(scheme.styleSheet(), expected);
}

void tst_ColorScheme::removedSlotIsReused()
{
    ColorScheme scheme;
    addTransparentRoles(&scheme);
    QCOMPARE(scheme.addStyleTemplate("a{}"), 0);
    QCOMPARE(scheme.addStyleTemplate("b{}"), 1);
    QCOMPARE(scheme.addStyleTemplate("c{}"), 2);

    QVERIFY(scheme.removeStyleTemplate(1));
    QVERIFY(!scheme.removeStyleTemplate(1)); // freed once, reused once
    QVERIFY(scheme.removeStyleTemplate(0));
    QCOMPARE(scheme.styleSheet(), QStringLiteral("c{}"));

    // Freed slots are taken oldest first and keep their place in the sheet.
    QCOMPARE(scheme.addStyleTemplate("d{}"), 1);
    QCOMPARE(scheme.addStyleTemplate("e{}"), 0);
    QCOMPARE(scheme.addStyleTemplate("f{}"), 3);
    QCOMPARE(scheme.styleSheet(), QStringLiteral("e{}d{}c{}f{}"));
}

void tst_ColorScheme::templateFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expectedRule");

    QTest::addRow("framework") << ":/cf/style.qss"
                               << "ContextMenu::item:selected {\n    color: "
                                  "#464646;\n    background-color: #168e99;";
    QTest::addRow("application") << ":/style.qss"
                                 << "qproperty-canvasColor: rgba(0,0,0,2);";
    QTest::addRow("missing file") << "/nonexistent/style.qss" << QString();
}

void tst_ColorScheme::templateFiles()
{
    QFETCH(QString, path);
    QFETCH(QString, expectedRule);

    ColorScheme scheme;
    addTransparentRoles(&scheme);
    const int slot = scheme.addStyleTemplateFile(path);
    if (expectedRule.isEmpty()) {
        QCOMPARE(slot, -1);
        QCOMPARE(scheme.templateSlotCount(), 0);
        return;
    }
    QCOMPARE(slot, 0);
    const QString sheet = scheme.styleSheet();
    QVERIFY2(sheet.contains(expectedRule), qPrintable(sheet));
    // Every placeholder names one of the nine roles; a typo would stay in the sheet as text.
    QVERIFY2(!sheet.contains(QRegularExpression(QStringLiteral("%\\d"))), qPrintable(sheet));
}

QTEST_MAIN(tst_ColorScheme)
#include "tst_colorscheme.moc"
