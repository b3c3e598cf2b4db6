// libFuzzer target for the PNG decoder of board blocks. An input whose first byte is odd is
// decoded as a stream of its own. Any other input is made into a valid stream first: the next
// bytes choose the size and layout, the rest are the filtered rows (filter bytes included),
// compressed and checksummed, so that mutations reach the unfiltering and the conversions
// rather than stopping at a checksum. Whatever decodes must match the toolkit's reader pixel for
// pixel. See CMakeLists.txt in this folder; fuzz/png-seeds holds one stream of each layout.

#include "loading/imageloader.h"
#include "picture/pngdecoder.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QtEndian>

#include <libdeflate.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void appendChunk(QByteArray &png, const char *type, const QByteArray &body)
{
    uchar length[4];
    qToBigEndian(quint32(body.size()), length);
    png.append(reinterpret_cast<const char *>(length), 4);
    const QByteArray typed = QByteArray(type, 4) + body;
    png += typed;
    uchar crc[4];
    qToBigEndian(quint32(libdeflate_crc32(0, typed.constData(), size_t(typed.size()))), crc);
    png.append(reinterpret_cast<const char *>(crc), 4);
}

QByteArray makeStream(const uint8_t *data, size_t size)
{
    if (size < 5)
        return {};
    static const int colourTypes[] = { 0, 2, 4, 6 };
    static const int channels[] = { 1, 3, 2, 4 };
    const int width = 1 + (data[1] | (data[2] & 1) << 8);
    const int height = 1 + data[3] % 64;
    const int layout = data[4] % 4;
    QByteArray rows(reinterpret_cast<const char *>(data + 5), int(size - 5));
    // Mostly exactly the bytes the rows need; sometimes as the input gives them.
    const int needed = height * (1 + width * channels[layout]);
    if ((data[2] & 2) == 0)
        rows = rows.leftJustified(needed, '\0', true);

    libdeflate_compressor *compressor = libdeflate_alloc_compressor(1);
    QByteArray deflated(int(libdeflate_zlib_compress_bound(compressor, size_t(rows.size()))), '\0');
    deflated.resize(int(libdeflate_zlib_compress(compressor, rows.constData(), size_t(rows.size()),
        deflated.data(), size_t(deflated.size()))));
    libdeflate_free_compressor(compressor);

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header(13, '\0');
    qToBigEndian(quint32(width), header.data());
    qToBigEndian(quint32(height), header.data() + 4);
    header[8] = 8;
    header[9] = char(colourTypes[layout]);
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", deflated);
    appendChunk(png, "IEND", QByteArray());
    return png;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray png = data[0] & 1
        ? QByteArray(reinterpret_cast<const char *>(data + 1), int(size - 1))
        : makeStream(data, size);
    QImage image;
    const PngDecoder::Result result
        = PngDecoder::decode(reinterpret_cast<const uchar *>(png.constData()), png.size(), &image);
    if ((result == PngDecoder::Result::Decoded) == image.isNull())
        std::abort();
    if (result != PngDecoder::Result::Decoded)
        return 0;

    QBuffer buffer;
    buffer.setData(png);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    const QImage expected = PictureFile::toDisplayFormat(reader.read());
    if (expected.format() != image.format() || expected.size() != image.size())
        std::abort();
    for (int y = 0; y < image.height(); ++y) {
        if (std::memcmp(
                image.constScanLine(y), expected.constScanLine(y), size_t(image.width()) * 4)
            != 0)
            std::abort();
    }
    return 0;
}
