// A decoder helper that misbehaves on purpose. A picture starting with "VELKORA-TEST:" and a word
// makes it crash, hang, eat memory, try what its sandbox forbids, or answer exactly the bytes that
// follow "reply"; anything else it decodes as the real helper does. The memory limit for the
// picture is in force when it misbehaves.

#include "picture/decoderservice.h"
#include "platform/decoderchannel.h"

#include <QCoreApplication>
#include <QIODevice>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// What the sandbox answered when asked for a call.
QString outcome(const char *call, bool succeeded)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(call),
        succeeded ? QStringLiteral("allowed") : QString::fromLocal8Bit(std::strerror(errno)));
}

// "reply" is followed by a reply header as it goes on the wire, the kind of region to attach
// (0 none, 1 sealed, 2 not sealed), the region's size, then the message.
bool replyAsTold(const QByteArray &told, DecoderChannel &channel)
{
    DecoderProtocol::Reply reply;
    quint32 regionKind = 0;
    quint32 regionSize = 0;
    constexpr int fixed = int(sizeof reply + 2 * sizeof(quint32));
    const QByteArray header = told.left(fixed).leftJustified(fixed, '\0');
    std::memcpy(&reply, header.constData(), sizeof reply);
    std::memcpy(&regionKind, header.constData() + sizeof reply, sizeof regionKind);
    std::memcpy(
        &regionSize, header.constData() + sizeof reply + sizeof regionKind, sizeof regionSize);
    int region = -1;
    if (regionKind != 0) {
        region = ::memfd_create("told", MFD_ALLOW_SEALING);
        // Filled through a mapping: the sandbox lets a helper write nowhere else.
        const size_t size = qMin<quint32>(regionSize, 64 << 20);
        if (::ftruncate(region, off_t(size)) != 0)
            return false;
        if (size > 0) {
            void *pixels = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, region, 0);
            std::memset(pixels, 0x7f, size);
            ::munmap(pixels, size);
        }
        if (regionKind == 1)
            ::fcntl(region, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE);
    }
    return channel.send(reply, told.mid(fixed), region);
}

bool misbehave(QIODevice *input, DecoderChannel &channel)
{
    const QByteArray marker("VELKORA-TEST:");
    // The reader has looked at the header already: leave the device where it left it.
    const qint64 position = input->pos();
    input->seek(0);
    const QByteArray content = input->readAll();
    if (!content.startsWith(marker)) {
        input->seek(position);
        return false;
    }
    const QByteArray rest = content.mid(marker.size());
    const int end = rest.indexOf('\n');
    const QByteArray word = (end < 0 ? rest : rest.left(end)).trimmed();
    if (word == "crash")
        std::abort();
    if (word == "hang") {
        for (;;)
            ::pause();
    }
    if (word == "alloc") {
        // Address space only: without a limit this takes 64 GiB of it and never fails.
        std::vector<void *> blocks;
        for (int i = 0; i < 1024; ++i) {
            void *block = std::malloc(64 << 20);
            if (!block)
                throw std::bad_alloc();
            blocks.push_back(block);
        }
        channel.sendError(QStringLiteral("alloc: allowed"));
    } else if (word == "socket") {
        channel.sendError(outcome("socket", ::socket(AF_INET, SOCK_STREAM, 0) >= 0));
    } else if (word == "open") {
        channel.sendError(outcome("open", ::open("/etc/hostname", O_RDONLY) >= 0));
    } else if (word == "fork") {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(0);
        channel.sendError(outcome("fork", child > 0));
    } else if (word.startsWith("reply")) {
        replyAsTold(content.mid(marker.size() + 5), channel);
    } else {
        input->seek(position);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    std::_Exit(DecoderService().run(misbehave));
}
