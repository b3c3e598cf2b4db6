#pragma once

#include <QLineEdit>

class QTimer;

// A line edit that reports its text only once the user pauses typing, so that filtering a long
// list does not run on every key stroke.
class TimedLineEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit TimedLineEdit(QWidget *parent = nullptr, int delayMs = 250);

signals:
    void timedTextChanged(const QString &text);

private:
    QTimer *m_timer;
};
