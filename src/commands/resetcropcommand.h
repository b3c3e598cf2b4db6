#pragma once

#include "commands/transformcommand.h"

#include <QList>
#include <QPainterPath>
#include <QTransform>

class GraphicsImageItem;

// Shows the whole picture of image items again, in the place and orientation it has on the
// screen: a rotation or scale that a crop moved into the image transform returns to the item's
// transform. Notes in the given list take no part. GUI thread only.
class ResetCropCommand : public TransformCommand {
    Q_OBJECT

public:
    explicit ResetCropCommand(const QList<GraphicsItem *> &items);
    ~ResetCropCommand() override;

    void redo() override;
    void undo() override;
    bool hasEffect() const override;

private:
    QList<GraphicsImageItem *> m_images;
    QList<QPainterPath> m_oldCropPaths;
    QList<QTransform> m_oldImageTransforms;
    bool m_recorded = false;
};
