#pragma once

#include "input/action.h"
#include "input/actioncondition.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>

class GlobalKeyEventHandler;
class QWidget;

// The one dispatcher of keyboard and mouse input. An event filter on the application sees every
// event, keeps its own record of held keys, modifiers and buttons, fires the first satisfied
// triggered action and runs at most one continuous action at a time.
//
// Two sets of state conditions exist. The immediate set is updated while an event is being
// delivered and decides triggered actions. The deferred set is updated by a queued call after
// the event has reached all its receivers, so that one key press seen by a widget and by its
// parents counts once for continuous actions. GUI thread only; the global key listener reports
// across threads by queued signal.
class ActionHandler : public QObject {
    Q_OBJECT

public:
    // Met when the binding's first key equals the held key plus modifiers; a binding without a
    // key therefore applies only while nothing is held.
    class KeyCondition : public ActionCondition {
    public:
        explicit KeyCondition(QObject *parent = nullptr);
        bool isMet(const Action *action, int bindingIndex) const override;

        int key = 0;
        Qt::KeyboardModifiers modifiers;
    };

    // Met when the binding's buttons are exactly the held ones.
    class MouseCondition : public ActionCondition {
    public:
        explicit MouseCondition(QObject *parent = nullptr);
        bool isMet(const Action *action, int bindingIndex) const override;

        Qt::MouseButtons buttons;
    };

    // Met when the binding's context covers one of the objects that received the current event.
    class ContextCondition : public ActionCondition {
    public:
        explicit ContextCondition(QObject *parent = nullptr);
        bool isMet(const Action *action, int bindingIndex) const override;
        bool isMetFor(const Action *action, int context, const QObject *receiver) const;

        void clear() { m_receivers.clear(); }
        void addReceiver(QObject *receiver);
        QList<QObject *> receivers() const;

    private:
        QList<QPointer<QObject>> m_receivers;
    };

    // Created on first use, owned by the application object.
    static ActionHandler *instance();
    // Null before the first use and after destruction; for destructors that must not create it.
    static ActionHandler *existingInstance();
    ~ActionHandler() override;

    Action *createAction(const QString &name, const QString &text, QObject *parent,
        const ActionBinding &binding, int flags = 0, const QString &category = QString());
    void removeAction(Action *action);

    QList<Action *> actions() const { return m_actions; }
    QList<Action *> triggeredActions() const { return m_triggeredActions; }
    QList<Action *> continuousActions() const { return m_continuousActions; }
    QList<Action *> hoverActions() const { return m_hoverActions; }
    Action *action(const QString &name) const;
    Action *currentContinuousAction() const { return m_currentContinuous; }

    // The handler is blocked while any blocker is registered; blocked, every triggered action
    // is disabled. A blocker that is destroyed stops blocking.
    void setBlocked(bool blocked, QObject *blocker);
    bool isBlocked() const { return !m_blockers.isEmpty(); }

    // Events addressed to these objects do not fire actions (their state is still tracked).
    void addIgnoredObject(QObject *object);
    void removeIgnoredObject(QObject *object);

    // Forgets every held key and button: a session lock or a switch of users swallows the
    // releases.
    void resetKeyState();

    // Chooses the continuous action again after a condition changed outside any input event
    // (a gesture handing over to another, a lock of the canvas).
    void reevaluate();

    bool hasGlobalListener() const { return m_globalListener != nullptr; }
    QHash<Action *, QList<ActionBinding>> globalBindings() const { return m_globalBindings; }

    // The key, mouse and context conditions the handler itself puts on every binding.
    bool isImplicitCondition(const ActionCondition *condition) const;
    const KeyCondition *immediateKeyCondition() const { return m_immediateKey; }
    const MouseCondition *immediateMouseCondition() const { return m_immediateMouse; }
    const ContextCondition *immediateContextCondition() const { return m_immediateContext; }
    const KeyCondition *deferredKeyCondition() const { return m_deferredKey; }
    const MouseCondition *deferredMouseCondition() const { return m_deferredMouse; }
    const ContextCondition *deferredContextCondition() const { return m_deferredContext; }

signals:
    void actionCreated(Action *action);
    void actionRemoved(Action *action);
    void blocked(bool blocked);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void handleApplicationStateChanged(Qt::ApplicationState state);
    void handleGlobalKeys(
        quint32 nativeKey, int key, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons);

private:
    enum class Reason { Input, Hover, Removal };

    explicit ActionHandler(QObject *parent);

    bool handleKeyEvent(QObject *receiver, QEvent *event);
    bool handleMouseButtonEvent(QObject *receiver, QEvent *event);
    bool handleMouseMoveEvent(QObject *receiver, QEvent *event);
    // Both parts on press, the continuous one alone on release.
    bool match(QObject *receiver, bool triggeredPart);
    bool matchTriggered(QObject *receiver);
    bool matchConsuming(QObject *receiver) const;

    void evaluateContinuous(Reason reason);
    void updateContinuousAt(const QPoint &globalPos);
    void refreshImmediateState();
    void refreshDeferredState();

    void addImplicitConditions(Action *action);
    void addImplicitConditions(ActionBinding &binding, int flags) const;
    bool hasImplicitConditions(const ActionBinding &binding) const;
    void updateGlobalBindings(Action *action);
    bool isIgnored(const QObject *receiver) const;

    QList<Action *> m_actions;
    QList<Action *> m_triggeredActions;
    QList<Action *> m_continuousActions;
    QList<Action *> m_hoverActions;
    QHash<Action *, QList<ActionBinding>> m_globalBindings;
    QList<QPointer<QObject>> m_blockers;
    QList<QPointer<QObject>> m_ignored;

    Action *m_currentContinuous = nullptr;
    GlobalKeyEventHandler *m_globalListener = nullptr;

    KeyCondition *m_immediateKey;
    MouseCondition *m_immediateMouse;
    ContextCondition *m_immediateContext;
    KeyCondition *m_deferredKey;
    MouseCondition *m_deferredMouse;
    ContextCondition *m_deferredContext;

    // The X key code of the held non-modifier key, 0 for none.
    quint32 m_nativeKey = 0;

    QPoint m_origin;
    QPoint m_previous;
    QPoint m_current;

    // One physical event reaches the widget under it and then its parents; these time stamps
    // let the handler count it once.
    ulong m_lastKeyPress = 0;
    ulong m_lastKeyRelease = 0;
    ulong m_lastMousePress = 0;
    ulong m_lastMouseRelease = 0;
    ulong m_lastMouseMove = 0;
    Qt::MouseButtons m_lastPressButtons;
    Qt::MouseButtons m_lastReleaseButtons;
    bool m_mouseRecorded = false;

    bool m_applicationActive = true;
};
