#include "view/colorpickerdialog.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>

ColorPickerDialog::ColorPickerDialog(QWidget *parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint)
    , m_swatch(new QLabel(this))
    , m_text(new QLabel(this))
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    m_swatch->setFixedSize(24, 24);
    layout->addWidget(m_swatch);
    layout->addWidget(m_text);
    setColor(Qt::black);
}

void ColorPickerDialog::setColor(const QColor &color)
{
    m_color = color;
    m_swatch->setStyleSheet(QStringLiteral("background-color: %1;").arg(color.name()));
    m_text->setText(QStringLiteral("%1\nR %2  G %3  B %4")
                        .arg(color.name())
                        .arg(color.red())
                        .arg(color.green())
                        .arg(color.blue()));
}

void ColorPickerDialog::moveToPointer(const QPoint &globalPos)
{
    move(globalPos + QPoint(16, 16));
}

void ColorPickerDialog::finish(const QColor &color)
{
    setColor(color);
    if (color.isValid())
        QGuiApplication::clipboard()->setText(color.name());
    hide();
}
