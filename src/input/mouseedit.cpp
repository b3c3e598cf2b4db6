#include "input/mouseedit.h"

#include "input/actionbinding.h"

#include <QMouseEvent>

MouseEdit::MouseEdit(QWidget *parent)
    : QLineEdit(parent)
{
    setReadOnly(true);
    setClearButtonEnabled(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setPlaceholderText(tr("Click with mouse buttons"));
    connect(this, &QLineEdit::textChanged, this, [this](const QString &shown) {
        if (shown.isEmpty() && m_buttons != Qt::NoButton) {
            m_buttons = Qt::NoButton;
            emit clearPressed();
            emit buttonsChanged(m_buttons);
        }
    });
}

void MouseEdit::setButtons(Qt::MouseButtons buttons)
{
    m_buttons = buttons;
    setText(buttons == Qt::NoButton
            ? QString()
            : ActionBinding::mouseButtonsText(buttons) + QLatin1String(" MB"));
}

void MouseEdit::mousePressEvent(QMouseEvent *event)
{
    if (event->buttons() != m_buttons) {
        setButtons(event->buttons());
        emit buttonsChanged(m_buttons);
    }
    event->accept();
}

void MouseEdit::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void MouseEdit::mouseDoubleClickEvent(QMouseEvent *event)
{
    mousePressEvent(event);
}
