#include "view/croptool.h"

#include "commands/cropcommand.h"
#include "commands/croppancommand.h"
#include "commands/cropzoomcommand.h"
#include "view/graphicsview.h"
#include "view/transformtool.h"

#include <QRubberBand>

CropTool::CropTool(GraphicsView *view, ViewToolContext *context, TransformTool *transformTool)
    : AbstractViewTool(view, context)
    , m_transformTool(transformTool)
{
}

void CropTool::createActions()
{
    const auto gesture = [&](const QString &name, const QString &label, const QKeySequence &keys,
                             bool needsItem, auto makeCommand) {
        Action *action = addItemGesture(name, label, keys, needsItem);
        connect(action, &Action::continuousBegin, this, [this, makeCommand](const QPoint &pos) {
            m_transformTool->beginCommand(makeCommand(view()->selection(), scenePos(pos)));
        });
        connect(action, &Action::continuousEnd, this, [this] { m_transformTool->finishCommand(); });
        return action;
    };
    // Crop also acts on a selection the pointer is not over: the frame is drawn anywhere.
    Action *crop = gesture(QStringLiteral("Crop Images"), tr("Crop images"),
        QKeySequence(Qt::Key_C), false, [](const QList<GraphicsItem *> &items, const QPointF &at) {
            return new CropCommand(items, at);
        });
    connect(crop, &Action::continuousUpdate, this, &CropTool::cropUpdate);
    Action *pan = gesture(QStringLiteral("Pan Crop"), tr("Pan inside crop"),
        QKeySequence(Qt::Key_V), true, [](const QList<GraphicsItem *> &items, const QPointF &at) {
            return new CropPanCommand(items, at);
        });
    connect(pan, &Action::continuousUpdate, m_transformTool, &TransformTool::updateCommand);
    Action *zoom = gesture(QStringLiteral("Zoom Crop"), tr("Zoom inside crop"),
        QKeySequence(Qt::SHIFT | Qt::Key_V), true,
        [](const QList<GraphicsItem *> &items, const QPointF &at) {
            return new CropZoomCommand(items, at);
        });
    connect(zoom, &Action::continuousUpdate, m_transformTool, &TransformTool::updateCommand);
}

void CropTool::cropUpdate(const Action::ContinuousUpdateData &motion)
{
    QRubberBand *rubberBand = view()->rubberBand();
    rubberBand->setGeometry(
        QRect(viewportPos(motion.origin), viewportPos(motion.current)).normalized());
    rubberBand->show();
    m_transformTool->updateCommand(motion);
}
