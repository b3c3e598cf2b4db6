#include "settings/colorscheme.h"

#include "settings/settings.h"
#include "settings/settingshandler.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>

namespace {

const char FontKey[] = "Font";
const char MasterOpacityKey[] = "MasterOpacity";

Settings *store()
{
    SettingsHandler *handler = SettingsHandler::instance();
    return handler ? handler->store() : nullptr;
}

QString storedKey(const QString &setKey, const QString &name)
{
    return SettingsHandler::storageKey(ColorScheme::group(setKey) + QLatin1Char('/') + name);
}

qreal clampedOpacity(qreal opacity)
{
    return qBound(ColorScheme::MinimumOpacityPercent / 100.0, opacity, 1.0);
}

// color laid over under, which is taken as opaque: what a window the toolkit fills shows.
QColor flattened(const QColor &color, const QColor &under)
{
    const qreal alpha = color.alphaF();
    const auto channel
        = [alpha](qreal top, qreal bottom) { return top * alpha + bottom * (1.0 - alpha); };
    return QColor::fromRgbF(channel(color.redF(), under.redF()),
        channel(color.greenF(), under.greenF()), channel(color.blueF(), under.blueF()));
}

QColor mixed(const QColor &first, const QColor &second)
{
    return QColor((first.red() + second.red()) / 2, (first.green() + second.green()) / 2,
        (first.blue() + second.blue()) / 2);
}

} // namespace

QVector<QColor> ColorScheme::ColorSet::colors() const
{
    QVector<QColor> result;
    result.reserve(roles.size());
    for (const ColorRole &role : roles)
        result.append(role.color);
    return result;
}

QString ColorScheme::activeKey()
{
    return QStringLiteral("Active");
}

QString ColorScheme::group(const QString &setKey)
{
    return QStringLiteral("Color_Settings/") + setKey;
}

QVector<ColorScheme::ColorRole> ColorScheme::standardRoles()
{
    struct Entry {
        const char *key;
        QColor color;
    };
    // The keys are stored names and stay English; the labels are the same words translated.
    static const Entry entries[] = {
        { QT_TRANSLATE_NOOP("ColorScheme", "Background Color"), QColor(32, 32, 32) },
        { QT_TRANSLATE_NOOP("ColorScheme", "Secondary Background Color"), QColor(42, 42, 42) },
        { QT_TRANSLATE_NOOP("ColorScheme", "Border Color"), QColor(13, 13, 13) },
        { QT_TRANSLATE_NOOP("ColorScheme", "Text Color"), QColor(122, 122, 122) },
        { QT_TRANSLATE_NOOP("ColorScheme", "Secondary Text Color"), QColor(79, 79, 79) },
        { QT_TRANSLATE_NOOP("ColorScheme", "Text Hover Color"), QColor(193, 193, 193) },
        { QT_TRANSLATE_NOOP("ColorScheme", "Menu Background Color"), QColor(32, 32, 32) },
        { QT_TRANSLATE_NOOP("ColorScheme", "Menu Border Color"), QColor(13, 13, 13) },
        { QT_TRANSLATE_NOOP("ColorScheme", "Selection Color"), QColor(22, 142, 153) },
    };
    QVector<ColorRole> roles;
    for (const Entry &entry : entries) {
        roles.append({ QString::fromLatin1(entry.key),
            QCoreApplication::translate("ColorScheme", entry.key), entry.color });
    }
    return roles;
}

QVector<ColorScheme::StandardPreset> ColorScheme::standardPresets()
{
    const auto tr
        = [](const char *text) { return QCoreApplication::translate("ColorScheme", text); };
    QVector<StandardPreset> presets;
    presets.append({ QStringLiteral("dark"), tr("Dark"), false, {} });
    presets.append({ QStringLiteral("light"), tr("Light"), false,
        { QColor(224, 224, 224), QColor(234, 234, 234), QColor(200, 200, 200),
            QColor(111, 111, 111), QColor(140, 140, 140), QColor(30, 30, 30), QColor(224, 224, 224),
            QColor(200, 200, 200), QColor(255, 0, 0) } });
    // Window and canvas vanish; borders and menus keep the board usable over other windows.
    presets.append({ QStringLiteral("transparent"), tr("Transparent"), false,
        { QColor(0, 0, 0, 0), QColor(0, 0, 0, 0), QColor(0, 0, 0, 50), QColor(30, 30, 30),
            QColor(140, 140, 140), QColor(70, 70, 70), QColor(224, 224, 224), QColor(0, 0, 0, 50),
            QColor(22, 142, 153) } });
    for (int n = 1; n <= 4; ++n) {
        presets.append({ QStringLiteral("custom%1").arg(n),
            QCoreApplication::translate("ColorScheme", "Custom %1").arg(n), true, {} });
    }
    return presets;
}

ColorScheme::ColorScheme()
{
    m_working.key = activeKey();
    m_working.name = QCoreApplication::translate("ColorScheme", "Active");
    m_working.font = QGuiApplication::font();
    m_working.editable = true;
    loadFontAndOpacity(&m_working);
}

int ColorScheme::addColorRole(const QString &key, const QString &label, const QColor &defaultColor)
{
    const int existing = roleIndex(key);
    Q_ASSERT_X(existing < 0, "ColorScheme::addColorRole", qPrintable(key));
    if (existing >= 0)
        return existing;
    const ColorRole role { key, label, defaultColor, false };
    m_defaults.append(role);
    const int index = roleCount() - 1;
    m_working.roles.append(role);
    loadColor(&m_working, index);
    for (ColorSet &set : m_presets) {
        set.roles.append(role);
        loadColor(&set, index);
    }
    // A number that was text so far may name the new role now.
    for (int slot = 0; slot < m_templates.size(); ++slot) {
        if (!m_freeSlots.contains(slot))
            m_templates[slot] = StyleTemplate(m_templates.at(slot).text(), roleCount());
    }
    return index;
}

bool ColorScheme::relabelColorRole(const QString &key, const QString &label)
{
    const int index = roleIndex(key);
    if (index < 0)
        return false;
    m_defaults[index].label = label;
    m_working.roles[index].label = label;
    for (ColorSet &set : m_presets)
        set.roles[index].label = label;
    return true;
}

int ColorScheme::roleIndex(const QString &key) const
{
    for (int i = 0; i < m_defaults.size(); ++i) {
        if (m_defaults.at(i).key == key)
            return i;
    }
    return -1;
}

bool ColorScheme::addPreset(const QString &key, const QString &name, bool editable)
{
    if (preset(key) || key == activeKey())
        return false;
    ColorSet set;
    set.key = key;
    set.name = name;
    set.roles = m_defaults;
    set.font = QGuiApplication::font();
    set.editable = editable;
    for (int role = 0; role < set.roles.size(); ++role)
        loadColor(&set, role);
    loadFontAndOpacity(&set);
    m_presets.append(set);
    return true;
}

bool ColorScheme::setPresetColor(
    const QString &roleKey, const QColor &color, const QString &presetKey)
{
    ColorSet *set = findPreset(presetKey);
    const int index = roleIndex(roleKey);
    if (!set || index < 0 || set->roles.at(index).loadedFromStorage)
        return false;
    set->roles[index].color = color;
    return true;
}

const ColorScheme::ColorSet *ColorScheme::preset(const QString &key) const
{
    for (const ColorSet &set : m_presets) {
        if (set.key == key)
            return &set;
    }
    return nullptr;
}

ColorScheme::ColorSet *ColorScheme::findPreset(const QString &key)
{
    return const_cast<ColorSet *>(preset(key));
}

void ColorScheme::setColor(int role, const QColor &color)
{
    if (role < 0 || role >= m_working.roles.size())
        return;
    m_working.roles[role].color = color;
    save(m_working);
}

void ColorScheme::setFont(const QFont &font)
{
    m_working.font = font;
    save(m_working);
}

void ColorScheme::setMasterOpacity(qreal opacity)
{
    m_working.masterOpacity = clampedOpacity(opacity);
    save(m_working);
}

bool ColorScheme::applyPreset(const QString &key)
{
    const ColorSet *set = preset(key);
    if (!set)
        return false;
    for (int role = 0; role < m_working.roles.size(); ++role)
        m_working.roles[role].color = set->roles.at(role).color;
    m_working.font = set->font;
    m_working.masterOpacity = set->masterOpacity;
    save(m_working);
    return true;
}

bool ColorScheme::saveIntoPreset(const QString &key)
{
    ColorSet *set = findPreset(key);
    if (!set || !set->editable)
        return false;
    for (int role = 0; role < set->roles.size(); ++role) {
        set->roles[role].color = m_working.roles.at(role).color;
        // The user's colour from now on, as if read from the store.
        set->roles[role].loadedFromStorage = true;
    }
    set->font = m_working.font;
    set->masterOpacity = m_working.masterOpacity;
    save(*set);
    return true;
}

int ColorScheme::addStyleTemplate(const QString &text)
{
    const StyleTemplate parsed(text, roleCount());
    if (!m_freeSlots.isEmpty()) {
        const int slot = m_freeSlots.takeFirst();
        m_templates[slot] = parsed;
        return slot;
    }
    m_templates.append(parsed);
    return int(m_templates.size()) - 1;
}

int ColorScheme::addStyleTemplateFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    return addStyleTemplate(QString::fromUtf8(file.readAll()));
}

bool ColorScheme::removeStyleTemplate(int slot)
{
    if (slot < 0 || slot >= m_templates.size() || m_freeSlots.contains(slot))
        return false;
    m_templates[slot] = StyleTemplate();
    m_freeSlots.append(slot);
    return true;
}

QString ColorScheme::styleSheet(const ColorSet &set) const
{
    const QVector<QColor> colors = set.colors();
    QString sheet;
    for (const StyleTemplate &entry : m_templates)
        sheet += entry.render(colors);
    return sheet;
}

QPalette ColorScheme::palette(const ColorSet &set) const
{
    enum {
        Background,
        SecondaryBackground,
        Border,
        Text,
        SecondaryText,
        TextHover,
        Menu,
        MenuBorder,
        Selection
    };
    // By key, so that roles registered in another order still land in their place; a role the
    // scheme lacks, or a colour edited into nonsense by hand, keeps its built-in colour.
    const QVector<ColorRole> standard = standardRoles();
    const auto role = [&](int which) {
        const int index = roleIndex(standard.at(which).key);
        const QColor color = index >= 0 ? set.roles.at(index).color : QColor();
        return color.isValid() ? color : standard.at(which).color;
    };
    // The transparent scheme has no window colour at all; its menus stay readable, and so will
    // windows drawn over the menu colour.
    QColor menu = role(Menu);
    menu.setAlpha(255);
    const QColor window = flattened(role(Background), menu);
    const QColor base = flattened(role(SecondaryBackground), window);
    const QColor border = flattened(role(Border), window);
    const QColor text = role(Text);
    const QColor selection = flattened(role(Selection), window);

    QPalette palette(window);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, mixed(window, base));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, base);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, role(TextHover));
    palette.setColor(QPalette::PlaceholderText, role(SecondaryText));
    palette.setColor(QPalette::Light, base.lighter(130));
    palette.setColor(QPalette::Midlight, base.lighter(115));
    palette.setColor(QPalette::Mid, border);
    palette.setColor(QPalette::Dark, border.darker(130));
    palette.setColor(QPalette::Shadow, border.darker(200));
    palette.setColor(QPalette::Highlight, selection);
    palette.setColor(QPalette::HighlightedText, role(TextHover));
    palette.setColor(QPalette::ToolTipBase, flattened(role(Menu), window));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Link, selection);
    palette.setColor(QPalette::LinkVisited, selection.darker(130));
    for (const QPalette::ColorRole disabled :
        { QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::HighlightedText }) {
        palette.setColor(QPalette::Disabled, disabled, role(SecondaryText));
    }
    palette.setColor(QPalette::Disabled, QPalette::Highlight, border);
    return palette;
}

void ColorScheme::save(const ColorSet &set) const
{
    Settings *settings = store();
    if (!settings)
        return;
    for (const ColorRole &role : set.roles)
        settings->setValue(storedKey(set.key, role.key), role.color);
    settings->setValue(storedKey(set.key, QLatin1String(FontKey)), set.font);
    settings->setValue(storedKey(set.key, QLatin1String(MasterOpacityKey)), set.masterOpacity);
}

void ColorScheme::loadColor(ColorSet *set, int role) const
{
    Settings *settings = store();
    if (!settings)
        return;
    const QString key = storedKey(set->key, set->roles.at(role).key);
    if (!settings->contains(key))
        return;
    // A value edited into something else by hand gives an invalid colour, which is still the
    // user's and not replaced by a built-in one.
    set->roles[role].color = settings->value(key).value<QColor>();
    set->roles[role].loadedFromStorage = true;
}

void ColorScheme::loadFontAndOpacity(ColorSet *set) const
{
    Settings *settings = store();
    if (!settings)
        return;
    const QVariant font = settings->value(storedKey(set->key, QLatin1String(FontKey)));
    if (font.canConvert<QFont>())
        set->font = font.value<QFont>();
    bool ok = false;
    const qreal opacity
        = settings->value(storedKey(set->key, QLatin1String(MasterOpacityKey))).toReal(&ok);
    if (ok)
        set->masterOpacity = clampedOpacity(opacity);
}
