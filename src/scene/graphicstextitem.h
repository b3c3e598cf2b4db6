#pragma once

#include "scene/graphicsitem.h"

#include <QColor>
#include <QObject>
#include <QPixmap>
#include <QRectF>
#include <QSizeF>

class QTextCursor;
class QWidgetTextControl;

// A text note on the canvas: plain text on a background of its own, edited in place through the
// toolkit's text control. Item coordinates are centred: the origin is the centre of the content
// rectangle (the document's size), so a note grows in every direction while it is typed into.
// The text control works in its own coordinates, whose origin is the note's top-left corner;
// events and painting are shifted by controlOffset().
//
// Outside editing the note is drawn from a cache rendered at twice its size, which stays sharp
// up to a level of detail of 2.0; while editing, or when enlarged further, it is drawn directly.
// The cache is dropped whenever what it shows changes.
//
// Threads: GUI thread only.
class GraphicsTextItem : public QObject, public GraphicsItem {
    Q_OBJECT

public:
    GraphicsTextItem(const QPointF &position, const QString &text, QGraphicsItem *parent = nullptr);
    ~GraphicsTextItem() override;

    QString text() const override;
    int fixedTransformTypes() const override;

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option,
        QWidget *widget = nullptr) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

    void setText(const QString &text);
    QColor textColor() const { return m_textColor; }
    void setTextColor(const QColor &color);
    QColor textBackgroundColor() const { return m_backgroundColor; }
    void setTextBackgroundColor(const QColor &color);
    bool isEditing() const { return m_editing; }
    void setEditing(bool editing);
    void selectAllText();
    QTextCursor textCursor() const;
    void setTextCursor(const QTextCursor &cursor);

    QRectF contentRect() const { return m_contentRect; }
    bool hasCache() const { return !m_cache.isNull(); }
    QWidgetTextControl *textControl() const { return m_control; }
    // Added to item coordinates to get the text control's coordinates.
    QPointF controlOffset() const;

    // Up to this level of detail (screen pixels per item unit) the cache is drawn.
    static constexpr qreal CacheDetailLimit = 2.0;

public slots:
    void updateTextBoundingRect(const QSizeF &size);
    void updateText(const QRectF &rect);

signals:
    void linkActivated(const QString &link);
    void linkHovered(const QString &link);
    void textChanged();

protected:
    void contextMenuEvent(QGraphicsSceneContextMenuEvent *event) override;
    void dragEnterEvent(QGraphicsSceneDragDropEvent *event) override;
    void dragLeaveEvent(QGraphicsSceneDragDropEvent *event) override;
    void dragMoveEvent(QGraphicsSceneDragDropEvent *event) override;
    void dropEvent(QGraphicsSceneDragDropEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void hoverEnterEvent(QGraphicsSceneHoverEvent *event) override;
    void hoverMoveEvent(QGraphicsSceneHoverEvent *event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent *event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;

private:
    void renderContents(QPainter *painter, const QRectF &rect, QWidget *widget);
    void sendToControl(QEvent *event);
    void syncContentSize();

    QColor m_textColor;
    QColor m_backgroundColor = QColor(0, 0, 0, 51);
    QWidgetTextControl *m_control;
    QRectF m_contentRect;
    QPixmap m_cache;
    bool m_editing = false;
};
