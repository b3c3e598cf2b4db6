#include "platform/filefaults.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

// The replacements call the kernel directly: they must work in a child between fork and exec,
// and before any constructor of this file has run.

namespace {

constexpr int Operations = 3;
constexpr std::size_t PathSize = 4096;

struct Plan {
    std::atomic_bool armed { false };
    char folder[PathSize] = {};
    std::size_t folderLength = 0;
    int operation = -1;
    int nth = 0;
    int errorNumber = 0;
    qint64 diskSpace = -1;
    std::atomic<qint64> written { 0 };
    std::atomic_int counts[Operations] = {};
    std::atomic_bool failed { false };
    char failedPath[PathSize] = {};
};

Plan plan;

bool isInside(const char *path)
{
    return std::strncmp(path, plan.folder, plan.folderLength) == 0
        && (path[plan.folderLength] == '/' || path[plan.folderLength] == '\0');
}

// The file an open descriptor stands for, in path; false when it is not known.
bool pathOf(int fd, char *path)
{
    char link[32] = "/proc/self/fd/";
    char digits[16];
    int count = 0;
    unsigned value = unsigned(fd);
    do {
        digits[count++] = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    std::size_t at = std::strlen(link);
    while (count > 0)
        link[at++] = digits[--count];
    link[at] = '\0';
    const auto length = ssize_t(syscall(SYS_readlinkat, AT_FDCWD, link, path, PathSize - 1));
    if (length < 0)
        return false;
    path[length] = '\0';
    return true;
}

// Whether this call of operation on path is the one to fail; counts it when inside the folder.
void noteFailure(const char *path)
{
    const std::size_t length = strnlen(path, PathSize - 1);
    std::memcpy(plan.failedPath, path, length);
    plan.failedPath[length] = '\0';
}

bool failsNow(int operation, const char *path)
{
    if (!isInside(path))
        return false;
    const int number = plan.counts[operation].fetch_add(1) + 1;
    if (operation != plan.operation || number != plan.nth || plan.failed.exchange(true))
        return false;
    noteFailure(path);
    return true;
}

bool failsOnDescriptor(int operation, int fd)
{
    char path[PathSize];
    return plan.armed.load(std::memory_order_acquire) && pathOf(fd, path)
        && failsNow(operation, path);
}

int failWith(int errorNumber)
{
    errno = errorNumber;
    return -1;
}

// How many of size bytes a write into the folder may write on a disk that fills up; -1 when
// the disk is full already.
ssize_t roomFor(int fd, std::size_t size)
{
    char path[PathSize];
    if (plan.diskSpace < 0 || !pathOf(fd, path) || !isInside(path))
        return ssize_t(size);
    const qint64 before = plan.written.fetch_add(qint64(size));
    if (before >= plan.diskSpace) {
        plan.written.fetch_sub(qint64(size));
        if (!plan.failed.exchange(true))
            noteFailure(path);
        return -1;
    }
    const qint64 room = plan.diskSpace - before;
    if (room >= qint64(size))
        return ssize_t(size);
    plan.written.fetch_sub(qint64(size) - room);
    return ssize_t(room);
}

bool isInsideFrom(int dirfd, const char *path)
{
    if (path[0] == '/' || dirfd != AT_FDCWD)
        return path[0] == '/' && isInside(path);
    char absolute[PathSize];
    if (syscall(SYS_getcwd, absolute, PathSize) < 0)
        return false;
    const std::size_t length = std::strlen(absolute);
    if (length + 1 + std::strlen(path) >= PathSize)
        return false;
    absolute[length] = '/';
    std::strcpy(absolute + length + 1, path);
    return isInside(absolute);
}

int renameCall(int fromDir, const char *from, int toDir, const char *to, unsigned flags)
{
    if (plan.armed.load(std::memory_order_acquire)
        && (isInsideFrom(fromDir, from) || isInsideFrom(toDir, to))) {
        const char *inside = isInsideFrom(fromDir, from) ? from : to;
        if (failsNow(int(FileFaults::Operation::Rename), inside))
            return failWith(plan.errorNumber);
    }
    return int(syscall(SYS_renameat2, fromDir, from, toDir, to, flags));
}

void arm(const QString &folder, int operation, int nth, int errorNumber, qint64 diskSpace)
{
    plan.armed.store(false);
    const QByteArray name = QFile::encodeName(folder);
    const std::size_t length = std::min<std::size_t>(std::size_t(name.size()), PathSize - 1);
    std::memcpy(plan.folder, name.constData(), length);
    plan.folder[length] = '\0';
    plan.folderLength = length;
    plan.operation = operation;
    plan.nth = nth;
    plan.errorNumber = errorNumber;
    plan.diskSpace = diskSpace;
    plan.written = 0;
    for (std::atomic_int &count : plan.counts)
        count = 0;
    plan.failed = false;
    plan.failedPath[0] = '\0';
    plan.armed.store(true, std::memory_order_release);
}

} // namespace

void FileFaults::failNth(const QString &folder, Operation operation, int nth, int errorNumber)
{
    arm(folder, int(operation), nth, errorNumber, -1);
}

void FileFaults::fillDiskAfter(const QString &folder, qint64 bytes)
{
    arm(folder, -1, 0, 0, bytes);
}

void FileFaults::countOnly(const QString &folder)
{
    arm(folder, -1, 0, 0, -1);
}

void FileFaults::disarm()
{
    plan.armed.store(false);
}

int FileFaults::count(Operation operation)
{
    return plan.counts[int(operation)].load();
}

bool FileFaults::hasFailed()
{
    return plan.failed.load();
}

QString FileFaults::failedPath()
{
    return hasFailed() ? QFile::decodeName(plan.failedPath) : QString();
}

extern "C" {

ssize_t write(int fd, const void *data, size_t size)
{
    if (plan.armed.load(std::memory_order_acquire)) {
        if (failsOnDescriptor(int(FileFaults::Operation::Write), fd))
            return failWith(plan.errorNumber);
        const ssize_t room = roomFor(fd, size);
        if (room < 0)
            return failWith(ENOSPC);
        size = std::size_t(room);
    }
    return ssize_t(syscall(SYS_write, fd, data, size));
}

ssize_t writev(int fd, const struct iovec *vector, int count)
{
    if (plan.armed.load(std::memory_order_acquire)) {
        if (failsOnDescriptor(int(FileFaults::Operation::Write), fd))
            return failWith(plan.errorNumber);
        std::size_t size = 0;
        for (int i = 0; i < count; ++i)
            size += vector[i].iov_len;
        const ssize_t room = roomFor(fd, size);
        if (room < 0)
            return failWith(ENOSPC);
        if (std::size_t(room) < size) {
            // Cut short like the disk would: what fits of the first buffers.
            ssize_t done = 0;
            for (int i = 0; i < count && done < room; ++i) {
                const auto part = std::min<ssize_t>(room - done, ssize_t(vector[i].iov_len));
                const auto n = ssize_t(syscall(SYS_write, fd, vector[i].iov_base, part));
                if (n < 0)
                    return done > 0 ? done : n;
                done += n;
            }
            return done;
        }
    }
    return ssize_t(syscall(SYS_writev, fd, vector, count));
}

int fsync(int fd)
{
    if (failsOnDescriptor(int(FileFaults::Operation::Sync), fd))
        return failWith(plan.errorNumber);
    return int(syscall(SYS_fsync, fd));
}

int fdatasync(int fd)
{
    if (failsOnDescriptor(int(FileFaults::Operation::Sync), fd))
        return failWith(plan.errorNumber);
    return int(syscall(SYS_fdatasync, fd));
}

int rename(const char *from, const char *to) noexcept
{
    return renameCall(AT_FDCWD, from, AT_FDCWD, to, 0);
}

int renameat(int fromDir, const char *from, int toDir, const char *to) noexcept
{
    return renameCall(fromDir, from, toDir, to, 0);
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned flags) noexcept
{
    return renameCall(fromDir, from, toDir, to, flags);
}

} // extern "C"
