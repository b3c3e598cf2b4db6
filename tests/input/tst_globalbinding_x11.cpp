#include "input/action.h"
#include "input/actionhandler.h"
#include "input/keybinder.h"
#include "input/keybinding.h"

#include <QtTest>

#include <memory>

namespace {

int xdotool(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments);
}

} // namespace

// System-global bindings against a real X server: another client's window has the focus, a
// second X client types (XTest through xdotool), and only the global binding fires.
class tst_GlobalBinding : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void globalBindingFiresWhileAnotherWindowHasFocus();
    void removingTheLastGlobalBindingStopsListening();
    void dragWithShiftOnRealServer();
    void tapHandledAfterItsReleaseStillTriggers_data();
    void tapHandledAfterItsReleaseStillTriggers();

private:
    bool typeUntil(const QString &keys, QSignalSpy &spy);

    QProcess m_otherClient;
    QString m_otherWindow;
};

void tst_GlobalBinding::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X server (run under xvfb-run)");
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs the xcb platform");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("xev")).isEmpty())
        QSKIP("needs xdotool and xev");

    // xev is the other program: it opens a window and announces its id on standard output.
    m_otherClient.start(
        QStringLiteral("xev"), { QStringLiteral("-geometry"), QStringLiteral("200x200+0+0") });
    QVERIFY(m_otherClient.waitForStarted());
    const QRegularExpression outer(QStringLiteral("Outer window is (0x[0-9a-fA-F]+)"));
    QString output;
    while (!outer.match(output).hasMatch()) {
        QVERIFY2(m_otherClient.waitForReadyRead(5000), "xev announced no window");
        output += QString::fromLocal8Bit(m_otherClient.readAllStandardOutput());
    }
    m_otherWindow = outer.match(output).captured(1);
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"),
                 { QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                     QString::number(m_otherWindow.toULongLong(nullptr, 16)) }),
        0);
}

void tst_GlobalBinding::cleanupTestCase()
{
    if (m_otherClient.state() != QProcess::NotRunning) {
        m_otherClient.kill();
        m_otherClient.waitForFinished();
    }
}

bool tst_GlobalBinding::typeUntil(const QString &keys, QSignalSpy &spy)
{
    // The listener selects its events on its own thread shortly after it is created; a key
    // typed before that is not seen, so typing is repeated until it lands or attempts run out.
    for (int attempt = 0; attempt < 10; ++attempt) {
        QProcess::execute(QStringLiteral("xdotool"), { QStringLiteral("key"), keys });
        if (!spy.isEmpty() || spy.wait(500))
            return true;
    }
    return false;
}

void tst_GlobalBinding::globalBindingFiresWhileAnotherWindowHasFocus()
{
    QObject owner;
    ActionHandler *handler = ActionHandler::instance();
    Action *global = handler->createAction(QStringLiteral("Toggle Overlay"),
        QStringLiteral("Toggle Overlay"), &owner,
        ActionBinding(ActionBinding::Triggered, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_G),
            Qt::NoButton, ActionBinding::WindowContext),
        Action::ListedFlag);
    QVERIFY(!handler->hasGlobalListener());
    // The user makes it system-wide in the binder.
    KeyBinding *row = KeyBinder::instance()->row(global->name());
    QVERIFY(row);
    ActionBinding systemWide = global->binding(0);
    systemWide.context = ActionBinding::SystemGlobalContext;
    row->rebind(0, systemWide);
    Action *local = handler->createAction(QStringLiteral("Local"), QStringLiteral("Local"), &owner,
        ActionBinding(ActionBinding::Triggered, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_H),
            Qt::NoButton, ActionBinding::WindowContext));
    QVERIFY(handler->hasGlobalListener());
    QSignalSpy globalSpy(global, &QAction::triggered);
    QSignalSpy localSpy(local, &QAction::triggered);

    QVERIFY(typeUntil(QStringLiteral("ctrl+alt+g"), globalSpy));
    const int fired = globalSpy.count();
    QProcess::execute(QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("g") });
    QProcess::execute(
        QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("ctrl+alt+h") });
    // The next global press proves the ones in between have been delivered.
    QProcess::execute(
        QStringLiteral("xdotool"), { QStringLiteral("key"), QStringLiteral("ctrl+alt+g") });
    QTRY_COMPARE(globalSpy.count(), fired + 1);
    QCOMPARE(localSpy.count(), 0);
}

void tst_GlobalBinding::removingTheLastGlobalBindingStopsListening()
{
    QObject owner;
    ActionHandler *handler = ActionHandler::instance();
    Action *global
        = handler->createAction(QStringLiteral("Global"), QStringLiteral("Global"), &owner,
            ActionBinding(ActionBinding::Triggered, QKeySequence(Qt::Key_F9), Qt::NoButton,
                ActionBinding::SystemGlobalContext));
    QVERIFY(handler->hasGlobalListener());
    ActionBinding local = global->binding(0);
    local.context = ActionBinding::WindowContext;
    global->setBinding(0, local);
    QVERIFY(!handler->hasGlobalListener());
}

void tst_GlobalBinding::dragWithShiftOnRealServer()
{
    // X reports Shift's own press without Shift and its release with it, and the handler
    // re-reads buttons and modifiers from the server: the transitions must still come out as
    // with the toolkit's own events.
    QWidget window;
    window.setGeometry(300, 300, 200, 200);
    ActionHandler *handler = ActionHandler::instance();
    Action *move = handler->createAction(QStringLiteral("move"), QString(), &window,
        ActionBinding(ActionBinding::Continuous, QKeySequence(), Qt::LeftButton));
    Action *snapped = handler->createAction(QStringLiteral("snapped move"), QString(), &window,
        ActionBinding(ActionBinding::Continuous, QKeySequence(int(Qt::SHIFT)), Qt::LeftButton));
    QSignalSpy moveBegins(move, &Action::continuousBegin);
    QSignalSpy moveEnds(move, &Action::continuousEnd);
    QSignalSpy snappedBegins(snapped, &Action::continuousBegin);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                 QString::number(window.winId()) }),
        0);
    QTRY_VERIFY(window.isActiveWindow());

    const QPoint centre = window.mapToGlobal(QPoint(100, 100));
    xdotool(
        { QStringLiteral("mousemove"), QString::number(centre.x()), QString::number(centre.y()) });
    xdotool({ QStringLiteral("mousedown"), QStringLiteral("1") });
    QTRY_COMPARE(moveBegins.count(), 1);
    xdotool({ QStringLiteral("keydown"), QStringLiteral("shift") });
    QTRY_COMPARE(snappedBegins.count(), 1);
    QCOMPARE(snappedBegins.at(0).at(1).value<Action *>(), move);
    xdotool({ QStringLiteral("keyup"), QStringLiteral("shift") });
    QTRY_COMPARE(moveBegins.count(), 2);
    xdotool({ QStringLiteral("mouseup"), QStringLiteral("1") });
    QTRY_COMPARE(moveEnds.count(), 2);
    QCOMPARE(handler->currentContinuousAction(), nullptr);
}

void tst_GlobalBinding::tapHandledAfterItsReleaseStillTriggers_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QKeySequence>("bound");
    QTest::addRow("Ctrl+V") << "ctrl+v" << QKeySequence(Qt::CTRL | Qt::Key_V);
    QTest::addRow("Ctrl+Shift+S") << "ctrl+shift+s"
                                  << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S);
    QTest::addRow("a key alone") << "F9" << QKeySequence(Qt::Key_F9);
}

// A window busy for a moment (starting, painting, a machine under load) reads a short key press
// only after its release: by then the server says no key is held, yet the press was made.
void tst_GlobalBinding::tapHandledAfterItsReleaseStillTriggers()
{
    QFETCH(QString, typed);
    QFETCH(QKeySequence, bound);
    QWidget window;
    window.setGeometry(300, 300, 200, 200);
    Action *action = ActionHandler::instance()->createAction(QStringLiteral("tapped"), QString(),
        &window, ActionBinding(ActionBinding::Triggered, bound, Qt::NoButton));
    QSignalSpy triggered(action, &QAction::triggered);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                 QString::number(window.winId()) }),
        0);
    QTRY_VERIFY(window.isActiveWindow());

    // xdotool presses and releases while this thread waits for it, so the press is handled
    // once both have happened.
    QCOMPARE(xdotool({ QStringLiteral("key"), typed }), 0);
    QTRY_COMPARE(triggered.count(), 1);
}

QTEST_MAIN(tst_GlobalBinding)
#include "tst_globalbinding_x11.moc"
