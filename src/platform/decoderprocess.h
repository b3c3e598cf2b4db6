#pragma once

#include "platform/decoderconnection.h"
#include "platform/decoderprotocol.h"

#include <QString>

#include <memory>

class QByteArray;

// One decoder helper process, seen from the program. It is started with its end of a socket pair
// as descriptor 3 and /dev/null as its standard input and output, and decodes one picture per
// request; DecoderConnection speaks with it. A reply that breaks the protocol, a helper that dies
// and one that runs out of time all end as Failed; such a helper must not be asked again, and
// destroying it kills it. One thread at a time.
class DecoderProcess {
public:
    using Reply = DecoderConnection::Reply;

    // Null, with the reason in error, when the program cannot be started.
    static std::unique_ptr<DecoderProcess> start(const QString &program, QString *error);
    ~DecoderProcess();

    DecoderProcess(const DecoderProcess &) = delete;
    DecoderProcess &operator=(const DecoderProcess &) = delete;

    Reply decodeFile(
        const QString &path, const DecoderProtocol::Request &request, int timeoutMilliseconds)
    {
        return m_connection.decodeFile(path, request, timeoutMilliseconds);
    }
    Reply decodeData(
        const QByteArray &data, const DecoderProtocol::Request &request, int timeoutMilliseconds)
    {
        return m_connection.decodeData(data, request, timeoutMilliseconds);
    }

    qint64 processId() const { return m_pid; }

private:
    DecoderProcess(int pid, int socket);

    int m_pid;
    DecoderConnection m_connection;
};
