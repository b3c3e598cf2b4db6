#include "app/settingslocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

SettingsLocation SettingsLocation::locate(
    const QString &settingsOption, const QString &applicationDir)
{
    SettingsLocation location;
    location.baseName = QStringLiteral("Velkora");

    if (!settingsOption.isNull()) {
        const QFileInfo info(settingsOption);
        const QString fileName = info.fileName();
        if (!fileName.isEmpty()) {
            location.baseName = fileName;
            if (info.suffix() == QLatin1String("ini"))
                location.baseName.chop(4);
        }
        location.iniDirectory = info.absolutePath();
        return location;
    }

    if (QFileInfo::exists(QDir(applicationDir).filePath(location.baseName + QLatin1String(".ini"))))
        location.iniDirectory = applicationDir;
    return location;
}

void SettingsLocation::apply() const
{
    if (!iniDirectory.isEmpty())
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, iniDirectory);
}
