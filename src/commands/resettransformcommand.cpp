#include "resettransformcommand.h"

#include "scene/graphicsitem.h"

ResetTransformCommand::ResetTransformCommand(const QList<GraphicsItem *> &items)
    : TransformCommand(items, QPointF())
{
}

ResetTransformCommand::~ResetTransformCommand() = default;

void ResetTransformCommand::finish()
{
    const QList<GraphicsItem *> list = items();
    for (GraphicsItem *item : list) {
        const QTransform old = item->fullTransform();
        setFullTransformReporting(item, QTransform::fromTranslate(old.dx(), old.dy()));
        handleChildren(item, item->fullTransform() * old.inverted(), list, true);
    }
    TransformCommand::finish();
}
