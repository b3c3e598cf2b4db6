#pragma once

#include "scene/itemlimits.h"

#include <QGraphicsItem>
#include <QList>
#include <QMetaType>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QTransform>

class QPainter;

// Base of every canvas item. All geometry (position, scale, rotation, flip) lives in the item's
// transform; pos() stays (0, 0) for ever. The transform is kept free of shear and every axis
// length within [1e-6, 2147483] scene units per item unit (sanitizeTransform), so commands can
// invert it without checks. Items attached to another GraphicsItem keep a local transform
// relative to their parent; fullTransform() is the product with every GraphicsItem ancestor.
//
// The opacity is the item's own (the toolkit's opacity property is not used): painting applies
// it only when the scene says so. GUI thread only: workers hand over records (ItemRecord), and
// the GUI thread builds items from them.
class GraphicsItem : public QGraphicsItem {
public:
    enum ItemType { ImageItemType = 0, TextItemType = 1 };

    explicit GraphicsItem(const QPointF &position, QGraphicsItem *parent = nullptr);
    ~GraphicsItem() override;

    virtual QString text() const;
    // Kinds of a parent's transform change (QTransform::TransformationType bits) that this item
    // does not follow: it keeps its place in the scene instead.
    virtual int fixedTransformTypes() const;

    float opacity() const { return m_opacity; }
    void setOpacity(float opacity);
    int id() const { return m_id; }
    void setId(int id) { m_id = id; }
    int itemType() const { return m_itemType; }

    void setLocalTransform(const QTransform &transform);
    QTransform fullTransform() const;
    void setFullTransform(const QTransform &transform);
    QPointF position() const;
    QPointF scenePosition() const;
    void setScenePosition(const QPointF &position);
    void moveBy(qreal dx, qreal dy);
    // t followed by a move by by, as t * QTransform::fromTranslate(by) would be, keeping shears
    // too small for the toolkit's product.
    static QTransform movedBy(const QTransform &t, const QPointF &by);
    QRectF sceneBounds() const;

    QList<GraphicsItem *> childGraphicsItems(bool recursive = false) const;
    QList<GraphicsItem *> selectedDescendants() const;
    bool hasSelectedAncestor() const;
    GraphicsItem *parentGraphicsItem() const;

    void paintBorder(QPainter *painter);

    static QTransform sanitizeTransform(const QTransform &transform);
    // Notes are QObjects and may be in the middle of handling one of their own events, so they
    // go through the event loop; everything else is deleted at once.
    static void deleteItem(GraphicsItem *item);
    // Relative comparison used for transforms, opacities and scene rectangles: any change of an
    // exact zero counts as a difference.
    static bool nearlyEqual(double a, double b);
    static bool nearlyEqual(const QTransform &a, const QTransform &b);

    static constexpr double MaximumScale = ItemLimits::MaximumScale;
    static constexpr double MinimumScale = ItemLimits::MinimumScale;

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant &value) override;
    void setItemType(int type) { m_itemType = type; }

private:
    float m_opacity = 1.0f;
    int m_itemType = ImageItemType;
    int m_id = -1;
};

Q_DECLARE_METATYPE(GraphicsItem *)
