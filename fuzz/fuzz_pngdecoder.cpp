// libFuzzer target for the PNG decoder of board blocks: every input is decoded as a stream of its
// own; whatever it decodes must have the size its header gives. See CMakeLists.txt in this
// folder; fuzz/png-seeds holds one stream of each layout it decodes.

#include "persistence/pngdecoder.h"

#include <QImage>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QImage image;
    const PngDecoder::Result result = PngDecoder::decode(data, qint64(size), &image);
    if ((result == PngDecoder::Result::Decoded) == image.isNull())
        std::abort();
    if (!image.isNull()
        && (image.width() != int(data[16] << 24 | data[17] << 16 | data[18] << 8 | data[19])))
        std::abort();
    return 0;
}
