#include "app/recentfiles.h"

#include "settings/generalsettings.h"
#include "settings/setting.h"

#include <QAction>

#include <utility>

RecentFiles::RecentFiles(
    GeneralSettings *settings, std::function<void(const QString &path)> open, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_open(std::move(open))
{
    connect(m_settings->setting(QStringLiteral("NumOfRecentFiles")), &Setting::changed, this,
        &RecentFiles::updateCount);
    updateCount();
}

void RecentFiles::updateCount()
{
    const int count = m_settings->intValue(QStringLiteral("NumOfRecentFiles"));
    while (m_slots.size() < count) {
        const int slot = m_slots.size();
        m_slots.append(new Setting(
            GeneralSettings::recentFileName(slot), QString(), GeneralSettings::group(), {}, this));
        auto *action = new QAction(this);
        connect(action, &QAction::triggered, this, [this, slot] { open(slot); });
        m_actions.append(action);
    }
    // Slots beyond the new length are forgotten, in the file too.
    while (m_slots.size() > count) {
        Setting *setting = m_slots.takeLast();
        setting->reset();
        delete setting;
        delete m_actions.takeLast();
    }
    m_paths.clear();
    for (Setting *setting : qAsConst(m_slots)) {
        const QString path = setting->value().toString();
        if (!path.isEmpty() && !m_paths.contains(path))
            m_paths.append(path);
    }
    syncActions();
}

void RecentFiles::add(const QString &path)
{
    for (int i = 0; i < m_paths.size(); ++i) {
        if (m_paths.at(i) == path || m_paths.at(i).isEmpty()) {
            m_paths.removeAt(i);
            break;
        }
    }
    m_paths.prepend(path);
    const int count = m_settings->intValue(QStringLiteral("NumOfRecentFiles"));
    while (m_paths.size() > count)
        m_paths.removeLast();
    store();
    syncActions();
}

void RecentFiles::open(int index)
{
    const QString path = m_paths.value(index);
    if (!path.isEmpty())
        m_open(path);
}

void RecentFiles::store()
{
    for (int i = 0; i < m_slots.size(); ++i) {
        if (i < m_paths.size())
            m_slots.at(i)->setValue(m_paths.at(i));
        else
            m_slots.at(i)->reset();
    }
}

void RecentFiles::syncActions()
{
    for (int i = 0; i < m_actions.size(); ++i) {
        const QString path = m_paths.value(i);
        m_actions.at(i)->setText(path);
        m_actions.at(i)->setVisible(!path.isEmpty());
    }
}
