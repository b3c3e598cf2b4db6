#pragma once

#include <cstddef>
#include <sys/types.h>

// One datagram over the socket between the program and a decoder helper, with at most one
// descriptor riding along. Both ends use it; neither trusts what the other attached.
namespace DecoderSocket {

// Sends the two parts as one datagram, with descriptor attached unless it is -1. The bytes sent,
// or -1.
ssize_t send(int socket, const void *header, size_t headerSize, const void *body, size_t bodySize,
    int descriptor);

struct Received {
    ssize_t size = -1; // 0 when the other end closed the socket
    bool truncated = false; // more bytes or descriptors came than there was room for
    int descriptor = -1; // the first descriptor that came; any further one is closed
};
Received receive(int socket, void *buffer, size_t size);

} // namespace DecoderSocket
