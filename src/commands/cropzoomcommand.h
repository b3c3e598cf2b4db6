#pragma once

#include "commands/scalecommand.h"

#include <QList>
#include <QPainterPath>
#include <QTransform>

class GraphicsImageItem;

// Enlarges or shrinks the pictures of image items inside crop windows that stay put, about the
// point where the gesture began (scene coordinates). Each step scales every item about its own
// centre as a ScaleCommand does from horizontal pointer motion, then takes the crop window back
// to its place on the screen and slides the picture so that the point under the start point
// stays there. Notes in the given list take no part. GUI thread only.
class CropZoomCommand : public ScaleCommand {
    Q_OBJECT

public:
    CropZoomCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint);
    ~CropZoomCommand() override;

    void update(const QPointF &point) override;
    void redo() override;
    void undo() override;
    bool hasEffect() const override;

private:
    QList<GraphicsImageItem *> m_images;
    QPointF m_anchor;
    QList<QTransform> m_oldImageTransforms;
    QList<QTransform> m_newImageTransforms;
    QList<QPainterPath> m_oldCropPaths;
    QList<QPainterPath> m_newCropPaths;
};
