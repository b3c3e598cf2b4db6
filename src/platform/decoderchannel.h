#pragma once

#include "platform/decoderprotocol.h"

class QByteArray;
class QImage;
class QString;

// The helper's end of its socket to the program: requests come in with the picture's descriptor,
// replies go out with the pixels in a sealed memory file.
class DecoderChannel {
public:
    // Tells the program the helper is ready for requests.
    bool sendReady();
    // Waits for the next request and the descriptor that came with it. False when the program
    // closed the socket or sent something that is not a request.
    bool receive(DecoderProtocol::Request *request, int *input);

    // Copies the pixels (RGB32 or ARGB32_Premultiplied) into a new memory file, seals it against
    // every change and sends it.
    bool sendPicture(const QImage &image);
    bool sendError(const QString &message);

    // The reply as it stands, message size and all, with the region's descriptor unless -1.
    bool send(const DecoderProtocol::Reply &reply, const QByteArray &message, int region);
    // A memory file holding a copy of the bytes, sealed against every change or not; -1 on
    // failure.
    static int createRegion(const void *data, size_t size, bool seal);

private:
    int m_socket = DecoderProtocol::helperSocket;
};
