#pragma once

#include "platform/decoderprotocol.h"

#include <cstddef>

class QByteArray;
class QImage;
class QString;

// The shared memory file a helper hands its pixels over in. It is kept from picture to picture,
// so that its memory is taken once and not page by page for every picture; it may grow but never
// shrink (it is sealed so), so the program's mapping of it stays readable whatever the helper
// does.
class DecoderRegion {
public:
    DecoderRegion() = default;
    ~DecoderRegion();

    DecoderRegion(const DecoderRegion &) = delete;
    DecoderRegion &operator=(const DecoderRegion &) = delete;

    // Makes room for size bytes, mapped writable; false when there is no memory for them.
    bool reserve(size_t size);
    unsigned char *data() const { return m_data; }
    size_t size() const { return m_size; }
    int descriptor() const { return m_descriptor; }

private:
    int m_descriptor = -1;
    unsigned char *m_data = nullptr;
    size_t m_size = 0;
};

// The helper's end of its socket to the program: requests come in with the picture's descriptor,
// replies go out with the pixels in a shared memory file.
class DecoderChannel {
public:
    // Tells the program the helper is ready for requests.
    bool sendReady();
    // Whether a request arrives within milliseconds.
    bool waitForRequest(int milliseconds);
    // Waits for the next request and the descriptor that came with it. False when the program
    // closed the socket or sent something that is not a request.
    bool receive(DecoderProtocol::Request *request, int *input);

    // Sends the pixels (RGB32 or ARGB32_Premultiplied) in the region, copying them there unless
    // they were decoded straight into it.
    bool sendPicture(const QImage &image, DecoderRegion *region);
    // refused: the picture was not decoded at all, as too large (Status::Refused).
    bool sendError(const QString &message, bool refused = false);

    // The reply as it stands, message size and all, with the region's descriptor unless -1.
    bool send(const DecoderProtocol::Reply &reply, const QByteArray &message, int region);

private:
    int m_socket = DecoderProtocol::helperSocket;
};
