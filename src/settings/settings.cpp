#include "settings/settings.h"

#include "settings/settingsfileguard.h"

Settings::Settings(const QString &baseName, QObject *parent)
    : QSettings(QSettings::IniFormat, QSettings::UserScope, baseName, QString(), parent)
{
    // Opening reads the file's lines without their values, so it is still safe to mend here; a
    // sync reads the shorter file again.
    if (!SettingsFileGuard::repair(fileName()).isEmpty())
        sync();
}
