#include "platform/processguard.h"

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

// An address-space limit leaves the sanitizers' shadow memory no room: the sanitized build's
// thumbnailer could not even start with one. Sanitized builds run without it.
#if defined(__SANITIZE_ADDRESS__)
#define VELKORA_NO_MEMORY_LIMIT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELKORA_NO_MEMORY_LIMIT 1
#endif
#endif

namespace {

volatile sig_atomic_t exitCodeOnAlarm = 1;

void exitNow(int)
{
    // Only async-signal-safe calls here: the alarm may interrupt anything, even the allocator.
    ::_exit(exitCodeOnAlarm);
}

} // namespace

namespace ProcessGuard {

bool limitAddressSpace(quint64 bytes)
{
#ifdef VELKORA_NO_MEMORY_LIMIT
    Q_UNUSED(bytes)
    return false;
#else
    rlimit limit {};
    if (::getrlimit(RLIMIT_AS, &limit) != 0)
        return false;
    limit.rlim_cur = rlim_t(bytes);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_cur > limit.rlim_max)
        limit.rlim_cur = limit.rlim_max;
    return ::setrlimit(RLIMIT_AS, &limit) == 0;
#endif
}

bool limitsMemory()
{
#ifdef VELKORA_NO_MEMORY_LIMIT
    return false;
#else
    return true;
#endif
}

void exitAfter(int seconds, int exitCode)
{
    exitCodeOnAlarm = exitCode;
    struct sigaction action { };
    action.sa_handler = exitNow;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGALRM, &action, nullptr);
    ::alarm(unsigned(seconds));
}

quint64 peakChildResidentBytes()
{
    rusage usage {};
    if (::getrusage(RUSAGE_CHILDREN, &usage) != 0)
        return 0;
    // Linux counts kilobytes.
    return quint64(usage.ru_maxrss) * 1024;
}

} // namespace ProcessGuard
