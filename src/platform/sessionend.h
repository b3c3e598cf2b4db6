#pragma once

#include <QObject>

class QSocketNotifier;

// Tells when the desktop session, or whoever started the program, asks it to end: the hang-up
// and termination signals a session sends its processes as it ends, and an interrupt from the
// terminal. Left to their default those end the process at once, mid-decode and mid-save; here
// they arrive as a signal on the GUI thread, where the program ends in order. The handler only
// writes a byte to a pipe that the event loop watches, the one thing a signal handler may do
// safely. One object a process. GUI thread only.
class SessionEnd : public QObject {
    Q_OBJECT

public:
    explicit SessionEnd(QObject *parent = nullptr);
    ~SessionEnd() override;

signals:
    // signalNumber: the one that asked, for the log.
    void requested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
