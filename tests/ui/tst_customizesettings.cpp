#include "ui/customizesettings.h"

#include "settings/setting.h"
#include "settings/settings.h"
#include "settings/settingshandler.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

using Definition = GeneralSettings::Definition;

// The property the user changes: the value, or the index for a combo box.
const char *valueProperty(QWidget *editor)
{
    if (qobject_cast<QCheckBox *>(editor))
        return "checked";
    return qobject_cast<QSpinBox *>(editor) ? "value" : "currentIndex";
}

int shown(QWidget *editor)
{
    return editor->property(valueProperty(editor)).toInt();
}

QString translated(const char *text)
{
    return QCoreApplication::translate("GeneralSettings", text);
}

} // namespace

class tst_CustomizeSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsHandler> m_handler;
    int m_run = 0;

    QByteArray readIni()
    {
        m_handler->sync();
        QFile file(m_dir.filePath(QStringLiteral("Page%1.ini").arg(m_run)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // As text, the way a hand-edited file reads.
    void store(const QString &name, const QString &text)
    {
        m_handler->store()->setValue(SettingsHandler::storageKey(GeneralSettings::key(name)), text);
    }

private slots:
    void init()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        // A new base name for every test: the toolkit caches parsed INI files by name.
        m_handler.reset();
        m_handler = std::make_unique<SettingsHandler>(QStringLiteral("Page%1").arg(++m_run));
    }

    void editorsFollowKeyTable_data()
    {
        QTest::addColumn<QString>("name");
        for (const Definition &entry : GeneralSettings::definitions())
            QTest::addRow("%s", qPrintable(entry.name)) << entry.name;
    }
    void editorsFollowKeyTable()
    {
        QFETCH(QString, name);
        const Definition &entry = *GeneralSettings::definition(name);
        CustomizeSettings page;
        const QList<QWidget *> found = page.findChildren<QWidget *>(name);
        QCOMPARE(found.size(), entry.section == GeneralSettings::NotShown ? 0 : 1);
        if (found.isEmpty())
            return;
        auto *group = qobject_cast<QGroupBox *>(found.first()->parentWidget());
        QCOMPARE(group->title(), GeneralSettings::sectionTitle(entry.section));

        if (entry.type == GeneralSettings::Type::Bool) {
            QCOMPARE(qobject_cast<QCheckBox *>(found.first())->text(), translated(entry.label));
        } else if (auto *spin = qobject_cast<QSpinBox *>(found.first())) {
            QVERIFY(entry.choices.isEmpty());
            QCOMPARE(spin->minimum(), entry.minimum);
            QCOMPARE(spin->maximum(), entry.maximum);
            QCOMPARE(spin->suffix(), QString::fromLatin1(entry.suffix));
        } else {
            auto *combo = qobject_cast<QComboBox *>(found.first());
            // The index is the value: every value of the range needs its item.
            QCOMPARE(entry.minimum, 0);
            QCOMPARE(combo->count(), entry.maximum + 1);
            for (int i = 0; i < combo->count(); ++i)
                QCOMPARE(combo->itemText(i), translated(entry.choices.value(i)));
        }
    }

    void editsTravelBothWays_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("edited");
        QTest::addColumn<QVariant>("programValue");
        QTest::addColumn<int>("programShown");
        QTest::addRow("check box") << "InvertWheel" << 1 << QVariant(false) << 0;
        QTest::addRow("spin box, key with a space")
            << "Alignment Padding" << 20 << QVariant(5000) << 999;
        QTest::addRow("combo box") << "DrawImageBorders" << 0 << QVariant(7) << 2;
    }
    void editsTravelBothWays()
    {
        QFETCH(QString, name);
        QFETCH(int, edited);
        QFETCH(QVariant, programValue);
        QFETCH(int, programShown);
        Setting program(
            name, GeneralSettings::definition(name)->defaultValue, GeneralSettings::group());
        CustomizeSettings page;
        QWidget *editor = page.findChild<QWidget *>(name);
        editor->setProperty(valueProperty(editor), edited);
        QCOMPARE(program.value().toInt(), edited);
        const QByteArray line = SettingsHandler::storageKey(name).toUtf8() + '='
            + program.value().toString().toUtf8() + '\n';
        const QByteArray text = readIni();
        QVERIFY2(text.startsWith("[General_Settings]\n") && text.contains(line), text);

        // Shown clamped, and the clamped value must not come back to the program.
        program.setValue(programValue);
        QCOMPARE(shown(editor), programShown);
        QCOMPARE(program.value(), programValue);
    }

    void storedValueIsShownAndKept_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("stored"); // empty: nothing stored
        QTest::addColumn<int>("expected");
        QTest::addRow("nothing stored") << "Redos" << QString() << 50;
        QTest::addRow("in range") << "NumOfRecentFiles"
                                  << "7" << 7;
        QTest::addRow("above the range") << "DrawImageBorders"
                                         << "7" << 2;
        QTest::addRow("not a number") << "Redos"
                                      << "many" << 50;
        QTest::addRow("boolean") << "Embed Local Files"
                                 << "false" << 0;
    }
    void storedValueIsShownAndKept()
    {
        QFETCH(QString, name);
        QFETCH(QString, stored);
        QFETCH(int, expected);
        if (!stored.isEmpty())
            store(name, stored);
        const QByteArray before = readIni();
        CustomizeSettings page;
        QCOMPARE(shown(page.findChild<QWidget *>(name)), expected);
        QCOMPARE(readIni(), before);
        QCOMPARE(m_handler->store()->allKeys().size(), stored.isEmpty() ? 0 : 1);
    }

    void searchHidesRowsAndGroups_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("matches");
        QTest::addRow("label, any case")
            << "HANDLE"
            << QStringList { "TransformGizmo", "TransformGizmoDisplayMode",
                   "TransformGizmoHandleSize", "TransformGizmoFadeWhenInactive" };
        QTest::addRow("key name with a space")
            << "alignment pad" << QStringList { "Alignment Padding" };
    }
    void searchHidesRowsAndGroups()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, matches);
        CustomizeSettings page;
        // Clearing the search then shows everything again.
        for (const QString &typed : { text, QString() }) {
            page.findChild<QLineEdit *>(QStringLiteral("search"))->setText(typed);
            QSet<QWidget *> groupsShown;
            for (const Definition &entry : GeneralSettings::definitions()) {
                QWidget *editor = page.findChild<QWidget *>(entry.name);
                const bool expected = typed.isEmpty() || matches.contains(entry.name);
                if (!editor)
                    continue;
                QCOMPARE(editor->isHidden(), !expected);
                for (const QLabel *label : page.findChildren<QLabel *>()) {
                    if (label->buddy() == editor)
                        QCOMPARE(label->isHidden(), !expected);
                }
                if (expected)
                    groupsShown.insert(editor->parentWidget());
            }
            for (QGroupBox *group : page.findChildren<QGroupBox *>())
                QCOMPARE(group->isHidden(), !groupsShown.contains(group));
        }
    }
};

QTEST_MAIN(tst_CustomizeSettings)
#include "tst_customizesettings.moc"
