#include "platform/filefaults.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
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
    bool recording = false;
};

Plan plan;

// What record() keeps, in plain types: the calls come from any thread, also while the toolkit
// is not there to build its own.
struct RawRecord {
    FileFaults::Recorded::Kind kind;
    std::string name;
    std::string target;
    quint64 inode = 0;
    qint64 offset = 0;
    std::string data;
};

std::mutex recordLock;
std::vector<RawRecord> records;

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

bool isRecording()
{
    return plan.armed.load(std::memory_order_acquire) && plan.recording;
}

// The absolute form of path given relative to dirfd, in absolute; false when it is not known.
bool absoluteFrom(int dirfd, const char *path, char *absolute)
{
    if (path[0] == '/') {
        if (std::strlen(path) >= PathSize)
            return false;
        std::strcpy(absolute, path);
        return true;
    }
    if (dirfd == AT_FDCWD) {
        if (syscall(SYS_getcwd, absolute, PathSize) < 0)
            return false;
    } else if (!pathOf(dirfd, absolute)) {
        return false;
    }
    const std::size_t length = std::strlen(absolute);
    if (length + 1 + std::strlen(path) >= PathSize)
        return false;
    absolute[length] = '/';
    std::strcpy(absolute + length + 1, path);
    return true;
}

// The name inside the folder of an absolute path; empty for the folder itself.
std::string nameInFolder(const char *absolute)
{
    const char *name = absolute + plan.folderLength;
    return *name == '/' ? std::string(name + 1) : std::string();
}

void addRecord(RawRecord record)
{
    const std::lock_guard<std::mutex> guard(recordLock);
    records.push_back(std::move(record));
}

// The inode of an open regular file inside the folder; 0 for anything else.
quint64 recordedInode(int fd)
{
    char path[PathSize];
    struct stat status { };
    if (!pathOf(fd, path) || !isInside(path) || syscall(SYS_fstat, fd, &status) != 0
        || !S_ISREG(status.st_mode))
        return 0;
    return quint64(status.st_ino);
}

void recordWrite(int fd, qint64 offset, const void *data, ssize_t written)
{
    if (written <= 0)
        return;
    if (const quint64 inode = recordedInode(fd)) {
        addRecord({ FileFaults::Recorded::Kind::Write, {}, {}, inode, offset,
            std::string(static_cast<const char *>(data), std::size_t(written)) });
    }
}

void recordSync(int fd)
{
    char path[PathSize];
    struct stat status { };
    if (!pathOf(fd, path) || !isInside(path) || syscall(SYS_fstat, fd, &status) != 0)
        return;
    if (S_ISDIR(status.st_mode) && nameInFolder(path).empty())
        addRecord({ FileFaults::Recorded::Kind::SyncFolder, {}, {}, 0, 0, {} });
    else if (S_ISREG(status.st_mode))
        addRecord({ FileFaults::Recorded::Kind::Sync, {}, {}, quint64(status.st_ino), 0, {} });
}

int openCall(int dirfd, const char *path, int flags, mode_t mode)
{
    char absolute[PathSize];
    if (!isRecording() || !(flags & (O_CREAT | O_TRUNC)) || !absoluteFrom(dirfd, path, absolute)
        || !isInside(absolute) || nameInFolder(absolute).empty())
        return int(syscall(SYS_openat, dirfd, path, flags, mode));
    struct stat status { };
    const bool existed = syscall(SYS_newfstatat, dirfd, path, &status, 0) == 0;
    const int fd = int(syscall(SYS_openat, dirfd, path, flags, mode));
    if (fd < 0 || syscall(SYS_fstat, fd, &status) != 0 || !S_ISREG(status.st_mode))
        return fd;
    if (!existed)
        addRecord({ FileFaults::Recorded::Kind::Create, nameInFolder(absolute), {},
            quint64(status.st_ino), 0, {} });
    else if (flags & O_TRUNC)
        addRecord({ FileFaults::Recorded::Kind::Truncate, {}, {}, quint64(status.st_ino), 0, {} });
    return fd;
}

int truncateCall(int fd, const char *path, qint64 length)
{
    const int result = fd >= 0 ? int(syscall(SYS_ftruncate, fd, length))
                               : int(syscall(SYS_truncate, path, length));
    if (result != 0 || !isRecording())
        return result;
    struct stat status { };
    char absolute[PathSize];
    if (fd >= 0) {
        if (const quint64 inode = recordedInode(fd))
            addRecord({ FileFaults::Recorded::Kind::Truncate, {}, {}, inode, length, {} });
    } else if (absoluteFrom(AT_FDCWD, path, absolute) && isInside(absolute)
        && syscall(SYS_stat, path, &status) == 0 && S_ISREG(status.st_mode)) {
        addRecord(
            { FileFaults::Recorded::Kind::Truncate, {}, {}, quint64(status.st_ino), length, {} });
    }
    return result;
}

int unlinkCall(int dirfd, const char *path, int flags)
{
    const int result = int(syscall(SYS_unlinkat, dirfd, path, flags));
    char absolute[PathSize];
    if (result == 0 && isRecording() && !(flags & AT_REMOVEDIR)
        && absoluteFrom(dirfd, path, absolute) && isInside(absolute)
        && !nameInFolder(absolute).empty())
        addRecord({ FileFaults::Recorded::Kind::Remove, nameInFolder(absolute), {}, 0, 0, {} });
    return result;
}

int renameCall(int fromDir, const char *from, int toDir, const char *to, unsigned flags)
{
    if (plan.armed.load(std::memory_order_acquire)
        && (isInsideFrom(fromDir, from) || isInsideFrom(toDir, to))) {
        const char *inside = isInsideFrom(fromDir, from) ? from : to;
        if (failsNow(int(FileFaults::Operation::Rename), inside))
            return failWith(plan.errorNumber);
    }
    const int result = int(syscall(SYS_renameat2, fromDir, from, toDir, to, flags));
    char fromPath[PathSize];
    char toPath[PathSize];
    // Moves into or out of the folder do not happen in a save: only renames within it count.
    if (result == 0 && isRecording() && absoluteFrom(fromDir, from, fromPath)
        && absoluteFrom(toDir, to, toPath) && isInside(fromPath) && isInside(toPath)) {
        addRecord({ FileFaults::Recorded::Kind::Rename, nameInFolder(fromPath),
            nameInFolder(toPath), 0, 0, {} });
    }
    return result;
}

void arm(const QString &folder, int operation, int nth, int errorNumber, qint64 diskSpace,
    bool recording = false)
{
    plan.armed.store(false);
    plan.recording = recording;
    {
        const std::lock_guard<std::mutex> guard(recordLock);
        records.clear();
    }
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

void FileFaults::record(const QString &folder)
{
    arm(folder, -1, 0, 0, -1, true);
}

QList<FileFaults::Recorded> FileFaults::recorded()
{
    const std::lock_guard<std::mutex> guard(recordLock);
    QList<Recorded> list;
    for (const RawRecord &raw : records) {
        Recorded call;
        call.kind = raw.kind;
        call.name = QFile::decodeName(QByteArray::fromStdString(raw.name));
        call.target = QFile::decodeName(QByteArray::fromStdString(raw.target));
        call.inode = raw.inode;
        call.offset = raw.offset;
        call.data = QByteArray::fromStdString(raw.data);
        list.append(call);
    }
    return list;
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
        if (plan.recording) {
            const auto offset = qint64(syscall(SYS_lseek, fd, 0, SEEK_CUR));
            const auto written = ssize_t(syscall(SYS_write, fd, data, size));
            recordWrite(fd, offset, data, written);
            return written;
        }
    }
    return ssize_t(syscall(SYS_write, fd, data, size));
}

ssize_t pwrite(int fd, const void *data, size_t size, off_t offset)
{
    const auto written = ssize_t(syscall(SYS_pwrite64, fd, data, size, offset));
    if (isRecording())
        recordWrite(fd, qint64(offset), data, written);
    return written;
}

ssize_t pwrite64(int fd, const void *data, size_t size, off64_t offset)
{
    return pwrite(fd, data, size, off_t(offset));
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
        if (plan.recording) {
            const auto offset = qint64(syscall(SYS_lseek, fd, 0, SEEK_CUR));
            const auto written = ssize_t(syscall(SYS_writev, fd, vector, count));
            std::string data;
            for (int i = 0; i < count && ssize_t(data.size()) < written; ++i) {
                data.append(static_cast<const char *>(vector[i].iov_base),
                    std::min<std::size_t>(vector[i].iov_len, std::size_t(written) - data.size()));
            }
            recordWrite(fd, offset, data.data(), written);
            return written;
        }
    }
    return ssize_t(syscall(SYS_writev, fd, vector, count));
}

int fsync(int fd)
{
    if (failsOnDescriptor(int(FileFaults::Operation::Sync), fd))
        return failWith(plan.errorNumber);
    const int result = int(syscall(SYS_fsync, fd));
    if (result == 0 && isRecording())
        recordSync(fd);
    return result;
}

int fdatasync(int fd)
{
    if (failsOnDescriptor(int(FileFaults::Operation::Sync), fd))
        return failWith(plan.errorNumber);
    const int result = int(syscall(SYS_fdatasync, fd));
    if (result == 0 && isRecording())
        recordSync(fd);
    return result;
}

// Whether open was given a third argument.
static bool takesMode(int flags)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

// Opening, cutting and removing only matter to the record; they never fail on purpose.
int open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = mode_t(va_arg(arguments, int));
        va_end(arguments);
    }
    return openCall(AT_FDCWD, path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = mode_t(va_arg(arguments, int));
        va_end(arguments);
    }
    return openCall(AT_FDCWD, path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = mode_t(va_arg(arguments, int));
        va_end(arguments);
    }
    return openCall(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = mode_t(va_arg(arguments, int));
        va_end(arguments);
    }
    return openCall(dirfd, path, flags, mode);
}

int ftruncate(int fd, off_t length) noexcept
{
    return truncateCall(fd, nullptr, qint64(length));
}

int ftruncate64(int fd, off64_t length) noexcept
{
    return truncateCall(fd, nullptr, qint64(length));
}

int truncate(const char *path, off_t length) noexcept
{
    return truncateCall(-1, path, qint64(length));
}

int truncate64(const char *path, off64_t length) noexcept
{
    return truncateCall(-1, path, qint64(length));
}

int unlink(const char *path) noexcept
{
    return unlinkCall(AT_FDCWD, path, 0);
}

int unlinkat(int dirfd, const char *path, int flags) noexcept
{
    return unlinkCall(dirfd, path, flags);
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
