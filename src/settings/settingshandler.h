#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QVariant>

#include <memory>

class Setting;
class Settings;

// The one settings handler of the process: owns the store, knows every live Setting by key,
// loads stored values into new settings and writes changes back. Its instance() is published
// from construction to destruction. GUI thread only.
class SettingsHandler : public QObject {
    Q_OBJECT

public:
    explicit SettingsHandler(const QString &baseName, QObject *parent = nullptr);
    ~SettingsHandler() override;

    static SettingsHandler *instance();

    // INI keys cannot hold spaces portably: "General Settings/Embed Local Files" is stored as
    // "General_Settings/Embed_Local_Files".
    static QString storageKey(const QString &key);

    Settings *store() const { return m_store.get(); }
    QList<Setting *> settingsOf(const QString &key) const { return m_settings.value(key); }

    bool hasStoredValue(const QString &key) const;

    void registerSetting(Setting *setting);
    void unregisterSetting(Setting *setting);
    void setValue(const QString &key, const QVariant &value);
    void reset(const QString &key);
    void sync();

signals:
    void settingAdded(Setting *newSetting);
    void settingRemoved(Setting *removedSetting);

private:
    std::unique_ptr<Settings> m_store;
    QHash<QString, QList<Setting *>> m_settings;
};
