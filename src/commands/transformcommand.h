#pragma once

#include "commands/basecommand.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QTransform>

class GraphicsItem;

// Base of the geometric commands. Records each item's local transform when the items are given
// and again at finish(); redo and undo restore those. While a gesture runs, applyTransform()
// applies a relative change in the frame of reference: a translation to the pivot (or to the
// centre of the items' bounds), or with the local frame and a single item that item's own axes.
// Attached items that are not part of the command follow their parent or keep their place by
// their fixedTransformTypes. GUI thread only.
class TransformCommand : public BaseCommand {
    Q_OBJECT

public:
    TransformCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint);
    TransformCommand();
    ~TransformCommand() override;

    void redo() override;
    void undo() override;
    bool hasEffect() const override;

    virtual void update(const QPointF &point);
    virtual void applyTransform(const QTransform &transform);
    virtual void finish();
    virtual bool usesViewCoordinates() const;

    QList<GraphicsItem *> items() const { return m_items; }
    QTransform frame() const { return m_frame; }
    QPointF startPoint() const { return m_startPoint; }
    QRectF bounds() const { return m_bounds; }
    QPointF pivot() const { return m_pivot; }

    // Makes the children of parent that are not among commandItems follow the change delta of
    // parent's transform or keep their place, by their fixedTransformTypes. Children among
    // commandItems are left alone, or, when compensate is set, given the inverse of delta so that
    // the command does not transform them twice.
    static void handleChildren(GraphicsItem *parent, const QTransform &delta,
        const QList<GraphicsItem *> &commandItems, bool compensate);
    // The kinds of change (QTransform::TransformationType bits) a transform contains.
    static int transformKinds(const QTransform &transform);

protected:
    void setItems(const QList<GraphicsItem *> &items, const QPointF &startPoint);
    void setPivot(const QPointF &pivot) { m_pivot = pivot; }
    void setLocalFrame(int localFrame) { m_localFrame = localFrame; }
    void setFullTransformReporting(GraphicsItem *item, const QTransform &target);
    void recordNewTransforms();
    void setBounds(const QRectF &bounds) { m_bounds = bounds; }

    int m_relativeToFrame = 1;

private:
    void restore(const QList<QTransform> &transforms);

    QList<GraphicsItem *> m_items;
    QList<QTransform> m_oldTransforms;
    QList<QTransform> m_newTransforms;
    QTransform m_frame;
    QPointF m_startPoint;
    QRectF m_bounds;
    QPointF m_pivot;
    int m_localFrame = 0;
};
