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

DecoderRegion::DecoderRegion(size_t size)
    : m_size(size)
{
    m_descriptor = ::memfd_create("velkora-pixels", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (m_descriptor < 0 || size == 0 || ::fallocate(m_descriptor, 0, 0, off_t(size)) != 0)
        return;
    void *pixels
        = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, m_descriptor, 0);
    if (pixels != MAP_FAILED)
        m_data = static_cast<unsigned char *>(pixels);
}

DecoderRegion::~DecoderRegion()
{
    if (m_data)
        ::munmap(m_data, m_size);
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

int DecoderRegion::finish(bool seal)
{
    if (!m_data)
        return -1;
    // Write sealing needs every writable mapping gone.
    ::munmap(m_data, m_size);
    m_data = nullptr;
    if (seal
        && ::fcntl(
               m_descriptor, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL)
            != 0)
        return -1;
    return m_descriptor;
}

bool DecoderChannel::sendPicture(const QImage &image, DecoderRegion *region)
{
    const size_t size = size_t(image.sizeInBytes());
    std::unique_ptr<DecoderRegion> copy;
    if (!region || !region->data() || image.constBits() != region->data()
        || region->size() < size) {
        copy = std::make_unique<DecoderRegion>(size);
        if (copy->data())
            std::memcpy(copy->data(), image.constBits(), size);
        region = copy.get();
    }
    const int descriptor = region->finish(true);
    if (descriptor < 0)
        return sendError(QStringLiteral("Not enough memory for the picture (%1)")
                             .arg(QString::fromLocal8Bit(std::strerror(errno))));
    DecoderProtocol::Reply reply;
    reply.status = DecoderProtocol::Status::Decoded;
    reply.width = image.width();
    reply.height = image.height();
    reply.bytesPerLine = image.bytesPerLine();
    reply.format = image.format();
    reply.regionSize = quint64(size);
    return send(reply, QByteArray(), descriptor);
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
