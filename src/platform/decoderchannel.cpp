#include "platform/decoderchannel.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
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

DecoderRegion::~DecoderRegion()
{
    if (m_data)
        ::munmap(m_data, m_size);
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

bool DecoderRegion::reserve(size_t size)
{
    if (m_data && size <= m_size)
        return true;
    if (m_descriptor < 0) {
        m_descriptor = ::memfd_create("velkora-pixels", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        if (m_descriptor < 0 || ::fcntl(m_descriptor, F_ADD_SEALS, F_SEAL_SHRINK) != 0)
            return false;
    }
    if (m_data) {
        ::munmap(m_data, m_size);
        m_data = nullptr;
    }
    // Taken and mapped in one step each: page by page, shared memory costs several times more.
    const size_t bytes = qMax(size, m_size);
    if (::fallocate(m_descriptor, 0, 0, off_t(bytes)) != 0)
        return false;
    void *pixels = ::mmap(
        nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, m_descriptor, 0);
    if (pixels == MAP_FAILED)
        return false;
    m_data = static_cast<unsigned char *>(pixels);
    m_size = bytes;
    return true;
}

bool DecoderChannel::sendPicture(const QImage &image, DecoderRegion *region)
{
    const size_t size = size_t(image.sizeInBytes());
    if (image.constBits() != region->data()) {
        if (!region->reserve(size))
            return sendError(QStringLiteral("Not enough memory for the picture (%1)")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno))));
        std::memcpy(region->data(), image.constBits(), size);
    }
    DecoderProtocol::Reply reply;
    reply.status = DecoderProtocol::Status::Decoded;
    reply.width = image.width();
    reply.height = image.height();
    reply.bytesPerLine = image.bytesPerLine();
    reply.format = image.format();
    reply.regionSize = quint64(size);
    return send(reply, QByteArray(), region->descriptor());
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
