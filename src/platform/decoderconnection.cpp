#include "platform/decoderconnection.h"

#include "platform/decodersocket.h"
#include "platform/picturememory.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool isPixelFormat(qint32 format)
{
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied;
}

} // namespace

DecoderConnection::DecoderConnection(int socket)
    : m_socket(socket)
{
}

DecoderConnection::~DecoderConnection()
{
    if (m_region)
        ::munmap(const_cast<unsigned char *>(m_region), m_regionSize);
    ::close(m_socket);
}

QString DecoderConnection::waitUntilReady(int timeoutMilliseconds)
{
    Datagram ready;
    receive(timeoutMilliseconds, &ready);
    if (!ready.failure.isEmpty())
        return ready.failure;
    if (ready.reply.magic != DecoderProtocol::readyMagic)
        return QStringLiteral("it did not say it was ready");
    return QString();
}

DecoderConnection::Reply DecoderConnection::decodeFile(
    const QString &path, const DecoderProtocol::Request &request, int timeoutMilliseconds)
{
    // Opened here, read-only, so that the helper needs no right to open anything. Non-blocking,
    // so that a pipe given for a file cannot hang the program.
    const int input
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (input < 0) {
        Reply reply;
        reply.outcome = Reply::Unreadable;
        reply.message = systemError();
        return reply;
    }
    struct stat status;
    if (::fstat(input, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(input);
        Reply reply;
        reply.outcome = Reply::Unreadable;
        reply.message = QStringLiteral("Not a regular file");
        return reply;
    }
    ::fcntl(input, F_SETFL, ::fcntl(input, F_GETFL) & ~O_NONBLOCK);
    Reply reply = exchange(input, request, timeoutMilliseconds);
    ::close(input);
    return reply;
}

DecoderConnection::Reply DecoderConnection::decodeData(
    const QByteArray &data, const DecoderProtocol::Request &request, int timeoutMilliseconds)
{
    // The helper reads data from a sealed memory file of its own, just as it reads a file.
    const int input = ::memfd_create("velkora-input", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (input < 0)
        return failed(systemError());
    qint64 written = 0;
    while (written < data.size()) {
        const ssize_t count
            = ::write(input, data.constData() + written, size_t(data.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            const QString why = systemError();
            ::close(input);
            return failed(why);
        }
        written += count;
    }
    ::fcntl(input, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    ::lseek(input, 0, SEEK_SET);
    Reply reply = exchange(input, request, timeoutMilliseconds);
    ::close(input);
    return reply;
}

DecoderConnection::Reply DecoderConnection::failed(const QString &why)
{
    Reply reply;
    reply.outcome = Reply::Failed;
    reply.message = why;
    return reply;
}

DecoderConnection::Datagram::~Datagram()
{
    closeDescriptor(region);
}

void DecoderConnection::receive(int timeoutMilliseconds, Datagram *datagram)
{
    Datagram &answer = *datagram;
    const QDeadlineTimer deadline(timeoutMilliseconds);
    for (;;) {
        pollfd waiting { m_socket, POLLIN, 0 };
        const int ready = ::poll(&waiting, 1, int(deadline.remainingTime()));
        if (ready > 0)
            break;
        if (ready == 0) {
            answer.failure
                = QStringLiteral("it took longer than %1 s").arg(timeoutMilliseconds / 1000.0);
            return;
        }
        if (errno != EINTR) {
            answer.failure = systemError();
            return;
        }
    }

    alignas(DecoderProtocol::Reply) char
        buffer[sizeof(DecoderProtocol::Reply) + DecoderProtocol::maxMessageSize + 1];
    const DecoderSocket::Received got = DecoderSocket::receive(m_socket, buffer, sizeof buffer);
    answer.region = got.descriptor;
    const ssize_t received = got.size;

    if (received == 0) {
        answer.failure = QStringLiteral("it ended without an answer");
    } else if (received < 0) {
        answer.failure = systemError();
    } else if (size_t(received) < sizeof answer.reply || got.truncated) {
        answer.failure = QStringLiteral("its answer made no sense");
    } else {
        std::memcpy(&answer.reply, buffer, sizeof answer.reply);
        if (answer.reply.messageSize > quint32(DecoderProtocol::maxMessageSize)
            || size_t(received) != sizeof answer.reply + answer.reply.messageSize)
            answer.failure = QStringLiteral("its answer made no sense");
        else
            answer.text
                = QString::fromUtf8(buffer + sizeof answer.reply, int(answer.reply.messageSize));
    }
}

DecoderConnection::Reply DecoderConnection::exchange(
    int input, const DecoderProtocol::Request &request, int timeoutMilliseconds)
{
    if (DecoderSocket::send(m_socket, &request, sizeof request, nullptr, 0, input)
        != ssize_t(sizeof request))
        return failed(QStringLiteral("it could not be reached (%1)").arg(systemError()));

    Datagram answer;
    receive(timeoutMilliseconds, &answer);
    if (!answer.failure.isEmpty())
        return failed(answer.failure);
    const DecoderProtocol::Reply &reply = answer.reply;
    const int region = answer.region;
    const QString &text = answer.text;
    if (reply.magic != DecoderProtocol::replyMagic)
        return failed(QStringLiteral("its answer made no sense"));

    if (reply.status == DecoderProtocol::Status::Unreadable
        || reply.status == DecoderProtocol::Status::Refused) {
        Reply result;
        result.outcome
            = reply.status == DecoderProtocol::Status::Refused ? Reply::Refused : Reply::Unreadable;
        result.message = text;
        return result;
    }
    if (reply.status != DecoderProtocol::Status::Decoded || region < 0)
        return failed(QStringLiteral("its answer made no sense"));

    // Everything the header claims is checked against the region itself. A region that could
    // still shrink would fault the program as it reads; one the helper writes to meanwhile only
    // spoils its own picture.
    const qint64 lineBytes = qint64(reply.width) * 4;
    const qint64 needed = qint64(reply.bytesPerLine) * reply.height;
    struct stat status;
    const int seals = ::fcntl(region, F_GET_SEALS);
    if (!isPixelFormat(reply.format) || reply.width <= 0 || reply.height <= 0
        || reply.bytesPerLine < lineBytes || reply.bytesPerLine % 4 != 0 || needed > INT_MAX
        || reply.regionSize < quint64(needed) || seals < 0 || !(seals & F_SEAL_SHRINK)
        || ::fstat(region, &status) != 0 || !S_ISREG(status.st_mode)
        || quint64(status.st_size) < quint64(needed))
        return failed(QStringLiteral("its answer made no sense"));

    if (!m_region || quint64(status.st_dev) != m_regionDevice
        || quint64(status.st_ino) != m_regionInode || m_regionSize < size_t(needed)) {
        if (m_region)
            ::munmap(const_cast<unsigned char *>(m_region), m_regionSize);
        m_region = nullptr;
        void *mapped = ::mmap(nullptr, size_t(status.st_size), PROT_READ, MAP_SHARED, region, 0);
        if (mapped == MAP_FAILED) {
            // Not the helper's fault: the program itself is short of address space.
            Reply result;
            result.outcome = Reply::Unreadable;
            result.message = QStringLiteral("Not enough memory (%1)").arg(systemError());
            return result;
        }
        m_region = static_cast<const unsigned char *>(mapped);
        m_regionSize = size_t(status.st_size);
        m_regionDevice = quint64(status.st_dev);
        m_regionInode = quint64(status.st_ino);
    }

    Reply result;
    result.image = PictureMemory::newImage(reply.width, reply.height, QImage::Format(reply.format));
    if (result.image.isNull()) {
        result.outcome = Reply::Unreadable;
        result.message = QStringLiteral("Not enough memory for a picture of %1 by %2")
                             .arg(reply.width)
                             .arg(reply.height);
        return result;
    }
    for (int y = 0; y < reply.height; ++y) {
        std::memcpy(
            result.image.scanLine(y), m_region + qint64(y) * reply.bytesPerLine, size_t(lineBytes));
    }
    result.outcome = Reply::Decoded;
    return result;
}
