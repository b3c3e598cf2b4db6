#include "platform/decodersocket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace DecoderSocket {

ssize_t send(int socket, const void *header, size_t headerSize, const void *body, size_t bodySize,
    int descriptor)
{
    iovec parts[2] { { const_cast<void *>(header), headerSize },
        { const_cast<void *>(body), bodySize } };
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message {};
    message.msg_iov = parts;
    message.msg_iovlen = bodySize > 0 ? 2 : 1;
    if (descriptor >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr *attached = CMSG_FIRSTHDR(&message);
        attached->cmsg_level = SOL_SOCKET;
        attached->cmsg_type = SCM_RIGHTS;
        attached->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(attached), &descriptor, sizeof(int));
    }
    ssize_t sent;
    do {
        sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent;
}

Received receive(int socket, void *buffer, size_t size)
{
    // Room for one descriptor more than may come, so that extra ones are seen and closed.
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    iovec part { buffer, size };
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    Received received;
    do {
        received.size = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    } while (received.size < 0 && errno == EINTR);

    for (cmsghdr *attached = CMSG_FIRSTHDR(&message); attached;
         attached = CMSG_NXTHDR(&message, attached)) {
        if (attached->cmsg_level != SOL_SOCKET || attached->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (attached->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(attached) + i * sizeof(int), sizeof fd);
            if (received.descriptor < 0) {
                received.descriptor = fd;
            } else {
                ::close(fd);
                received.truncated = true;
            }
        }
    }
    if (received.size > 0 && (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)))
        received.truncated = true;
    return received;
}

} // namespace DecoderSocket
