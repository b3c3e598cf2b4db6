// libFuzzer target for the thumbnailer: every input is drawn as a board, as the thumbnailer
// draws what a file manager hands it, without a folder, so no linked file is read. See
// CMakeLists.txt in this folder for building and running it; fuzz/seeds holds boards of every
// format version.

#include "export/boardthumbnail.h"
#include "picture/decoderpool.h"

#include <QBuffer>
#include <QCoreApplication>

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The decoder pool finds its helper from the application's folder or VELKORA_DECODER.
    static QCoreApplication application(*argc, *argv);
    DecoderPool::instance().setMaxHelpers(1);
    DecoderPool::instance().setTimeout(3000);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QString error;
    BoardThumbnail(&buffer, QString()).render(64, &error);
    return 0;
}
