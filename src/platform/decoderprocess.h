#pragma once

#include "platform/decoderprotocol.h"

#include <QImage>
#include <QString>

#include <memory>

class QByteArray;

// One decoder helper process, seen from the program. It is started with its end of a socket pair
// as descriptor 3 and /dev/null as its standard input and output, and decodes one picture per
// request. A reply that breaks the protocol, a helper that dies and one that runs out of time all
// end as Failed; such a helper must not be asked again, and destroying it kills it. The pixels of
// a decoded picture are copied out of the helper's region, which stays mapped read-only from one
// picture to the next. One thread at a time.
class DecoderProcess {
public:
    struct Reply {
        // Refused: the helper would not decode a picture this large.
        enum Outcome { Decoded, Unreadable, Refused, Failed };
        Outcome outcome = Failed;
        QString message;
        QImage image;
    };

    // Null, with the reason in error, when the program cannot be started.
    static std::unique_ptr<DecoderProcess> start(const QString &program, QString *error);
    ~DecoderProcess();

    DecoderProcess(const DecoderProcess &) = delete;
    DecoderProcess &operator=(const DecoderProcess &) = delete;

    Reply decodeFile(
        const QString &path, const DecoderProtocol::Request &request, int timeoutMilliseconds);
    Reply decodeData(
        const QByteArray &data, const DecoderProtocol::Request &request, int timeoutMilliseconds);

    qint64 processId() const { return m_pid; }

private:
    DecoderProcess(int pid, int socket);

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

    int m_pid;
    int m_socket;
    // The helper's region as last mapped, and which file it is.
    const unsigned char *m_region = nullptr;
    size_t m_regionSize = 0;
    quint64 m_regionDevice = 0;
    quint64 m_regionInode = 0;
};
