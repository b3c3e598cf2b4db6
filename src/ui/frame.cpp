#include "ui/frame.h"

#include "input/actionhandler.h"
#include "platform/platform.h"
#include "ui/contextmenuhandler.h"
#include "ui/popuplabel.h"

#include <QEvent>
#include <QScopedValueRollback>
#include <QTimer>
#include <QToolButton>

#include <memory>

namespace {

constexpr int PopupDuration = 2000;

} // namespace

Frame::Frame(QWidget *window)
    : BaseFrame(window, DeferActions)
    , m_popup(new PopupLabel(this))
{
    createContextMenuAction();
    createActions();
    createSystemActions();
    connect(ContextMenuHandler::instance(), &ContextMenuHandler::contextMenuRequested, this,
        &Frame::contributeToMenu);
    QToolButton *minimize
        = addTitleButton(QStringLiteral(":/cf/icons/minimize.png"), tr("Minimize"));
    connect(minimize, &QToolButton::clicked, this, &Frame::toggleMinimized);
    QToolButton *maximizeButton
        = addTitleButton(QStringLiteral(":/cf/icons/maximize.png"), tr("Maximize"));
    connect(maximizeButton, &QToolButton::clicked, this, [this] { maximize(!isMaximized()); });
}

void Frame::createSystemActions()
{
    ActionHandler *handler = ActionHandler::instance();
    const QString category = tr("System");
    const auto create
        = [&](const char *name, const QString &label, const QKeySequence &keys, bool checkable) {
              ActionBinding binding(ActionBinding::Triggered, keys);
              Action *action = handler->createAction(
                  QString::fromLatin1(name), label, this, binding, Action::ListedFlag, category);
              action->setCheckable(checkable);
              return action;
          };
    m_closeAction = create("Close Window", tr("Close"), QKeySequence(Qt::CTRL | Qt::Key_X), false);
    m_closeAction->setMenuRole(QAction::QuitRole);
    connect(m_closeAction, &QAction::triggered, window(), &QWidget::close);
    m_minimizeAction
        = create("Minimize Window", tr("Minimize"), QKeySequence(Qt::CTRL | Qt::Key_M), false);
    connect(m_minimizeAction, &QAction::triggered, this, &Frame::toggleMinimized);
    m_maximizeAction
        = create("Maximize Window", tr("Maximize"), QKeySequence(Qt::CTRL | Qt::Key_F), true);
    connect(m_maximizeAction, &QAction::triggered, this, [this] { maximize(!isMaximized()); });
    m_alwaysOnTopAction = create(
        "Always On Top", tr("Always on top"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A), true);
    connect(
        m_alwaysOnTopAction, &QAction::triggered, this, [this] { setAlwaysOnTop(!m_alwaysOnTop); });
    m_alwaysOnBottomAction = create("Always On Bottom", tr("Always at bottom"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B), true);
    connect(m_alwaysOnBottomAction, &QAction::triggered, this,
        [this] { setAlwaysOnBottom(!m_alwaysOnBottom); });
}

void Frame::createContextMenuAction()
{
    ActionBinding binding(ActionBinding::Continuous, QKeySequence(), Qt::RightButton);
    binding.addCondition(rightDraggedCondition(), false);
    // Registered before moving the window (see the constructor), so that a right press is a
    // click until it drags.
    m_contextMenuAction = ActionHandler::instance()->createAction(QStringLiteral("Context Menu"),
        tr("Context menu"), this, binding, Action::ListedFlag | Action::ConsumesInputFlag,
        tr("System"));
    connect(m_contextMenuAction, &Action::continuousBegin, this,
        [this](const QPoint &position) { m_pressPosition = position; });
    connect(m_contextMenuAction, &Action::continuousUpdate, this,
        [this](const Action::ContinuousUpdateData &motion) {
            if ((motion.current - m_pressPosition).manhattanLength() <= moveThreshold())
                return;
            rightDraggedCondition()->setValue(true);
            ActionHandler::instance()->reevaluate();
        });
    connect(m_contextMenuAction, &Action::continuousEnd, this,
        [this](const Action::ContinuousUpdateData &motion, Action *next) {
            // The release hands over to a hover action at most: that is no drag going on.
            if (next && (next->flags() & Action::HoverFlag))
                next = nullptr;
            if (!rightDraggedCondition()->value()) {
                if (!next && !isMoving())
                    ContextMenuHandler::instance()->showMenu(motion.current);
                return;
            }
            if (!next) {
                rightDraggedCondition()->setValue(false);
                // A drag that nothing took: the window would have moved but for its lock.
                if (isLocked())
                    showPopup(tr("Window lock"), tr("Window locked"),
                        QStringLiteral(":/cf/icons/lock.svg"), QString());
                return;
            }
            // The drag goes on as the next action; a right click after it is a click again.
            auto once = std::make_shared<QMetaObject::Connection>();
            *once = connect(next, &Action::continuousEnd, this, [this, once] {
                rightDraggedCondition()->setValue(false);
                disconnect(*once);
            });
        });
}

void Frame::contributeToMenu()
{
    QWidget *managed = window();
    if (!managed->isVisible() || !managed->isActiveWindow())
        return;
    ContextMenuHandler *menu = ContextMenuHandler::instance();
    menu->addActions(
        { m_alwaysOnTopAction, m_alwaysOnBottomAction, m_minimizeAction, m_maximizeAction },
        QStringLiteral("80 - window"));
    menu->addAction(m_closeAction, QStringLiteral("99 - bottom"));
}

bool Frame::isMaximized() const
{
    return maximizedCondition()->value();
}

void Frame::showPopup(const QString &category, const QString &heading, const QString &bindingText,
    const QString &iconPath)
{
    if (m_popupEnabled)
        m_popup->showNotice(category, heading, bindingText, iconPath, PopupDuration);
}

// Stacking --------------------------------------------------------------------------------------

void Frame::setAlwaysOnTop(bool on)
{
    QScopedValueRollback<bool> guard(m_stackingGuard, true);
    if (on && m_alwaysOnBottom)
        setAlwaysOnBottom(false);
    Platform::setWindowStacking(window(),
        on ? Platform::Stacking::AlwaysOnTop
           : (m_alwaysOnBottom ? Platform::Stacking::AlwaysOnBottom : Platform::Stacking::Normal));
    // The action toggles itself when triggered; its check mark follows the mode, not the click.
    m_alwaysOnTopAction->setChecked(on);
    if (m_alwaysOnTop == on)
        return;
    m_alwaysOnTop = on;
    emit alwaysOnTopChanged(on);
    showPopup(tr("Always on top"), on ? tr("Always on top enabled") : tr("Always on top disabled"),
        m_alwaysOnTopAction->bindingText().toUpper(),
        on ? QStringLiteral(":/cf/icons/alwaysontop_on.svg")
           : QStringLiteral(":/cf/icons/alwaysontop_off.svg"));
}

void Frame::setAlwaysOnBottom(bool on)
{
    QScopedValueRollback<bool> guard(m_stackingGuard, true);
    if (on && m_alwaysOnTop)
        setAlwaysOnTop(false);
    if (on) {
        Platform::setWindowStacking(window(), Platform::Stacking::AlwaysOnBottom);
    } else if (Platform::windowStacking(window()) == Platform::Stacking::AlwaysOnBottom) {
        // The window manager keeps a window below for as long as it is marked so: the mark
        // goes, the window stays where it is.
        Platform::setWindowStacking(window(), Platform::Stacking::Normal);
    }
    m_alwaysOnBottomAction->setChecked(on);
    if (m_alwaysOnBottom == on)
        return;
    m_alwaysOnBottom = on;
    emit alwaysOnBottomChanged(on);
    showPopup(tr("Always on bottom"),
        on ? tr("Always on bottom enabled") : tr("Always on bottom disabled"),
        m_alwaysOnBottomAction->bindingText().toUpper(),
        on ? QStringLiteral(":/cf/icons/alwaysonbottom_on.svg")
           : QStringLiteral(":/cf/icons/alwaysonbottom_off.svg"));
}

void Frame::enforceStacking()
{
    if (m_stackingGuard)
        return;
    if (m_alwaysOnTop || !m_alwaysOnBottom)
        setAlwaysOnTop(m_alwaysOnTop);
    if (!(m_alwaysOnTop && !m_alwaysOnBottom))
        setAlwaysOnBottom(m_alwaysOnBottom);
}

// Window state ----------------------------------------------------------------------------------

void Frame::maximize(bool on, bool fromWindowSystem)
{
    if (isMaximized() == on) {
        m_maximizeAction->setChecked(on);
        return;
    }
    QWidget *managed = window();
    if (on && !managed->isVisible()) {
        m_pendingMaximize = true;
        return;
    }
    if (on) {
        if (!fromWindowSystem && m_maximizedAboveTaskbar)
            managed->showFullScreen();
        else
            managed->showMaximized();
        if (m_lockWhileMaximized) {
            m_lockedBeforeMaximize = isLocked();
            m_lockedByMaximize = true;
            setLocked(true);
        }
    } else {
        managed->showNormal();
        if (m_normalGeometry.isValid())
            managed->setGeometry(m_normalGeometry);
        if (m_lockedByMaximize && isLocked())
            setLocked(m_lockedBeforeMaximize);
        m_lockedByMaximize = false;
    }
    recordMaximized(on);
}

void Frame::recordMaximized(bool on)
{
    if (isMaximized() == on) {
        m_maximizeAction->setChecked(on);
        return;
    }
    maximizedCondition()->setValue(on);
    m_maximizeAction->setChecked(on);
    emit maximizedChanged(on);
    showPopup(m_maximizeAction->text(), on ? tr("Maximize enabled") : tr("Maximize disabled"),
        m_maximizeAction->bindingText().toUpper(), QStringLiteral(":/cf/icons/maximize_on.svg"));
}

void Frame::toggleMinimized()
{
    QWidget *managed = window();
    if (managed->isMinimized()) {
        // Back to what it was before: maximized stays maximized.
        managed->setWindowState(managed->windowState() & ~Qt::WindowMinimized);
        managed->show();
        managed->activateWindow();
    } else {
        managed->showMinimized();
    }
}

void Frame::windowShown()
{
    BaseFrame::windowShown();
    if (m_pendingMaximize) {
        // Carries out the restore of the last run's state: nothing to report.
        m_pendingMaximize = false;
        QScopedValueRollback<bool> quiet(m_popupEnabled, false);
        maximize(true);
    }
}

bool Frame::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window()) {
        switch (event->type()) {
        case QEvent::ActivationChange:
            enforceStacking();
            break;
        case QEvent::WindowStateChange: {
            const Qt::WindowStates state = window()->windowState();
            if (!(state & Qt::WindowMinimized))
                recordMaximized(state & (Qt::WindowMaximized | Qt::WindowFullScreen));
            break;
        }
        case QEvent::Move:
        case QEvent::Resize:
            if (window()->isVisible()
                && !(window()->windowState()
                    & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)))
                m_normalGeometry = window()->geometry();
            break;
        default:
            break;
        }
    }
    return BaseFrame::eventFilter(watched, event);
}
