#include "input/timedlineedit.h"

#include <QTimer>

TimedLineEdit::TimedLineEdit(QWidget *parent, int delayMs)
    : QLineEdit(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setInterval(delayMs);
    connect(this, &QLineEdit::textChanged, m_timer, qOverload<>(&QTimer::start));
    connect(m_timer, &QTimer::timeout, this, [this] { emit timedTextChanged(text()); });
}
