#pragma once

#include "scene/graphicsitem.h"

#include <QPainter>

// A plain rectangle on the canvas that counts its live instances, so tests can see leaks and
// double deletions of items owned by commands.
class TestItem : public GraphicsItem {
public:
    explicit TestItem(const QRectF &rect = QRectF(-50, -50, 100, 100),
        const QPointF &position = QPointF(), QGraphicsItem *parent = nullptr, int fixedTypes = 0)
        : GraphicsItem(position, parent)
        , m_rect(rect)
        , m_fixedTypes(fixedTypes)
    {
        ++alive;
    }
    ~TestItem() override { --alive; }

    QRectF boundingRect() const override { return m_rect; }
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *) override
    {
        painter->fillRect(m_rect, Qt::red);
        paintBorder(painter);
    }
    int fixedTransformTypes() const override { return m_fixedTypes; }

    static inline int alive = 0;

private:
    QRectF m_rect;
    int m_fixedTypes;
};
