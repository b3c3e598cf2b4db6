#include "platform/decoderchannel.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

bool DecoderChannel::receive(DecoderProtocol::Request *request, int *input)
{
    *input = -1;
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    iovec part { request, sizeof *request };
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received;
    do {
        received = ::recvmsg(m_socket, &message, MSG_CMSG_CLOEXEC);
    } while (received < 0 && errno == EINTR);

    for (cmsghdr *header = CMSG_FIRSTHDR(&message); header;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
            if (*input < 0)
                *input = fd;
            else
                ::close(fd);
        }
    }
    if (received == ssize_t(sizeof *request) && request->magic == DecoderProtocol::requestMagic
        && *input >= 0) {
        request->formatHint[sizeof request->formatHint - 1] = '\0';
        return true;
    }
    if (*input >= 0)
        ::close(*input);
    *input = -1;
    return false;
}

int DecoderChannel::createRegion(const void *data, size_t size, bool seal)
{
    const int region = ::memfd_create("velkora-pixels", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (region < 0)
        return -1;
    if (::ftruncate(region, off_t(size)) != 0) {
        ::close(region);
        return -1;
    }
    void *pixels = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, region, 0);
    if (pixels == MAP_FAILED) {
        ::close(region);
        return -1;
    }
    std::memcpy(pixels, data, size);
    // Write sealing needs every writable mapping gone.
    ::munmap(pixels, size);
    if (seal
        && ::fcntl(region, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL)
            != 0) {
        ::close(region);
        return -1;
    }
    return region;
}

bool DecoderChannel::sendPicture(const QImage &image)
{
    const int region = createRegion(image.constBits(), size_t(image.sizeInBytes()), true);
    if (region < 0)
        return sendError(QStringLiteral("Not enough memory for the picture (%1)")
                             .arg(QString::fromLocal8Bit(std::strerror(errno))));
    DecoderProtocol::Reply reply;
    reply.status = DecoderProtocol::Status::Decoded;
    reply.width = image.width();
    reply.height = image.height();
    reply.bytesPerLine = image.bytesPerLine();
    reply.format = image.format();
    reply.regionSize = quint64(image.sizeInBytes());
    const bool sent = send(reply, QByteArray(), region);
    ::close(region);
    return sent;
}

bool DecoderChannel::sendReady()
{
    DecoderProtocol::Reply reply;
    reply.magic = DecoderProtocol::readyMagic;
    return send(reply, QByteArray(), -1);
}

bool DecoderChannel::sendError(const QString &message)
{
    DecoderProtocol::Reply reply;
    reply.status = DecoderProtocol::Status::Unreadable;
    const QByteArray text = message.toUtf8().left(DecoderProtocol::maxMessageSize);
    reply.messageSize = quint32(text.size());
    return send(reply, text, -1);
}

bool DecoderChannel::send(const DecoderProtocol::Reply &reply, const QByteArray &text, int region)
{
    DecoderProtocol::Reply header = reply;
    iovec parts[2] { { &header, sizeof header },
        { const_cast<char *>(text.constData()), size_t(text.size()) } };
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message {};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    if (region >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *controlHeader = CMSG_FIRSTHDR(&message);
        controlHeader->cmsg_level = SOL_SOCKET;
        controlHeader->cmsg_type = SCM_RIGHTS;
        controlHeader->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(controlHeader), &region, sizeof(int));
    }
    ssize_t sent;
    do {
        sent = ::sendmsg(m_socket, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent == ssize_t(sizeof header + size_t(text.size()));
}
