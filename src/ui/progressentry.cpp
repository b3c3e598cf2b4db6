#include "ui/progressentry.h"

#include <QtGlobal>

ProgressEntry::ProgressEntry(int minimum, int maximum, QObject *parent)
    : QObject(parent)
    , m_minimum(minimum)
    , m_maximum(qMax(minimum, maximum))
    , m_value(minimum)
{
}

void ProgressEntry::setRange(int minimum, int maximum)
{
    maximum = qMax(minimum, maximum);
    if (minimum == m_minimum && maximum == m_maximum)
        return;
    m_minimum = minimum;
    m_maximum = maximum;
    const int value = qBound(m_minimum, m_value, m_maximum);
    const bool valueMoved = value != m_value;
    m_value = value;
    // Both are stored before either signal: a receiver of the range reads a value inside it.
    emit rangeChanged(m_minimum, m_maximum);
    if (valueMoved)
        emit valueChanged(m_value);
}

void ProgressEntry::setValue(int value)
{
    value = qBound(m_minimum, value, m_maximum);
    if (value == m_value)
        return;
    m_value = value;
    emit valueChanged(m_value);
}

void ProgressEntry::setInfoText(const QString &text, int dots)
{
    dots = qMax(dots, 0);
    // Jobs repeat their message with every step; restarting the dots each time would freeze them.
    if (text == m_infoText && dots == m_dots)
        return;
    m_infoText = text;
    m_dots = dots;
    emit infoTextChanged(m_infoText, m_dots);
}

void ProgressEntry::cancel()
{
    if (m_canceled)
        return;
    m_canceled = true;
    emit canceled();
}
