#pragma once

#include "platform/decoderprotocol.h"

#include <cstddef>

class QByteArray;
class QImage;
class QString;

// A shared memory file that pixels are decoded or copied into, mapped writable until it is
// finished. Fresh memory is taken in one step instead of one page fault at a time.
class DecoderRegion {
public:
    explicit DecoderRegion(size_t size);
    ~DecoderRegion();

    DecoderRegion(const DecoderRegion &) = delete;
    DecoderRegion &operator=(const DecoderRegion &) = delete;

    // Null when the region could not be made.
    unsigned char *data() const { return m_data; }
    size_t size() const { return m_size; }
    // Unmaps the region and, when asked to, seals it against every further change. The
    // descriptor to send, which stays the region's; -1 on failure.
    int finish(bool seal);

private:
    int m_descriptor = -1;
    unsigned char *m_data = nullptr;
    size_t m_size;
};

// The helper's end of its socket to the program: requests come in with the picture's descriptor,
// replies go out with the pixels in a sealed memory file.
class DecoderChannel {
public:
    // Tells the program the helper is ready for requests.
    bool sendReady();
    // Waits for the next request and the descriptor that came with it. False when the program
    // closed the socket or sent something that is not a request.
    bool receive(DecoderProtocol::Request *request, int *input);

    // Sends the pixels (RGB32 or ARGB32_Premultiplied) in a sealed region: the one given, when
    // they were decoded straight into it, or else a copy.
    bool sendPicture(const QImage &image, DecoderRegion *region = nullptr);
    bool sendError(const QString &message);

    // The reply as it stands, message size and all, with the region's descriptor unless -1.
    bool send(const DecoderProtocol::Reply &reply, const QByteArray &message, int region);

private:
    int m_socket = DecoderProtocol::helperSocket;
};
