#pragma once

#include "scene/itemrecord.h"

#include <QObject>

#include <atomic>

class BaseLoader;

// One background operation of a loader: files being loaded, a scene being read or written, an
// export. Lives on the thread that asked for the operation (the GUI thread); the loader thread
// emits its signals and reads the cancelled flag, which is the one member shared across threads.
class LoadJob : public QObject {
    Q_OBJECT

public:
    explicit LoadJob(BaseLoader *loader = nullptr, QObject *parent = nullptr);

    BaseLoader *loader() const { return m_loader; }
    bool isCanceled() const { return m_canceled.load(std::memory_order_acquire); }
    // Cancelled, and what the job already generated is not wanted either: a board whose
    // pictures went on the board while its checksum was checked, found damaged.
    bool isDiscarded() const { return m_discarded.load(std::memory_order_acquire); }

public slots:
    void cancel();
    void discard();

signals:
    void started(const QString &operationName);
    void progressRangeChanged(int min, int max);
    void progressChanged(int value);
    void itemGenerated(const ItemRecord &record);
    // Both texts empty: nothing to report.
    void finished(const QString &message, const QString &details);
    void canceledCalled();

private:
    BaseLoader *m_loader = nullptr;
    std::atomic_bool m_canceled { false };
    std::atomic_bool m_discarded { false };
};
