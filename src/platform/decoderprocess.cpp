#include "platform/decoderprocess.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

QString systemError(int error = errno)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

void closeDescriptor(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

// Loading the readers and entering the sandbox; generous for slow, loaded or sanitized machines.
constexpr int startTimeoutMilliseconds = 30000;

} // namespace

std::unique_ptr<DecoderProcess> DecoderProcess::start(const QString &program, QString *error)
{
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) {
        *error = systemError();
        return nullptr;
    }
    // dup2 onto itself would leave close-on-exec set: keep the helper's end off descriptor 3.
    if (sockets[1] == DecoderProtocol::helperSocket) {
        const int moved = ::fcntl(sockets[1], F_DUPFD_CLOEXEC, DecoderProtocol::helperSocket + 1);
        ::close(sockets[1]);
        sockets[1] = moved;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], DecoderProtocol::helperSocket);

    // The program may ignore or block signals a helper must feel (SIGPIPE when the program is
    // gone, SIGALRM of its own watchdog): start it with the defaults.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signalSet;
    sigemptyset(&signalSet);
    posix_spawnattr_setsigmask(&attributes, &signalSet);
    sigfillset(&signalSet);
    posix_spawnattr_setsigdefault(&attributes, &signalSet);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const QByteArray path = QFile::encodeName(program);
    char *arguments[] = { const_cast<char *>(path.constData()), nullptr };
    pid_t pid = -1;
    const int spawned = sockets[1] < 0
        ? errno
        : ::posix_spawn(&pid, path.constData(), &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    closeDescriptor(sockets[1]);
    if (spawned != 0) {
        ::close(sockets[0]);
        *error = systemError(spawned);
        return nullptr;
    }
    std::unique_ptr<DecoderProcess> process(new DecoderProcess(pid, sockets[0]));
    const QString notReady = process->m_connection.waitUntilReady(startTimeoutMilliseconds);
    if (!notReady.isEmpty()) {
        *error = notReady;
        return nullptr;
    }
    return process;
}

DecoderProcess::DecoderProcess(int pid, int socket)
    : m_pid(pid)
    , m_connection(socket)
{
}

DecoderProcess::~DecoderProcess()
{
    // An idle helper would end on the closed socket by itself, a busy or hung one would not: kill
    // it either way, and reap it so that no zombie stays behind. The connection closes its end
    // after.
    ::kill(m_pid, SIGKILL);
    while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) { }
}
