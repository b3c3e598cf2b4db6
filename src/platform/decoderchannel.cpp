#include "platform/decoderchannel.h"

#include "platform/decodersocket.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

bool DecoderChannel::waitForRequest(int milliseconds)
{
    pollfd waiting { m_socket, POLLIN, 0 };
    return ::poll(&waiting, 1, milliseconds) != 0;
}

bool DecoderChannel::receive(DecoderProtocol::Request *request, int *input)
{
    const DecoderSocket::Received received
        = DecoderSocket::receive(m_socket, request, sizeof *request);
    *input = received.descriptor;
    if (received.size == ssize_t(sizeof *request) && !received.truncated
        && request->magic == DecoderProtocol::requestMagic && *input >= 0) {
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

bool DecoderChannel::sendError(const QString &message, bool refused)
{
    DecoderProtocol::Reply reply;
    reply.status = refused ? DecoderProtocol::Status::Refused : DecoderProtocol::Status::Unreadable;
    const QByteArray text = message.toUtf8().left(DecoderProtocol::maxMessageSize);
    reply.messageSize = quint32(text.size());
    return send(reply, text, -1);
}

bool DecoderChannel::send(const DecoderProtocol::Reply &reply, const QByteArray &text, int region)
{
    return DecoderSocket::send(
               m_socket, &reply, sizeof reply, text.constData(), size_t(text.size()), region)
        == ssize_t(sizeof reply + size_t(text.size()));
}
