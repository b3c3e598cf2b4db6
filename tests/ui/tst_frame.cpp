#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settingshandler.h"
#include "ui/frame.h"
#include "ui/mainframe.h"
#include "ui/popuplabel.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <memory>

// The frame of a frameless window driven through the action handler with real input events:
// moving past the threshold, resizing at the border, the locks, the stacking modes and their
// popups, maximising and back.
class tst_Frame : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void rightDragMoves_data();
    void rightDragMoves();
    void borderDragResizes_data();
    void borderDragResizes();
    void stackingModesExcludeEachOther_data();
    void stackingModesExcludeEachOther();
    void maximizeAndBack_data();
    void maximizeAndBack();
    void mainWindowPlace_data();
    void mainWindowPlace();

private:
    QWindow *handle() const { return m_window->windowHandle(); }
    void moveTo(const QPoint &global, Qt::MouseButtons held = Qt::NoButton);
    void settle();
    // Every popup heading shown from now on, in order, running the popup's clock to the end.
    QStringList drainPopups();

    std::unique_ptr<QWidget> m_window;
    Frame *m_frame = nullptr;
};

void tst_Frame::init()
{
    m_window = std::make_unique<QWidget>(nullptr, Qt::Window);
    m_window->setMinimumSize(120, 100);
    m_frame = new Frame(m_window.get());
    m_frame->setContent(new QLabel(QStringLiteral("content")));
    auto *layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_frame);
    m_window->setGeometry(200, 150, 400, 300);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    settle();
}

void tst_Frame::cleanup()
{
    QTest::mouseRelease(handle(), Qt::LeftButton);
    QTest::mouseRelease(handle(), Qt::RightButton);
    m_window.reset();
    QGuiApplication::restoreOverrideCursor();
}

void tst_Frame::settle()
{
    // The action handler decides continuous actions in queued calls after each event.
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

void tst_Frame::moveTo(const QPoint &global, Qt::MouseButtons held)
{
    Q_UNUSED(held)
    // The window may have moved since the last event: aim at the screen point.
    QTest::mouseMove(handle(), handle()->mapFromGlobal(global));
    settle();
}

QStringList tst_Frame::drainPopups()
{
    QStringList headings;
    PopupLabel *popup = m_frame->popupLabel();
    for (int step = 0; step < 2000 && (popup->isRunning() || popup->queuedCount() > 0); ++step) {
        if (headings.value(headings.size() - 1) != popup->heading() && !popup->heading().isEmpty())
            headings.append(popup->heading());
        popup->tick();
    }
    return headings;
}

void tst_Frame::rightDragMoves_data()
{
    QTest::addColumn<int>("travel");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<bool>("moves");

    QTest::addRow("exactly the threshold: stays") << 5 << false << false;
    QTest::addRow("one pixel further: follows from the next move") << 6 << false << true;
    QTest::addRow("locked window: stays") << 40 << true << false;
}

void tst_Frame::rightDragMoves()
{
    QFETCH(int, travel);
    QFETCH(bool, locked);
    QFETCH(bool, moves);

    m_frame->setLocked(locked);
    const QPoint before = m_window->pos();
    const QPoint start = m_window->geometry().center();
    moveTo(start);
    QTest::mousePress(handle(), Qt::RightButton, Qt::NoModifier, handle()->mapFromGlobal(start));
    settle();
    // Passing the threshold starts the move; nothing moves in that same update.
    moveTo(start + QPoint(travel, 0), Qt::RightButton);
    QCOMPARE(m_window->pos(), before);
    QCOMPARE(m_frame->isMoving(), moves);
    if (!moves) {
        QTest::mouseRelease(
            handle(), Qt::RightButton, Qt::NoModifier, handle()->mapFromGlobal(start));
        settle();
        QCOMPARE(m_window->pos(), before);
        return;
    }
    moveTo(start + QPoint(travel + 30, 20), Qt::RightButton);
    QTRY_COMPARE(m_window->pos(), before + QPoint(travel + 30, 20));
    QTest::mouseRelease(handle(), Qt::RightButton, Qt::NoModifier,
        handle()->mapFromGlobal(start + QPoint(travel + 30, 20)));
    settle();
    QVERIFY(!m_frame->isMoving());
}

void tst_Frame::borderDragResizes_data()
{
    QTest::addColumn<QPoint>("press"); // relative to the window's top-left
    QTest::addColumn<QPoint>("drag");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QRect>("expected"); // relative to the window's geometry before
    QTest::addColumn<int>("cursor");

    const QRect same(0, 0, 400, 300);
    QTest::addRow("bottom-right corner outward grows, top-left fixed") << QPoint(
        398, 298) << QPoint(40, 30) << false << QRect(0, 0, 440, 330) << int(Qt::SizeFDiagCursor);
    QTest::addRow("top-left corner inward stops at the minimum, bottom-right fixed") << QPoint(1,
        1) << QPoint(2000, 2000) << false << QRect(280, 200, 120, 100) << int(Qt::SizeFDiagCursor);
    QTest::addRow("exactly the border width inside the left edge still counts") << QPoint(
        10, 150) << QPoint(-50, 0) << false << QRect(-50, 0, 450, 300) << int(Qt::SizeHorCursor);
    QTest::addRow("one pixel further in is the content")
        << QPoint(11, 150) << QPoint(-50, 0) << false << same << int(Qt::ArrowCursor);
    QTest::addRow("the title strip at the top edge shows the arrow and does not resize")
        << QPoint(200, 6) << QPoint(0, -50) << false << same << int(Qt::ArrowCursor);
    QTest::addRow("locked: no cursor, no resize")
        << QPoint(398, 298) << QPoint(40, 30) << true << same << int(Qt::ArrowCursor);
}

void tst_Frame::borderDragResizes()
{
    QFETCH(QPoint, press);
    QFETCH(QPoint, drag);
    QFETCH(bool, locked);
    QFETCH(QRect, expected);
    QFETCH(int, cursor);

    m_frame->setLocked(locked);
    const QRect before = m_window->geometry();
    const QPoint start = before.topLeft() + press;
    // Hovering decides the edges and the cursor; the press then starts the resize.
    moveTo(start + QPoint(press.x() > 200 ? -1 : 1, 0));
    moveTo(start);
    const QCursor *override = QGuiApplication::overrideCursor();
    QCOMPARE(override ? int(override->shape()) : int(Qt::ArrowCursor), cursor);

    QTest::mousePress(handle(), Qt::LeftButton, Qt::NoModifier, handle()->mapFromGlobal(start));
    settle();
    moveTo(start + drag / 2, Qt::LeftButton);
    moveTo(start + drag, Qt::LeftButton);
    QTest::mouseRelease(
        handle(), Qt::LeftButton, Qt::NoModifier, handle()->mapFromGlobal(start + drag));
    settle();
    QTRY_COMPARE(m_window->geometry(), expected.translated(before.topLeft()));
    QVERIFY(!m_frame->isResizing());
}

void tst_Frame::stackingModesExcludeEachOther_data()
{
    QTest::addColumn<QString>("steps"); // T/t: top on/off, B/b: bottom on/off
    QTest::addColumn<bool>("popupsEnabled");
    QTest::addColumn<int>("stacking");
    QTest::addColumn<QStringList>("popups");

    const auto stays = [](Qt::WindowType hint) { return int(hint); };
    QTest::addRow("on top over at bottom: bottom goes first, both reported in order")
        << "BT" << true << stays(Qt::WindowStaysOnTopHint)
        << QStringList { "Always on bottom enabled", "Always on bottom disabled",
               "Always on top enabled" };
    QTest::addRow("at bottom over on top")
        << "TB" << true << stays(Qt::WindowStaysOnBottomHint)
        << QStringList { "Always on top enabled", "Always on top disabled",
               "Always on bottom enabled" };
    QTest::addRow("twice on top: the second replaces the first at once")
        << "Tt" << true << 0 << QStringList { "Always on top enabled", "Always on top disabled" };
    QTest::addRow("at bottom on and off again")
        << "Bb" << true << 0
        << QStringList { "Always on bottom enabled", "Always on bottom disabled" };
    QTest::addRow("popups off: modes change, nothing shown")
        << "BT" << false << stays(Qt::WindowStaysOnTopHint) << QStringList();
}

void tst_Frame::stackingModesExcludeEachOther()
{
    QFETCH(QString, steps);
    QFETCH(bool, popupsEnabled);
    QFETCH(int, stacking);
    QFETCH(QStringList, popups);

    m_frame->setPopupEnabled(popupsEnabled);
    QStringList shown;
    for (const QChar step : qAsConst(steps)) {
        const bool on = step.isUpper();
        if (step.toUpper() == QLatin1Char('T'))
            m_frame->setAlwaysOnTop(on);
        else
            m_frame->setAlwaysOnBottom(on);
        // Same-category notices replace each other at once: record what each step showed.
        if (!m_frame->popupLabel()->heading().isEmpty()
            && shown.value(shown.size() - 1) != m_frame->popupLabel()->heading())
            shown.append(m_frame->popupLabel()->heading());
    }
    for (const QString &heading : drainPopups()) {
        if (shown.value(shown.size() - 1) != heading)
            shown.append(heading);
    }
    QCOMPARE(shown, popups);

    const Qt::WindowFlags flags = m_window->windowFlags();
    const int actual = (flags & Qt::WindowStaysOnTopHint) ? int(Qt::WindowStaysOnTopHint)
        : (flags & Qt::WindowStaysOnBottomHint)           ? int(Qt::WindowStaysOnBottomHint)
                                                          : 0;
    QCOMPARE(actual, stacking);
    QCOMPARE(m_frame->alwaysOnTopAction()->isChecked(), m_frame->isAlwaysOnTop());
    QCOMPARE(m_frame->alwaysOnBottomAction()->isChecked(), m_frame->isAlwaysOnBottom());
    QVERIFY(!(m_frame->isAlwaysOnTop() && m_frame->isAlwaysOnBottom()));
    // The native window was changed in place, not re-created.
    QVERIFY(m_window->isVisible());
}

void tst_Frame::maximizeAndBack_data()
{
    QTest::addColumn<bool>("byWindowSystem");
    QTest::addColumn<bool>("lockWhileMaximized");

    QTest::addRow("by the frame") << false << false;
    QTest::addRow("by the frame, locked while maximized") << false << true;
    QTest::addRow("by the window system") << true << false;
}

void tst_Frame::maximizeAndBack()
{
    QFETCH(bool, byWindowSystem);
    QFETCH(bool, lockWhileMaximized);

    m_frame->setLockWhileMaximized(lockWhileMaximized);
    QSignalSpy changes(m_frame, &Frame::maximizedChanged);
    const QRect normal = m_window->geometry();
    if (byWindowSystem)
        m_window->showMaximized();
    else
        m_frame->maximize(true);
    QTRY_VERIFY(m_frame->isMaximized());
    QCOMPARE(changes.count(), 1);
    QVERIFY(m_frame->maximizeAction()->isChecked());
    QCOMPARE(m_frame->popupLabel()->heading(), QStringLiteral("Maximize enabled"));
    QCOMPARE(m_frame->isLocked(), lockWhileMaximized);

    m_frame->maximize(false);
    QTRY_COMPARE(m_window->geometry(), normal);
    QVERIFY(!m_frame->isMaximized());
    QVERIFY(!m_frame->maximizeAction()->isChecked());
    QVERIFY(!m_frame->isLocked());
    QCOMPARE(changes.count(), 2);
}

void tst_Frame::mainWindowPlace_data()
{
    QTest::addColumn<QVariant>("position");
    QTest::addColumn<QVariant>("size");
    QTest::addColumn<QRect>("expected"); // null: the first-start geometry

    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    QTest::addRow("first start") << QVariant() << QVariant() << QRect();
    QTest::addRow("stored place and size")
        << QVariant(QPoint(30, 40)) << QVariant(QSize(300, 200)) << QRect(30, 40, 300, 200);
    QTest::addRow("a size no screen holds is cut to the screens")
        << QVariant(QPoint(0, 0)) << QVariant(QSize(100000, 90000)) << QRect(QPoint(), screen);
    QTest::addRow("unreadable values count as none")
        << QVariant(QStringLiteral("left")) << QVariant(QStringLiteral("big")) << QRect();
}

void tst_Frame::mainWindowPlace()
{
    QFETCH(QVariant, position);
    QFETCH(QVariant, size);
    QFETCH(QRect, expected);

    QTemporaryDir dir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    SettingsHandler handler(QStringLiteral("Place"));
    GeneralSettings settings;
    settings.setting(QStringLiteral("Position"))->setValue(position);
    settings.setting(QStringLiteral("Size"))->setValue(size);

    QWidget window(nullptr, Qt::Window);
    auto *frame = new MainFrame(&settings, &window);
    frame->restoreWindowState();
    if (expected.isNull())
        expected
            = MainFrame::defaultGeometry(QGuiApplication::primaryScreen()->availableGeometry());
    QCOMPARE(window.geometry(), expected);

    // What the next start reads back is where the window was left.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.setGeometry(60, 70, 320, 240);
    QTRY_COMPARE(window.geometry(), QRect(60, 70, 320, 240));
    frame->storeWindowState();
    QCOMPARE(settings.value(QStringLiteral("Position")).toPoint(), QPoint(60, 70));
    QCOMPARE(settings.value(QStringLiteral("Size")).toSize(), QSize(320, 240));
    QCOMPARE(settings.boolValue(QStringLiteral("Maximized")), false);
}

QTEST_MAIN(tst_Frame)
#include "tst_frame.moc"
