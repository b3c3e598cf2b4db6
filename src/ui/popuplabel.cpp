#include "ui/popuplabel.h"

#include "ui/popuplabelcontent.h"

#include <QEvent>
#include <QFontMetrics>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsOpacityEffect>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Milliseconds of one timer step and of the fade at the end of a notice.
constexpr int TickInterval = 10;
constexpr int FadeTime = 300;
// A notice starts just below full opacity: counting down by a thirtieth from 1.0 can leave a
// rounding residue above zero and cost a 31st step, from 0.99 the 30th step always ends the fade.
constexpr qreal ShownOpacity = 0.99;

} // namespace

PopupLabel::PopupLabel(QWidget *parent)
    : QWidget(parent)
    , m_content(new PopupLabelContent(this))
    , m_layout(new QVBoxLayout(this))
    , m_opacityEffect(new QGraphicsOpacityEffect(this))
{
    // A notice sits over the canvas; it must never take a click or a drag from it.
    setAttribute(Qt::WA_TransparentForMouseEvents);

    m_layout->setContentsMargins(m_margin, m_margin, m_margin, m_margin);
    m_layout->addWidget(m_content);

    auto *shadow = new QGraphicsDropShadowEffect(m_content);
    shadow->setBlurRadius(20);
    shadow->setColor(QColor(0, 0, 0, 100));
    // All round: the label's margin holds it, where an offset shadow would be cut on one side.
    shadow->setOffset(0, 0);
    m_content->setGraphicsEffect(shadow);
    // The notice on display stays centred when the window is resized under it.
    if (parent)
        parent->installEventFilter(this);

    // Enabled only while fading: an opacity effect renders the label offscreen on every repaint.
    m_opacityEffect->setOpacity(1.0);
    m_opacityEffect->setEnabled(false);
    setGraphicsEffect(m_opacityEffect);

    m_timer.setInterval(TickInterval);
    connect(&m_timer, &QTimer::timeout, this, &PopupLabel::tick);

    // Hidden explicitly, or the frame would show an empty label when it is shown itself.
    hide();
}

void PopupLabel::showNotice(const QString &category, const QString &heading,
    const QString &bindingText, const QString &iconPath, int duration)
{
    const Notice notice { category, heading, bindingText, iconPath, duration };
    const auto same = std::find_if(m_queue.begin(), m_queue.end(), [&](const Notice &queued) {
        return queued.heading == heading && queued.bindingText == bindingText;
    });
    if (same != m_queue.end())
        *same = notice;
    else
        m_queue.append(notice);
    advance();
}

void PopupLabel::clear()
{
    m_queue.clear();
    hideNotice();
}

void PopupLabel::setSuppressed(bool on)
{
    if (m_suppressed == on)
        return;
    m_suppressed = on;
    if (on)
        hideNotice();
    else
        advance();
}

qreal PopupLabel::opacity() const
{
    return m_opacityEffect->opacity();
}

void PopupLabel::tick()
{
    // Only a notice with a time limit has a clock; one without stays until it is replaced.
    if (!m_timer.isActive())
        return;
    // The frame may have hidden its children meanwhile (a notice shown before the frame was).
    if (isHidden()) {
        show();
        place();
        raise();
    }
    m_remaining -= TickInterval;
    if (m_remaining >= FadeTime)
        return;
    if (m_opacityEffect->opacity() > 0) {
        m_opacityEffect->setEnabled(true);
        m_opacityEffect->setOpacity(
            m_opacityEffect->opacity() - qreal(TickInterval) / qreal(FadeTime));
    }
    if (m_opacityEffect->opacity() <= 0) {
        m_timer.stop();
        m_opacityEffect->setEnabled(false);
        advance();
    }
}

void PopupLabel::advance()
{
    if (m_suppressed || m_queue.isEmpty()) {
        hideNotice();
        return;
    }
    Notice next = m_queue.takeFirst();
    // A notice without a time limit would hold back everything queued behind it for good.
    while (next.duration < 0 && !m_queue.isEmpty())
        next = m_queue.takeFirst();
    if (m_timer.isActive() && next.category != m_current.category) {
        m_queue.prepend(next);
        return;
    }
    display(next);
}

void PopupLabel::display(const Notice &notice)
{
    m_opacityEffect->setOpacity(ShownOpacity);
    m_opacityEffect->setEnabled(false);
    m_timer.stop();
    m_current = notice;
    m_remaining = notice.duration;
    if (notice.duration >= 0)
        m_timer.start();
    m_content->setNotice(notice.heading, notice.bindingText, notice.iconPath);
    show();
    place();
    raise();
}

void PopupLabel::hideNotice()
{
    m_timer.stop();
    m_current = Notice();
    m_remaining = 0;
    hide();
}

bool PopupLabel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize && !isHidden())
        place();
    return QWidget::eventFilter(watched, event);
}

void PopupLabel::changeEvent(QEvent *event)
{
    // The pill is as wide as its text: another interface font needs another width.
    if (event->type() == QEvent::FontChange && !isHidden())
        place();
    QWidget::changeEvent(event);
}

void PopupLabel::place()
{
    // Each text is measured in the font it is drawn in: a bold heading measured plain would push
    // the binding text past the pill's end.
    QFont headingFont = font();
    headingFont.setWeight(QFont::Bold);
    const int textWidth = QFontMetrics(headingFont).horizontalAdvance(m_current.heading)
        + QFontMetrics(font()).horizontalAdvance(m_current.bindingText);
    QRect geometry(0, 0,
        m_labelSpacing + textWidth + 2 * (m_labelPadding + m_margin) + m_iconCircleSize,
        m_iconCircleSize + 2 * m_margin);
    if (const QWidget *frame = parentWidget()) {
        // Centred, a fifth of the frame's height above its bottom edge.
        const QRectF area(frame->rect());
        geometry.moveCenter(
            QPoint(int(area.center().x()), int(area.bottom() - 0.2 * area.height())));
    }
    setGeometry(geometry);
}

void PopupLabel::changeMetric(int *metric, int value)
{
    if (*metric == value)
        return;
    *metric = value;
    m_layout->setContentsMargins(m_margin, m_margin, m_margin, m_margin);
    if (!isHidden())
        place();
    m_content->update();
}

void PopupLabel::setIconMargin(int margin)
{
    changeMetric(&m_iconMargin, margin);
}

void PopupLabel::setIconCircleSize(int size)
{
    changeMetric(&m_iconCircleSize, size);
}

void PopupLabel::setLabelBackgroundHeight(int height)
{
    changeMetric(&m_labelBackgroundHeight, height);
}

void PopupLabel::setLabelPadding(int padding)
{
    changeMetric(&m_labelPadding, padding);
}

void PopupLabel::setLabelSpacing(int spacing)
{
    changeMetric(&m_labelSpacing, spacing);
}

void PopupLabel::setMargin(int margin)
{
    changeMetric(&m_margin, margin);
}

void PopupLabel::setBackgroundColor(const QColor &color)
{
    m_backgroundColor = color;
    m_content->update();
}

void PopupLabel::setBorderColor(const QColor &color)
{
    m_borderColor = color;
    m_content->update();
}

QColor PopupLabel::effectiveBackgroundColor() const
{
    return m_backgroundColor.isValid() ? m_backgroundColor : palette().color(QPalette::Window);
}

QColor PopupLabel::effectiveBorderColor() const
{
    return m_borderColor.isValid() ? m_borderColor : palette().color(QPalette::Mid);
}
