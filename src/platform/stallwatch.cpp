#include "platform/stallwatch.h"

#include "platform/platformlog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <execinfo.h>
#include <pthread.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs on the stalled thread, in the middle of whatever it does. Only calls that are safe in a
// signal handler, but for backtrace(), whose first call may allocate: it is made once at start.
void writeStack(int)
{
    static const char heading[] = "StallWatch: the GUI thread has not answered; it is in:\n";
    [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, heading, sizeof heading - 1);
    void *frames[64];
    const int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, STDERR_FILENO);
}

pthread_t guiThread;

} // namespace

StallWatch *StallWatch::startFromEnvironment(QObject *parent)
{
    bool ok = false;
    const int threshold = qEnvironmentVariableIntValue("VELKORA_STALL_MS", &ok);
    if (!ok || threshold < 500)
        return nullptr;
    return new StallWatch(threshold, parent);
}

StallWatch::StallWatch(int thresholdMs, QObject *parent)
    : QObject(parent)
    , m_thresholdMs(thresholdMs)
    , m_ticker(new QTimer(this))
{
    void *warm[1];
    backtrace(warm, 1);
    guiThread = pthread_self();
    struct sigaction action = {};
    action.sa_handler = writeStack;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGUSR2, &action, nullptr);
    m_lastTick = nowMs();
    m_ticker->setInterval(100);
    connect(m_ticker, &QTimer::timeout, this, [this] { m_lastTick = nowMs(); });
    m_ticker->start();
    m_thread = std::thread([this] { watch(); });
    m_sinceStart.start();
    QCoreApplication::instance()->installNativeEventFilter(this);
    qCInfo(lcPlatform, "StallWatch: reporting GUI thread stalls over %d ms", thresholdMs);
}

StallWatch::~StallWatch()
{
    QCoreApplication::instance()->removeNativeEventFilter(this);
    stop();
}

bool StallWatch::nativeEventFilter(const QByteArray &eventType, void *message, long *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_SELECTION_REQUEST)
        return false;
    const auto *request = static_cast<const xcb_selection_request_event_t *>(message);
    const qint64 arrived = m_sinceStart.elapsed();
    const quint32 target = request->target;
    const quint32 requestor = request->requestor;
    qCInfo(lcPlatform, "StallWatch: selection request for atom %u from window 0x%x", target,
        requestor);
    // The toolkit answers as soon as this filter returns; the next turn of the event loop
    // comes after that answer.
    QTimer::singleShot(0, this, [this, arrived, target] {
        qCInfo(lcPlatform, "StallWatch: selection request for atom %u answered within %lld ms",
            target, m_sinceStart.elapsed() - arrived);
    });
    return false;
}

void StallWatch::stop()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
}

void StallWatch::watch()
{
    qint64 reportedTick = -1;
    qint64 reportedAt = 0;
    while (!m_stopping) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const qint64 tick = m_lastTick;
        const qint64 now = nowMs();
        // One stack as a stall passes the threshold, and one more each threshold it lasts: a
        // long stall may pass through several places.
        if (now - tick < m_thresholdMs
            || (tick == reportedTick && now - reportedAt < m_thresholdMs))
            continue;
        reportedTick = tick;
        reportedAt = now;
        const QByteArray when = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toLatin1();
        std::fprintf(stderr, "%s: StallWatch: no answer for %lld ms\n", when.constData(),
            static_cast<long long>(now - tick));
        std::fflush(stderr);
        pthread_kill(guiThread, SIGUSR2);
    }
}
