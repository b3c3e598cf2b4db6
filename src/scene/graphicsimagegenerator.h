#pragma once

#include <QAtomicInt>
#include <QImage>
#include <QObject>

#include <memory>

// Common part of the jobs that derive images (reduced levels, grey variant) from an item's
// picture on the global thread pool.
//
// Threading contract: a job is used once. The item (GUI thread) creates it, prepares it and hands
// it to the pool with start(), which keeps a shared reference until the run returns; run() (pool
// thread) touches only the source, its own result and the atomics. The result belongs to the GUI
// thread once the state says Done. An item that no longer wants a job cancels it, disconnects from
// it and drops its reference: nobody waits, and a run still going stops at its next check and
// frees the job on the pool thread. A job receives no events and owns no timers, so that is safe.
// Pixmaps are made from the results on the GUI thread only, which keeps the jobs independent of
// whether the platform allows pixmaps on other threads.
class GraphicsImageGenerator : public QObject {
    Q_OBJECT

public:
    enum JobState { Idle = 0, Queued = 1, Running = 2, Done = 3 };

    GraphicsImageGenerator();
    ~GraphicsImageGenerator() override;

    int state() const { return m_state.loadAcquire(); }
    bool isCanceled() const { return m_canceled.loadRelaxed() != 0; }

    // Before start(): state Queued and the picture to work on.
    void prepare(const QImage &source);
    // Any thread: a run not begun yet does nothing, a run under way stops at its next check.
    void cancel() { m_canceled.storeRelaxed(1); }
    virtual void run() = 0;

    // Runs the job on the global pool, which holds it until the run has returned.
    static void start(const std::shared_ptr<GraphicsImageGenerator> &job);

signals:
    // Pool thread, after the result is published; not emitted by a cancelled run.
    void finished();

protected:
    // Pool thread. beginRun marks the job Running and is false when it was cancelled already;
    // endRun releases the source, publishes the stored result (state Done) and emits finished.
    bool beginRun();
    void endRun();

    QImage m_source;

private:
    QAtomicInt m_state { Idle };
    QAtomicInt m_canceled { 0 };
};
