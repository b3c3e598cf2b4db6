#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
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
    // Where the settings page shows a key; NotShown keys are kept by the program itself.
    enum Section { NotShown, Files, Saving, Window, Canvas, Images, Gizmo, Notes };

    struct Definition {
        QString name;
        Type type = Type::Any;
        QVariant defaultValue; // invalid for "no default"
        int minimum = 0;
        int maximum = 0;
        // The settings page: untranslated texts (context "GeneralSettings"). An integer with
        // choices is a combo box whose index is the value.
        Section section = NotShown;
        const char *label = nullptr;
        const char *suffix = nullptr;
        QVector<const char *> choices;
    };

    static QString group();
    static QString key(const QString &name);
    static const QVector<Definition> &definitions();
    static const Definition *definition(const QString &name);
    static QString sectionTitle(Section section);
    // "RecentFiles0", "RecentFiles1", ...: one key a recent-file slot.
    static QString recentFileName(int slot);
    // Minutes of "AutoSaveInterval" as a timer interval: 99999 minutes overflow 32 bits, so the
    // product is taken in 64 bits and clamped to the largest interval a timer accepts.
    static int autoSaveIntervalMsecs(qint64 minutes);
    // The rule of intValue() for a value held elsewhere: clamped to the key's range, the default
    // for a value that is not a number.
    static int boundedInt(const Definition &entry, const QVariant &value);

    explicit GeneralSettings(QObject *parent = nullptr);

    // Every reader and writer of a key goes through here, which records that the key is used:
    // a key of the table that nothing asks for is a preference without effect.
    Setting *setting(const QString &name) const;
    QSet<QString> usedNames() const { return m_used; }
    bool boolValue(const QString &name) const;
    // The value clamped to the key's range; a value that is not a number gives the default.
    int intValue(const QString &name) const;
    int intValue(const Setting *setting) const;
    QVariant value(const QString &name) const;

private:
    QHash<QString, Setting *> m_settings;
    mutable QSet<QString> m_used;
};
