#include "settings/generalsettings.h"

#include "picture/picturebudget.h"
#include "settings/setting.h"

#include <QCoreApplication>

#include <unistd.h>

#include <algorithm>
#include <limits>

namespace {

using Definition = GeneralSettings::Definition;
using Type = GeneralSettings::Type;

Definition definition(const char *name, Type type, const QVariant &defaultValue)
{
    Definition entry;
    entry.name = QString::fromLatin1(name);
    entry.type = type;
    entry.defaultValue = defaultValue;
    return entry;
}

Definition boolean(const char *name, bool defaultValue)
{
    return definition(name, Type::Bool, defaultValue);
}

Definition integer(const char *name, int defaultValue, int minimum, int maximum)
{
    Definition entry = definition(name, Type::Int, defaultValue);
    entry.minimum = minimum;
    entry.maximum = maximum;
    return entry;
}

constexpr qint64 BytesPerMegabyte = qint64(1024) * 1024;

// The machine's memory in MB, 0 when the system does not say.
int physicalMegabytes()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    const qint64 megabytes = qint64(pages) * pageSize / BytesPerMegabyte;
    return int(std::min<qint64>(megabytes, std::numeric_limits<int>::max()));
}

// The limit of decoded picture detail: the budget's own default, up to all of the machine's
// memory (never below the default, for a machine that does not tell its size).
Definition pictureMemory()
{
    const int defaultMegabytes = int(PictureBudget::defaultLimit() / BytesPerMegabyte);
    return integer(
        "Picture Memory", defaultMegabytes, 256, std::max(physicalMegabytes(), defaultMegabytes));
}

Definition any(const char *name)
{
    return definition(name, Type::Any, QVariant());
}

Definition page(Definition entry, GeneralSettings::Section section, const char *label,
    const char *suffix = nullptr, std::initializer_list<const char *> choices = {})
{
    entry.section = section;
    entry.label = label;
    entry.suffix = suffix;
    entry.choices = choices;
    return entry;
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
        page(boolean("Embed Local Files", true), Saving,
            QT_TRANSLATE_NOOP("GeneralSettings", "Embed local files in saved boards")),
        page(integer("AutoSaveInterval", 10, 1, 99999), Saving,
            QT_TRANSLATE_NOOP("GeneralSettings", "Autosave interval"), " min"),
        page(boolean("Auto Save", false), Saving, QT_TRANSLATE_NOOP("GeneralSettings", "Autosave")),
        any("FirstTimeSetup"),
        boolean("ShowRelinkOnLoad", true),
        page(boolean("Hide Unsaved Warning", false), Saving,
            QT_TRANSLATE_NOOP("GeneralSettings", "Never ask to save unsaved changes")),
        boolean("Hide Auto Save Warning", false),
        boolean("Hide Transparent To Mouse Warning", false),
        boolean("Hide Overlay Mode Warning", false),
        any("Last Browse Path"),
        page(integer("DefaultWindowMode", 0, 0, 4), Window,
            QT_TRANSLATE_NOOP("GeneralSettings", "Window mode at start-up"), nullptr,
            { QT_TRANSLATE_NOOP("GeneralSettings", "Normal"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Transparent to mouse"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Overlay"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Overlay and transparent to mouse"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Last mode") }),
        any("LastWindowMode"),
        page(boolean("CheckForUpdates", true), Files,
            QT_TRANSLATE_NOOP("GeneralSettings", "Check for updates at start-up")),
        page(boolean("LockWhileMaximized", false), Window,
            QT_TRANSLATE_NOOP("GeneralSettings", "Keep the window's lock while it is maximized")),
        page(boolean("MaximizedAboveTaskbar", false), Window,
            QT_TRANSLATE_NOOP("GeneralSettings", "A maximized window covers the taskbar")),
        page(boolean("ActivateSelectedImages", true), Canvas,
            QT_TRANSLATE_NOOP("GeneralSettings", "Bring selected images to the front")),
        page(boolean("DropFocus", true), Window,
            QT_TRANSLATE_NOOP("GeneralSettings", "Take the keyboard focus after a drop")),
        page(boolean("SelectNew", true), Images,
            QT_TRANSLATE_NOOP("GeneralSettings", "Select and pack new images")),
        page(integer("SelectNewPackMethod", 0, 0, 2), Images,
            QT_TRANSLATE_NOOP("GeneralSettings", "Pack new images"), nullptr,
            { QT_TRANSLATE_NOOP("GeneralSettings", "Best fit"),
                QT_TRANSLATE_NOOP("GeneralSettings", "By name"),
                QT_TRANSLATE_NOOP("GeneralSettings", "In order of adding") }),
        page(boolean("ScaleOnResize", false), Window,
            QT_TRANSLATE_NOOP("GeneralSettings", "Scale the view with the window")),
        page(boolean("AutoDownscale", false), Images,
            QT_TRANSLATE_NOOP("GeneralSettings", "Reduce large images when loading")),
        page(integer("AutoDownscaleMaxWidth", 2000, 100, 20000), Images,
            QT_TRANSLATE_NOOP("GeneralSettings", "Largest width kept"), " px"),
        page(integer("AutoDownscaleMaxHeight", 2000, 100, 20000), Images,
            QT_TRANSLATE_NOOP("GeneralSettings", "Largest height kept"), " px"),
        page(boolean("TransformGizmo", true), Gizmo,
            QT_TRANSLATE_NOOP("GeneralSettings", "Show the transform handles")),
        page(integer("TransformGizmoDisplayMode", 0, 0, 3), Gizmo,
            QT_TRANSLATE_NOOP("GeneralSettings", "Handles show"), nullptr,
            { QT_TRANSLATE_NOOP("GeneralSettings", "All"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Frame only"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Handles only"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Hidden") }),
        page(integer("TransformGizmoHandleSize", 10, 2, 100), Gizmo,
            QT_TRANSLATE_NOOP("GeneralSettings", "Handle size"), " px"),
        page(boolean("TransformGizmoFadeWhenInactive", true), Gizmo,
            QT_TRANSLATE_NOOP("GeneralSettings", "Fade the handles while the window is inactive")),
        page(integer("DrawImageBorders", 2, 0, 2), Canvas,
            QT_TRANSLATE_NOOP("GeneralSettings", "Image borders"), nullptr,
            { QT_TRANSLATE_NOOP("GeneralSettings", "Off"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Selected only"),
                QT_TRANSLATE_NOOP("GeneralSettings", "On") }),
        page(integer("WheelFunctionality", 0, 0, 2), Canvas,
            QT_TRANSLATE_NOOP("GeneralSettings", "The mouse wheel"), nullptr,
            { QT_TRANSLATE_NOOP("GeneralSettings", "Zooms the canvas"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Pans the canvas"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Does nothing") }),
        page(boolean("InvertWheel", false), Canvas,
            QT_TRANSLATE_NOOP("GeneralSettings", "Invert the wheel")),
        page(boolean("FinishNoteWithReturn", true), Notes,
            QT_TRANSLATE_NOOP("GeneralSettings", "Return ends editing a note")),
        page(boolean("SelectTextOnEditingStart", true), Notes,
            QT_TRANSLATE_NOOP("GeneralSettings", "Select a note's text when editing starts")),
        page(integer("NumOfRecentFiles", 5, 1, 20), Files,
            QT_TRANSLATE_NOOP("GeneralSettings", "Recent files listed")),
        page(boolean("AutoLoad", false), Files,
            QT_TRANSLATE_NOOP("GeneralSettings", "Open the most recent board at start-up")),
        page(integer("Redos", 50, 1, 999), Canvas,
            QT_TRANSLATE_NOOP("GeneralSettings", "Undo steps kept")),
        page(integer("Alignment Padding", 10, 0, 999), Canvas,
            QT_TRANSLATE_NOOP("GeneralSettings", "Gap between aligned and packed items"), " px"),
        page(integer("MoveThreshold", 5, 0, 999), Window,
            QT_TRANSLATE_NOOP("GeneralSettings", "Right-button drag that moves the window"), " px"),
        page(integer("ResizeBorder", 10, 0, 999), Window,
            QT_TRANSLATE_NOOP("GeneralSettings", "Resize border"), " px"),
        page(boolean("PopupLabelEnabled", true), Window,
            QT_TRANSLATE_NOOP("GeneralSettings", "Show a label when the window's state changes")),
        page(integer("CanvasLockedIconPlacement", 3, 0, 4), Window,
            QT_TRANSLATE_NOOP("GeneralSettings", "Canvas lock icon"), nullptr,
            { QT_TRANSLATE_NOOP("GeneralSettings", "Top left"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Top right"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Bottom left"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Bottom right"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Do not show") }),
        page(integer("ZoomQuality", 0, 0, 1), Canvas,
            QT_TRANSLATE_NOOP("GeneralSettings", "Zoomed image quality"), nullptr,
            { QT_TRANSLATE_NOOP("GeneralSettings", "High (more memory)"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Low (less memory)") }),
        page(pictureMemory(), Canvas, QT_TRANSLATE_NOOP("GeneralSettings", "Picture memory (MB)")),
        page(boolean("MainWindowBorder", true), Window,
            QT_TRANSLATE_NOOP("GeneralSettings", "Draw the window border")),
        page(integer("SlideshowInterval", 10, 1, 99999), Canvas,
            QT_TRANSLATE_NOOP("GeneralSettings", "Slideshow interval"), " s"),
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
        page(integer("Save Compression", 1, 0, 2), Saving,
            QT_TRANSLATE_NOOP("GeneralSettings", "Compression of saved pictures"), nullptr,
            { QT_TRANSLATE_NOOP("GeneralSettings", "Fastest"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Balanced"),
                QT_TRANSLATE_NOOP("GeneralSettings", "Smallest") }),
        page(integer("Picture Storage", 1, 0, 1), Saving,
            QT_TRANSLATE_NOOP("GeneralSettings", "Store pictures as"), nullptr,
            { QT_TRANSLATE_NOOP(
                  "GeneralSettings", "PNG for every picture (opens in any reader of the format)"),
                QT_TRANSLATE_NOOP("GeneralSettings", "original files where possible") }),
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

QString GeneralSettings::sectionTitle(Section section)
{
    switch (section) {
    case Files:
        return QCoreApplication::translate("GeneralSettings", "Files and start-up");
    case Saving:
        return QCoreApplication::translate("GeneralSettings", "Saving");
    case Window:
        return QCoreApplication::translate("GeneralSettings", "Window");
    case Canvas:
        return QCoreApplication::translate("GeneralSettings", "Canvas");
    case Images:
        return QCoreApplication::translate("GeneralSettings", "New images");
    case Gizmo:
        return QCoreApplication::translate("GeneralSettings", "Transform handles");
    case Notes:
        return QCoreApplication::translate("GeneralSettings", "Notes");
    case NotShown:
        break;
    }
    return QString();
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
    m_used.insert(name);
    return found;
}

bool GeneralSettings::boolValue(const QString &name) const
{
    return setting(name)->value().toBool();
}

int GeneralSettings::boundedInt(const Definition &entry, const QVariant &value)
{
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok)
        return entry.defaultValue.toInt();
    return int(qBound<qlonglong>(entry.minimum, number, entry.maximum));
}

int GeneralSettings::intValue(const QString &name) const
{
    return intValue(setting(name));
}

int GeneralSettings::intValue(const Setting *entry) const
{
    return boundedInt(*definition(entry->name()), entry->value());
}

QVariant GeneralSettings::value(const QString &name) const
{
    return setting(name)->value();
}
