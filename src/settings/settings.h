#pragma once

#include <QSettings>

// The INI store behind every Setting. Organisation = the settings base name, no application name,
// so the file is "<base name>.ini" in the INI directory chosen at start-up.
class Settings : public QSettings {
    Q_OBJECT

public:
    explicit Settings(const QString &baseName, QObject *parent = nullptr);
};
