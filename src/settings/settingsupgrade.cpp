#include "settings/settingsupgrade.h"

#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settingshandler.h"
#include "settings/versionnumber.h"

void SettingsUpgrade::run(GeneralSettings &settings, const ScrollFunctionalityRebinder &rebinder)
{
    SettingsHandler *handler = SettingsHandler::instance();
    Setting *version = settings.setting(QStringLiteral("Version"));
    const QString lastVersion = version->value().toString();
    // The older key's only heir: nothing else in the program reads it.
    Setting *hideAutoSaveWarning = settings.setting(QStringLiteral("Hide Auto Save Warning"));

    if (handler && compareVersions(QStringLiteral("1.10.5"), lastVersion) > 0) {
        Setting oldWarning(
            QStringLiteral("AutoSaveUnsavedWarning"), false, GeneralSettings::group());
        if (handler->hasStoredValue(oldWarning.key())) {
            hideAutoSaveWarning->setValue(oldWarning.value());
            oldWarning.reset();
        }
    }

    if (handler && compareVersions(QStringLiteral("1.8.0"), lastVersion) > 0) {
        Setting scrollFunctionality(
            QStringLiteral("ScrollFunctionality"), QVariant(), GeneralSettings::group());
        if (handler->hasStoredValue(scrollFunctionality.key())) {
            bool ok = false;
            const int mode = scrollFunctionality.value().toInt(&ok);
            if (ok && mode != 1 && rebinder)
                rebinder(mode);
            scrollFunctionality.reset();
        }
    }

    version->setValue(QStringLiteral(VELKORA_VERSION));
}
