#include "platform/processguard.h"

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

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
    rlimit limit {};
    if (::getrlimit(RLIMIT_AS, &limit) != 0)
        return false;
    limit.rlim_cur = rlim_t(bytes);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_cur > limit.rlim_max)
        limit.rlim_cur = limit.rlim_max;
    return ::setrlimit(RLIMIT_AS, &limit) == 0;
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
