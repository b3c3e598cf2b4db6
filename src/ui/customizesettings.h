#pragma once

#include "settings/generalsettings.h"

#include <QVector>
#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class Setting;

// The settings page: every key of GeneralSettings::definitions() that has a section, one group
// box a section, under a search field. A Bool is a check box, an Int with choices a combo box
// whose index is the value, any other Int a spin box. Each editor is named after its key.
//
// The page binds through Settings of its own, not through a GeneralSettings: showing a key is not
// using it. Nothing is written until the user changes a value, and a stored integer outside its
// range is shown clamped but left as it is stored. Needs a SettingsHandler; GUI thread only.
class CustomizeSettings : public QWidget {
    Q_OBJECT

public:
    explicit CustomizeSettings(QWidget *parent = nullptr);

private:
    struct Row {
        const GeneralSettings::Definition *definition = nullptr;
        Setting *setting = nullptr;
        QWidget *editor = nullptr;
        // The row's label; null for a check box, which carries its own text.
        QLabel *label = nullptr;
        QGroupBox *group = nullptr;
    };

    // The editor, its changes bound to the setting.
    static QWidget *createEditor(const GeneralSettings::Definition &entry, Setting *setting);
    static void showValue(const Row &row);
    void applyFilter(const QString &text);
    void restoreDefaults();

    QVector<Row> m_rows;
    QVector<QGroupBox *> m_groups;
    QLineEdit *m_search;
};
