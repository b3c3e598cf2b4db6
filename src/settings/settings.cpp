#include "settings/settings.h"

Settings::Settings(const QString &baseName, QObject *parent)
    : QSettings(QSettings::IniFormat, QSettings::UserScope, baseName, QString(), parent)
{
}
