#include "ui/colorcustomizer.h"

#include <QColorDialog>
#include <QComboBox>
#include <QFontDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

namespace {

constexpr int PresetColumns = 4;
constexpr int SwatchWidth = 40;
constexpr int SwatchHeight = 18;

} // namespace

ColorCustomizer::ColorCustomizer(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);

    auto *presets = new QGroupBox(tr("Presets"), this);
    m_presetLayout = new QGridLayout(presets);
    layout->addWidget(presets);

    auto *colors = new QGroupBox(tr("Colors"), this);
    m_swatchLayout = new QGridLayout(colors);
    m_swatchLayout->setColumnStretch(0, 1);
    layout->addWidget(colors);

    auto *form = new QFormLayout;
    auto *opacityRow = new QHBoxLayout;
    m_opacitySlider = new QSlider(Qt::Horizontal, this);
    m_opacitySlider->setRange(ColorScheme::MinimumOpacityPercent, 100);
    m_opacitySlider->setValue(qRound(masterOpacity() * 100));
    m_opacityValue = new QLabel(this);
    m_opacityValue->setText(tr("%1%").arg(m_opacitySlider->value()));
    // Wide enough for "100%", so the slider does not jump while it is dragged.
    m_opacityValue->setMinimumWidth(m_opacityValue->fontMetrics().horizontalAdvance(tr("100%")));
    opacityRow->addWidget(m_opacitySlider, 1);
    opacityRow->addWidget(m_opacityValue);
    form->addRow(tr("Opacity"), opacityRow);
    m_fontButton = new QPushButton(this);
    form->addRow(tr("Font"), m_fontButton);
    layout->addLayout(form);

    auto *saveRow = new QHBoxLayout;
    saveRow->addWidget(new QLabel(tr("Save into"), this));
    m_saveTarget = new QComboBox(this);
    saveRow->addWidget(m_saveTarget, 1);
    m_saveButton = new QPushButton(tr("Save"), this);
    m_saveButton->setEnabled(false);
    saveRow->addWidget(m_saveButton);
    m_revertButton = new QPushButton(tr("Revert"), this);
    m_revertButton->setEnabled(false);
    saveRow->addWidget(m_revertButton);
    layout->addLayout(saveRow);
    layout->addStretch(1);

    refreshFontButton();
    connect(m_opacitySlider, &QSlider::valueChanged, this, &ColorCustomizer::setMasterOpacity);
    connect(m_fontButton, &QPushButton::clicked, this, &ColorCustomizer::chooseFont);
    connect(m_saveButton, &QPushButton::clicked, this, &ColorCustomizer::saveColorSelection);
    connect(m_revertButton, &QPushButton::clicked, this, &ColorCustomizer::revertColorSelection);
}

void ColorCustomizer::registerStandard()
{
    const QVector<ColorScheme::ColorRole> roles = ColorScheme::standardRoles();
    for (const ColorScheme::ColorRole &role : roles)
        addColorRole(role.key, role.label, role.color);
    const QVector<ColorScheme::StandardPreset> presets = ColorScheme::standardPresets();
    for (const ColorScheme::StandardPreset &preset : presets) {
        addPreset(preset.key, preset.name, preset.editable);
        for (int role = 0; role < preset.colors.size() && role < roles.size(); ++role)
            setPresetColor(roles.at(role).key, preset.colors.at(role), preset.key);
    }
}

int ColorCustomizer::addColorRole(
    const QString &key, const QString &label, const QColor &defaultColor)
{
    const int index = m_scheme.addColorRole(key, label, defaultColor);
    if (index < m_swatches.size())
        return index;
    SwatchRow row;
    row.label = new QLabel(label, this);
    row.swatch = new QPushButton(this);
    row.swatch->setObjectName(QStringLiteral("colorSwatch"));
    row.swatch->setFixedSize(SwatchWidth, SwatchHeight);
    row.swatch->setToolTip(label);
    connect(row.swatch, &QPushButton::clicked, this, [this, index] { editColor(index); });
    m_swatchLayout->addWidget(row.label, index, 0);
    m_swatchLayout->addWidget(row.swatch, index, 1);
    m_swatches.append(row);
    refreshSwatch(index);
    for (int preset = 0; preset < m_presetButtons.size(); ++preset)
        refreshPresetButton(preset);
    return index;
}

bool ColorCustomizer::relabelColorRole(const QString &key, const QString &label)
{
    if (!m_scheme.relabelColorRole(key, label))
        return false;
    const SwatchRow &row = m_swatches.at(m_scheme.roleIndex(key));
    row.label->setText(label);
    row.swatch->setToolTip(label);
    return true;
}

bool ColorCustomizer::addPreset(const QString &key, const QString &name, bool editable)
{
    if (!m_scheme.addPreset(key, name, editable))
        return false;
    const int index = int(m_presetButtons.size());
    auto *button = new QPushButton(name, this);
    connect(button, &QPushButton::clicked, this, [this, key] { updatePreset(key); });
    m_presetLayout->addWidget(button, index / PresetColumns, index % PresetColumns);
    m_presetButtons.append(button);
    refreshPresetButton(index);
    if (editable) {
        m_saveTarget->addItem(name, key);
        m_saveButton->setEnabled(true);
    }
    return true;
}

bool ColorCustomizer::setPresetColor(
    const QString &roleKey, const QColor &color, const QString &presetKey)
{
    if (!m_scheme.setPresetColor(roleKey, color, presetKey))
        return false;
    const QVector<ColorScheme::ColorSet> &presets = m_scheme.presets();
    for (int i = 0; i < presets.size(); ++i) {
        if (presets.at(i).key == presetKey)
            refreshPresetButton(i);
    }
    return true;
}

int ColorCustomizer::addStyleTemplate(const QString &text)
{
    const int slot = m_scheme.addStyleTemplate(text);
    announceStyle();
    return slot;
}

int ColorCustomizer::addStyleTemplateFile(const QString &path)
{
    const int slot = m_scheme.addStyleTemplateFile(path);
    if (slot >= 0)
        announceStyle();
    return slot;
}

void ColorCustomizer::removeStyleTemplate(int slot)
{
    if (m_scheme.removeStyleTemplate(slot))
        announceStyle();
}

void ColorCustomizer::setEditedRole(int role)
{
    m_editedRole = role >= 0 && role < m_scheme.roleCount() ? role : -1;
}

QString ColorCustomizer::saveTarget() const
{
    return m_saveTarget->currentData().toString();
}

bool ColorCustomizer::setSaveTarget(const QString &presetKey)
{
    const int index = m_saveTarget->findData(presetKey);
    if (index < 0)
        return false;
    m_saveTarget->setCurrentIndex(index);
    return true;
}

void ColorCustomizer::updatePreset(const QString &name)
{
    if (!m_scheme.applyPreset(name))
        return;
    m_chosenPreset = name;
    m_revertButton->setEnabled(true);
    // Saving goes back where the colours came from, when the user may change that preset.
    setSaveTarget(name);
    for (int role = 0; role < m_swatches.size(); ++role)
        refreshSwatch(role);
    refreshFontButton();
    emit styleUpdated(currentStyleSheet());
    emit fontUpdated(currentFont());
    // Rounded: an opacity of 0.57 is 56.999... percent in binary.
    setMasterOpacity(qRound(masterOpacity() * 100));
}

void ColorCustomizer::updateColor(const QColor &color)
{
    if (m_editedRole < 0)
        return;
    m_scheme.setColor(m_editedRole, color);
    refreshSwatch(m_editedRole);
    emit styleUpdated(currentStyleSheet());
}

void ColorCustomizer::setFont(const QFont &font)
{
    m_scheme.setFont(font);
    refreshFontButton();
    emit fontUpdated(currentFont());
}

void ColorCustomizer::setMasterOpacity(int opacity)
{
    const int percent = qBound(ColorScheme::MinimumOpacityPercent, opacity, 100);
    m_scheme.setMasterOpacity(percent / 100.0);
    {
        const QSignalBlocker blocker(m_opacitySlider);
        m_opacitySlider->setValue(percent);
    }
    m_opacityValue->setText(tr("%1%").arg(percent));
    emit masterOpacityUpdated(masterOpacity());
}

void ColorCustomizer::saveColorSelection()
{
    const QString key = saveTarget();
    if (!m_scheme.saveIntoPreset(key))
        return;
    m_chosenPreset = key;
    m_revertButton->setEnabled(true);
    const QVector<ColorScheme::ColorSet> &presets = m_scheme.presets();
    for (int i = 0; i < presets.size(); ++i) {
        if (presets.at(i).key == key)
            refreshPresetButton(i);
    }
}

void ColorCustomizer::revertColorSelection()
{
    if (!m_chosenPreset.isEmpty())
        updatePreset(m_chosenPreset);
}

void ColorCustomizer::editColor(int role)
{
    const ColorScheme::ColorRole current = m_scheme.workingSet().roles.at(role);
    auto *dialog = new QColorDialog(current.color, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QColorDialog::ShowAlphaChannel);
    dialog->setWindowTitle(current.label);
    // Only the colour the user accepts is applied: every change restyles the whole program.
    connect(dialog, &QColorDialog::colorSelected, this, [this, role](const QColor &color) {
        setEditedRole(role);
        updateColor(color);
    });
    setEditedRole(role);
    dialog->open();
}

void ColorCustomizer::chooseFont()
{
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, currentFont(), this, tr("Font"));
    if (ok)
        setFont(chosen);
}

void ColorCustomizer::refreshSwatch(int role)
{
    const QColor color = m_scheme.workingSet().roles.at(role).color;
    m_swatches.at(role).swatch->setStyleSheet(QStringLiteral("background-color: ")
        + StyleTemplate::colorText(color) + QStringLiteral("; border-color: black;"));
}

void ColorCustomizer::refreshPresetButton(int index)
{
    // The button previews its preset in the preset's own colours. A rule of its own, not the
    // whole program's sheet: that would be parsed once per button at every change, which makes
    // every start of the program slower. The colours are the preset's palette, which is opaque:
    // the transparent preset's own background would let the page show through, and its dark
    // text would vanish on a dark page.
    const ColorScheme::ColorSet &preset = m_scheme.presets().at(index);
    const QPalette colors = m_scheme.palette(preset);
    const auto color = [&colors](QPalette::ColorRole role) {
        return StyleTemplate::colorText(colors.color(role));
    };
    QPushButton *button = m_presetButtons.at(index);
    button->setStyleSheet(
        QStringLiteral("QPushButton { background-color: %1; color: %2; "
                       "border: 1px solid %3; padding: 3px 8px; } "
                       "QPushButton:hover { color: %4; border-color: %5; }")
            .arg(color(QPalette::Window), color(QPalette::WindowText), color(QPalette::Mid),
                color(QPalette::BrightText), color(QPalette::Highlight)));
    button->setFont(preset.font);
}

void ColorCustomizer::refreshFontButton()
{
    const QFont font = currentFont();
    // A font may be sized in pixels only; its point size is -1 then.
    const QString size = font.pointSizeF() > 0 ? tr("%1 pt").arg(font.pointSizeF())
                                               : tr("%1 px").arg(font.pixelSize());
    m_fontButton->setText(font.family() + QStringLiteral(", ") + size);
}

void ColorCustomizer::announceStyle()
{
    emit styleUpdated(currentStyleSheet());
}
