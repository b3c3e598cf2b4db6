#include "settings/settingshandler.h"

#include "settings/setting.h"
#include "settings/settings.h"

namespace {
SettingsHandler *s_instance = nullptr;
}

SettingsHandler::SettingsHandler(const QString &baseName, QObject *parent)
    : QObject(parent)
    , m_store(std::make_unique<Settings>(baseName))
{
    Q_ASSERT(!s_instance);
    s_instance = this;
    qRegisterMetaType<Setting *>("Setting*");
}

SettingsHandler::~SettingsHandler()
{
    if (s_instance == this)
        s_instance = nullptr;
}

SettingsHandler *SettingsHandler::instance()
{
    return s_instance;
}

QString SettingsHandler::storageKey(const QString &key)
{
    QString stored = key;
    stored.replace(QLatin1Char(' '), QLatin1Char('_'));
    return stored;
}

bool SettingsHandler::hasStoredValue(const QString &key) const
{
    return m_store->contains(storageKey(key));
}

void SettingsHandler::registerSetting(Setting *setting)
{
    const QString key = setting->key();
    const QVariant stored = m_store->value(storageKey(key));
    const bool newKey = !m_settings.contains(key);
    m_settings[key].append(setting);
    if (stored.isValid())
        setting->assign(stored);
    if (newKey)
        emit settingAdded(setting);
}

void SettingsHandler::unregisterSetting(Setting *setting)
{
    const auto it = m_settings.find(setting->key());
    if (it == m_settings.end())
        return;
    it->removeAll(setting);
    if (it->isEmpty()) {
        m_settings.erase(it);
        emit settingRemoved(setting);
    }
}

void SettingsHandler::setValue(const QString &key, const QVariant &value)
{
    const QList<Setting *> settings = m_settings.value(key);
    if (settings.isEmpty())
        return;
    for (Setting *setting : settings)
        setting->assign(value);
    // Store what the settings hold: a value they refused to convert must not reach the file.
    m_store->setValue(storageKey(key), settings.first()->value());
}

void SettingsHandler::reset(const QString &key)
{
    const QList<Setting *> settings = m_settings.value(key);
    if (settings.isEmpty())
        return;
    m_store->remove(storageKey(key));
    for (Setting *setting : settings)
        setting->assign(setting->defaultValue());
}

void SettingsHandler::sync()
{
    m_store->sync();
}
