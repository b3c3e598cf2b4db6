#include "persistence/pngencoder.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QtEndian>

#include <libdeflate.h>

#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {

enum class ColourType : quint8 { Grey = 0, Rgb = 2, Rgba = 6 };

int channels(ColourType type)
{
    switch (type) {
    case ColourType::Grey:
        return 1;
    case ColourType::Rgb:
        return 3;
    case ColourType::Rgba:
        return 4;
    }
    return 4;
}

// Decides the smallest layout that keeps every pixel: RGB when all pixels are opaque, grey when
// they are also all grey. One pass over the pixels, much cheaper than compressing them.
ColourType colourTypeOf(const QImage &image)
{
    if (image.format() == QImage::Format_Grayscale8)
        return ColourType::Grey;
    const int width = image.width();
    const int height = image.height();
    if (image.hasAlphaChannel()) {
        for (int y = 0; y < height; ++y) {
            const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            quint32 alpha = 0xff;
            for (int x = 0; x < width; ++x)
                alpha &= qAlpha(row[x]);
            if (alpha != 0xff)
                return ColourType::Rgba;
        }
    }
    for (int y = 0; y < height; ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        quint32 difference = 0;
        for (int x = 0; x < width; ++x)
            difference |= (qRed(row[x]) ^ qGreen(row[x])) | (qGreen(row[x]) ^ qBlue(row[x]));
        if (difference != 0)
            return ColourType::Rgb;
    }
    return ColourType::Grey;
}

// One row of pixels in PNG byte order; row holds straight (not premultiplied) pixels, or grey
// bytes for Format_Grayscale8.
void packRow(const uchar *row, bool greyBytes, int width, ColourType type, quint8 *out)
{
    if (greyBytes) {
        std::memcpy(out, row, size_t(width));
        return;
    }
    const QRgb *pixels = reinterpret_cast<const QRgb *>(row);
    switch (type) {
    case ColourType::Grey:
        for (int x = 0; x < width; ++x)
            out[x] = quint8(qRed(pixels[x]));
        break;
    case ColourType::Rgb:
        for (int x = 0; x < width; ++x, out += 3) {
            out[0] = quint8(qRed(pixels[x]));
            out[1] = quint8(qGreen(pixels[x]));
            out[2] = quint8(qBlue(pixels[x]));
        }
        break;
    case ColourType::Rgba:
        for (int x = 0; x < width; ++x, out += 4) {
            out[0] = quint8(qRed(pixels[x]));
            out[1] = quint8(qGreen(pixels[x]));
            out[2] = quint8(qBlue(pixels[x]));
            out[3] = quint8(qAlpha(pixels[x]));
        }
        break;
    }
}

// out[i] = current[i] - previous[i] for every byte, eight bytes at a time: the subtraction is
// done with the top bits masked so no borrow crosses a byte, then the top bits are fixed up.
void upFilter(const quint8 *current, const quint8 *previous, quint8 *out, size_t bytes)
{
    constexpr quint64 high = 0x8080808080808080ULL;
    size_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
        quint64 a;
        quint64 b;
        std::memcpy(&a, current + i, 8);
        std::memcpy(&b, previous + i, 8);
        const quint64 difference = ((a | high) - (b & ~high)) ^ ((a ^ ~b) & high);
        std::memcpy(out + i, &difference, 8);
    }
    for (; i < bytes; ++i)
        out[i] = quint8(current[i] - previous[i]);
}

void appendChunk(QByteArray &png, const char type[4], const quint8 *data, quint32 length)
{
    char header[8];
    qToBigEndian(length, header);
    std::memcpy(header + 4, type, 4);
    png.append(header, 8);
    png.append(reinterpret_cast<const char *>(data), int(length));
    // libdeflate answers a null buffer with the initial value, whatever crc it is given.
    quint32 crc = libdeflate_crc32(0, type, 4);
    if (length > 0)
        crc = libdeflate_crc32(crc, data, length);
    char trailer[4];
    qToBigEndian(crc, trailer);
    png.append(trailer, 4);
}

bool encodeWithToolkit(const QImage &image, QByteArray *png, QString *error)
{
    QBuffer buffer(png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (writer.write(image))
        return true;
    png->clear();
    if (error)
        *error = writer.errorString();
    return false;
}

struct CompressorDeleter
{
    void operator()(libdeflate_compressor *compressor) const { libdeflate_free_compressor(compressor); }
};

} // namespace

int PngEncoder::deflateLevel(int compression)
{
    // Measured on camera photos against the toolkit's writer at its defaults, one thread:
    // level 2 encodes about ten times as fast with files about 6% larger, level 5 about six
    // times as fast with files within a few percent (smaller on some pictures, larger on
    // others), level 9 gives files about 2% smaller, a little slower than the toolkit's writer.
    switch (compression) {
    case Fastest:
        return 2;
    case Smallest:
        return 9;
    default:
        return 5;
    }
}

bool PngEncoder::encode(const QImage &source, int level, QByteArray *png, QString *error)
{
    png->clear();
    if (source.isNull()) {
        if (error)
            *error = QStringLiteral("Cannot encode an empty image.");
        return false;
    }

    QImage image = source;
    switch (source.format()) {
    case QImage::Format_Grayscale8:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        break;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
        // Palettes and 16-bit channels keep the toolkit's handling of them.
        return encodeWithToolkit(source, png, error);
    default:
        image = source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_ARGB32
                                                                : QImage::Format_RGB32);
        if (image.isNull()) {
            if (error)
                *error = QStringLiteral("Not enough memory to convert the image.");
            return false;
        }
        break;
    }

    const ColourType type = colourTypeOf(image);
    const size_t width = size_t(image.width());
    const size_t height = size_t(image.height());
    const size_t rowBytes = width * size_t(channels(type));
    const size_t filteredBytes = height * (rowBytes + 1);

    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(qBound(1, level, 12)));
    std::vector<quint8> filtered;
    std::vector<quint8> rows;
    try {
        filtered.resize(filteredBytes);
        rows.resize(2 * rowBytes);
    } catch (const std::bad_alloc &) {
        compressor.reset();
    }
    if (!compressor) {
        if (error)
            *error = QStringLiteral("Not enough memory to encode the image.");
        return false;
    }

    // UP filter on every row: each byte minus the one above it. On photos it compresses as well
    // as adaptive filtering does, at a fraction of the cost.
    quint8 *previous = rows.data();
    quint8 *current = rows.data() + rowBytes;
    std::memset(previous, 0, rowBytes);
    // Translucent premultiplied pixels are made straight by the toolkit's own conversion, as its
    // PNG writer does (its rounding differs from qUnpremultiply's), a band of rows at a time so
    // that no copy of the whole image is needed.
    const bool unpremultiply =
        type == ColourType::Rgba && image.format() == QImage::Format_ARGB32_Premultiplied;
    constexpr int bandRows = 64;
    QImage band;
    for (size_t y = 0; y < height; ++y) {
        const uchar *row = image.constScanLine(int(y));
        if (unpremultiply) {
            const int bandRow = int(y % bandRows);
            if (bandRow == 0) {
                const int rowsInBand = int(qMin<size_t>(bandRows, height - y));
                band = QImage(row, int(width), rowsInBand, image.bytesPerLine(),
                              QImage::Format_ARGB32_Premultiplied)
                           .convertToFormat(QImage::Format_ARGB32);
                if (band.isNull()) {
                    if (error)
                        *error = QStringLiteral("Not enough memory to encode the image.");
                    return false;
                }
            }
            row = band.constScanLine(bandRow);
        }
        packRow(row, image.format() == QImage::Format_Grayscale8, int(width), type, current);
        quint8 *out = filtered.data() + y * (rowBytes + 1);
        out[0] = 2;
        upFilter(current, previous, out + 1, rowBytes);
        std::swap(previous, current);
    }
    rows = std::vector<quint8>();

    const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), filteredBytes);
    constexpr size_t overhead = 8 + 25 + 12 + 12;
    if (bound > size_t(std::numeric_limits<int>::max()) - overhead) {
        if (error)
            *error = QStringLiteral("The image is too large to encode as one PNG stream.");
        return false;
    }

    QByteArray result;
    std::unique_ptr<quint8[]> compressed(new (std::nothrow) quint8[bound]);
    if (!compressed) {
        if (error)
            *error = QStringLiteral("Not enough memory to encode the image.");
        return false;
    }
    const size_t compressedBytes = libdeflate_zlib_compress(compressor.get(), filtered.data(),
                                                            filteredBytes, compressed.get(), bound);
    filtered = std::vector<quint8>();
    if (compressedBytes == 0) {
        if (error)
            *error = QStringLiteral("The image could not be compressed.");
        return false;
    }

    result.reserve(int(overhead + compressedBytes));
    result.append("\x89PNG\r\n\x1a\n", 8);
    quint8 header[13];
    qToBigEndian(quint32(width), header);
    qToBigEndian(quint32(height), header + 4);
    header[8] = 8; // bits a channel
    header[9] = quint8(type);
    header[10] = 0; // deflate
    header[11] = 0; // adaptive filtering, one filter type a row
    header[12] = 0; // not interlaced
    appendChunk(result, "IHDR", header, sizeof header);
    appendChunk(result, "IDAT", compressed.get(), quint32(compressedBytes));
    appendChunk(result, "IEND", nullptr, 0);
    *png = std::move(result);
    return true;
}
