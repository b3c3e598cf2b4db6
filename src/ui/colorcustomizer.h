#pragma once

#include "settings/colorscheme.h"

#include <QFont>
#include <QVector>
#include <QWidget>

class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QSlider;

// The page where the user picks the interface's colours: a button a preset (each drawn in its own
// colours and font), a swatch a colour role, the master opacity that fades every window, the
// font, and saving the working set into one of the editable presets.
//
// It owns the ColorScheme: whoever registers roles, presets and style templates does it here, so
// the page grows a row or button with each. Every change of the working set is saved at once and
// announced: styleUpdated() with the whole application style sheet, fontUpdated(),
// masterOpacityUpdated(). The owner applies them (ApplicationLook, window opacities).
//
// setFont() is the scheme's font, not the page's own: it hides QWidget::setFont. GUI thread only.
class ColorCustomizer : public QWidget {
    Q_OBJECT

public:
    explicit ColorCustomizer(QWidget *parent = nullptr);

    // The program's nine roles, then its presets: "dark", "light", "transparent" (fixed) and
    // "custom1" .. "custom4" (editable), see ColorScheme::standardPresets().
    void registerStandard();

    // Returns the role's index, which is its placeholder number in style templates.
    int addColorRole(const QString &key, const QString &label, const QColor &defaultColor);
    // The main window calls role 1 ("Secondary Background Color") the canvas colour.
    bool relabelColorRole(const QString &key, const QString &label);
    bool addPreset(const QString &key, const QString &name, bool editable);
    bool setPresetColor(const QString &roleKey, const QColor &color, const QString &presetKey);

    // Each regenerates the style sheet and emits styleUpdated(). Return the slot, or -1 for a
    // file that cannot be read (nothing is added then).
    int addStyleTemplate(const QString &text);
    int addStyleTemplateFile(const QString &path);
    void removeStyleTemplate(int slot);

    // The style sheet, font and master opacity of the working set.
    QString currentStyleSheet() const { return m_scheme.styleSheet(); }
    QPalette currentPalette() const { return m_scheme.palette(); }
    QFont currentFont() const { return m_scheme.workingSet().font; }
    qreal masterOpacity() const { return m_scheme.workingSet().masterOpacity; }
    const ColorScheme &scheme() const { return m_scheme; }

    // The role whose swatch is being edited, the one updateColor() changes; -1 for none.
    int editedRole() const { return m_editedRole; }
    void setEditedRole(int role);
    // The editable preset saveColorSelection() writes into.
    QString saveTarget() const;
    bool setSaveTarget(const QString &presetKey);
    // The preset last chosen or saved into, which revertColorSelection() returns to; empty
    // until there is one.
    QString chosenPreset() const { return m_chosenPreset; }

public slots:
    // Makes the preset the working set: colours, font and master opacity.
    void updatePreset(const QString &name);
    void updateColor(const QColor &color);
    void setFont(const QFont &font);
    // A percentage, clamped to ColorScheme::MinimumOpacityPercent .. 100.
    void setMasterOpacity(int opacity);
    void saveColorSelection();
    // Discards the edits made since the chosen preset was chosen or saved: the working set
    // becomes that preset again. Nothing happens before a preset was chosen.
    void revertColorSelection();

signals:
    void styleUpdated(const QString &updatedStyle);
    void fontUpdated(const QFont &updatedFont);
    void masterOpacityUpdated(qreal updatedMasterOpacity);

private:
    struct SwatchRow {
        QLabel *label = nullptr;
        QPushButton *swatch = nullptr;
    };

    void editColor(int role);
    void chooseFont();
    void refreshSwatch(int role);
    void refreshPresetButton(int index);
    void refreshFontButton();
    void announceStyle();

    ColorScheme m_scheme;
    QVector<SwatchRow> m_swatches;
    // In the order of the scheme's presets.
    QVector<QPushButton *> m_presetButtons;
    QGridLayout *m_presetLayout;
    QGridLayout *m_swatchLayout;
    QSlider *m_opacitySlider;
    QLabel *m_opacityValue;
    QPushButton *m_fontButton;
    QComboBox *m_saveTarget;
    QPushButton *m_saveButton;
    QPushButton *m_revertButton;
    int m_editedRole = -1;
    QString m_chosenPreset;
};
