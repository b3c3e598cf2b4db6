#include "input/action.h"
#include "input/actioncondition.h"
#include "input/actionhandler.h"
#include "input/conflictingbindingscondition.h"

#include <QWidget>
#include <QtTest>

#include <memory>

// Input reaches the handler as it would from the window system: through the window, so that the
// toolkit records held buttons and delivers keys to the focus widget and then its parents.
// Counts the input that gets through to it.
class Recorder : public QWidget {
public:
    using QWidget::QWidget;
    int keyPresses = 0;
    int mouseMoves = 0;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        // Counted, then left to the parents, as a plain widget does.
        ++keyPresses;
        event->ignore();
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        ++mouseMoves;
        event->accept();
    }
};

class tst_ActionHandler : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void keyPressReachingThreeWidgetsCountsOnce();
    void shiftDuringDragTransitions();
    void keyConditionComparesModifiersExactly_data();
    void keyConditionComparesModifiersExactly();
    void earlierTriggeredActionWins();
    void deactivationEndsContinuousAction();
    void destroyedConditionNoLongerBlocks();
    void blockingRestoresEnabledStates_data();
    void blockingRestoresEnabledStates();
    void ignoredReceiverFiresNothing();
    void hoverActionRunsWithoutButtons();
    void removingRunningActionEndsIt();
    void irrelevantConditionDoesNotStopBinding_data();
    void irrelevantConditionDoesNotStopBinding();
    void consumingActionSwallowsInput();

private:
    Action *continuous(
        const QString &name, const QKeySequence &keys, Qt::MouseButtons buttons, int flags = 0);
    Action *triggered(const QString &name, const QKeySequence &keys);
    QWindow *window() const { return m_window->windowHandle(); }

    std::unique_ptr<QWidget> m_window;
    QWidget *m_child = nullptr;
    QWidget *m_grandchild = nullptr;
};

void tst_ActionHandler::init()
{
    m_window = std::make_unique<QWidget>();
    m_window->resize(300, 200);
    m_child = new QWidget(m_window.get());
    m_child->setGeometry(0, 0, 300, 200);
    m_grandchild = new Recorder(m_child);
    m_grandchild->setGeometry(0, 0, 300, 200);
    m_grandchild->setFocusPolicy(Qt::StrongFocus);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    m_grandchild->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), m_grandchild);
}

void tst_ActionHandler::cleanup()
{
    m_window.reset();
    ActionHandler *handler = ActionHandler::instance();
    handler->resetKeyState();
    QVERIFY(handler->actions().isEmpty());
    QVERIFY(!handler->currentContinuousAction());
}

Action *tst_ActionHandler::continuous(
    const QString &name, const QKeySequence &keys, Qt::MouseButtons buttons, int flags)
{
    return ActionHandler::instance()->createAction(
        name, name, m_window.get(), ActionBinding(ActionBinding::Continuous, keys, buttons), flags);
}

Action *tst_ActionHandler::triggered(const QString &name, const QKeySequence &keys)
{
    return ActionHandler::instance()->createAction(
        name, name, m_window.get(), ActionBinding(ActionBinding::Triggered, keys));
}

void tst_ActionHandler::keyPressReachingThreeWidgetsCountsOnce()
{
    Action *zoom = continuous(QStringLiteral("zoom"), QKeySequence(Qt::Key_Z), Qt::NoButton);
    QSignalSpy begins(zoom, &Action::continuousBegin);
    QSignalSpy ends(zoom, &Action::continuousEnd);

    // Plain widgets ignore keys, so the press travels from the focus widget up to the window.
    QTest::keyPress(window(), Qt::Key_Z);
    QTRY_COMPARE(begins.count(), 1);
    const QList<QObject *> receivers
        = ActionHandler::instance()->deferredContextCondition()->receivers();
    QVERIFY(receivers.contains(m_grandchild));
    QVERIFY(receivers.contains(m_child));
    QVERIFY(receivers.contains(m_window.get()));

    QTest::keyRelease(window(), Qt::Key_Z);
    QTRY_COMPARE(ends.count(), 1);
    QCOMPARE(begins.count(), 1);
}

void tst_ActionHandler::shiftDuringDragTransitions()
{
    Action *move = continuous(QStringLiteral("move"), QKeySequence(), Qt::LeftButton);
    Action *snapped
        = continuous(QStringLiteral("snapped move"), QKeySequence(int(Qt::SHIFT)), Qt::LeftButton);
    QSignalSpy moveBegins(move, &Action::continuousBegin);
    QSignalSpy moveEnds(move, &Action::continuousEnd);
    QSignalSpy snappedBegins(snapped, &Action::continuousBegin);
    QSignalSpy snappedEnds(snapped, &Action::continuousEnd);

    QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QTRY_COMPARE(moveBegins.count(), 1);
    QCOMPARE(moveBegins.at(0).at(1).value<Action *>(), nullptr);

    QTest::keyPress(window(), Qt::Key_Shift);
    QTRY_COMPARE(snappedBegins.count(), 1);
    QCOMPARE(moveEnds.count(), 1);
    QCOMPARE(moveEnds.at(0).at(1).value<Action *>(), snapped);
    QCOMPARE(snappedBegins.at(0).at(1).value<Action *>(), move);

    QTest::keyRelease(window(), Qt::Key_Shift);
    QTRY_COMPARE(moveBegins.count(), 2);
    QCOMPARE(snappedEnds.count(), 1);
    QCOMPARE(snappedEnds.at(0).at(1).value<Action *>(), move);
    QCOMPARE(moveBegins.at(1).at(1).value<Action *>(), snapped);

    QSignalSpy updates(move, &Action::continuousUpdate);
    QTest::mouseMove(window(), QPoint(60, 70));
    QTRY_COMPARE(updates.count(), 1);
    const auto data = updates.at(0).at(0).value<Action::ContinuousUpdateData>();
    QCOMPARE(data.current - data.previous, QPoint(10, 20));

    QTest::mouseRelease(window(), Qt::LeftButton, Qt::NoModifier, QPoint(60, 70));
    QTRY_COMPARE(moveEnds.count(), 2);
    QCOMPARE(moveEnds.at(1).at(1).value<Action *>(), nullptr);
    QCOMPARE(ActionHandler::instance()->currentContinuousAction(), nullptr);
}

void tst_ActionHandler::keyConditionComparesModifiersExactly_data()
{
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("undoCount");
    QTest::addColumn<int>("zoomCount");

    QTest::addRow("Ctrl+Z fires only the Ctrl+Z action") << int(Qt::ControlModifier) << 1 << 0;
    QTest::addRow("Z fires only the Z action") << int(Qt::NoModifier) << 0 << 1;
    QTest::addRow("Ctrl+Shift+Z fires neither")
        << int(Qt::ControlModifier | Qt::ShiftModifier) << 0 << 0;
}

void tst_ActionHandler::keyConditionComparesModifiersExactly()
{
    QFETCH(int, modifiers);
    QFETCH(int, undoCount);
    QFETCH(int, zoomCount);

    // The Z action is registered first: were modifiers ignored it would take Ctrl+Z as well.
    Action *zoom = triggered(QStringLiteral("Z"), QKeySequence(Qt::Key_Z));
    Action *undo = triggered(QStringLiteral("undo"), QKeySequence(Qt::CTRL | Qt::Key_Z));
    QSignalSpy zoomSpy(zoom, &QAction::triggered);
    QSignalSpy undoSpy(undo, &QAction::triggered);

    QTest::keyClick(window(), Qt::Key_Z, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(undoSpy.count(), undoCount);
    QCOMPARE(zoomSpy.count(), zoomCount);
}

void tst_ActionHandler::earlierTriggeredActionWins()
{
    Action *first = triggered(QStringLiteral("first"), QKeySequence(Qt::CTRL | Qt::Key_E));
    Action *second = triggered(QStringLiteral("second"), QKeySequence(Qt::CTRL | Qt::Key_E));
    QSignalSpy firstSpy(first, &QAction::triggered);
    QSignalSpy secondSpy(second, &QAction::triggered);

    QTest::keyClick(window(), Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(firstSpy.count(), 1);
    QCOMPARE(secondSpy.count(), 0);

    delete first;
    QTest::keyClick(window(), Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(secondSpy.count(), 1);
}

void tst_ActionHandler::deactivationEndsContinuousAction()
{
    Action *pan = continuous(QStringLiteral("pan"), QKeySequence(), Qt::RightButton);
    QSignalSpy begins(pan, &Action::continuousBegin);
    QSignalSpy ends(pan, &Action::continuousEnd);

    QTest::mousePress(window(), Qt::RightButton, Qt::NoModifier, QPoint(20, 20));
    QTRY_COMPARE(begins.count(), 1);

    // Another program takes the focus while the button is still down; its release never
    // reaches us.
    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    QCOMPARE(ends.count(), 1);
    QCOMPARE(ends.at(0).at(1).value<Action *>(), nullptr);
    QCOMPARE(ActionHandler::instance()->currentContinuousAction(), nullptr);

    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    QTest::mouseRelease(window(), Qt::RightButton, Qt::NoModifier, QPoint(20, 20));
}

void tst_ActionHandler::destroyedConditionNoLongerBlocks()
{
    Action *focus = triggered(QStringLiteral("focus"), QKeySequence(Qt::Key_Space));
    auto *overlay = new ActionCondition(true);
    ActionBinding binding = focus->binding(0);
    binding.addCondition(overlay, false);
    focus->setBinding(0, binding);
    QSignalSpy spy(focus, &QAction::triggered);

    QTest::keyClick(window(), Qt::Key_Space);
    QCOMPARE(spy.count(), 0);

    delete overlay;
    QCOMPARE(focus->binding(0).conditions().size(), 3); // only the handler's own remain
    QTest::keyClick(window(), Qt::Key_Space);
    QCOMPARE(spy.count(), 1);
}

void tst_ActionHandler::blockingRestoresEnabledStates_data()
{
    QTest::addColumn<bool>("destroyBlocker");
    QTest::addRow("blocker unblocks") << false;
    QTest::addRow("blocker destroyed while blocking") << true;
}

void tst_ActionHandler::blockingRestoresEnabledStates()
{
    QFETCH(bool, destroyBlocker);
    ActionHandler *handler = ActionHandler::instance();
    Action *enabled = triggered(QStringLiteral("enabled"), QKeySequence(Qt::Key_1));
    Action *disabled = triggered(QStringLiteral("disabled"), QKeySequence(Qt::Key_2));
    Action *enabledWhileBlocked = triggered(QStringLiteral("later"), QKeySequence(Qt::Key_3));
    disabled->setEnabled(false);
    enabledWhileBlocked->setEnabled(false);
    QSignalSpy blockedSpy(handler, &ActionHandler::blocked);

    auto blocker = std::make_unique<QObject>();
    QObject otherBlocker;
    handler->setBlocked(true, blocker.get());
    handler->setBlocked(true, &otherBlocker);
    QCOMPARE(blockedSpy.count(), 1);
    QVERIFY(!enabled->isEnabled());
    QVERIFY(!disabled->isEnabled());
    enabledWhileBlocked->setEnabled(true);
    QVERIFY(!enabledWhileBlocked->isEnabled());
    QSignalSpy spy(enabled, &QAction::triggered);
    QTest::keyClick(window(), Qt::Key_1);
    QCOMPARE(spy.count(), 0);

    handler->setBlocked(false, &otherBlocker);
    QVERIFY(handler->isBlocked());
    if (destroyBlocker)
        blocker.reset();
    else
        handler->setBlocked(false, blocker.get());

    QVERIFY(!handler->isBlocked());
    QCOMPARE(blockedSpy.count(), 2);
    QCOMPARE(blockedSpy.at(1).at(0).toBool(), false);
    QVERIFY(enabled->isEnabled());
    QVERIFY(!disabled->isEnabled());
    QVERIFY(enabledWhileBlocked->isEnabled());
}

void tst_ActionHandler::ignoredReceiverFiresNothing()
{
    ActionHandler *handler = ActionHandler::instance();
    Action *action = triggered(QStringLiteral("paste"), QKeySequence(Qt::CTRL | Qt::Key_V));
    QSignalSpy spy(action, &QAction::triggered);
    handler->addIgnoredObject(m_grandchild);

    // The key reaches the ignored focus widget first; its parents are not ignored.
    QTest::keyClick(window(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(spy.count(), 1);

    handler->addIgnoredObject(m_child);
    handler->addIgnoredObject(m_window.get());
    QTest::keyClick(window(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(spy.count(), 1);

    handler->removeIgnoredObject(m_grandchild);
    QTest::keyClick(window(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(spy.count(), 2);
    handler->removeIgnoredObject(m_child);
    handler->removeIgnoredObject(m_window.get());
}

void tst_ActionHandler::hoverActionRunsWithoutButtons()
{
    Action *hover
        = continuous(QStringLiteral("hover"), QKeySequence(), Qt::NoButton, Action::HoverFlag);
    Action *select = continuous(QStringLiteral("select"), QKeySequence(), Qt::LeftButton);
    QSignalSpy hoverBegins(hover, &Action::continuousBegin);
    QSignalSpy hoverEnds(hover, &Action::continuousEnd);

    QTest::mouseMove(window(), QPoint(30, 30));
    QTRY_COMPARE(hoverBegins.count(), 1);

    QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, QPoint(30, 30));
    QTRY_COMPARE(hoverEnds.count(), 1);
    QCOMPARE(hoverEnds.at(0).at(1).value<Action *>(), select);
    QTest::mouseRelease(window(), Qt::LeftButton, Qt::NoModifier, QPoint(30, 30));
    QTRY_COMPARE(hoverBegins.count(), 2);
}

void tst_ActionHandler::removingRunningActionEndsIt()
{
    Action *pan = continuous(QStringLiteral("pan"), QKeySequence(), Qt::LeftButton);
    Action *fallback = continuous(QStringLiteral("fallback"), QKeySequence(), Qt::LeftButton);
    QSignalSpy fallbackBegins(fallback, &Action::continuousBegin);
    QSignalSpy actionRemoved(ActionHandler::instance(), &ActionHandler::actionRemoved);

    QTest::mousePress(window(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QTRY_COMPARE(ActionHandler::instance()->currentContinuousAction(), pan);

    delete pan;
    QCOMPARE(actionRemoved.count(), 1);
    QCOMPARE(ActionHandler::instance()->currentContinuousAction(), fallback);
    QCOMPARE(fallbackBegins.count(), 1);
    QTest::mouseRelease(window(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QTRY_COMPARE(ActionHandler::instance()->currentContinuousAction(), nullptr);
}

void tst_ActionHandler::irrelevantConditionDoesNotStopBinding_data()
{
    QTest::addColumn<bool>("listed");
    QTest::addColumn<int>("fired");

    QTest::addRow("not listed: the condition is skipped") << false << 1;
    QTest::addRow("listed: the condition applies") << true << 0;
}

void tst_ActionHandler::irrelevantConditionDoesNotStopBinding()
{
    QFETCH(bool, listed);
    QFETCH(int, fired);

    // Like the view's gizmo hover: true now, expected false by the focus action.
    ConflictingBindingsCondition gizmoHover;
    gizmoHover.setValue(true);
    ActionBinding binding(ActionBinding::Triggered, QKeySequence(Qt::Key_F));
    binding.addCondition(&gizmoHover, false);
    Action *focus = ActionHandler::instance()->createAction(
        QStringLiteral("focus"), QString(), m_window.get(), binding);
    Action *gizmo = continuous(QStringLiteral("gizmo"), QKeySequence(), Qt::LeftButton);
    gizmoHover.addAction(listed ? focus : gizmo);
    QSignalSpy spy(focus, &QAction::triggered);

    QTest::keyClick(window(), Qt::Key_F);
    QCOMPARE(spy.count(), fired);
}

void tst_ActionHandler::consumingActionSwallowsInput()
{
    auto *recorder = static_cast<Recorder *>(m_grandchild);
    m_window->setMouseTracking(true);
    m_child->setMouseTracking(true);
    recorder->setMouseTracking(true);
    Action *menu = continuous(
        QStringLiteral("menu"), QKeySequence(), Qt::RightButton, Action::ConsumesInputFlag);
    continuous(
        QStringLiteral("grab"), QKeySequence(Qt::Key_G), Qt::NoButton, Action::ConsumesInputFlag);
    QVERIFY(menu->binding(0).consumesInput);
    QSignalSpy updates(menu, &Action::continuousUpdate);

    QTest::keyClick(window(), Qt::Key_K);
    QCOMPARE(recorder->keyPresses, 1);
    QTest::keyClick(window(), Qt::Key_G);
    QCOMPARE(recorder->keyPresses, 1);

    QTest::mouseMove(window(), QPoint(40, 40));
    QTRY_COMPARE(recorder->mouseMoves, 1);
    QTest::mousePress(window(), Qt::RightButton, Qt::NoModifier, QPoint(40, 40));
    QTRY_COMPARE(ActionHandler::instance()->currentContinuousAction(), menu);
    const int movesBefore = recorder->mouseMoves;
    // Updates of a consuming action run at once, inside the move, and the move goes no further.
    QTest::mouseMove(window(), QPoint(45, 48));
    QCOMPARE(updates.count(), 1);
    QCOMPARE(recorder->mouseMoves, movesBefore);
    QTest::mouseRelease(window(), Qt::RightButton, Qt::NoModifier, QPoint(45, 48));
    QTRY_COMPARE(ActionHandler::instance()->currentContinuousAction(), nullptr);
}

QTEST_MAIN(tst_ActionHandler)
#include "tst_actionhandler.moc"
