// libFuzzer target for the settings file: every input is the INI file a start finds, read as the
// main window reads it: each general setting through its typed getter, the upgrade of an older
// file (which rebinds keys and writes the file), the key bindings of a few actions, the colour
// scheme with its presets and the recent files. A file edited by hand, cut short or of another
// program must not crash any of them.
// See CMakeLists.txt in this folder; "-make_corpus=DIR" writes the seeds of fuzz/settings-seeds.

#include "app/recentfiles.h"
#include "fuzzcorpus.h"
#include "input/actionbinding.h"
#include "input/actionhandler.h"
#include "input/actionnames.h"
#include "input/keybinder.h"
#include "settings/colorscheme.h"
#include "settings/generalsettings.h"
#include "settings/settingshandler.h"
#include "settings/settingsupgrade.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const QString BaseName = QStringLiteral("fuzz_settingsfile");

void makeCorpus(const QString &directory)
{
    const auto save = [&directory](const QString &name, const QByteArray &bytes) {
        writeSeed(directory, name, bytes);
    };
    save(QStringLiteral("general.ini"),
        "[General_Settings]\nVersion=1.11.1\nRedos=50\nAutoSaveInterval=99999\n"
        "Embed_Local_Files=true\nNumOfRecentFiles=3\nRecentFiles0=/home/a.vlk\n"
        "RecentFiles1=/home/b.vlk\nRecentFiles2=\nInvertWheel=maybe\nPicture_Memory=-4\n");
    save(QStringLiteral("old-version.ini"),
        "[General_Settings]\nVersion=1.7.2\nScrollFunctionality=2\n"
        "AutoSaveUnsavedWarning=true\n");
    save(QStringLiteral("key-bindings.ini"),
        "[Key_Bindings]\nPanContext=1\nPanShortcut=Ctrl+Shift+P\nPanButtons=4\n"
        "Pan1Shortcut=Space\nPan_Default0_Deleted=true\nZoomShortcut=\"Ctrl+Z, Alt+Q\"\n"
        "ZoomButtons=notanumber\n");
    save(QStringLiteral("colours.ini"),
        "[Color_Settings]\nActive\\Background_Color=#80ff0000\n"
        "Active\\Text_Color=@Variant(\\0\\0\\0\\x43\\x1)\n"
        "Active\\Font=\"Sans Serif,10,-1,5,50,0,0,0,0,0\"\nActive\\MasterOpacity=0.1\n"
        "custom1\\Selection_Color=nocolour\ncustom1\\MasterOpacity=nan\n"
        "dark\\Border_Color=@Variant(\\0\\0\\0\\x43\\x1\\xff\\xff)\n");
    // Stored lists, maps and registered types: the store drops them before the toolkit reads them.
    save(QStringLiteral("stored-kinds.ini"),
        "[Color_Settings]\nActive\\Text_Color=@Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n"
        "[General_Settings]\nRecentFiles0=a, \\x40Variant(\\0\\0\\0\\b)\n"
        "Redos=@DateTime(\\0\\0\\0\\x1c)\nVersion=\"@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x4name)\"\n");
}

void readEverySetting(const GeneralSettings &settings)
{
    for (const GeneralSettings::Definition &definition : GeneralSettings::definitions()) {
        switch (definition.type) {
        case GeneralSettings::Type::Bool:
            settings.boolValue(definition.name);
            break;
        case GeneralSettings::Type::Int:
            settings.intValue(definition.name);
            break;
        case GeneralSettings::Type::Text:
        case GeneralSettings::Type::Any:
            settings.value(definition.name).toString();
            break;
        }
    }
}

// The file lives in memory where the system offers it: each input writes it, and the upgrade
// writes it back through a lock and a synced save, which on a disk took most of an input's time.
QString temporaryTemplate()
{
    const QFileInfo memory(QStringLiteral("/dev/shm"));
    const QString parent
        = memory.isDir() && memory.isWritable() ? memory.filePath() : QDir::tempPath();
    return parent + QLatin1String("/fuzz_settingsfile-XXXXXX");
}

} // namespace

// Qt 5.15's offscreen platform leaves its screen and what hangs off it when the application ends
// (scripts/lsan.supp); those stacks are too short to match in a fuzzing run. Each input is still
// checked for leaks of its own.
extern "C" const char *__asan_default_options()
{
    return "leak_check_at_exit=0";
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    makeCorpusWhenAsked(*argc, *argv, makeCorpus);
    // Key bindings and recent files are widgets and actions; nothing is shown.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir directory(temporaryTemplate());
    static const bool located = [] {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, directory.path());
        return true;
    }();
    Q_UNUSED(located)
    {
        QFile file(directory.filePath(BaseName + QLatin1String(".ini")));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }

    SettingsHandler handler(BaseName);
    auto binder = std::make_unique<KeyBinder>();
    QObject owner;
    const ActionBinding middle(ActionBinding::Triggered, QKeySequence(), Qt::MiddleButton);
    for (const char *name : { ActionNames::Pan, ActionNames::Zoom, ActionNames::DeleteImages })
        ActionHandler::instance()->createAction(QLatin1String(name), QLatin1String(name), &owner,
            middle, 0, QStringLiteral("Controls"));
    {
        GeneralSettings settings;
        SettingsUpgrade::run(settings, [&binder](int scrollFunctionality) {
            binder->upgradeScrollFunctionality(scrollFunctionality);
        });
        readEverySetting(settings);
        RecentFiles recent(&settings, [](const QString &) {});
        recent.paths();
    }
    binder->toHtml();
    // As the colour page builds the scheme: every role, then every preset, each read from the
    // file.
    ColorScheme scheme;
    for (const ColorScheme::ColorRole &role : ColorScheme::standardRoles())
        scheme.addColorRole(role.key, role.label, role.color);
    for (const ColorScheme::StandardPreset &preset : ColorScheme::standardPresets())
        scheme.addPreset(preset.key, preset.name, preset.editable);
    for (const ColorScheme::ColorSet &preset : scheme.presets())
        scheme.palette(preset);
    scheme.styleSheet();
    binder.reset();
    return 0;
}
