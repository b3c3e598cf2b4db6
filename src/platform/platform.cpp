#include "platform/platform.h"

#include <QGuiApplication>
#include <QX11Info>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Platform {

WindowSystem windowSystem()
{
    if (QX11Info::isPlatformX11())
        return WindowSystem::X11;
    const QString name = QGuiApplication::platformName();
    if (name.startsWith(QLatin1String("wayland")))
        return WindowSystem::Wayland;
    if (name == QLatin1String("offscreen") || name == QLatin1String("minimal"))
        return WindowSystem::Offscreen;
    return WindowSystem::Other;
}

QString windowSystemName()
{
    return QGuiApplication::platformName();
}

} // namespace Platform

void Platform::returnFreedLargeBlocks()
{
#ifdef __GLIBC__
    // glibc raises the size from which a block gets a mapping of its own each time such a block is
    // freed, up to 32 MiB. Picture-sized buffers (decoded pixels, levels, encoded copies) then
    // come from the heap and the threads' arenas, and what a closed board freed stayed resident:
    // after a few minutes of use the same board held 2.7 times the anonymous memory it held at
    // first. A fixed threshold keeps every block from 128 KiB up in its own mapping, which goes
    // back to the system when freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

double Platform::threadCpuSeconds()
{
    timespec now {};
    if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0)
        return 0;
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

bool Platform::processExists(qint64 processId)
{
    // 0 and negative ids would signal process groups.
    if (processId <= 0 || processId != qint64(pid_t(processId)))
        return false;
    return ::kill(pid_t(processId), 0) == 0 || errno == EPERM;
}

void Platform::lowerThreadPriority()
{
    // On Linux a nice value belongs to a thread, named by its thread id. Lowering it needs no
    // privilege; a thread already lower keeps its value.
    const auto thread = id_t(syscall(SYS_gettid));
    constexpr int Lowered = 10;
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, thread);
    if (errno == 0 && current < Lowered)
        setpriority(PRIO_PROCESS, thread, Lowered);
}

void Platform::returnFreedHeapPages()
{
#ifdef __GLIBC__
    // glibc gives back only the top of the main heap by itself. The small blocks of a closed
    // board (items, records, overviews, strings) lie spread over the main heap and the arenas of
    // the threads that made them, between blocks still in use, and their pages stayed resident:
    // returning to the same board after a few boards held 13 MB free inside the allocator where
    // it first held 5. malloc_trim hands back every whole free page, wherever it lies.
    malloc_trim(0);
#endif
}
