#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>

class GeneralSettings;
class QAction;
class Setting;

// The boards opened or saved last, newest first and each once: kept in the settings, one
// "RecentFiles%0" slot each, as many slots as "NumOfRecentFiles" says, and offered as one action
// each for the menu. GUI thread only.
class RecentFiles : public QObject {
    Q_OBJECT

public:
    // open: what an entry's action does with its path.
    RecentFiles(GeneralSettings *settings, std::function<void(const QString &path)> open,
        QObject *parent = nullptr);

    QStringList paths() const { return m_paths; }
    // One entry per slot; those without a file are hidden.
    QList<QAction *> actions() const { return m_actions; }

public slots:
    void add(const QString &path);
    void open(int index);
    // Makes as many slots as the settings ask for and reads their paths again.
    void updateCount();

private:
    void store();
    void syncActions();

    GeneralSettings *m_settings;
    std::function<void(const QString &)> m_open;
    QStringList m_paths;
    QList<Setting *> m_slots;
    QList<QAction *> m_actions;
};
