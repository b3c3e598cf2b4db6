#include "app/mainwindow.h"
#include "app/mainwindowactions.h"
#include "app/windowmodes.h"
#include "input/action.h"
#include "scene/graphicsscene.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settingshandler.h"
#include "ui/colorcustomizer.h"
#include "ui/mainframe.h"
#include "view/graphicsview.h"

#include <QLabel>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The window modes and locks of the main window: transparent to the mouse, overlay, both, the
// locks, and what is remembered of them.
class tst_WindowModes : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void transitions_data();
    void transitions();
    void overlayBeforeShowWaitsForTheShow();
    void closingInOverlayLeavesItOff();
    void windowLockWhileMaximized_data();
    void windowLockWhileMaximized();
    void canvasLockIconAndNotices();
    void presetRepaintsTheCanvas();
    void resizeToSelectionTwiceIsOnce();
    void masterOpacitySteps_data();
    void masterOpacitySteps();

private:
    void setting(const char *name, const QVariant &value);
    QVariant value(const char *name) const;

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsHandler> m_handler;
    MainWindow *m_window = nullptr;
    WindowModes *m_modes = nullptr;
    int m_run = 0;
};

void tst_WindowModes::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

void tst_WindowModes::init()
{
    m_handler = std::make_unique<SettingsHandler>(QStringLiteral("Modes%1").arg(++m_run));
    m_window = new MainWindow;
    m_modes = m_window->windowModes();
    // The questions are answered "go on" without being shown.
    setting("Hide Transparent To Mouse Warning", true);
    setting("Hide Overlay Mode Warning", true);
}

void tst_WindowModes::cleanup()
{
    setting("Hide Unsaved Warning", true);
    delete m_window;
    m_handler.reset();
}

void tst_WindowModes::setting(const char *name, const QVariant &value)
{
    m_window->generalSettings()->setting(QString::fromLatin1(name))->setValue(value);
}

QVariant tst_WindowModes::value(const char *name) const
{
    return m_window->generalSettings()->value(QString::fromLatin1(name));
}

void tst_WindowModes::transitions_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<bool>("force");

    for (int from = 0; from < 4; ++from) {
        for (int to = 0; to < 4; ++to) {
            for (const bool force : { true, false })
                QTest::addRow("%d to %d%s", from, to, force ? ", forced" : "")
                    << from << to << force;
        }
    }
}

void tst_WindowModes::transitions()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(bool, force);

    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    MainFrame *frame = m_window->frame();
    QVERIFY(!frame->isAlwaysOnTop());
    m_modes->setWindowMode(from);
    QCOMPARE(m_modes->isMouseTransparent(), bool(from & 1));
    QCOMPARE(m_modes->isOverlay(), bool(from & 2));

    m_modes->setMouseTransparent(to & 1, force);
    m_modes->setOverlay(to & 2, force);
    QCOMPARE(m_modes->isMouseTransparent(), bool(to & 1));
    QCOMPARE(m_modes->isOverlay(), bool(to & 2));
    QCOMPARE(m_window->view()->isOverlayMode(), bool(to & 2));
    QCOMPARE(bool(m_window->windowFlags() & Qt::WindowTransparentForInput), bool(to & 1));
    // Click-through keeps the window on top while it lasts, then gives the old state back.
    QCOMPARE(frame->isAlwaysOnTop(), bool(to & 1));
    QCOMPARE(frame->isLocked(), bool(to & 2));
    QCOMPARE(value("LastWindowMode").toInt(), to);
    QCOMPARE(m_modes->overlayAction()->isChecked(), bool(to & 2));
    QCOMPARE(m_modes->mouseTransparentAction()->isChecked(), bool(to & 1));
}

void tst_WindowModes::overlayBeforeShowWaitsForTheShow()
{
    // The window shows itself when it is made; a start-up request comes before that.
    m_window->hide();
    m_modes->setOverlay(true, true);
    QVERIFY(!m_modes->isOverlay());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QTRY_VERIFY(m_modes->isOverlay());
    QCOMPARE(m_window->view()->canvasColor().alpha(), 0);
}

void tst_WindowModes::closingInOverlayLeavesItOff()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_modes->setWindowMode(WindowModes::OverlayAndMouseTransparent);
    QCOMPARE(value("LastWindowMode").toInt(), 3);
    QVERIFY(m_window->close());
    // Deleted on close: the test's cleanup must not delete it again.
    m_window = nullptr;
    QSettings stored(QSettings::IniFormat, QSettings::UserScope,
        QStringLiteral("Modes%1").arg(m_run), QString());
    QCOMPARE(stored.value(QStringLiteral("General_Settings/LastWindowMode")).toInt(), 1);
    m_window = new MainWindow;
}

void tst_WindowModes::windowLockWhileMaximized_data()
{
    QTest::addColumn<bool>("maximized");
    QTest::addColumn<bool>("lockWhileMaximized");
    QTest::addColumn<bool>("unlocks");

    QTest::addRow("normal window") << false << true << true;
    QTest::addRow("maximized") << true << false << true;
    QTest::addRow("maximized and locked while maximized") << true << true << false;
}

void tst_WindowModes::windowLockWhileMaximized()
{
    QFETCH(bool, maximized);
    QFETCH(bool, lockWhileMaximized);
    QFETCH(bool, unlocks);

    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_modes->setWindowLocked(true);
    setting("LockWhileMaximized", lockWhileMaximized);
    if (maximized) {
        m_window->frame()->maximize(true);
        QTRY_VERIFY(m_window->frame()->isMaximized());
    }
    m_modes->setWindowLocked(false);
    QCOMPARE(value("WindowLocked").toBool(), !unlocks);
}

void tst_WindowModes::canvasLockIconAndNotices()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QSignalSpy notices(m_window, &MainWindow::popupRequested);
    m_modes->setCanvasLocked(true);
    QVERIFY(m_window->view()->isCanvasLocked());
    QCOMPARE(notices.takeFirst().first().toString(), QStringLiteral("Canvas locked"));
    // An edit attempted meanwhile says why it does not happen.
    m_window->actions()->action(QStringLiteral("New Note"))->trigger();
    QCOMPARE(notices.takeFirst().first().toString(), QStringLiteral("Canvas locked"));
    QVERIFY(m_window->scene()->topLevelItems().isEmpty());
    auto *icon = m_window->view()->findChild<QLabel *>();
    QVERIFY(icon && icon->isVisible());
    QCOMPARE(icon->toolTip(), QStringLiteral("Canvas locked, unlock with Ctrl+L."));
    m_modes->setCanvasLocked(false);
    QVERIFY(!icon->isVisible());
    QCOMPARE(notices.takeFirst().first().toString(), QStringLiteral("Canvas unlocked"));
}

void tst_WindowModes::presetRepaintsTheCanvas()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    const QColor dark(42, 42, 42);
    const QColor light(234, 234, 234);
    const auto canvasPixel
        = [this] { return m_window->view()->viewport()->grab().toImage().pixelColor(5, 5); };
    QCOMPARE(m_window->view()->canvasColor(), dark);
    QCOMPARE(canvasPixel(), dark);
    m_window->frame()->colorCustomizer()->updatePreset(QStringLiteral("light"));
    QCOMPARE(m_window->view()->canvasColor(), light);
    QCOMPARE(canvasPixel(), light);
}

void tst_WindowModes::resizeToSelectionTwiceIsOnce()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    GraphicsView *view = m_window->view();
    QVERIFY(view->createNote(view->viewport()->rect().center()));
    view->setEditedNote(nullptr);
    const QRect before = m_window->geometry();
    m_modes->resizeToSelection();
    QTRY_VERIFY(m_window->geometry() != before);
    const QRect fitted = m_window->geometry();
    QVERIFY(fitted.width() < before.width());
    // The window already shows just the selection: nothing moves.
    m_modes->resizeToSelection();
    QCoreApplication::processEvents();
    QCOMPARE(m_window->geometry(), fitted);
}

void tst_WindowModes::masterOpacitySteps_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("expected");

    QTest::addRow("up to the top") << 99 << 1 << 100;
    QTest::addRow("up at the top") << 100 << 1 << 100;
    QTest::addRow("down to the bottom") << 31 << -1 << 30;
    QTest::addRow("down at the bottom") << 30 << -1 << 30;
    QTest::addRow("a step from a value floats cannot hold") << 58 << 1 << 60;
}

void tst_WindowModes::masterOpacitySteps()
{
    QFETCH(int, start);
    QFETCH(int, step);
    QFETCH(int, expected);

    ColorCustomizer *colors = m_window->frame()->colorCustomizer();
    colors->setMasterOpacity(start);
    if (step > 0)
        m_modes->increaseMasterOpacity();
    else
        m_modes->decreaseMasterOpacity();
    QCOMPARE(qRound(colors->masterOpacity() * 100), expected);
    QCOMPARE(qRound(m_window->windowOpacity() * 100), expected);
}

QTEST_MAIN(tst_WindowModes)
#include "tst_windowmodes.moc"
