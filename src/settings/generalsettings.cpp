#include "settings/generalsettings.h"

#include "settings/setting.h"

#include <limits>

namespace {

using Definition = GeneralSettings::Definition;
using Type = GeneralSettings::Type;

Definition boolean(const char *name, bool defaultValue)
{
    return { QString::fromLatin1(name), Type::Bool, defaultValue };
}

Definition integer(const char *name, int defaultValue, int minimum, int maximum)
{
    return { QString::fromLatin1(name), Type::Int, defaultValue, minimum, maximum };
}

Definition any(const char *name)
{
    return { QString::fromLatin1(name), Type::Any, QVariant() };
}

} // namespace

QString GeneralSettings::group()
{
    return QStringLiteral("General Settings");
}

QString GeneralSettings::key(const QString &name)
{
    return group() + QLatin1Char('/') + name;
}

const QVector<GeneralSettings::Definition> &GeneralSettings::definitions()
{
    // Built-in values that other components share: the image loader downscales to 2000 by 2000
    // when asked, and the undo stack keeps 50 steps.
    static const QVector<Definition> table = {
        boolean("Embed Local Files", true),
        integer("AutoSaveInterval", 10, 1, 99999),
        boolean("Auto Save", false),
        any("FirstTimeSetup"),
        boolean("ShowRelinkOnLoad", true),
        boolean("Hide Unsaved Warning", false),
        boolean("Hide Auto Save Warning", false),
        boolean("Hide Transparent To Mouse Warning", false),
        boolean("Hide Overlay Mode Warning", false),
        any("Last Browse Path"),
        integer("DefaultWindowMode", 0, 0, 4),
        any("LastWindowMode"),
        boolean("CheckForUpdates", true),
        boolean("LockWhileMaximized", false),
        boolean("MaximizedAboveTaskbar", false),
        boolean("ActivateSelectedImages", true),
        boolean("DropFocus", true),
        boolean("SelectNew", true),
        integer("SelectNewPackMethod", 0, 0, 2),
        boolean("ScaleOnResize", false),
        boolean("AutoDownscale", false),
        integer("AutoDownscaleMaxWidth", 2000, 100, 20000),
        integer("AutoDownscaleMaxHeight", 2000, 100, 20000),
        boolean("TransformGizmo", true),
        integer("TransformGizmoDisplayMode", 0, 0, 3),
        integer("TransformGizmoHandleSize", 10, 2, 100),
        boolean("TransformGizmoFadeWhenInactive", true),
        integer("DrawImageBorders", 2, 0, 2),
        integer("WheelFunctionality", 0, 0, 2),
        boolean("InvertWheel", false),
        boolean("FinishNoteWithReturn", true),
        boolean("SelectTextOnEditingStart", true),
        integer("NumOfRecentFiles", 5, 1, 20),
        boolean("AutoLoad", false),
        integer("Redos", 50, 1, 999),
        integer("Alignment Padding", 10, 0, 999),
        integer("MoveThreshold", 5, 0, 999),
        integer("ResizeBorder", 10, 0, 999),
        boolean("PopupLabelEnabled", true),
        integer("CanvasLockedIconPlacement", 3, 0, 4),
        integer("ZoomQuality", 0, 0, 1),
        boolean("MainWindowBorder", true),
        integer("SlideshowInterval", 10, 1, 99999),
        boolean("WindowLocked", false),
        boolean("CanvasLocked", false),
        any("Version"),
        boolean("Maximized", false),
        any("Position"),
        // The window's normal size and its stacking mode when last closed.
        any("Size"),
        boolean("AlwaysOnTop", false),
        boolean("AlwaysOnBottom", false),
        boolean("Hide Open Source Warning", false),
        // PNG compression of saved pictures: fastest, balanced, smallest.
        integer("Save Compression", 1, 0, 2),
    };
    return table;
}

const GeneralSettings::Definition *GeneralSettings::definition(const QString &name)
{
    for (const Definition &entry : definitions()) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

QString GeneralSettings::recentFileName(int slot)
{
    return QStringLiteral("RecentFiles%0").arg(slot);
}

int GeneralSettings::autoSaveIntervalMsecs(qint64 minutes)
{
    constexpr qint64 largestInterval = std::numeric_limits<int>::max();
    return int(qBound<qint64>(0, minutes * 60000, largestInterval));
}

GeneralSettings::GeneralSettings(QObject *parent)
    : QObject(parent)
{
    for (const Definition &entry : definitions())
        m_settings.insert(
            entry.name, new Setting(entry.name, entry.defaultValue, group(), {}, this));
}

Setting *GeneralSettings::setting(const QString &name) const
{
    Setting *found = m_settings.value(name);
    Q_ASSERT_X(found, "GeneralSettings::setting", qPrintable(name));
    return found;
}

bool GeneralSettings::boolValue(const QString &name) const
{
    return setting(name)->value().toBool();
}

int GeneralSettings::intValue(const QString &name) const
{
    const Setting *entry = setting(name);
    const Definition *range = definition(name);
    bool ok = false;
    const qlonglong number = entry->value().toLongLong(&ok);
    if (!ok)
        return entry->defaultValue().toInt();
    return int(qBound<qlonglong>(range->minimum, number, range->maximum));
}

QVariant GeneralSettings::value(const QString &name) const
{
    return setting(name)->value();
}
