#include "graphicstextitem.h"

#include "scene/graphicsscene.h"

#include <QGraphicsSceneEvent>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <QTextCursor>
#include <QWidget>
#include <QtWidgets/private/qwidgettextcontrol_p.h>

#include <cmath>

GraphicsTextItem::GraphicsTextItem(
    const QPointF &position, const QString &text, QGraphicsItem *parent)
    : QObject()
    , GraphicsItem(position, parent)
    , m_control(new QWidgetTextControl(this))
{
    setItemType(TextItemType);
    setFlags(
        ItemIsSelectable | ItemIsFocusable | ItemUsesExtendedStyleOption | ItemAcceptsInputMethod);

    // Pasted rich text arrives as plain text: a note has one colour and one font.
    m_control->setAcceptRichText(false);
    m_control->setTextInteractionFlags(Qt::TextEditorInteraction);
    m_control->setOpenExternalLinks(true);
    connect(m_control, &QWidgetTextControl::updateRequest, this, &GraphicsTextItem::updateText);
    connect(m_control, &QWidgetTextControl::documentSizeChanged, this,
        &GraphicsTextItem::updateTextBoundingRect);
    connect(m_control, &QWidgetTextControl::linkActivated, this, &GraphicsTextItem::linkActivated);
    connect(m_control, &QWidgetTextControl::linkHovered, this, &GraphicsTextItem::linkHovered);
    connect(m_control, &QWidgetTextControl::textChanged, this, &GraphicsTextItem::textChanged);

    m_contentRect = QRectF(QPointF(0, 0), m_control->size());
    if (!text.isEmpty())
        setText(text);
    setAcceptDrops(true);
    setAcceptHoverEvents(true);
    setInputMethodHints(Qt::ImhMultiLine);
}

GraphicsTextItem::~GraphicsTextItem()
{
    // The control outlives the item part otherwise (QObject is the first base) and could still
    // ask a half-destroyed note to repaint while its document goes.
    m_control->disconnect(this);
    delete m_control;
}

QString GraphicsTextItem::text() const
{
    return m_control->toPlainText();
}

int GraphicsTextItem::fixedTransformTypes() const
{
    // Attached to an image, a note moves with it but keeps its own size and orientation.
    return QTransform::TxScale | QTransform::TxRotate;
}

QRectF GraphicsTextItem::boundingRect() const
{
    return m_contentRect.translated(-m_contentRect.center());
}

QPointF GraphicsTextItem::controlOffset() const
{
    return m_contentRect.center() - m_contentRect.topLeft();
}

void GraphicsTextItem::setText(const QString &text)
{
    m_control->setPlainText(text);
    m_cache = QPixmap();
    // The layout may report the new size only later; the bounding rectangle must be right now.
    syncContentSize();
    update();
}

void GraphicsTextItem::setTextColor(const QColor &color)
{
    if (color == m_textColor)
        return;
    m_textColor = color;
    // An undone colour change of a note that is not being edited shows through the cache.
    m_cache = QPixmap();
    update();
}

void GraphicsTextItem::setTextBackgroundColor(const QColor &color)
{
    m_backgroundColor = color;
    m_cache = QPixmap();
    update();
}

void GraphicsTextItem::setEditing(bool editing)
{
    if (editing == m_editing)
        return;
    m_editing = editing;
    if (!editing) {
        // A selection left behind would be baked into the cache as highlighted text.
        QTextCursor cursor = m_control->textCursor();
        cursor.clearSelection();
        m_control->setTextCursor(cursor);
    }
    m_control->setFocus(editing);
    m_cache = QPixmap();
    update();
}

void GraphicsTextItem::selectAllText()
{
    QTextCursor cursor = m_control->textCursor();
    cursor.select(QTextCursor::Document);
    m_control->setTextCursor(cursor);
}

QTextCursor GraphicsTextItem::textCursor() const
{
    return m_control->textCursor();
}

void GraphicsTextItem::setTextCursor(const QTextCursor &cursor)
{
    m_control->setTextCursor(cursor);
}

void GraphicsTextItem::updateTextBoundingRect(const QSizeF &size)
{
    prepareGeometryChange();
    m_contentRect.setSize(size);
    m_cache = QPixmap();
    update();
}

void GraphicsTextItem::updateText(const QRectF &rect)
{
    const QRectF region = rect.isValid() ? rect : m_contentRect;
    if (region.intersects(m_contentRect))
        update(region.translated(-controlOffset()));
}

void GraphicsTextItem::syncContentSize()
{
    const QSizeF size = m_control->size();
    if (size != m_contentRect.size())
        updateTextBoundingRect(size);
}

void GraphicsTextItem::paint(
    QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget)
{
    auto *graphicsScene = qobject_cast<GraphicsScene *>(scene());
    const qreal oldOpacity = painter->opacity();
    if (graphicsScene && graphicsScene->applyOpacity())
        painter->setOpacity(opacity());

    const QRectF bounds = boundingRect();
    const qreal levelOfDetail
        = QStyleOptionGraphicsItem::levelOfDetailFromTransform(painter->worldTransform());
    if (!m_editing && levelOfDetail <= CacheDetailLimit) {
        if (m_cache.isNull()) {
            const QSize size(int(std::ceil(m_contentRect.width() * 2)),
                int(std::ceil(m_contentRect.height() * 2)));
            m_cache = QPixmap(size.expandedTo(QSize(1, 1)));
            m_cache.fill(Qt::transparent);
            QPainter cachePainter(&m_cache);
            cachePainter.scale(2, 2);
            renderContents(&cachePainter, m_contentRect, widget);
        }
        painter->drawPixmap(bounds.toRect(), m_cache);
    } else {
        painter->save();
        painter->translate(bounds.topLeft());
        const QRectF exposed = option ? option->exposedRect.translated(controlOffset()) : QRectF();
        renderContents(
            painter, exposed.isValid() ? exposed & m_contentRect : m_contentRect, widget);
        painter->restore();
    }
    paintBorder(painter);
    painter->setOpacity(oldOpacity);
}

void GraphicsTextItem::renderContents(QPainter *painter, const QRectF &rect, QWidget *widget)
{
    painter->save();
    painter->setPen(Qt::NoPen);
    painter->fillRect(rect, m_backgroundColor);
    QPalette palette = widget ? widget->palette() : m_control->palette();
    // Left as the palette has it until the creator chose a colour.
    if (m_textColor.isValid())
        palette.setBrush(QPalette::All, QPalette::Text, m_textColor);
    m_control->setPalette(palette);
    m_control->drawContents(painter, rect, widget);
    painter->restore();
}

QVariant GraphicsTextItem::inputMethodQuery(Qt::InputMethodQuery query) const
{
    if (query == Qt::ImHints)
        return int(inputMethodHints());
    QVariant value = m_control->inputMethodQuery(query, QVariant());
    // Positions go back from the control's coordinates into the note's.
    const QPointF offset = controlOffset();
    switch (value.userType()) {
    case QMetaType::QRectF:
        value = value.toRectF().translated(-offset);
        break;
    case QMetaType::QPointF:
        value = value.toPointF() - offset;
        break;
    case QMetaType::QRect:
        value = value.toRect().translated(-offset.toPoint());
        break;
    case QMetaType::QPoint:
        value = value.toPoint() - offset.toPoint();
        break;
    default:
        break;
    }
    return value;
}

void GraphicsTextItem::sendToControl(QEvent *event)
{
    m_control->processEvent(event, controlOffset());
}

void GraphicsTextItem::contextMenuEvent(QGraphicsSceneContextMenuEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::contextMenuEvent(event);
}

void GraphicsTextItem::dragEnterEvent(QGraphicsSceneDragDropEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::dragEnterEvent(event);
}

void GraphicsTextItem::dragLeaveEvent(QGraphicsSceneDragDropEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::dragLeaveEvent(event);
}

// Outside editing a drop must reach the view, which loads what is dropped.
void GraphicsTextItem::dragMoveEvent(QGraphicsSceneDragDropEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        event->ignore();
}

void GraphicsTextItem::dropEvent(QGraphicsSceneDragDropEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        event->ignore();
}

void GraphicsTextItem::focusInEvent(QFocusEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::focusInEvent(event);
}

void GraphicsTextItem::focusOutEvent(QFocusEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::focusOutEvent(event);
}

void GraphicsTextItem::hoverEnterEvent(QGraphicsSceneHoverEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::hoverEnterEvent(event);
}

void GraphicsTextItem::hoverMoveEvent(QGraphicsSceneHoverEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::hoverMoveEvent(event);
}

void GraphicsTextItem::hoverLeaveEvent(QGraphicsSceneHoverEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::hoverLeaveEvent(event);
}

void GraphicsTextItem::keyPressEvent(QKeyEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::keyPressEvent(event);
}

void GraphicsTextItem::keyReleaseEvent(QKeyEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::keyReleaseEvent(event);
}

void GraphicsTextItem::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::mousePressEvent(event);
}

void GraphicsTextItem::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::mouseMoveEvent(event);
}

void GraphicsTextItem::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::mouseReleaseEvent(event);
}

void GraphicsTextItem::mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::mouseDoubleClickEvent(event);
}

void GraphicsTextItem::inputMethodEvent(QInputMethodEvent *event)
{
    if (m_editing)
        sendToControl(event);
    else
        GraphicsItem::inputMethodEvent(event);
}
