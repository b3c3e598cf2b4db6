// Fuzzing the program's side of the decoder helpers: a helper answers every picture with the
// bytes the fuzzer gives (its header, the kind and size of the region it attaches, the message),
// and the program must neither crash nor read outside what it was given. "-make_corpus=DIR"
// writes the seeds of fuzz/replies.

#include "fuzzcorpus.h"
#include "picture/decoderpool.h"
#include "platform/decoderprotocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

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
    static const bool configured = [] {
        // The helper is not what is fuzzed. Built with the sanitizers it cannot live in its
        // sandbox (their reports need calls the filter refuses): VELKORA_FUZZ_HELPER may name
        // the test helper of a normal build instead.
        DecoderPool::instance().setHelperPath(
            qEnvironmentVariable("VELKORA_FUZZ_HELPER", QStringLiteral(VELKORA_TEST_DECODER)));
        DecoderPool::instance().setTimeout(2000);
        return true;
    }();
    Q_UNUSED(configured)

    const QByteArray told = QByteArray("VELKORA-TEST:reply")
        + QByteArray(reinterpret_cast<const char *>(data), int(size));
    QImage image;
    DecoderPool::instance().decodeData(told, QByteArray(), false, QSize(), &image);
    // Every pixel of what was accepted must be readable.
    quint32 sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        for (int x = 0; x < image.width() * 4; ++x)
            sum += line[x];
    }
    return int(sum & 0);
}
