#include "input/actionhandler.h"

#include "input/globalkeyeventhandler.h"
#include "platform/inputstate.h"
#include "platform/sessionwatcher.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDropEvent>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace {

ActionHandler *s_instance = nullptr;

constexpr Qt::KeyboardModifiers IgnoredModifiers = Qt::KeypadModifier | Qt::GroupSwitchModifier;

bool isModifierKey(int key)
{
    return key >= Qt::Key_Shift && key <= Qt::Key_Alt;
}

QWidget *nearestWidget(QObject *object)
{
    for (QObject *o = object; o; o = o->parent()) {
        if (o->isWidgetType())
            return static_cast<QWidget *>(o);
    }
    return nullptr;
}

} // namespace

// --- state conditions ---------------------------------------------------------------------

ActionHandler::KeyCondition::KeyCondition(QObject *parent)
    : ActionCondition(parent)
{
}

bool ActionHandler::KeyCondition::isMet(const Action *action, int bindingIndex) const
{
    return action->binding(bindingIndex).firstKey() == (key | int(modifiers));
}

ActionHandler::MouseCondition::MouseCondition(QObject *parent)
    : ActionCondition(parent)
{
}

bool ActionHandler::MouseCondition::isMet(const Action *action, int bindingIndex) const
{
    return action->binding(bindingIndex).mouseButtons == buttons;
}

ActionHandler::ContextCondition::ContextCondition(QObject *parent)
    : ActionCondition(parent)
{
}

void ActionHandler::ContextCondition::addReceiver(QObject *receiver)
{
    for (const QPointer<QObject> &known : qAsConst(m_receivers)) {
        if (known == receiver)
            return;
    }
    m_receivers.append(receiver);
}

QList<QObject *> ActionHandler::ContextCondition::receivers() const
{
    QList<QObject *> live;
    for (const QPointer<QObject> &receiver : m_receivers) {
        if (receiver)
            live.append(receiver.data());
    }
    return live;
}

bool ActionHandler::ContextCondition::isMet(const Action *action, int bindingIndex) const
{
    const int context = action->binding(bindingIndex).context;
    if (context == ActionBinding::ApplicationContext
        || context == ActionBinding::SystemGlobalContext)
        return true;
    for (const QPointer<QObject> &receiver : m_receivers) {
        if (receiver && isMetFor(action, context, receiver))
            return true;
    }
    return false;
}

bool ActionHandler::ContextCondition::isMetFor(
    const Action *action, int context, const QObject *receiver) const
{
    QObject *owner = action->parent();
    switch (context) {
    case ActionBinding::ApplicationContext:
    case ActionBinding::SystemGlobalContext:
        return true;
    case ActionBinding::WidgetContext:
        return owner && owner == receiver;
    case ActionBinding::WidgetWithChildrenContext:
        for (const QObject *o = receiver; o; o = o->parent()) {
            if (o == owner)
                return true;
        }
        return false;
    default:
        break;
    }
    // Window context. An action that no widget owns belongs to no window: it stands for the
    // whole application rather than for none.
    QWidget *ownerWidget = nearestWidget(owner);
    if (!ownerWidget)
        return true;
    const QWidget *ownerWindow = ownerWidget->window();
    if (receiver->isWindowType())
        return ownerWindow->windowHandle() == receiver;
    // Scenes and other plain objects that receive forwarded events sit inside some widget.
    QWidget *receiverWidget = nearestWidget(const_cast<QObject *>(receiver));
    return receiverWidget && receiverWidget->window() == ownerWindow;
}

// --- handler --------------------------------------------------------------------------------

ActionHandler *ActionHandler::instance()
{
    if (!s_instance && QCoreApplication::instance())
        s_instance = new ActionHandler(QCoreApplication::instance());
    return s_instance;
}

ActionHandler *ActionHandler::existingInstance()
{
    return s_instance;
}

ActionHandler::ActionHandler(QObject *parent)
    : QObject(parent)
    , m_immediateKey(new KeyCondition(this))
    , m_immediateMouse(new MouseCondition(this))
    , m_immediateContext(new ContextCondition(this))
    , m_deferredKey(new KeyCondition(this))
    , m_deferredMouse(new MouseCondition(this))
    , m_deferredContext(new ContextCondition(this))
{
    qRegisterMetaType<Action::ContinuousUpdateData>("Action::ContinuousUpdateData");
    qRegisterMetaType<ActionBinding>("ActionBinding");
    qRegisterMetaType<QList<ActionBinding>>("QList<ActionBinding>");
    qRegisterMetaType<Action *>("Action*");
    QCoreApplication::instance()->installEventFilter(this);
    // Releases that happen while the session is locked never arrive as events.
    connect(new SessionWatcher(this), &SessionWatcher::sessionChanged, this,
        &ActionHandler::resetKeyState);
    if (auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        m_applicationActive = QGuiApplication::applicationState() == Qt::ApplicationActive;
        connect(gui, &QGuiApplication::applicationStateChanged, this,
            &ActionHandler::handleApplicationStateChanged);
    }
}

ActionHandler::~ActionHandler()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    if (s_instance == this)
        s_instance = nullptr;
}

Action *ActionHandler::createAction(const QString &name, const QString &text, QObject *parent,
    const ActionBinding &binding, int flags, const QString &category)
{
    ActionBinding first = binding;
    addImplicitConditions(first, flags);
    auto *action = new Action(name, first, flags, category, parent);
    action->setText(text);

    m_actions.append(action);
    if (binding.type == ActionBinding::Continuous) {
        m_continuousActions.append(action);
        if (flags & Action::HoverFlag)
            m_hoverActions.append(action);
    } else if (binding.type == ActionBinding::Triggered) {
        m_triggeredActions.append(action);
        connect(this, &ActionHandler::blocked, action, &Action::setBlocked);
    }
    // Only triggered actions are blocked: a continuous action created while a dialog blocks
    // would otherwise stay disabled, since nothing ever unblocks it.
    if (binding.type == ActionBinding::Inactive)
        action->QAction::setEnabled(false);
    else if (binding.type == ActionBinding::Triggered && isBlocked())
        action->setBlocked(true);

    connect(action, &Action::bindingsChanged, this, [this](Action *changed) {
        addImplicitConditions(changed);
        if (m_triggeredActions.contains(changed))
            updateGlobalBindings(changed);
    });

    emit actionCreated(action);
    if (binding.context == ActionBinding::SystemGlobalContext
        && binding.type == ActionBinding::Triggered)
        updateGlobalBindings(action);
    return action;
}

void ActionHandler::removeAction(Action *action)
{
    if (!m_actions.removeOne(action))
        return;
    m_triggeredActions.removeOne(action);
    m_continuousActions.removeOne(action);
    m_hoverActions.removeOne(action);
    disconnect(this, nullptr, action, nullptr);
    disconnect(action, nullptr, this, nullptr);
    if (m_globalBindings.remove(action) && m_globalBindings.isEmpty()) {
        delete m_globalListener;
        m_globalListener = nullptr;
    }
    if (m_currentContinuous == action) {
        m_currentContinuous = nullptr;
        emit action->continuousEnd({ m_origin, m_previous, m_current }, nullptr);
        evaluateContinuous(Reason::Removal);
    }
    emit actionRemoved(action);
}

Action *ActionHandler::action(const QString &name) const
{
    for (Action *candidate : m_actions) {
        if (candidate->name() == name)
            return candidate;
    }
    return nullptr;
}

void ActionHandler::setBlocked(bool block, QObject *blocker)
{
    if (!blocker)
        return;
    const bool wasBlocked = isBlocked();
    auto forget = [this](const QObject *object) {
        for (int i = m_blockers.size() - 1; i >= 0; --i) {
            if (m_blockers.at(i).isNull() || m_blockers.at(i).data() == object)
                m_blockers.removeAt(i);
        }
    };
    forget(blocker);
    if (block) {
        m_blockers.append(blocker);
        disconnect(blocker, &QObject::destroyed, this, nullptr);
        // A blocker that dies without unblocking would otherwise disable every triggered
        // action for the rest of the session.
        connect(blocker, &QObject::destroyed, this, [this, forget](QObject *object) {
            const bool before = isBlocked();
            forget(object);
            if (before != isBlocked())
                emit blocked(isBlocked());
        });
    } else {
        disconnect(blocker, &QObject::destroyed, this, nullptr);
    }
    if (wasBlocked != isBlocked())
        emit blocked(isBlocked());
}

void ActionHandler::addIgnoredObject(QObject *object)
{
    if (object && !isIgnored(object))
        m_ignored.append(object);
}

void ActionHandler::removeIgnoredObject(QObject *object)
{
    for (int i = m_ignored.size() - 1; i >= 0; --i) {
        if (m_ignored.at(i).isNull() || m_ignored.at(i).data() == object)
            m_ignored.removeAt(i);
    }
}

bool ActionHandler::isIgnored(const QObject *receiver) const
{
    for (const QPointer<QObject> &object : m_ignored) {
        if (object && object.data() == receiver)
            return true;
    }
    return false;
}

void ActionHandler::resetKeyState()
{
    m_nativeKey = 0;
    m_immediateKey->key = 0;
    m_immediateKey->modifiers = Qt::NoModifier;
    m_deferredKey->key = 0;
    m_deferredKey->modifiers = Qt::NoModifier;
    m_immediateMouse->buttons = Qt::NoButton;
    m_deferredMouse->buttons = Qt::NoButton;
    m_deferredContext->clear();
    if (m_globalListener)
        m_globalListener->resetState();
    evaluateContinuous(Reason::Input);
}

void ActionHandler::handleApplicationStateChanged(Qt::ApplicationState state)
{
    m_applicationActive = state == Qt::ApplicationActive;
    if (!m_applicationActive)
        resetKeyState();
}

// --- events ---------------------------------------------------------------------------------

bool ActionHandler::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ContextMenu:
        // The context menu is opened by an action, never by the toolkit's own request.
        return static_cast<QContextMenuEvent *>(event)->reason() == QContextMenuEvent::Mouse;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        if (watched->isWindowType())
            return false;
        return handleKeyEvent(watched, event);
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
    case QEvent::Drop:
        if (watched->isWindowType())
            return false;
        return handleMouseButtonEvent(watched, event);
    case QEvent::MouseMove:
    case QEvent::Enter:
        if (watched->isWindowType())
            return false;
        return handleMouseMoveEvent(watched, event);
    default:
        return false;
    }
}

bool ActionHandler::handleKeyEvent(QObject *receiver, QEvent *event)
{
    auto *keyEvent = static_cast<QKeyEvent *>(event);
    const int key = keyEvent->key();
    if (key == Qt::Key_unknown || key == 0)
        return false;
    const bool press = event->type() == QEvent::KeyPress;
    Qt::KeyboardModifiers modifiers = keyEvent->modifiers() & ~IgnoredModifiers;

    int heldKey = m_immediateKey->key;
    quint32 heldNative = m_nativeKey;
    if (isModifierKey(key)) {
        // X11 reports the modifiers from before the key changed: Shift's own press comes
        // without Shift, its release with it.
        const Qt::KeyboardModifier bit = Platform::modifierOfKey(key);
        modifiers = press ? (modifiers | bit) : (modifiers & ~bit);
    } else {
        heldKey = press ? key : 0;
        heldNative = press ? keyEvent->nativeScanCode() : 0;
    }

    const ulong timestamp = keyEvent->timestamp();
    ulong &lastTimestamp = press ? m_lastKeyPress : m_lastKeyRelease;
    const bool sameDelivery = heldKey == m_immediateKey->key
        && modifiers == m_immediateKey->modifiers && timestamp == lastTimestamp;

    m_immediateKey->key = heldKey;
    m_immediateKey->modifiers = modifiers;
    m_nativeKey = heldNative;

    if (sameDelivery) {
        m_deferredContext->addReceiver(receiver);
    } else {
        lastTimestamp = timestamp;
        if (!keyEvent->isAutoRepeat()) {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (!m_applicationActive)
                        return;
                    m_deferredKey->key = m_immediateKey->key;
                    m_deferredKey->modifiers = m_immediateKey->modifiers;
                    evaluateContinuous(Reason::Input);
                    refreshDeferredState();
                },
                Qt::QueuedConnection);
        }
        m_deferredContext->clear();
        m_deferredContext->addReceiver(receiver);
    }

    // The server corrects what earlier events left behind (a release that went to another
    // window), but this event's own key and modifiers stand however late it is handled: a
    // window busy for a moment reads a short press only after its release, when the server
    // says nothing is held, and Ctrl+V pressed must still paste.
    refreshImmediateState();
    if (!isModifierKey(key)) {
        m_immediateKey->key = heldKey;
        m_nativeKey = heldNative;
    }
    m_immediateKey->modifiers = modifiers;
    if (isIgnored(receiver))
        return false;
    return match(receiver, press);
}

bool ActionHandler::handleMouseButtonEvent(QObject *receiver, QEvent *event)
{
    const QEvent::Type type = event->type();
    const bool pressed = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
    Qt::MouseButtons buttons;
    QPoint globalPos;
    ulong timestamp = 0;
    if (type == QEvent::Drop) {
        buttons = static_cast<QDropEvent *>(event)->mouseButtons();
        globalPos = QCursor::pos();
    } else {
        auto *mouseEvent = static_cast<QMouseEvent *>(event);
        buttons = mouseEvent->buttons();
        globalPos = mouseEvent->globalPos();
        timestamp = mouseEvent->timestamp();
    }

    Qt::MouseButtons &lastButtons = pressed ? m_lastPressButtons : m_lastReleaseButtons;
    ulong &lastTimestamp = pressed ? m_lastMousePress : m_lastMouseRelease;
    if (!m_mouseRecorded || buttons != lastButtons || timestamp != lastTimestamp) {
        m_mouseRecorded = true;
        lastButtons = buttons;
        lastTimestamp = timestamp;
        QMetaObject::invokeMethod(
            this,
            [this, buttons, globalPos] {
                if (!m_applicationActive)
                    return;
                m_current = globalPos;
                m_deferredMouse->buttons = buttons;
                evaluateContinuous(Reason::Input);
                refreshDeferredState();
            },
            Qt::QueuedConnection);
        m_deferredContext->clear();
    }
    m_deferredContext->addReceiver(receiver);

    m_immediateMouse->buttons = buttons;
    refreshImmediateState();
    if (isIgnored(receiver))
        return false;
    return match(receiver, pressed);
}

bool ActionHandler::handleMouseMoveEvent(QObject *receiver, QEvent *event)
{
    QPoint globalPos = QCursor::pos();
    bool newTimestamp = true;
    if (event->type() == QEvent::MouseMove) {
        auto *mouseEvent = static_cast<QMouseEvent *>(event);
        globalPos = mouseEvent->globalPos();
        newTimestamp = mouseEvent->timestamp() != m_lastMouseMove;
        m_lastMouseMove = mouseEvent->timestamp();
    } else if (auto *enterEvent = dynamic_cast<QEnterEvent *>(event)) {
        globalPos = enterEvent->globalPos();
    }

    if ((!m_currentContinuous || m_currentContinuous->areAllBindingsEmpty())
        && !m_hoverActions.isEmpty()) {
        if (newTimestamp) {
            QMetaObject::invokeMethod(
                this,
                [this, globalPos] {
                    m_current = globalPos;
                    evaluateContinuous(Reason::Hover);
                },
                Qt::QueuedConnection);
            m_deferredContext->clear();
        }
        m_deferredContext->addReceiver(receiver);
    }

    if (m_currentContinuous && newTimestamp) {
        if (m_currentContinuous->flags() & Action::ConsumesInputFlag) {
            updateContinuousAt(globalPos);
        } else {
            QMetaObject::invokeMethod(
                this, [this, globalPos] { updateContinuousAt(globalPos); }, Qt::QueuedConnection);
        }
    }
    return m_currentContinuous && (m_currentContinuous->flags() & Action::ConsumesInputFlag);
}

void ActionHandler::updateContinuousAt(const QPoint &globalPos)
{
    if (!m_currentContinuous)
        return;
    m_current = globalPos;
    emit m_currentContinuous->continuousUpdate({ m_origin, m_previous, m_current });
    m_previous = m_current;
    refreshDeferredState();
}

bool ActionHandler::match(QObject *receiver, bool triggeredPart)
{
    if (triggeredPart && matchTriggered(receiver))
        return true;
    return matchConsuming(receiver);
}

bool ActionHandler::matchTriggered(QObject *receiver)
{
    m_immediateContext->clear();
    m_immediateContext->addReceiver(receiver);
    const bool globalsElsewhere = m_globalListener && m_globalListener->isAvailable();
    const QList<Action *> triggered = m_triggeredActions;
    for (Action *action : triggered) {
        for (int i = 0; i < action->bindingCount(); ++i) {
            // The global listener fires these, wherever the focus is; firing here too would
            // trigger twice.
            if (globalsElsewhere
                && action->binding(i).context == ActionBinding::SystemGlobalContext)
                continue;
            if (action->isBindingSatisfied(i)) {
                action->trigger();
                return true;
            }
        }
    }
    return false;
}

bool ActionHandler::matchConsuming(QObject *receiver) const
{
    const int held = m_immediateKey->key | int(m_immediateKey->modifiers);
    for (Action *action : m_continuousActions) {
        if (!(action->flags() & Action::ConsumesInputFlag) || !action->isEnabled())
            continue;
        for (int i = 0; i < action->bindingCount(); ++i) {
            const ActionBinding binding = action->binding(i);
            if (binding.isEmpty() || binding.mouseButtons != m_immediateMouse->buttons
                || binding.firstKey() != held
                || !m_immediateContext->isMetFor(action, binding.context, receiver))
                continue;
            const QList<ActionCondition *> conditions = binding.conditions();
            const QList<bool> expected = binding.expectedValues();
            bool met = true;
            for (int c = 0; c < conditions.size() && met; ++c) {
                const ActionCondition *condition = conditions.at(c);
                if (condition == m_deferredKey || condition == m_deferredMouse
                    || condition == m_deferredContext)
                    continue;
                met = !condition->isRelevant(action, i)
                    || condition->isMet(action, i) == expected.at(c);
            }
            if (met)
                return true;
        }
    }
    return false;
}

// --- continuous actions ---------------------------------------------------------------------

void ActionHandler::reevaluate()
{
    evaluateContinuous(Reason::Input);
}

void ActionHandler::evaluateContinuous(Reason reason)
{
    m_previous = m_current;
    const QList<Action *> candidates
        = reason == Reason::Hover ? m_hoverActions : m_continuousActions;
    Action *found = nullptr;
    for (Action *action : candidates) {
        if (action->isAnyBindingSatisfied()) {
            found = action;
            break;
        }
    }
    Action *running = m_currentContinuous;
    if (found == running)
        return;
    const Action::ContinuousUpdateData data { m_origin, m_previous, m_current };
    m_currentContinuous = found;
    if (running)
        emit running->continuousEnd(data, found);
    if (found && m_currentContinuous == found) {
        m_origin = m_current;
        emit found->continuousBegin(m_current, running);
    }
}

void ActionHandler::refreshImmediateState()
{
    if (m_immediateKey->key != 0 && Platform::isKeyDown(m_nativeKey) == false) {
        m_immediateKey->key = 0;
        m_nativeKey = 0;
    }
    if (const auto modifiers = Platform::queryKeyboardModifiers())
        m_immediateKey->modifiers = *modifiers;
    m_immediateMouse->buttons = Platform::queryMouseButtons();
}

void ActionHandler::refreshDeferredState()
{
    bool changed = false;
    if (m_deferredKey->key != 0 && Platform::isKeyDown(m_nativeKey) == false) {
        // A release we never saw: the key went up while another window had the focus.
        m_deferredKey->key = 0;
        changed = true;
    }
    if (const auto modifiers = Platform::queryKeyboardModifiers()) {
        changed |= *modifiers != m_deferredKey->modifiers;
        m_deferredKey->modifiers = *modifiers;
    }
    const Qt::MouseButtons buttons = Platform::queryMouseButtons();
    changed |= buttons != m_deferredMouse->buttons;
    m_deferredMouse->buttons = buttons;
    if (changed)
        evaluateContinuous(Reason::Input);
}

// --- bindings -------------------------------------------------------------------------------

bool ActionHandler::isImplicitCondition(const ActionCondition *condition) const
{
    return condition == m_immediateKey || condition == m_immediateMouse
        || condition == m_immediateContext || condition == m_deferredKey
        || condition == m_deferredMouse || condition == m_deferredContext;
}

bool ActionHandler::hasImplicitConditions(const ActionBinding &binding) const
{
    return binding.hasCondition(m_immediateKey) || binding.hasCondition(m_deferredKey);
}

void ActionHandler::addImplicitConditions(ActionBinding &binding, int flags) const
{
    if (flags & Action::ConsumesInputFlag)
        binding.consumesInput = true;
    if (hasImplicitConditions(binding))
        return;
    if (binding.type == ActionBinding::Continuous) {
        binding.addCondition(m_deferredKey, true);
        binding.addCondition(m_deferredMouse, true);
        binding.addCondition(m_deferredContext, true);
    } else {
        binding.addCondition(m_immediateKey, true);
        binding.addCondition(m_immediateMouse, true);
        binding.addCondition(m_immediateContext, true);
    }
}

void ActionHandler::addImplicitConditions(Action *action)
{
    QList<ActionBinding> bindings = action->bindings();
    for (ActionBinding &binding : bindings)
        addImplicitConditions(binding, action->flags());
    action->replaceBindingsQuietly(bindings);
}

void ActionHandler::updateGlobalBindings(Action *action)
{
    QList<ActionBinding> globals;
    const QList<ActionBinding> bindings = action->bindings();
    for (const ActionBinding &binding : bindings) {
        if (binding.context == ActionBinding::SystemGlobalContext)
            globals.append(binding);
    }
    if (globals.isEmpty())
        m_globalBindings.remove(action);
    else
        m_globalBindings.insert(action, globals);

    if (!m_globalBindings.isEmpty() && !m_globalListener) {
        m_globalListener = new GlobalKeyEventHandler(this);
        connect(m_globalListener, &GlobalKeyEventHandler::keysPressed, this,
            &ActionHandler::handleGlobalKeys, Qt::QueuedConnection);
    } else if (m_globalBindings.isEmpty() && m_globalListener) {
        delete m_globalListener;
        m_globalListener = nullptr;
    }
}

void ActionHandler::handleGlobalKeys(
    quint32 nativeKey, int key, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons)
{
    if (isBlocked())
        return;
    m_nativeKey = nativeKey;
    m_immediateKey->key = key == Qt::Key_unknown ? 0 : key;
    m_immediateKey->modifiers = modifiers & ~IgnoredModifiers;
    m_immediateMouse->buttons = buttons;
    // A triggered slot may delete actions; guarded copies keep the walk safe.
    QList<QPointer<Action>> triggered;
    for (Action *action : qAsConst(m_triggeredActions))
        triggered.append(action);
    for (const QPointer<Action> &action : qAsConst(triggered)) {
        if (!action || !m_globalBindings.contains(action))
            continue;
        for (int i = 0; i < action->bindingCount(); ++i) {
            if (action->binding(i).context == ActionBinding::SystemGlobalContext
                && action->isBindingSatisfied(i)) {
                action->trigger();
                break;
            }
        }
    }
    m_immediateKey->key = 0;
    m_nativeKey = 0;
    m_immediateMouse->buttons = Qt::NoButton;
}
