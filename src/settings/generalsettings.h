#pragma once

#include <QHash>
#include <QObject>
#include <QVariant>
#include <QVector>

class Setting;

// The keys of the "General Settings" group: every preference of the application shell with its
// type, default and the range the settings page offers. The main window holds one GeneralSettings
// (a Setting a key); other owners may create further Settings of the same keys.
//
// Integers read from the file are clamped to their range when used, never rewritten: a value
// typed into the file by hand stays as it was typed.
class GeneralSettings : public QObject {
    Q_OBJECT

public:
    enum class Type { Bool, Int, Text, Any };

    struct Definition {
        QString name;
        Type type;
        QVariant defaultValue; // invalid for "no default"
        int minimum = 0;
        int maximum = 0;
    };

    static QString group();
    static QString key(const QString &name);
    static const QVector<Definition> &definitions();
    static const Definition *definition(const QString &name);
    // "RecentFiles0", "RecentFiles1", ...: one key a recent-file slot.
    static QString recentFileName(int slot);
    // Minutes of "AutoSaveInterval" as a timer interval: 99999 minutes overflow 32 bits, so the
    // product is taken in 64 bits and clamped to the largest interval a timer accepts.
    static int autoSaveIntervalMsecs(qint64 minutes);

    explicit GeneralSettings(QObject *parent = nullptr);

    Setting *setting(const QString &name) const;
    bool boolValue(const QString &name) const;
    // The value clamped to the key's range; a value that is not a number gives the default.
    int intValue(const QString &name) const;
    QVariant value(const QString &name) const;

private:
    QHash<QString, Setting *> m_settings;
};
