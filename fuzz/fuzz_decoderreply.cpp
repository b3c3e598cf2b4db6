// Fuzzing the program's reading of a decoder helper's reply: the input is what a helper answers a
// picture with (its header, the kind and size of the region it attaches, the message), and the
// program must neither crash nor read outside what it was given. The harness plays the helper at
// the far end of a socket pair in this process: the reply is queued before the request goes out,
// so the program's connection finds it at once and nothing waits. As the decoder pool does with
// its helpers, a connection whose reply broke the protocol is dropped and one that answered is
// asked again, with the region it mapped last. "-make_corpus=DIR" writes the seeds of
// fuzz/replies.
//
// With VELKORA_FUZZ_HELPER naming a normal build's tests/velkora-decoder-test (a sanitized one
// cannot live in its sandbox), every input goes through the decoder pool to that helper instead,
// which answers as told: end to end, helper start and sandbox included, but each reply that
// breaks the protocol costs a new helper, some 17 inputs a second.

#include "fuzzcorpus.h"
#include "picture/decoderpool.h"
#include "platform/decoderconnection.h"
#include "platform/decoderprotocol.h"
#include "platform/decodersocket.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// What the test helper is told: a reply header as it goes on the wire, the kind of region to
// attach (0 none, 1 sealed, 2 not sealed), the region's size, then the message.
QByteArray told(const DecoderProtocol::Reply &reply, quint32 regionKind, quint32 regionSize,
    const QByteArray &message = QByteArray())
{
    QByteArray bytes(reinterpret_cast<const char *>(&reply), int(sizeof reply));
    bytes.append(reinterpret_cast<const char *>(&regionKind), int(sizeof regionKind));
    bytes.append(reinterpret_cast<const char *>(&regionSize), int(sizeof regionSize));
    return bytes + message;
}

void makeCorpus(const QString &directory)
{
    const auto save = [&directory](const QString &name, const QByteArray &bytes) {
        writeSeed(directory, name, bytes);
    };
    DecoderProtocol::Reply decoded;
    decoded.status = DecoderProtocol::Status::Decoded;
    decoded.width = 4;
    decoded.height = 3;
    decoded.bytesPerLine = 16;
    decoded.format = QImage::Format_RGB32;
    decoded.regionSize = 48;
    save(QStringLiteral("decoded-sealed"), told(decoded, 1, 48));
    save(QStringLiteral("decoded-unsealed"), told(decoded, 2, 48));
    DecoderProtocol::Reply padded = decoded;
    padded.format = QImage::Format_ARGB32_Premultiplied;
    padded.bytesPerLine = 20;
    padded.regionSize = 64;
    save(QStringLiteral("padded-rows"), told(padded, 1, 64));
    DecoderProtocol::Reply unreadable;
    unreadable.status = DecoderProtocol::Status::Unreadable;
    const QByteArray message("Unsupported image format");
    unreadable.messageSize = quint32(message.size());
    save(QStringLiteral("unreadable"), told(unreadable, 0, 0, message));
}

// The reply as the test helper builds it from what it is told (tests/picture/testdecoder.cpp),
// sent on helperEnd: a header cut short is padded with zeros, a region of any kind but 0 is a
// memory file of the size told (at most 64 MiB) and sealed against changes when the kind is 1.
// False when the socket would not take it, as a message beyond its buffer.
bool replyAsTold(int helperEnd, const QByteArray &bytes)
{
    DecoderProtocol::Reply reply;
    quint32 regionKind = 0;
    quint32 regionSize = 0;
    constexpr int fixed = int(sizeof reply + 2 * sizeof(quint32));
    const QByteArray header = bytes.left(fixed).leftJustified(fixed, '\0');
    std::memcpy(&reply, header.constData(), sizeof reply);
    std::memcpy(&regionKind, header.constData() + sizeof reply, sizeof regionKind);
    std::memcpy(
        &regionSize, header.constData() + sizeof reply + sizeof regionKind, sizeof regionSize);
    const QByteArray message = bytes.mid(fixed);
    int region = -1;
    if (regionKind != 0) {
        // Left as zeros: what the pixels hold is no concern of the checks.
        region = ::memfd_create("told", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        if (region < 0 || ::ftruncate(region, off_t(qMin<quint32>(regionSize, 64 << 20))) != 0)
            std::abort();
        if (regionKind == 1)
            ::fcntl(region, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE);
    }
    const ssize_t sent = DecoderSocket::send(
        helperEnd, &reply, sizeof reply, message.constData(), size_t(message.size()), region);
    if (region >= 0)
        ::close(region);
    return sent == ssize_t(sizeof reply) + message.size();
}

// The program's connection and the end the harness answers on, kept while replies are sound.
struct Pair {
    std::unique_ptr<DecoderConnection> connection;
    int helperEnd = -1;

    void open()
    {
        int sockets[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0)
            std::abort();
        connection = std::make_unique<DecoderConnection>(sockets[0]);
        // Never blocking: a request the program did not send is not waited for, and a reply the
        // socket has no room for is passed over.
        helperEnd = sockets[1];
        ::fcntl(helperEnd, F_SETFL, ::fcntl(helperEnd, F_GETFL) | O_NONBLOCK);
    }
    void close()
    {
        connection.reset();
        ::close(helperEnd);
        helperEnd = -1;
    }
    // Takes the request the program sent, closing the picture's descriptor that came with it.
    void takeRequest()
    {
        char request[sizeof(DecoderProtocol::Request) + 1];
        const DecoderSocket::Received got
            = DecoderSocket::receive(helperEnd, request, sizeof request);
        if (got.descriptor >= 0)
            ::close(got.descriptor);
    }
};

QImage decodeInProcess(const QByteArray &reply)
{
    static Pair pair;
    if (!pair.connection)
        pair.open();
    if (!replyAsTold(pair.helperEnd, reply))
        return QImage();
    DecoderConnection::Reply got
        = pair.connection->decodeData(QByteArray("picture"), DecoderProtocol::Request(), 2000);
    pair.takeRequest();
    if (got.outcome == DecoderConnection::Reply::Failed)
        pair.close();
    return got.image;
}

QImage decodeThroughHelper(const QString &helper, const QByteArray &reply)
{
    static const bool configured = [&helper] {
        DecoderPool::instance().setHelperPath(helper);
        DecoderPool::instance().setTimeout(2000);
        return true;
    }();
    Q_UNUSED(configured)
    QImage image;
    DecoderPool::instance().decodeData(
        QByteArray("VELKORA-TEST:reply") + reply, QByteArray(), false, QSize(), &image);
    return image;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    makeCorpusWhenAsked(*argc, *argv, makeCorpus);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_decoderreply";
    static char *argv[] = { name, nullptr };
    static QCoreApplication application(argc, argv);
    static const QString helper = qEnvironmentVariable("VELKORA_FUZZ_HELPER");

    const QByteArray reply(reinterpret_cast<const char *>(data), int(size));
    const QImage image
        = helper.isEmpty() ? decodeInProcess(reply) : decodeThroughHelper(helper, reply);
    // Every pixel of what was accepted must be readable.
    quint32 sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        for (int x = 0; x < image.width() * 4; ++x)
            sum += line[x];
    }
    return int(sum & 0);
}
