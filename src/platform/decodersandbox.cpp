#include "platform/decodersandbox.h"

#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

// An address-space limit leaves the sanitizers' shadow memory no room: sanitized builds run
// their helpers without one.
#if defined(__SANITIZE_ADDRESS__)
#define VELKORA_NO_MEMORY_LIMIT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELKORA_NO_MEMORY_LIMIT 1
#endif
#endif

namespace DecoderSandbox {

namespace {

    // Opened before the sandbox closes the door to /proc; read again for every picture.
    int statusFile = -1;
    // Unused where sanitizers forbid a memory limit.
    [[maybe_unused]] rlim_t hardLimit = RLIM_INFINITY;

    QString systemError(int error)
    {
        return QString::fromLocal8Bit(std::strerror(error));
    }

    [[maybe_unused]] quint64 addressSpace()
    {
        char text[128] = {};
        const ssize_t count = statusFile < 0 ? -1 : ::pread(statusFile, text, sizeof text - 1, 0);
        unsigned long long pages = 0;
        if (count <= 0 || std::sscanf(text, "%llu", &pages) != 1)
            return 0;
        return quint64(pages) * quint64(::sysconf(_SC_PAGESIZE));
    }

    struct Rule {
        const char *call;
        int error;
    };

    // What a decoder never needs. Opening anything is refused outright, which also keeps it from
    // the files /proc would offer.
    const Rule refusedCalls[] = {
        // files by name
        { "open", EPERM },
        { "openat", EPERM },
        { "openat2", ENOSYS },
        { "creat", EPERM },
        { "open_by_handle_at", EPERM },
        { "name_to_handle_at", EPERM },
        { "truncate", EPERM },
        { "unlink", EPERM },
        { "unlinkat", EPERM },
        { "rename", EPERM },
        { "renameat", EPERM },
        { "renameat2", EPERM },
        { "mkdir", EPERM },
        { "mkdirat", EPERM },
        { "rmdir", EPERM },
        { "link", EPERM },
        { "linkat", EPERM },
        { "symlink", EPERM },
        { "symlinkat", EPERM },
        { "chmod", EPERM },
        { "fchmod", EPERM },
        { "fchmodat", EPERM },
        { "chown", EPERM },
        { "fchown", EPERM },
        { "lchown", EPERM },
        { "fchownat", EPERM },
        { "mknod", EPERM },
        { "mknodat", EPERM },
        { "utime", EPERM },
        { "utimes", EPERM },
        { "utimensat", EPERM },
        { "futimesat", EPERM },
        { "setxattr", EPERM },
        { "lsetxattr", EPERM },
        { "fsetxattr", EPERM },
        { "removexattr", EPERM },
        { "lremovexattr", EPERM },
        { "fremovexattr", EPERM },
        // asynchronous rings run their operations past this filter
        { "io_uring_setup", ENOSYS },
        { "io_uring_enter", ENOSYS },
        { "io_uring_register", ENOSYS },
        // network
        { "socket", EPERM },
        { "socketpair", EPERM },
        { "connect", EPERM },
        { "bind", EPERM },
        { "listen", EPERM },
        { "accept", EPERM },
        { "accept4", EPERM },
        { "sendto", EPERM },
        { "sendmmsg", EPERM },
        // processes
        { "fork", EPERM },
        { "vfork", EPERM },
        { "execve", EPERM },
        { "execveat", EPERM },
        { "clone3", ENOSYS },
        { "ptrace", EPERM },
        { "process_vm_readv", EPERM },
        { "process_vm_writev", EPERM },
        { "pidfd_open", EPERM },
        { "pidfd_getfd", EPERM },
        { "pidfd_send_signal", EPERM },
        { "tkill", EPERM },
        { "process_madvise", EPERM },
        // the system and the identity
        { "mount", EPERM },
        { "umount2", EPERM },
        { "pivot_root", EPERM },
        { "chroot", EPERM },
        { "reboot", EPERM },
        { "kexec_load", EPERM },
        { "kexec_file_load", EPERM },
        { "init_module", EPERM },
        { "finit_module", EPERM },
        { "delete_module", EPERM },
        { "swapon", EPERM },
        { "swapoff", EPERM },
        { "sethostname", EPERM },
        { "setdomainname", EPERM },
        { "iopl", EPERM },
        { "ioperm", EPERM },
        { "settimeofday", EPERM },
        { "clock_settime", EPERM },
        { "clock_adjtime", EPERM },
        { "adjtimex", EPERM },
        { "acct", EPERM },
        { "quotactl", EPERM },
        { "unshare", EPERM },
        { "setns", EPERM },
        { "bpf", EPERM },
        { "perf_event_open", EPERM },
        { "userfaultfd", EPERM },
        { "keyctl", EPERM },
        { "add_key", EPERM },
        { "request_key", EPERM },
        { "personality", EPERM },
        { "setuid", EPERM },
        { "setgid", EPERM },
        { "setreuid", EPERM },
        { "setregid", EPERM },
        { "setresuid", EPERM },
        { "setresgid", EPERM },
        { "setfsuid", EPERM },
        { "setfsgid", EPERM },
        { "setgroups", EPERM },
        { "capset", EPERM },
    };

    bool addRules(scmp_filter_ctx filter, QString *error)
    {
        for (const Rule &rule : refusedCalls) {
            const int call = seccomp_syscall_resolve_name(rule.call);
            if (call == __NR_SCMP_ERROR)
                continue; // not a call of this architecture
            const int result = seccomp_rule_add(filter, SCMP_ACT_ERRNO(rule.error), call, 0);
            if (result != 0) {
                *error
                    = QStringLiteral("%1: %2").arg(QLatin1String(rule.call), systemError(-result));
                return false;
            }
        }
        const auto refuse = [filter](int call, scmp_arg_cmp condition) {
            return seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 1, condition) == 0;
        };
        const scmp_datum_t self = scmp_datum_t(::getpid());
        // Threads, yes; new processes, no. Writes go to standard error and replies to the
        // program's socket only; the pixels travel in memory. Signals stay within the helper.
        const bool added = refuse(SCMP_SYS(clone), SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0))
            && refuse(SCMP_SYS(write), SCMP_A0(SCMP_CMP_NE, STDERR_FILENO))
            && refuse(SCMP_SYS(writev), SCMP_A0(SCMP_CMP_NE, STDERR_FILENO))
            && refuse(SCMP_SYS(pwrite64), SCMP_A0(SCMP_CMP_NE, STDERR_FILENO))
            && refuse(SCMP_SYS(pwritev), SCMP_A0(SCMP_CMP_NE, STDERR_FILENO))
            && refuse(SCMP_SYS(pwritev2), SCMP_A0(SCMP_CMP_NE, STDERR_FILENO))
            && refuse(SCMP_SYS(ioctl), SCMP_A0(SCMP_CMP_NE, STDERR_FILENO))
            && refuse(SCMP_SYS(sendmsg), SCMP_A0(SCMP_CMP_NE, 3))
            && refuse(SCMP_SYS(kill), SCMP_A0(SCMP_CMP_NE, self))
            && refuse(SCMP_SYS(tgkill), SCMP_A0(SCMP_CMP_NE, self))
            && refuse(SCMP_SYS(rt_sigqueueinfo), SCMP_A0(SCMP_CMP_NE, self))
            && refuse(SCMP_SYS(rt_tgsigqueueinfo), SCMP_A0(SCMP_CMP_NE, self));
        if (!added)
            *error = QStringLiteral("the filter refused a rule");
        return added;
    }

} // namespace

bool setHardMemoryLimit(quint64 bytes, QString *error)
{
    statusFile = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
#ifdef VELKORA_NO_MEMORY_LIMIT
    Q_UNUSED(bytes)
    Q_UNUSED(error)
    return true;
#else
    rlimit limit {};
    ::getrlimit(RLIMIT_AS, &limit);
    hardLimit = qMin<rlim_t>(limit.rlim_max, rlim_t(bytes));
    limit.rlim_cur = hardLimit;
    limit.rlim_max = hardLimit;
    if (::setrlimit(RLIMIT_AS, &limit) != 0) {
        *error = systemError(errno);
        return false;
    }
    return true;
#endif
}

void limitMemoryTo(quint64 extraBytes)
{
#ifdef VELKORA_NO_MEMORY_LIMIT
    Q_UNUSED(extraBytes)
#else
    const quint64 current = addressSpace();
    if (current == 0)
        return;
    const rlimit limit { qMin<rlim_t>(hardLimit, rlim_t(current + extraBytes)), hardLimit };
    ::setrlimit(RLIMIT_AS, &limit);
#endif
}

void liftMemoryLimit()
{
#ifndef VELKORA_NO_MEMORY_LIMIT
    const rlimit limit { hardLimit, hardLimit };
    ::setrlimit(RLIMIT_AS, &limit);
#endif
}

bool enter(QString *error)
{
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        *error = systemError(errno);
        return false;
    }
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter) {
        *error = QStringLiteral("no system-call filter");
        return false;
    }
    seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1);
    bool entered = addRules(filter, error);
    if (entered) {
        const int result = seccomp_load(filter);
        entered = result == 0;
        if (!entered)
            *error = systemError(-result);
    }
    seccomp_release(filter);
    return entered;
}

void armWatchdog(int seconds)
{
    ::alarm(unsigned(qMax(0, seconds)));
}

void keepHeapBetweenPictures()
{
    // A fixed threshold also stops the allocator from raising it as pictures come and go. Larger
    // pictures are rare enough to be mapped on their own each time.
    constexpr int mappedFrom = 128 << 20;
    mallopt(M_MMAP_THRESHOLD, mappedFrom);
    mallopt(M_TRIM_THRESHOLD, 2 * mappedFrom);
}

void releaseIdleMemory()
{
    malloc_trim(0);
}

} // namespace DecoderSandbox
