#pragma once

#include "settings/styletemplate.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>
#include <QVector>

// The colours of the interface: a list of named colour roles, presets that each hold a colour a
// role plus a font and a master opacity, and the working set ("Active") that is shown and applied.
// Style templates written against the roles (see StyleTemplate) make one style sheet out of a
// colour set: the templates' numbered slots rendered in slot order.
//
// Every set lives in the settings store under "Color_Settings/<set key>": a colour a role key,
// "Font" and "MasterOpacity". A stored value wins over a built-in one: a role read from the store
// is marked, and setPresetColor() leaves it alone. Without a SettingsHandler nothing is loaded or
// saved. GUI thread only (fonts).
class ColorScheme {
public:
    struct ColorRole {
        QString key; // also the name under which the colour is stored
        QString label;
        QColor color;
        bool loadedFromStorage = false;
    };

    // A preset, or the working set.
    struct ColorSet {
        QString key;
        QString name;
        QVector<ColorRole> roles;
        QFont font;
        qreal masterOpacity = 1.0;
        bool editable = false;

        QVector<QColor> colors() const;
    };

    // A preset of the program; no colours: the role defaults.
    struct StandardPreset {
        QString key;
        QString name;
        bool editable = false;
        QVector<QColor> colors;
    };

    // The master opacity fades whole windows; below this they could no longer be found.
    static constexpr int MinimumOpacityPercent = 30;

    static QString activeKey();
    // "Color_Settings/<set key>".
    static QString group(const QString &setKey);
    // The nine roles in placeholder order, labels translated.
    static QVector<ColorRole> standardRoles();
    // "dark", "light", "transparent" and the editable "custom1" .. "custom4".
    static QVector<StandardPreset> standardPresets();

    ColorScheme();

    // Appends the role to the defaults, the working set and every preset, each then read from
    // the store. Returns the role's index, its placeholder number.
    int addColorRole(const QString &key, const QString &label, const QColor &defaultColor);
    bool relabelColorRole(const QString &key, const QString &label);
    int roleIndex(const QString &key) const;
    int roleCount() const { return int(m_defaults.size()); }
    const QVector<ColorRole> &defaultRoles() const { return m_defaults; }

    // A preset starts as the role defaults with the application font and full opacity, then
    // takes what the store holds for it. False when the key is taken.
    bool addPreset(const QString &key, const QString &name, bool editable);
    // Sets a built-in colour of a preset; a colour the store held for it stays. False when
    // nothing changed.
    bool setPresetColor(const QString &roleKey, const QColor &color, const QString &presetKey);
    const ColorSet *preset(const QString &key) const;
    const QVector<ColorSet> &presets() const { return m_presets; }
    const ColorSet &workingSet() const { return m_working; }

    // Changes of the working set; each is saved at once.
    void setColor(int role, const QColor &color);
    void setFont(const QFont &font);
    // Clamped to MinimumOpacityPercent / 100 .. 1.
    void setMasterOpacity(qreal opacity);
    // Copies the preset's colours, font and opacity into the working set.
    bool applyPreset(const QString &key);
    // Copies the working set into an editable preset and saves the preset.
    bool saveIntoPreset(const QString &key);

    // Returns the template's slot: the oldest freed one, or a new one at the end.
    int addStyleTemplate(const QString &text);
    // -1 when the file cannot be read.
    int addStyleTemplateFile(const QString &path);
    // The slot stays, empty, until the next template takes it.
    bool removeStyleTemplate(int slot);
    int templateSlotCount() const { return int(m_templates.size()); }

    QString styleSheet() const { return styleSheet(m_working); }
    QString styleSheet(const ColorSet &set) const;
    // The set's colours as a palette, for whatever no style sheet rule names: a window's own
    // background, item views, scroll bars, the toolkit's own dialogs. Its window and base
    // colours are opaque: translucent ones are laid over the menu colour first.
    QPalette palette() const { return palette(m_working); }
    QPalette palette(const ColorSet &set) const;

    void save(const ColorSet &set) const;

private:
    ColorSet *findPreset(const QString &key);
    void loadColor(ColorSet *set, int role) const;
    void loadFontAndOpacity(ColorSet *set) const;

    QVector<ColorRole> m_defaults;
    ColorSet m_working;
    QVector<ColorSet> m_presets;
    QVector<StyleTemplate> m_templates;
    QVector<int> m_freeSlots;
};
