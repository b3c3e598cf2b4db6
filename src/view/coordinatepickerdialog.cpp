#include "view/coordinatepickerdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QtMath>

CoordinatePickerDialog::CoordinatePickerDialog(QWidget *parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint)
    , m_text(new QLabel(this))
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_text);
    setNoItem();
}

void CoordinatePickerDialog::setCoordinates(const QPointF &coordinates)
{
    m_hasItem = true;
    m_coordinates = coordinates;
    m_text->setText(
        QStringLiteral("x %1  y %2").arg(qFloor(coordinates.x())).arg(qFloor(coordinates.y())));
}

void CoordinatePickerDialog::setNoItem()
{
    m_hasItem = false;
    m_coordinates = QPointF();
    m_text->setText(tr("No image"));
}

void CoordinatePickerDialog::moveToPointer(const QPoint &globalPos)
{
    move(globalPos + QPoint(16, 16));
}
