#pragma once

#include <QAbstractNativeEventFilter>
#include <QElapsedTimer>
#include <QObject>

#include <atomic>
#include <thread>

class QTimer;

// Finds out what the GUI thread does when it stops answering: a thread of its own checks that
// the GUI thread's timer ticks, and once it has not for the threshold, interrupts the GUI
// thread, which writes its own call stack to standard error there and then. A tool for long
// runs (an X client waiting on a copier that is busy for seconds), switched on by the
// environment variable VELKORA_STALL_MS; it costs nothing when off. While on, it also logs when
// each request for the clipboard's contents arrives and when this thread is next free, which is
// when the toolkit has answered it. GUI thread only, but for the checking thread it starts.
class StallWatch : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    // Starts watching when VELKORA_STALL_MS names a threshold of 500 ms or more; else null.
    static StallWatch *startFromEnvironment(QObject *parent);
    ~StallWatch() override;

    // Stops the checking thread; the process is about to end.
    void stop();

    bool nativeEventFilter(const QByteArray &eventType, void *message, long *result) override;

private:
    explicit StallWatch(int thresholdMs, QObject *parent);
    void watch();

    const int m_thresholdMs;
    QTimer *m_ticker = nullptr;
    std::atomic<qint64> m_lastTick { 0 };
    std::atomic<bool> m_stopping { false };
    std::thread m_thread;
    QElapsedTimer m_sinceStart;
};
