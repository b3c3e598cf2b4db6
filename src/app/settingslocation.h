#pragma once

#include <QString>

// Where the settings file lives: "<baseName>.ini" in iniDirectory, or in the toolkit's per-user
// INI directory when iniDirectory is empty (~/.config on Linux).
struct SettingsLocation {
    QString baseName;
    QString iniDirectory;

    // settingsOption is the value of "--settings" (null when not given). Without it, a settings
    // file next to the executable wins, so the program can run from a portable folder.
    static SettingsLocation locate(const QString &settingsOption, const QString &applicationDir);

    // Points the toolkit's user-scope INI path at iniDirectory when one was chosen.
    void apply() const;
};
