#include "ui/baseframe.h"

#include "input/actionhandler.h"
#include "platform/artwork.h"
#include "platform/platform.h"
#include "ui/uilog.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <private/qhighdpiscaling_p.h>

namespace {

constexpr int ContentMargin = 5;
constexpr int TitlePointSize = 7;

// The screen's scale about the given device position; screens of one virtual desktop share
// their origin, so the position only matters where the toolkit tells screens apart by it.
FrameGeometry::Scale scaleOf(const QScreen *screen, QPoint *devicePosition = nullptr)
{
    if (!screen)
        return {};
    const QHighDpiScaling::ScaleAndOrigin scale
        = QHighDpiScaling::scaleAndOrigin(screen, devicePosition);
    return { scale.factor, scale.origin };
}

QScreen *screenForRect(const QRect &logical, QScreen *current)
{
    if (!current)
        return nullptr;
    const QList<QScreen *> siblings = current->virtualSiblings();
    const int index = siblings.indexOf(current);
    if (index < 0)
        return current;
    QList<QRect> geometries;
    geometries.reserve(siblings.size());
    for (const QScreen *screen : siblings)
        geometries.append(screen->geometry());
    return siblings.at(FrameGeometry::screenForRect(logical, geometries, index));
}

QPoint pointerToDevice(const QPoint &logical, QScreen *current)
{
    return FrameGeometry::toDevice(
        logical, scaleOf(screenForRect(QRect(logical, QSize(1, 1)), current)));
}

QRect deviceToLogical(const QRect &device, const QScreen *screen)
{
    QPoint centre = device.center();
    return FrameGeometry::toLogical(device, scaleOf(screen, &centre));
}

} // namespace

BaseFrame::BaseFrame(QWidget *window, ActionTiming timing)
    : QWidget(window)
    , m_managed(window)
    , m_locked(new ActionCondition(false, this))
    , m_moving(new ActionCondition(false, this))
    , m_resizing(new ActionCondition(false, this))
    , m_resizable(new ActionCondition(true, this))
    , m_overBorder(new ActionCondition(false, this))
    , m_maximized(new ActionCondition(false, this))
    // A frame that defers its actions puts a click first and clears this.
    , m_rightDragged(new ActionCondition(timing == CreateActions, this))
{
    Q_ASSERT(window);
    const Qt::WindowFlags type = window->windowFlags() & Qt::WindowType_Mask;
    m_isDialog = type == Qt::Dialog || type == Qt::Tool;
    window->setWindowFlags(window->windowFlags() | Qt::FramelessWindowHint
        | Qt::WindowMinimizeButtonHint | Qt::NoDropShadowWindowHint);
    window->setAttribute(Qt::WA_TranslucentBackground);
    window->installEventFilter(this);

    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(ContentMargin, ContentMargin, ContentMargin, ContentMargin);
    m_layout->setSpacing(0);

    m_titleStrip = new QWidget(this);
    m_titleStrip->setObjectName(QStringLiteral("titleStrip"));
    QFont titleFont = font();
    titleFont.setPointSize(TitlePointSize);
    m_stripHeight = QFontMetrics(titleFont).height();
    m_titleStrip->setFixedHeight(m_stripHeight);
    m_buttonLayout = new QHBoxLayout(m_titleStrip);
    m_buttonLayout->setContentsMargins(0, 0, 0, 0);
    m_buttonLayout->setSpacing(2);
    m_buttonLayout->addSpacing(3 * m_stripHeight);
    m_title = new QLabel(window->windowTitle(), m_titleStrip);
    m_title->setObjectName(QStringLiteral("windowTitle"));
    m_title->setFont(titleFont);
    m_title->setAlignment(Qt::AlignCenter);
    m_buttonLayout->addWidget(m_title, 1);
    m_closeButton = addTitleButton(QStringLiteral(":/cf/icons/close.png"), tr("Close"));
    connect(m_closeButton, &QToolButton::clicked, m_managed, &QWidget::close);
    m_layout->addWidget(m_titleStrip);

    if (timing == CreateActions)
        createActions();
    watchScreens();
    connect(
        qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            // A press after coming back must not start a resize from a hover long gone.
            if (state != Qt::ApplicationActive && isResizable())
                m_overBorder->setValue(false);
        });
}

BaseFrame::~BaseFrame()
{
    if (m_cursorOverridden)
        QGuiApplication::restoreOverrideCursor();
}

QWidget *BaseFrame::frameDialog(QWidget *dialog)
{
    auto *frame = new BaseFrame(dialog);
    auto *outer = new QVBoxLayout(dialog);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);
    auto *body = new QWidget(frame);
    frame->setContent(body);
    return body;
}

void BaseFrame::createActions()
{
    ActionHandler *handler = ActionHandler::instance();
    // Dialogs come and go: only the main window's frame lists these actions in the key binder,
    // so that the binder's rows always stand for a live action.
    const int listed = m_isDialog ? 0 : Action::ListedFlag;
    const QString category = tr("System");

    ActionBinding move(ActionBinding::Continuous, QKeySequence(), Qt::RightButton);
    move.addCondition(m_locked, false);
    // A maximized window stays put; the content may pan with the right button instead.
    move.addCondition(m_maximized, false);
    move.addCondition(m_rightDragged, true);
    m_moveAction = handler->createAction(QStringLiteral("Move Window"), tr("Move Window"), this,
        move, listed | Action::ConsumesInputFlag, category);
    connect(
        m_moveAction, &Action::continuousBegin, this, [this](const QPoint &position, Action *from) {
            // A drag handed over by another action of this frame has passed the threshold
            // already; the window keeps the point pressed under the pointer.
            const bool handedOver = from && from->parent() == this;
            moveBegin(handedOver ? m_pressPosition : position);
            if (handedOver)
                m_moving->setValue(true);
        });
    connect(m_moveAction, &Action::continuousUpdate, this, &BaseFrame::moveUpdate);
    connect(m_moveAction, &Action::continuousEnd, this, [this] { moveEnd(); });

    ActionBinding resize(ActionBinding::Continuous, QKeySequence(), Qt::LeftButton);
    resize.addCondition(m_overBorder, true);
    resize.addCondition(m_locked, false);
    resize.addCondition(m_maximized, false);
    m_resizeAction
        = handler->createAction(QStringLiteral("Resize Window"), tr("Resize Window"), this, resize,
            listed | (m_isDialog ? 0 : Action::AdvancedFlag) | Action::ConsumesInputFlag, category);
    connect(m_resizeAction, &Action::continuousBegin, this,
        [this](const QPoint &position) { resizeBegin(position); });
    connect(m_resizeAction, &Action::continuousUpdate, this, &BaseFrame::resizeUpdate);
    connect(m_resizeAction, &Action::continuousEnd, this, [this] { resizeEnd(); });

    ActionBinding hover(ActionBinding::Continuous, QKeySequence(), Qt::NoButton);
    hover.addCondition(m_locked, false);
    hover.addCondition(m_resizable, true);
    hover.addCondition(m_maximized, false);
    m_cursorAction = handler->createAction(QStringLiteral("Resize Cursor Update"),
        QStringLiteral("Resize Cursor Update"), this, hover, Action::HoverFlag, category);
    // The hover starts at a pointer move of its own: the cursor must follow it at once, or a
    // press right after would find no border.
    connect(m_cursorAction, &Action::continuousBegin, this,
        [this](const QPoint &position) { updateCursor(position); });
    connect(m_cursorAction, &Action::continuousUpdate, this,
        [this](const Action::ContinuousUpdateData &motion) { updateCursor(motion.current); });
    connect(m_cursorAction, &Action::continuousEnd, this, [this] {
        if (m_cursorOverridden && !m_resizing->value()) {
            m_cursorOverridden = false;
            QGuiApplication::restoreOverrideCursor();
        }
    });
    setResizable(!m_isDialog);
}

void BaseFrame::watchScreens()
{
    const auto watch = [this](QScreen *screen) {
        connect(screen, &QScreen::availableGeometryChanged, this, &BaseFrame::keepOnScreens);
    };
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (QScreen *screen : screens)
        watch(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, [this, watch](QScreen *screen) {
        watch(screen);
        keepOnScreens();
    });
    // The removed screen is still listed while the signal is delivered.
    connect(qApp, &QGuiApplication::screenRemoved, this,
        [this] { QTimer::singleShot(0, this, &BaseFrame::keepOnScreens); });
}

void BaseFrame::setContent(QWidget *content)
{
    if (m_content)
        m_layout->removeWidget(m_content);
    m_content = content;
    if (content)
        m_layout->addWidget(content, 1);
}

QToolButton *BaseFrame::addTitleButton(const QString &iconPath, const QString &toolTip)
{
    auto *button = new QToolButton(m_titleStrip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setProperty("glyph", iconPath);
    tintGlyph(button);
    button->setToolTip(toolTip);
    const int size = m_stripHeight;
    button->setFixedSize(size, size);
    button->setIconSize(QSize(size - 2, size - 2));
    // Before the close button, which stays the last.
    const int index = m_closeButton ? m_buttonLayout->indexOf(m_closeButton) : -1;
    m_buttonLayout->insertWidget(index, button);
    return button;
}

void BaseFrame::tintGlyph(QToolButton *button) const
{
    // The glyph takes the frame's text colour, so one drawing serves light and dark frames.
    QImage glyph = Artwork::image(button->property("glyph").toString());
    if (glyph.isNull())
        return;
    glyph = glyph.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&glyph);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(glyph.rect(), palette().color(QPalette::WindowText));
    painter.end();
    button->setIcon(QIcon(QPixmap::fromImage(glyph)));
}

void BaseFrame::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange) {
        const QList<QToolButton *> buttons = m_titleStrip->findChildren<QToolButton *>();
        for (QToolButton *button : buttons)
            tintGlyph(button);
    }
    QWidget::changeEvent(event);
}

void BaseFrame::setResizable(bool resizable)
{
    m_resizable->setValue(resizable);
    m_resizeAction->setEnabled(resizable);
    m_cursorAction->setEnabled(resizable);
}

bool BaseFrame::isResizable() const
{
    return m_resizable->value();
}

void BaseFrame::setLocked(bool locked)
{
    m_locked->setValue(locked);
    if (locked && m_cursorOverridden && !m_resizing->value()) {
        m_cursorOverridden = false;
        QGuiApplication::restoreOverrideCursor();
    }
}

bool BaseFrame::isLocked() const
{
    return m_locked->value();
}

bool BaseFrame::isMoving() const
{
    return m_moving->value();
}

bool BaseFrame::isResizing() const
{
    return m_resizing->value();
}

void BaseFrame::setBorderVisible(bool visible)
{
    if (m_borderVisible == visible)
        return;
    m_borderVisible = visible;
    update();
}

void BaseFrame::setBorderColor(const QColor &color)
{
    if (m_borderColor == color)
        return;
    m_borderColor = color;
    update();
}

// Moving ----------------------------------------------------------------------------------------

void BaseFrame::moveBegin(const QPoint &position)
{
    m_systemDrag = false;
    QWindow *handle = m_managed->windowHandle();
    if (!handle || !handle->screen())
        return;
    const QPoint pointer = pointerToDevice(position, handle->screen());
    const QPoint topLeft
        = FrameGeometry::toDevice(m_managed->geometry().topLeft(), scaleOf(handle->screen()));
    m_moveOffset = topLeft - pointer;
    m_moveSize = m_managed->size();
}

void BaseFrame::moveUpdate(const Action::ContinuousUpdateData &motion)
{
    QWindow *handle = m_managed->windowHandle();
    if (!m_moving->value()) {
        if ((motion.current - motion.origin).manhattanLength() <= m_moveThreshold)
            return;
        m_moving->setValue(true);
        // A Wayland compositor moves windows only itself. X11 window managers are told that
        // the first button drives the move (the toolkit hard-codes it), so they would go on
        // moving after our right button is up: there the frame moves the window itself.
        m_systemDrag = handle && Platform::windowSystem() == Platform::WindowSystem::Wayland
            && handle->startSystemMove();
        qCDebug(lcUi, "Moving the window %s", m_systemDrag ? "by the window system" : "itself");
        return;
    }
    if (m_systemDrag || !handle || !handle->screen() || !m_moveSize.isValid())
        return;
    // Qt follows a screen's scale without being told, so there is nothing to switch off while
    // the window crosses screens (Windows needs its DPI-change reaction suspended here).
    QScreen *current = handle->screen();
    const QPoint topLeft = pointerToDevice(motion.current, current) + m_moveOffset;
    QRect device(topLeft, m_moveSize * scaleOf(current).factor);
    QScreen *target = screenForRect(deviceToLogical(device, current), current);
    if (target && target != current) {
        device = FrameGeometry::resizedAboutCentre(
            device, m_moveSize * scaleOf(target).factor, &m_moveOffset);
        handle->setScreen(target);
    }
    m_managed->setGeometry(deviceToLogical(device, target ? target : current));
}

void BaseFrame::moveEnd()
{
    m_moving->setValue(false);
    m_systemDrag = false;
}

// Resizing --------------------------------------------------------------------------------------

void BaseFrame::resizeBegin(const QPoint &position)
{
    m_resizing->setValue(true);
    m_systemDrag = false;
    QWindow *handle = m_managed->windowHandle();
    if (handle && handle->screen()) {
        const FrameGeometry::Scale scale = scaleOf(handle->screen());
        m_resizeStartPosition = FrameGeometry::toDevice(m_managed->geometry().topLeft(), scale);
        m_resizeStartSize = m_managed->size() * scale.factor;
        m_resizeStartCursor = pointerToDevice(position, handle->screen());
    }
    // Latches the edges for this drag: the hover action does not run while the button is held.
    updateCursor(position);
    if (!m_edges.any() || !handle)
        return;
    Qt::Edges edges;
    edges.setFlag(Qt::LeftEdge, m_edges.left);
    edges.setFlag(Qt::RightEdge, m_edges.right);
    edges.setFlag(Qt::TopEdge, m_edges.top);
    edges.setFlag(Qt::BottomEdge, m_edges.bottom);
    m_systemDrag = handle->startSystemResize(edges);
    qCDebug(lcUi, "Resizing the window %s", m_systemDrag ? "by the window system" : "itself");
}

void BaseFrame::resizeUpdate(const Action::ContinuousUpdateData &motion)
{
    QWindow *handle = m_managed->windowHandle();
    if (m_systemDrag || !handle || !handle->screen() || !m_resizeStartSize.isValid())
        return;
    QScreen *current = handle->screen();
    const QPoint delta = pointerToDevice(motion.current, current) - m_resizeStartCursor;
    const QSize minimum = m_managed->minimumSize() * scaleOf(current).factor;
    setDeviceGeometry(FrameGeometry::resizedRect(
        QRect(m_resizeStartPosition, m_resizeStartSize), delta, minimum, m_edges));
}

void BaseFrame::resizeEnd()
{
    m_resizing->setValue(false);
    m_systemDrag = false;
    m_resizeStartSize = QSize();
    if (m_cursorOverridden) {
        m_cursorOverridden = false;
        QGuiApplication::restoreOverrideCursor();
    }
}

void BaseFrame::setDeviceGeometry(const QRect &device)
{
    QWindow *handle = m_managed->windowHandle();
    QScreen *current = handle->screen();
    QScreen *target = screenForRect(deviceToLogical(device, current), current);
    if (target && target != current)
        handle->setScreen(target);
    m_managed->setGeometry(deviceToLogical(device, target ? target : current));
}

void BaseFrame::updateCursor(const QPoint &position)
{
    QWindow *handle = m_managed->windowHandle();
    if (!m_managed->isVisible() || !handle || !handle->screen())
        return;
    m_edges = {};
    QScreen *current = handle->screen();
    QScreen *pointerScreen = screenForRect(QRect(position, QSize(1, 1)), current);
    const QPoint pointer = FrameGeometry::toDevice(position, scaleOf(pointerScreen));
    const QRect frame = FrameGeometry::toDevice(m_managed->frameGeometry(), scaleOf(current));
    const int border = int(m_resizeBorder * scaleOf(pointerScreen).factor);

    const QRect strip(m_titleStrip->mapToGlobal(QPoint(0, 0)), m_titleStrip->size());
    const bool overTitle
        = m_closeButton->isVisible() && strip.adjusted(-2, -2, 2, 2).contains(position);
    if (!overTitle)
        m_edges = FrameGeometry::edgesAt(pointer, frame, border);
    m_overBorder->setValue(m_edges.any());

    const Qt::CursorShape shape = FrameGeometry::cursorFor(m_edges);
    const QCursor *override = QGuiApplication::overrideCursor();
    if (shape == Qt::ArrowCursor) {
        if (m_cursorOverridden) {
            m_cursorOverridden = false;
            QGuiApplication::restoreOverrideCursor();
        }
        return;
    }
    if (override && override->shape() == shape)
        return;
    if (m_cursorOverridden) {
        QGuiApplication::changeOverrideCursor(QCursor(shape));
    } else {
        QGuiApplication::setOverrideCursor(QCursor(shape));
        m_cursorOverridden = true;
    }
}

// Screens ---------------------------------------------------------------------------------------

void BaseFrame::keepOnScreens()
{
    if (!m_managed->isVisible()
        || (m_managed->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    QList<QRect> available;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (const QScreen *screen : screens)
        available.append(screen->availableGeometry());
    if (available.isEmpty())
        return;
    const QRect frame = m_managed->frameGeometry();
    const QPoint target = FrameGeometry::keptOnScreens(frame, available, m_isDialog);
    if (target != frame.topLeft())
        m_managed->move(target);
}

void BaseFrame::windowShown()
{
    keepOnScreens();
}

bool BaseFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_managed) {
        switch (event->type()) {
        case QEvent::Show:
            // After the window system has placed the window.
            QTimer::singleShot(0, this, &BaseFrame::windowShown);
            break;
        case QEvent::WindowTitleChange:
            m_title->setText(m_managed->windowTitle());
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void BaseFrame::setBackgroundVisible(bool visible)
{
    if (m_backgroundVisible == visible)
        return;
    m_backgroundVisible = visible;
    update();
}

void BaseFrame::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    if (!m_backgroundVisible)
        return;
    QPainter painter(this);
    // The window's background is translucent: the margin is the frame's to paint.
    const QColor background = palette().color(QPalette::Window);
    painter.fillRect(rect(), background);
    if (m_borderVisible) {
        painter.setPen(m_borderColor.isValid() ? m_borderColor : palette().color(QPalette::Mid));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}
