#pragma once

#include <QObject>

#include <functional>

class QTimer;

// Hands memory the program no longer uses back to the system once a board is gone or the jobs
// have ended: the toolkit's pixmap cache, then the heap's free pages. GUI thread only.
class IdleMemoryTrim : public QObject {
    Q_OBJECT

public:
    // isIdle tells whether no job runs: a running job frees what it worked with when it ends,
    // and schedules a trim of its own then.
    explicit IdleMemoryTrim(std::function<bool()> isIdle, QObject *parent = nullptr);

    // Trims a moment later: the items a clear handed to deleteLater go first, and the ends of
    // jobs that follow each other (a load and its decoding) gather into one trim.
    void schedule();

private:
    void trim();

    std::function<bool()> m_isIdle;
    QTimer *m_timer = nullptr;
};
