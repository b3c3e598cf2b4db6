#pragma once

#include <QAtomicInt>
#include <QImage>
#include <QObject>

class GraphicsImageItem;

// Common part of the jobs that derive images (reduced levels, grey variant) from an item's
// picture on the global thread pool.
//
// Threading contract: the item (GUI thread) owns the job, assigns the source and marks it queued
// before starting it; run() (pool thread) touches only the source, its own result and the
// atomics. The result stays in the job until the GUI thread takes it in state Done, so an item
// never frees memory a run still writes. The busy flag is the last thing a run touches: while it
// is set the job must not be deleted or restarted, even when the state already says Done.
// Pixmaps are made from the results on the GUI thread only, which keeps the jobs independent of
// whether the platform allows pixmaps on other threads.
class GraphicsImageGenerator : public QObject {
    Q_OBJECT

public:
    enum JobState { Idle = 0, Queued = 1, Running = 2, Done = 3 };

    explicit GraphicsImageGenerator(GraphicsImageItem *owner);
    ~GraphicsImageGenerator() override;

    GraphicsImageItem *owner() const { return m_owner; }
    int state() const { return m_state.loadAcquire(); }
    bool isBusy() const { return m_busy.loadAcquire() != 0; }

    // GUI thread, while the job is idle: state Queued, busy, and the picture to work on.
    void prepare(const QImage &source);
    // GUI thread, only after the job was taken back from the pool or its run has returned:
    // drops the source and any result and goes back to Idle.
    void reset();

signals:
    void finished();

protected:
    // Pool thread. beginRun marks the job Running; endRun releases the source, publishes the
    // stored result (state Done), emits finished and finally clears the busy flag.
    void beginRun();
    void endRun();
    virtual void clearResult() = 0;

    QImage m_source;

private:
    QAtomicInt m_state { Idle };
    QAtomicInt m_busy { 0 };
    GraphicsImageItem *m_owner;
};
