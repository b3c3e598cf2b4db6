#include "app/windowmodes.h"

#include "app/windowmodeshost.h"
#include "input/actionhandler.h"
#include "platform/platform.h"
#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "ui/colorcustomizer.h"
#include "ui/confirmdialog.h"
#include "ui/contextmenuhandler.h"
#include "ui/mainframe.h"
#include "view/graphicsview.h"

#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>

namespace {

const char WindowSection[] = "80 - window";

QString upper(const Action *action)
{
    return action ? action->bindingText().toUpper() : QString();
}

} // namespace

WindowModes::WindowModes(WindowModesHost *host)
    : QObject(host->asWidget())
    , m_host(host)
    , m_window(host->asWidget())
    , m_settings(host->generalSettings())
    , m_lastMode(m_settings->setting(QStringLiteral("LastWindowMode")))
    , m_defaultMode(m_settings->setting(QStringLiteral("DefaultWindowMode")))
    , m_hideTransparentWarning(
          m_settings->setting(QStringLiteral("Hide Transparent To Mouse Warning")))
    , m_hideOverlayWarning(m_settings->setting(QStringLiteral("Hide Overlay Mode Warning")))
{
    createActions();
    createTray();
    followLocks();
    connect(
        ContextMenuHandler::instance(), &ContextMenuHandler::contextMenuRequested, this, [this] {
            ContextMenuHandler::instance()->addActions(
                { m_mouseTransparentAction, m_overlayAction, m_windowLockAction, m_canvasLockAction,
                    m_resizeToSelectionAction },
                QString::fromLatin1(WindowSection));
        });
}

WindowModes::~WindowModes()
{
    delete m_tray;
    delete m_trayMenu;
}

QList<Action *> WindowModes::actions() const
{
    return { m_mouseTransparentAction, m_overlayAction, m_windowLockAction, m_canvasLockAction,
        m_resizeToSelectionAction };
}

bool WindowModes::isOverlay() const
{
    return m_host->view()->isOverlayMode();
}

void WindowModes::createActions()
{
    ActionHandler *handler = ActionHandler::instance();
    const QString category = tr("Window");
    const auto add = [&](const char *name, const QString &label, const QKeySequence &keys,
                         int context, bool checkable) {
        Action *action = handler->createAction(QString::fromLatin1(name), label, m_window,
            ActionBinding(ActionBinding::Triggered, keys, Qt::NoButton, context),
            Action::ListedFlag, category);
        action->setCheckable(checkable);
        return action;
    };
    // Click-through leaves the window unreachable: its switch must work from any program.
    m_mouseTransparentAction = add("Transparent To Mouse", tr("Transparent to mouse"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T), ActionBinding::SystemGlobalContext, true);
    connect(
        m_mouseTransparentAction, &QAction::triggered, this, &WindowModes::toggleMouseTransparent);
    m_overlayAction = add("Overlay Mode", tr("Overlay mode"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), ActionBinding::WindowContext, true);
    connect(m_overlayAction, &QAction::triggered, this, &WindowModes::toggleOverlay);
    m_windowLockAction = add("Window Lock", tr("Lock window"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L), ActionBinding::WindowContext, true);
    connect(m_windowLockAction, &QAction::triggered, this,
        [this] { setWindowLocked(!m_settings->boolValue(QStringLiteral("WindowLocked"))); });
    m_canvasLockAction = add("Canvas Lock", tr("Lock canvas"), QKeySequence(Qt::CTRL | Qt::Key_L),
        ActionBinding::WindowContext, true);
    connect(m_canvasLockAction, &QAction::triggered, this,
        [this] { setCanvasLocked(!m_settings->boolValue(QStringLiteral("CanvasLocked"))); });
    m_resizeToSelectionAction = add("Resize To Selection", tr("Fit window to selection"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), ActionBinding::WindowContext, false);
    connect(m_resizeToSelectionAction, &QAction::triggered, this, &WindowModes::resizeToSelection);
    connect(
        add("Increase Master Opacity", tr("More opaque"),
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Up), ActionBinding::WindowContext, false),
        &QAction::triggered, this, &WindowModes::increaseMasterOpacity);
    connect(
        add("Decrease Master Opacity", tr("More transparent"),
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Down), ActionBinding::WindowContext, false),
        &QAction::triggered, this, &WindowModes::decreaseMasterOpacity);
    // Moving, resizing or locking a window that only its pictures show would surprise.
    m_disabledForOverlay = { m_windowLockAction, m_resizeToSelectionAction };
}

void WindowModes::createTray()
{
    // The way back from click-through besides the global binding; the same three toggles a
    // taskbar thumbnail would offer.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_trayMenu = new QMenu;
    // The entries explain what they switch; a menu hides its tooltips unless asked.
    m_trayMenu->setToolTipsVisible(true);
    const auto toggle = [this](Action *action, const QString &onTip, const QString &offTip,
                            const QString &onIcon, const QString &offIcon) {
        QAction *entry = m_trayMenu->addAction(action->text());
        entry->setCheckable(true);
        const auto follow = [entry, action, onTip, offTip, onIcon, offIcon] {
            const bool on = action->isChecked();
            entry->setChecked(on);
            entry->setToolTip(on ? offTip : onTip);
            entry->setIcon(QIcon(on ? offIcon : onIcon));
        };
        connect(action, &QAction::changed, entry, follow);
        connect(entry, &QAction::triggered, action, [action] { action->trigger(); });
        follow();
    };
    toggle(m_mouseTransparentAction, tr("Enable Transparent To Mouse Mode"),
        tr("Disable Transparent To Mouse Mode"), QStringLiteral(":/icons/ignore_on.svg"),
        QStringLiteral(":/icons/ignore_off.svg"));
    toggle(m_overlayAction, tr("Enable Overlay Mode"), tr("Disable Overlay Mode"),
        QStringLiteral(":/icons/overlay_on.svg"), QStringLiteral(":/icons/overlay_off.svg"));
    toggle(m_host->frame()->alwaysOnTopAction(), tr("Enable Always On Top"),
        tr("Disable Always On Top"), QStringLiteral(":/cf/icons/alwaysontop_on.svg"),
        QStringLiteral(":/cf/icons/alwaysontop_off.svg"));
    m_trayMenu->addSeparator();
    connect(m_trayMenu->addAction(tr("Show window")), &QAction::triggered, m_window, [this] {
        m_window->showNormal();
        m_window->raise();
        m_window->activateWindow();
    });
    connect(m_trayMenu->addAction(tr("Quit")), &QAction::triggered, m_window, &QWidget::close);
    m_tray = new QSystemTrayIcon(QIcon(QStringLiteral(":/icons/overlay_on.svg")));
    m_tray->setToolTip(QStringLiteral("Velkora"));
    m_tray->setContextMenu(m_trayMenu);
    m_tray->show();
}

void WindowModes::followLocks()
{
    Setting *windowLock = m_settings->setting(QStringLiteral("WindowLocked"));
    connect(windowLock, &Setting::changed, this, [this] {
        const bool locked = m_settings->boolValue(QStringLiteral("WindowLocked"));
        m_windowLockAction->setChecked(locked);
        m_host->showNotice(tr("Window lock"), locked ? tr("Window locked") : tr("Window unlocked"),
            locked ? QStringLiteral(":/cf/icons/lock.svg")
                   : QStringLiteral(":/cf/icons/unlock.svg"),
            upper(m_windowLockAction));
    });
    m_windowLockAction->setChecked(windowLock->value().toBool());

    Setting *canvasLock = m_settings->setting(QStringLiteral("CanvasLocked"));
    connect(canvasLock, &Setting::changed, this, [this] {
        const bool locked = m_settings->boolValue(QStringLiteral("CanvasLocked"));
        m_canvasLockAction->setChecked(locked);
        m_host->showNotice(tr("Canvas lock"), locked ? tr("Canvas locked") : tr("Canvas unlocked"),
            locked ? QStringLiteral(":/cf/icons/lock.svg")
                   : QStringLiteral(":/cf/icons/unlock.svg"),
            upper(m_canvasLockAction));
        updateCanvasLockIcon();
    });
    m_canvasLockAction->setChecked(canvasLock->value().toBool());
    connect(m_settings->setting(QStringLiteral("CanvasLockedIconPlacement")), &Setting::changed,
        this, &WindowModes::updateCanvasLockIcon);
    connect(m_canvasLockAction, &Action::bindingsChanged, this, &WindowModes::updateCanvasLockIcon);

    m_canvasLockIcon = new QLabel(m_host->view());
    m_canvasLockIcon->setPixmap(QIcon(QStringLiteral(":/cf/icons/lock.svg")).pixmap(24, 24));
    m_canvasLockIcon->setFixedSize(32, 32);
    m_canvasLockIcon->setAlignment(Qt::AlignCenter);
    m_host->view()->installEventFilter(this);
    updateCanvasLockIcon();
}

bool WindowModes::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_host->view() && event->type() == QEvent::Resize)
        updateCanvasLockIcon();
    return QObject::eventFilter(watched, event);
}

void WindowModes::updateCanvasLockIcon()
{
    const int placement = m_settings->intValue(QStringLiteral("CanvasLockedIconPlacement"));
    const bool shown = m_settings->boolValue(QStringLiteral("CanvasLocked")) && placement < 4;
    m_canvasLockIcon->setVisible(shown);
    if (!shown)
        return;
    const QString binding = m_canvasLockAction->bindingText();
    m_canvasLockIcon->setToolTip(binding.isEmpty()
            ? tr("Canvas locked, unlock through the context menu.")
            : tr("Canvas locked, unlock with %0.").arg(binding));
    // Top left, top right, bottom left, bottom right.
    const QRect area = m_host->view()->rect().adjusted(4, 4, -4, -4);
    const QSize size = m_canvasLockIcon->size();
    const int x = (placement % 2 == 0) ? area.left() : area.right() - size.width() + 1;
    const int y = (placement < 2) ? area.top() : area.bottom() - size.height() + 1;
    m_canvasLockIcon->move(x, y);
    m_canvasLockIcon->raise();
}

// Modes ------------------------------------------------------------------------------------------

void WindowModes::setMouseTransparent(bool transparent, bool force)
{
    if (transparent == m_mouseTransparent)
        return;
    MainFrame *frame = m_host->frame();
    if (transparent && !force) {
        const QString binding = m_mouseTransparentAction->bindingText();
        QString wayBack = binding.isEmpty()
            ? tr("the tray icon's menu")
            : (m_tray ? tr("the key binding %0 (it works from any program) or the tray icon's menu")
                      : tr("the key binding %0, which works from any program"))
                  .arg(binding);
        const QString text = tr("The window will let every click pass through to what lies below "
                                "it. The only way back is %0.")
                                 .arg(wayBack);
        if (!confirm(text, m_hideTransparentWarning))
            return;
    }
    if (transparent) {
        m_lastMode->setValue(isOverlay() ? OverlayAndMouseTransparent : MouseTransparent);
        m_alwaysOnTopBefore = frame->isAlwaysOnTop();
        frame->setAlwaysOnTop(true);
    } else {
        m_lastMode->setValue(isOverlay() ? Overlay : Normal);
        frame->setAlwaysOnTop(m_alwaysOnTopBefore);
    }
    Platform::setTransparentForInput(m_window, transparent);
    m_mouseTransparent = transparent;
    m_mouseTransparentAction->setChecked(transparent);
    m_host->showNotice(tr("Transparent to mouse"),
        transparent ? tr("Transparent to mouse enabled") : tr("Transparent to mouse disabled"),
        transparent ? QStringLiteral(":/icons/ignore_on.svg")
                    : QStringLiteral(":/icons/ignore_off.svg"),
        upper(m_mouseTransparentAction));
}

bool WindowModes::confirm(const QString &text, Setting *hideWarning)
{
    return ConfirmDialog::ask(m_window, tr("Confirmation"), text,
               { { tr("Continue"), QDialogButtonBox::AcceptRole },
                   { QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel } },
               hideWarning, 0)
        == 0;
}

void WindowModes::toggleMouseTransparent()
{
    setMouseTransparent(!m_mouseTransparent);
}

void WindowModes::setOverlay(bool overlay, bool force)
{
    m_overlayAction->setChecked(isOverlay());
    if (overlay == isOverlay() && !(overlay && m_overlayPending))
        return;
    if (overlay && !force) {
        const QString text
            = tr("Only the pictures will show: the canvas and the window's frame "
                 "become see-through. Switch back with %0, or choose it again in "
                 "the context menu; %1 makes the window let clicks through as well.")
                  .arg(m_overlayAction->bindingText(), m_mouseTransparentAction->bindingText());
        if (!confirm(text, m_hideOverlayWarning))
            return;
    }
    MainFrame *frame = m_host->frame();
    GraphicsView *view = m_host->view();
    if (overlay) {
        if (!m_window->isVisible()) {
            m_overlayPending = true;
            return;
        }
        m_overlayPending = false;
        m_lastMode->setValue(m_mouseTransparent ? OverlayAndMouseTransparent : Overlay);
        m_host->setOverlayLook(true);
        view->setOverlayMode(true);
        m_maximizedBefore = frame->isMaximized();
        m_lockedBefore = frame->isLocked();
        frame->setLocked(true);
        m_viewBeforeOverlay = visibleSceneRect();
        for (Action *action : qAsConst(m_disabledForOverlay))
            action->setEnabled(false);
        // The pictures fill the window; a view that showed more keeps its wider proportion.
        QRectF target = m_host->scene()->itemsBoundingRect();
        if (!target.isEmpty()) {
            const qreal widen = m_viewBeforeOverlay.width() - target.width();
            const qreal heighten = m_viewBeforeOverlay.height() - target.height();
            target.adjust(-qMax<qreal>(0, widen) / 2, -qMax<qreal>(0, heighten) / 2,
                qMax<qreal>(0, widen) / 2, qMax<qreal>(0, heighten) / 2);
            view->fitTo(target);
        }
    } else {
        m_lastMode->setValue(m_mouseTransparent ? MouseTransparent : Normal);
        m_host->setOverlayLook(false);
        view->setOverlayMode(false);
        frame->setLocked(m_lockedBefore);
        if (frame->isMaximized() != m_maximizedBefore)
            frame->maximize(m_maximizedBefore);
        for (Action *action : qAsConst(m_disabledForOverlay))
            action->setEnabled(true);
        view->fitTo(m_viewBeforeOverlay);
    }
    m_overlayAction->setChecked(overlay);
    m_host->showNotice(tr("Overlay mode"),
        overlay ? tr("Overlay mode enabled") : tr("Overlay mode disabled"),
        overlay ? QStringLiteral(":/icons/overlay_on.svg")
                : QStringLiteral(":/icons/overlay_off.svg"),
        upper(m_overlayAction));
    // After the mode's own notice, which would otherwise replace it at once.
    if (overlay && !Platform::hasCompositor())
        warnWithoutCompositor();
}

void WindowModes::toggleOverlay()
{
    setOverlay(!isOverlay());
}

void WindowModes::warnWithoutCompositor()
{
    // Without a compositing manager the see-through parts show black: say so once, instead of
    // leaving a black window unexplained.
    if (m_compositorWarned)
        return;
    m_compositorWarned = true;
    m_host->showNotice(tr("See-through"), tr("See-through needs a compositor"),
        QStringLiteral(":/icons/warning.svg"));
}

void WindowModes::setWindowMode(int mode)
{
    if (mode == LastMode)
        mode = m_settings->intValue(m_lastMode);
    switch (mode) {
    case MouseTransparent:
        setMouseTransparent(true, true);
        break;
    case Overlay:
        setOverlay(true, true);
        break;
    case OverlayAndMouseTransparent:
        setMouseTransparent(true, true);
        setOverlay(true, true);
        break;
    default:
        break;
    }
}

void WindowModes::setWindowLocked(bool locked)
{
    if (m_host->frame()->isMaximized()
        && m_settings->boolValue(QStringLiteral("LockWhileMaximized")))
        return;
    m_settings->setting(QStringLiteral("WindowLocked"))->setValue(locked);
    m_windowLockAction->setChecked(locked);
}

void WindowModes::setCanvasLocked(bool locked)
{
    if (m_host->view()->isCanvasLocked() == locked
        && m_settings->boolValue(QStringLiteral("CanvasLocked")) == locked)
        return;
    m_settings->setting(QStringLiteral("CanvasLocked"))->setValue(locked);
    m_canvasLockAction->setChecked(locked);
}

void WindowModes::resizeToSelection()
{
    MainFrame *frame = m_host->frame();
    GraphicsView *view = m_host->view();
    const QList<GraphicsItem *> selected = m_host->scene()->selectedGraphicsItems();
    if (frame->isLocked() || selected.isEmpty())
        return;
    QRectF bounds;
    for (const GraphicsItem *item : selected)
        bounds |= item->sceneBoundingRect();
    // The canvas must end up showing the selection with 2 pixels around it. What surrounds the
    // canvas in the window is not the same on every side (the title strip is on top), so each
    // side keeps its own distance; one margin for all would shrink the window at every repeat.
    const QRect onScreen = view->mapFromScene(bounds).boundingRect();
    QRect target(view->viewport()->mapToGlobal(onScreen.topLeft()), onScreen.size());
    const QRect now = m_window->frameGeometry();
    const QRect canvas(view->viewport()->mapToGlobal(QPoint(0, 0)), view->viewport()->size());
    target.adjust(-(canvas.left() - now.left()) - 2, -(canvas.top() - now.top()) - 2,
        (now.right() - canvas.right()) + 2, (now.bottom() - canvas.bottom()) + 2);
    if ((now.topLeft() - target.topLeft()).manhattanLength() <= 2
        && qAbs(now.width() - target.width()) < 2 && qAbs(now.height() - target.height()) < 2)
        return;
    if (frame->isMaximized())
        frame->maximize(false);
    // The window has no system frame: its frame geometry is its geometry.
    m_window->setGeometry(target);
    view->fitTo(bounds);
    frame->keepOnScreens();
}

void WindowModes::increaseMasterOpacity()
{
    // Rounded, not truncated: 0.58 is stored as 0.579999..., and truncating would step to 59.
    ColorCustomizer *colors = m_host->frame()->colorCustomizer();
    colors->setMasterOpacity(qRound(colors->masterOpacity() * 100) + 2);
}

void WindowModes::decreaseMasterOpacity()
{
    ColorCustomizer *colors = m_host->frame()->colorCustomizer();
    colors->setMasterOpacity(qRound(colors->masterOpacity() * 100) - 2);
    if (!Platform::hasCompositor())
        warnWithoutCompositor();
}

// Life cycle ------------------------------------------------------------------------------------

void WindowModes::windowShown(bool first)
{
    if (m_overlayPending)
        setOverlay(true, true);
    const int mode = m_settings->intValue(m_defaultMode);
    if (first && mode != Normal)
        setWindowMode(mode);
}

void WindowModes::windowClosing()
{
    if (isOverlay())
        setOverlay(false, true);
}

QRectF WindowModes::visibleSceneRect() const
{
    GraphicsView *view = m_host->view();
    return view->mapToScene(view->viewport()->rect()).boundingRect();
}
