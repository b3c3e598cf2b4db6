#include "view/pickertool.h"

#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"
#include "view/colorpickerdialog.h"
#include "view/coordinatepickerdialog.h"
#include "view/graphicsview.h"
#include "view/itemcondition.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtMath>

PickerTool::PickerTool(GraphicsView *view, ViewToolContext *context)
    : AbstractViewTool(view, context)
    , m_colorPicker(new ColorPickerDialog(view))
    , m_coordinatePicker(new CoordinatePickerDialog(view))
{
}

void PickerTool::createActions()
{
    {
        ActionBinding binding = continuousBinding(QKeySequence(Qt::Key_S), Qt::LeftButton);
        binding.context = ActionBinding::ApplicationContext;
        binding.addCondition(context().textEditing, false);
        Action *pick
            = addAction(QStringLiteral("Color Picker"), tr("Show colour under pointer"), binding);
        connect(pick, &Action::continuousBegin, this,
            [this](const QPoint &pos) { colorPickBegin(pos); });
        connect(pick, &Action::continuousUpdate, this, &PickerTool::colorPickUpdate);
        connect(pick, &Action::continuousEnd, this, [this] { colorPickEnd(); });
    }
    {
        ActionBinding binding = continuousBinding(QKeySequence(Qt::Key_D), Qt::LeftButton);
        binding.context = ActionBinding::ApplicationContext;
        binding.addCondition(context().textEditing, false);
        Action *pick = addAction(QStringLiteral("Coordinate Picker"),
            tr("Show image coordinates under pointer"), binding);
        connect(pick, &Action::continuousBegin, this,
            [this](const QPoint &pos) { coordinatePickBegin(pos); });
        connect(pick, &Action::continuousUpdate, this, &PickerTool::coordinatePickUpdate);
        connect(pick, &Action::continuousEnd, this, [this] { coordinatePickEnd(); });
    }
}

void PickerTool::colorPickBegin(const QPoint &pos)
{
    m_colorPicker->show();
    // Faded images are sampled at full strength: the user asks what the picture holds.
    scene()->setApplyOpacity(false);
    m_pickImage = view()->viewport()->grab().toImage();
    scene()->setApplyOpacity(true);
    colorPickUpdate({ pos, pos, pos });
}

void PickerTool::colorPickUpdate(const Action::ContinuousUpdateData &motion)
{
    m_colorPicker->moveToPointer(motion.current);
    QWidget *viewport = view()->viewport();
    const QPoint local = viewport->mapFromGlobal(motion.current);
    QColor color;
    if (viewport->rect().contains(local) && !m_pickImage.isNull()) {
        // The grab has device pixels; the pointer is in logical ones.
        const qreal ratio = qreal(m_pickImage.width()) / qMax(1, viewport->width());
        const QPoint pixel(qFloor(local.x() * ratio), qFloor(local.y() * ratio));
        if (m_pickImage.rect().contains(pixel))
            color = m_pickImage.pixelColor(pixel);
    } else if (QScreen *screen = QGuiApplication::screenAt(motion.current)) {
        const QPoint onScreen = motion.current - screen->geometry().topLeft();
        const QImage grabbed = screen->grabWindow(0, onScreen.x(), onScreen.y(), 1, 1).toImage();
        if (!grabbed.isNull())
            color = grabbed.pixelColor(0, 0);
    }
    if (color.isValid())
        m_colorPicker->setColor(color);
}

void PickerTool::colorPickEnd()
{
    m_colorPicker->finish(m_colorPicker->color());
    m_pickImage = QImage();
}

void PickerTool::coordinatePickBegin(const QPoint &pos)
{
    m_coordinatePicker->show();
    coordinatePickUpdate({ pos, pos, pos });
}

void PickerTool::coordinatePickUpdate(const Action::ContinuousUpdateData &motion)
{
    m_coordinatePicker->moveToPointer(motion.current);
    const QPoint local = viewportPos(motion.current);
    GraphicsItem *item = view()->topItemAt(local);
    if (!item) {
        m_coordinatePicker->setNoItem();
        return;
    }
    const QSizeF size = item->boundingRect().size();
    const QPointF inItem = item->mapFromScene(view()->mapToScene(local))
        + QPointF(size.width() / 2, size.height() / 2);
    m_coordinatePicker->setCoordinates(
        QPointF(qBound(0.0, inItem.x(), size.width()), qBound(0.0, inItem.y(), size.height())));
}

// The popup only means something while the pick runs.
void PickerTool::coordinatePickEnd()
{
    m_coordinatePicker->hide();
}
