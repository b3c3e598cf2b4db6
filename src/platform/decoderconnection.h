#pragma once

#include "platform/decoderprotocol.h"

#include <QImage>
#include <QString>

class QByteArray;

// The program's end of the socket to one decoder helper: sends each request with the picture's
// descriptor and reads what comes back, trusting none of it. A reply that breaks the protocol or
// does not come in time ends as Failed; the connection must not be asked again after that. The
// pixels of a decoded picture are copied out of the helper's region, which stays mapped read-only
// from one picture to the next. Whoever holds the other end, a helper process or a test playing
// one, is no concern of it. One thread at a time; destroying it closes the socket.
class DecoderConnection {
public:
    struct Reply {
        // Refused: the helper would not decode a picture this large.
        enum Outcome { Decoded, Unreadable, Refused, Failed };
        Outcome outcome = Failed;
        QString message;
        QImage image;
    };

    // Takes over socket, a connected SOCK_SEQPACKET descriptor.
    explicit DecoderConnection(int socket);
    ~DecoderConnection();

    DecoderConnection(const DecoderConnection &) = delete;
    DecoderConnection &operator=(const DecoderConnection &) = delete;

    // Waits for the helper to say it is ready; empty when it did, else why not.
    QString waitUntilReady(int timeoutMilliseconds);

    Reply decodeFile(
        const QString &path, const DecoderProtocol::Request &request, int timeoutMilliseconds);
    Reply decodeData(
        const QByteArray &data, const DecoderProtocol::Request &request, int timeoutMilliseconds);

private:
    // One datagram from the helper. The region's descriptor, if one came, is closed with it.
    struct Datagram {
        QString failure;
        DecoderProtocol::Reply reply;
        QString text;
        int region = -1;
        Datagram() = default;
        Datagram(const Datagram &) = delete;
        Datagram &operator=(const Datagram &) = delete;
        ~Datagram();
    };
    void receive(int timeoutMilliseconds, Datagram *answer);
    Reply exchange(int input, const DecoderProtocol::Request &request, int timeoutMilliseconds);
    Reply failed(const QString &why);

    int m_socket;
    // The helper's region as last mapped, and which file it is.
    const unsigned char *m_region = nullptr;
    size_t m_regionSize = 0;
    quint64 m_regionDevice = 0;
    quint64 m_regionInode = 0;
};
