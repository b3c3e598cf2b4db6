// Fuzzing the program's side of the decoder helpers: a helper answers every picture with the
// bytes the fuzzer gives (its header, the kind and size of the region it attaches, the message),
// and the program must neither crash nor read outside what it was given.

#include "picture/decoderpool.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

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
