#pragma once

#include <QObject>
#include <QString>

// One job's line in the progress dialog: its range, how far it got and the text naming what it
// does. The job (through its owner) writes to the entry and the dialog draws it; the user's cancel
// comes back through canceled(). The dialog owns its entries. GUI thread only: workers report
// through their loader's queued signals.
class ProgressEntry : public QObject {
    Q_OBJECT

public:
    explicit ProgressEntry(int minimum, int maximum, QObject *parent = nullptr);

    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }
    int value() const { return m_value; }
    QString infoText() const { return m_infoText; }
    int dots() const { return m_dots; }
    bool isCanceled() const { return m_canceled; }

    // A maximum below the minimum is raised to it, as QProgressBar does. The value is kept inside
    // the range: a job that reports past its end must not carry the taskbar past 100 %.
    void setRange(int minimum, int maximum);
    void setValue(int value);
    // With dots > 0 the text is followed by 0 .. dots animated dots; an empty text hides it.
    void setInfoText(const QString &text, int dots = 0);
    // Only the first call signals: closing the dialog again must not cancel a job twice.
    void cancel();

signals:
    void valueChanged(int value);
    void rangeChanged(int minimum, int maximum);
    void infoTextChanged(const QString &text, int dots);
    void canceled();

private:
    int m_minimum;
    int m_maximum;
    int m_value;
    QString m_infoText;
    int m_dots = 0;
    bool m_canceled = false;
};
