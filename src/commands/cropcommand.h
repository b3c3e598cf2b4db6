#pragma once

#include "commands/transformcommand.h"

#include <QList>
#include <QPainterPath>
#include <QTransform>

class GraphicsImageItem;

// Cuts image items to the rectangle dragged on the canvas (scene coordinates): the crop window
// becomes that axis-aligned rectangle on the screen, and a rotation or scale of the item moves
// into its image transform. update() only moves the end point; the view draws the rubber band
// and finish() cuts. Notes in the given list take no part. GUI thread only.
class CropCommand : public TransformCommand {
    Q_OBJECT

public:
    CropCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint);
    ~CropCommand() override;

    void update(const QPointF &point) override;
    void finish() override;
    void redo() override;
    void undo() override;
    bool hasEffect() const override;

    // The image items of a list, in order: the crop commands work on nothing else.
    static QList<GraphicsImageItem *> imageItems(const QList<GraphicsItem *> &items);
    static QList<GraphicsItem *> asGraphicsItems(const QList<GraphicsImageItem *> &images);

private:
    QList<GraphicsImageItem *> m_images;
    QPointF m_endPoint;
    QList<QTransform> m_oldImageTransforms;
    QList<QTransform> m_newImageTransforms;
    QList<QPainterPath> m_oldCropPaths;
    QList<QPainterPath> m_newCropPaths;
};
