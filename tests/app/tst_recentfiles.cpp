#include "app/recentfiles.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settingshandler.h"

#include <QAction>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class tst_RecentFiles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listFollowsUse_data();
    void listFollowsUse();
    void slotCountChanges_data();
    void slotCountChanges();

private:
    // Writes the paths into the settings' recent-file slots, as an earlier run left them.
    void store(const QStringList &paths);
    void setCount(int count);

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsHandler> m_handler;
    std::unique_ptr<GeneralSettings> m_settings;
    int m_run = 0;
};

void tst_RecentFiles::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

void tst_RecentFiles::init()
{
    m_handler = std::make_unique<SettingsHandler>(QStringLiteral("Settings%1").arg(++m_run));
    m_settings = std::make_unique<GeneralSettings>();
}

void tst_RecentFiles::cleanup()
{
    m_settings.reset();
    m_handler.reset();
}

void tst_RecentFiles::store(const QStringList &paths)
{
    for (int slot = 0; slot < paths.size(); ++slot) {
        Setting setting(GeneralSettings::recentFileName(slot), QString(), GeneralSettings::group());
        setting.setValue(paths.at(slot));
    }
}

void tst_RecentFiles::setCount(int count)
{
    m_settings->setting(QStringLiteral("NumOfRecentFiles"))->setValue(count);
}

void tst_RecentFiles::listFollowsUse_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("expected");

    QTest::addRow("a path stored twice is listed once")
        << 3 << QStringList { "/a.vlk", "/a.vlk", "/b.vlk" } << QStringList()
        << QStringList { "/a.vlk", "/b.vlk" };
    QTest::addRow("an empty slot between two is skipped")
        << 3 << QStringList { "/a.vlk", "", "/b.vlk" } << QStringList()
        << QStringList { "/a.vlk", "/b.vlk" };
    QTest::addRow("a listed path used again moves to the front")
        << 3 << QStringList { "/a.vlk", "/b.vlk", "/c.vlk" } << QStringList { "/c.vlk" }
        << QStringList { "/c.vlk", "/a.vlk", "/b.vlk" };
    QTest::addRow("a new path pushes the oldest out")
        << 2 << QStringList { "/a.vlk", "/b.vlk" } << QStringList { "/c.vlk" }
        << QStringList { "/c.vlk", "/a.vlk" };
}

// The list, its menu entries and what the next run reads back agree.
void tst_RecentFiles::listFollowsUse()
{
    QFETCH(int, count);
    QFETCH(QStringList, stored);
    QFETCH(QStringList, added);
    QFETCH(QStringList, expected);
    setCount(count);
    store(stored);

    QStringList opened;
    RecentFiles recent(m_settings.get(), [&opened](const QString &path) { opened << path; });
    for (const QString &path : qAsConst(added))
        recent.add(path);
    QCOMPARE(recent.paths(), expected);

    const QList<QAction *> actions = recent.actions();
    QCOMPARE(actions.size(), count);
    for (int i = 0; i < actions.size(); ++i) {
        QCOMPARE(actions.at(i)->isVisible(), i < expected.size());
        actions.at(i)->trigger();
    }
    QCOMPARE(opened, expected);

    RecentFiles nextRun(m_settings.get(), [](const QString &) {});
    QCOMPARE(nextRun.paths(), expected);
}

void tst_RecentFiles::slotCountChanges_data()
{
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<QStringList>("expected");

    QTest::addRow("fewer slots") << QList<int> { 1 } << QStringList { "/a.vlk" };
    QTest::addRow("fewer, then more again: the dropped stay forgotten")
        << QList<int> { 1, 3 } << QStringList { "/a.vlk" };
    QTest::addRow("more slots") << QList<int> { 5 } << QStringList { "/a.vlk", "/b.vlk", "/c.vlk" };
}

void tst_RecentFiles::slotCountChanges()
{
    QFETCH(QList<int>, counts);
    QFETCH(QStringList, expected);
    setCount(3);
    store({ "/a.vlk", "/b.vlk", "/c.vlk" });
    RecentFiles recent(m_settings.get(), [](const QString &) {});

    for (int count : qAsConst(counts)) {
        setCount(count);
        QCOMPARE(recent.actions().size(), count);
    }
    QCOMPARE(recent.paths(), expected);
    for (int slot = expected.size(); slot < 3; ++slot)
        QVERIFY(!m_handler->hasStoredValue(
            GeneralSettings::key(GeneralSettings::recentFileName(slot))));
}

QTEST_MAIN(tst_RecentFiles)
#include "tst_recentfiles.moc"
