#pragma once

#include "commands/transformcommand.h"

#include <QList>
#include <QTransform>

class GraphicsImageItem;

// Slides the pictures of image items inside their crop windows with the pointer (scene
// coordinates). Only image transforms change: the items, their bounds and their places stay.
// Notes in the given list take no part. GUI thread only.
class CropPanCommand : public TransformCommand {
    Q_OBJECT

public:
    CropPanCommand(const QList<GraphicsItem *> &items, const QPointF &startPoint);
    ~CropPanCommand() override;

    void update(const QPointF &point) override;
    void redo() override;
    void undo() override;
    bool hasEffect() const override;

private:
    QList<GraphicsImageItem *> m_images;
    QPointF m_lastPoint;
    QList<QTransform> m_oldImageTransforms;
    QList<QTransform> m_newImageTransforms;
};
