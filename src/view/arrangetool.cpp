#include "view/arrangetool.h"

#include "commands/aligncommand.h"
#include "commands/commandhandler.h"
#include "commands/flipcommand.h"
#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"
#include "view/graphicsview.h"
#include "view/itemcondition.h"
#include "view/selectioncondition.h"

ArrangeTool::ArrangeTool(GraphicsView *view, ViewToolContext *context)
    : AbstractViewTool(view, context)
{
}

void ArrangeTool::createActions()
{
    const auto onSelection
        = [&](const QString &name, const QString &label, const QKeySequence &keys, auto slot) {
              ActionBinding binding = triggeredBinding(keys);
              binding.addCondition(context().selection, true);
              binding.addCondition(context().locked, false);
              binding.addCondition(context().textEditing, false);
              binding.addCondition(context().pinch, false);
              connect(addAction(name, label, binding), &QAction::triggered, this, slot);
          };
    onSelection(QStringLiteral("Arrange Optimally"), tr("Arrange optimally"),
        QKeySequence(Qt::CTRL | Qt::Key_P), [this] { arrangeSelection(AlignCommand::Pack); });
    onSelection(QStringLiteral("Arrange By Name"), tr("Arrange by name"),
        QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_N),
        [this] { arrangeSelection(AlignCommand::GridByName); });
    onSelection(QStringLiteral("Arrange By Order"), tr("Arrange by order of adding"),
        QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_A),
        [this] { arrangeSelection(AlignCommand::GridByOrder); });
    onSelection(QStringLiteral("Pack All"), tr("Pack all and optimise"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P), [this] { packAll(); });
    onSelection(QStringLiteral("Flip Horizontally"), tr("Flip images horizontally"),
        QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_H),
        [this] { flipSelection(FlipCommand::Horizontal); });
    onSelection(QStringLiteral("Flip Vertically"), tr("Flip images vertically"),
        QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_V),
        [this] { flipSelection(FlipCommand::Vertical); });
}

void ArrangeTool::arrange(const QList<GraphicsItem *> &items, int mode)
{
    if (items.size() < 2 || view()->isCanvasLocked())
        return;
    const QWidget *viewport = view()->viewport();
    const float aspect
        = viewport->height() > 0 ? float(viewport->width()) / float(viewport->height()) : 1.0f;
    auto *command = new AlignCommand(items, mode, view()->alignmentGap(), aspect);
    connect(command, &BaseCommand::commandMessage, commands(), &CommandHandler::commandMessage,
        Qt::UniqueConnection);
    command->finish();
    commands()->push(command);
    emit updateFinished();
}

void ArrangeTool::arrangeSelection(int mode)
{
    arrange(view()->selection(), mode);
}

void ArrangeTool::packAll()
{
    const QList<GraphicsItem *> items = scene()->topLevelItems();
    if (items.size() < 2 || view()->isCanvasLocked())
        return;
    arrange(items, AlignCommand::Pack);
    QRectF bounds;
    for (GraphicsItem *item : items)
        bounds |= item->sceneBounds();
    view()->fitTo(bounds);
}

void ArrangeTool::flipSelection(int direction)
{
    const QList<GraphicsItem *> items = view()->selection();
    if (items.isEmpty() || view()->isCanvasLocked())
        return;
    auto *command = new FlipCommand(items, direction);
    command->finish();
    commands()->push(command);
    emit updateFinished();
}
