#include "picture/pngdecoder.h"

#include "platform/picturememory.h"

#include <QImage>
#include <QtEndian>

#include <libdeflate.h>

#include <cstdlib>
#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VELKORA_PNG_SSE
#endif
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {

using Result = PngDecoder::Result;

constexpr uchar Signature[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };

// Rows are read with loads wider than their bytes: buffers end with this many spare bytes, so
// that a load at the end of the last row stays inside them.
constexpr size_t LoadSlack = 16;

enum class Filter : uchar { None = 0, Sub = 1, Up = 2, Average = 3, Paeth = 4 };

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor *decompressor) const
    {
        libdeflate_free_decompressor(decompressor);
    }
};

// One for each thread that decodes, kept: allocating one costs about as much as inflating a
// small picture.
libdeflate_decompressor *threadDecompressor()
{
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
        libdeflate_alloc_decompressor());
    return decompressor.get();
}

bool isChunk(const uchar *type, const char (&name)[5])
{
    return std::memcmp(type, name, 4) == 0;
}

// Chunks that change the pixels or what the toolkit's reader attaches to the picture; a stream
// that holds one decodes there.
bool handedOver(const uchar *type)
{
    static const char *const names[] = { "PLTE", "tRNS", "gAMA", "cHRM", "sRGB", "iCCP", "sBIT",
        "tEXt", "zTXt", "iTXt", "eXIf", "oFFs" };
    for (const char *name : names) {
        if (std::memcmp(type, name, 4) == 0)
            return true;
    }
    // An unknown critical chunk means a stream this decoder cannot read correctly.
    return (type[0] & 0x20) == 0 && !isChunk(type, "IHDR") && !isChunk(type, "IDAT")
        && !isChunk(type, "IEND");
}

Result failed(Result result, QString *error, const char *why)
{
    if (error)
        *error = QString::fromLatin1(why);
    return result;
}

// The five row filters, undone in place; prior is the row above, already undone (zeros for the
// first row). bpp is the distance in bytes to the same channel of the pixel on the left.

void undoSub(uchar *row, size_t rowBytes, size_t bpp)
{
    size_t i = bpp;
#ifdef VELKORA_PNG_SSE
    // Four pixels of four bytes, or four of three, a step: a prefix sum across the pixels of
    // the step in two shifted adds, plus the last pixel of the step before.
    if (bpp == 4) {
        __m128i last = _mm_setzero_si128();
        for (i = 0; i + 16 <= rowBytes; i += 16) {
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + i));
            x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
            x = _mm_add_epi8(x, _mm_slli_si128(x, 8));
            x = _mm_add_epi8(x, last);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(row + i), x);
            last = _mm_shuffle_epi32(x, 0xff);
        }
        i = qMax(i, bpp);
    } else if (bpp == 3) {
        // The store covers 16 bytes of which the step owns 12: the last four keep their bytes.
        const __m128i owned = _mm_setr_epi32(-1, -1, -1, 0);
        const __m128i pixel = _mm_setr_epi32(0xffffff, 0, 0, 0);
        __m128i last = _mm_setzero_si128();
        for (i = 0; i + 12 <= rowBytes; i += 12) {
            const __m128i original = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + i));
            __m128i x = _mm_add_epi8(original, _mm_slli_si128(original, 3));
            x = _mm_add_epi8(x, _mm_slli_si128(x, 6));
            x = _mm_add_epi8(x, last);
            x = _mm_or_si128(_mm_and_si128(owned, x), _mm_andnot_si128(owned, original));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(row + i), x);
            last = _mm_and_si128(_mm_srli_si128(x, 9), pixel);
            last = _mm_or_si128(last, _mm_slli_si128(last, 3));
            last = _mm_or_si128(last, _mm_slli_si128(last, 6));
        }
        i = qMax(i, bpp);
    }
#endif
    for (; i < rowBytes; ++i)
        row[i] = uchar(row[i] + row[i - bpp]);
}

void undoUp(uchar *row, const uchar *prior, size_t rowBytes)
{
    size_t i = 0;
#ifdef VELKORA_PNG_SSE
    for (; i + 16 <= rowBytes; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + i));
        const __m128i above = _mm_loadu_si128(reinterpret_cast<const __m128i *>(prior + i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row + i), _mm_add_epi8(x, above));
    }
#endif
    for (; i < rowBytes; ++i)
        row[i] = uchar(row[i] + prior[i]);
}

void undoAverage(uchar *row, const uchar *prior, size_t rowBytes, size_t bpp)
{
    for (size_t i = 0; i < rowBytes; ++i) {
        const unsigned left = i >= bpp ? row[i - bpp] : 0;
        row[i] = uchar(row[i] + ((left + prior[i]) >> 1));
    }
}

void undoPaeth(uchar *row, const uchar *prior, size_t rowBytes, size_t bpp)
{
    for (size_t i = 0; i < rowBytes; ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0;
        const int b = prior[i];
        const int c = i >= bpp ? prior[i - bpp] : 0;
        const int p = a + b - c;
        const int pa = std::abs(p - a);
        const int pb = std::abs(p - b);
        const int pc = std::abs(p - c);
        const int predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        row[i] = uchar(row[i] + predictor);
    }
}

#ifdef VELKORA_PNG_SSE
bool hasSsse3()
{
    static const bool supported = __builtin_cpu_supports("ssse3");
    return supported;
}

// R, G, B bytes into B, G, R, 255 words, four pixels a step; returns how many it did. Each
// load reads 16 bytes of which the step uses 12.
__attribute__((target("ssse3"))) int expandRgbSsse3(const uchar *in, QRgb *out, int width)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i opaque = _mm_set1_epi32(int(0xff000000));
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        const __m128i rgb = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x),
            _mm_or_si128(_mm_shuffle_epi8(rgb, order), opaque));
    }
    return x;
}

// R, G, B, A bytes into premultiplied B, G, R, A words, four pixels a step; steps with a pixel
// that is not opaque are left to the caller. Returns how many it did from the start.
__attribute__((target("ssse3"))) int expandOpaqueRgbaSsse3(const uchar *in, QRgb *out, int width)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    const __m128i alpha = _mm_set1_epi32(int(0xff000000));
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        const __m128i pixels = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 4 * x)), order);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(pixels, alpha), alpha)) != 0xffff)
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), pixels);
    }
    return x;
}
#endif

// One unfiltered row of PNG bytes into the image's row, premultiplied or as stored.
void convertRow(const uchar *in, QRgb *out, int width, int channels, bool premultiply)
{
    int x = 0;
    switch (channels) {
    case 1:
        for (; x < width; ++x)
            out[x] = 0xff000000U | (quint32(in[x]) * 0x010101U);
        break;
    case 2:
        for (; x < width; ++x) {
            const int grey = in[2 * x];
            const QRgb pixel = qRgba(grey, grey, grey, in[2 * x + 1]);
            out[x] = premultiply ? qPremultiply(pixel) : pixel;
        }
        break;
    case 3:
#ifdef VELKORA_PNG_SSE
        if (hasSsse3())
            x = expandRgbSsse3(in, out, width);
#endif
        for (; x < width; ++x)
            out[x] = qRgb(in[3 * x], in[3 * x + 1], in[3 * x + 2]);
        break;
    case 4:
        while (x < width) {
#ifdef VELKORA_PNG_SSE
            if (hasSsse3())
                x += expandOpaqueRgbaSsse3(in + 4 * x, out + x, width - x);
#endif
            // At least one step of pixels, so that a translucent one never stops the loop.
            const int end = qMin(width, x + 4);
            for (; x < end; ++x) {
                const uchar *bytes = in + 4 * x;
                const QRgb pixel = qRgba(bytes[0], bytes[1], bytes[2], bytes[3]);
                out[x] = premultiply ? qPremultiply(pixel) : pixel;
            }
        }
        break;
    }
}

struct Header {
    quint32 width = 0;
    quint32 height = 0;
    int channels = 0;
};

// Reads the 13 bytes of an IHDR chunk.
Result readHeader(const uchar *body, Header *header, QString *error)
{
    header->width = qFromBigEndian<quint32>(body);
    header->height = qFromBigEndian<quint32>(body + 4);
    const int depth = body[8];
    const int colourType = body[9];
    if (header->width == 0 || header->height == 0 || header->width > 0x7fffffffU
        || header->height > 0x7fffffffU)
        return failed(Result::Damaged, error, "The PNG header gives an invalid size.");
    if (body[10] != 0 || body[11] != 0 || body[12] > 1)
        return failed(Result::Damaged, error, "The PNG header names an unknown method.");
    switch (colourType) {
    case 0:
        header->channels = 1;
        break;
    case 4:
        header->channels = 2;
        break;
    case 2:
        header->channels = 3;
        break;
    case 6:
        header->channels = 4;
        break;
    default:
        return failed(Result::Unsupported, error, "Palette images decode elsewhere.");
    }
    if (depth != 8 || body[12] != 0)
        return failed(Result::Unsupported, error, "Only 8-bit progressive images decode here.");
    return Result::Decoded;
}

} // namespace

qint64 PngDecoder::streamLength(const uchar *data, qint64 available)
{
    if (available < qint64(sizeof Signature) || std::memcmp(data, Signature, sizeof Signature) != 0)
        return -1;
    // Chunk lengths come from disk: each is checked against what is left before it is skipped.
    qint64 at = sizeof Signature;
    while (at + 12 <= available) {
        const qint64 chunk = qFromBigEndian<quint32>(data + at);
        const bool last = std::memcmp(data + at + 4, "IEND", 4) == 0;
        if (chunk > available - at - 12)
            return -1;
        at += 12 + chunk;
        if (last)
            return at;
    }
    return -1;
}

bool PngDecoder::isPlausible(const QSize &size, qint64 length)
{
    // At one bit a pixel, about 8300 pixels a byte of stream. Both sides in 64 bits: dimensions
    // are at most an int each, and a length so large that the bound overflows allows any size.
    qint64 bound = 0;
    if (!size.isValid() || __builtin_mul_overflow(length, qint64(8300), &bound)
        || __builtin_add_overflow(bound, qint64(4096), &bound))
        return true;
    return qint64(size.width()) * size.height() <= bound;
}

namespace {

Result decodeStream(
    const uchar *data, qint64 length, bool premultiply, QImage *image, QString *error)
{
    *image = QImage();
    if (length < qint64(sizeof Signature) || std::memcmp(data, Signature, sizeof Signature) != 0)
        return failed(Result::Damaged, error, "The data is not a PNG stream.");

    Header header;
    int dotsPerMeterX = 0;
    int dotsPerMeterY = 0;
    struct Span {
        const uchar *data;
        size_t length;
    };
    std::vector<Span> imageData;
    size_t imageDataLength = 0;
    bool ended = false;
    // Every length and offset comes from the stream: each chunk is checked against what is left
    // of it before anything in it is read.
    for (qint64 at = sizeof Signature; !ended;) {
        if (length - at < 12)
            return failed(Result::Damaged, error, "The PNG stream ends before its end chunk.");
        const quint32 chunkLength = qFromBigEndian<quint32>(data + at);
        if (chunkLength > 0x7fffffffU || chunkLength > quint64(length - at - 12))
            return failed(Result::Damaged, error, "A PNG chunk runs past the end of the stream.");
        const uchar *type = data + at + 4;
        const uchar *body = type + 4;
        const bool first = at == qint64(sizeof Signature);
        at += 12 + qint64(chunkLength);
        if (libdeflate_crc32(0, type, chunkLength + 4)
            != qFromBigEndian<quint32>(body + chunkLength)) {
            // The toolkit's reader skips an ancillary chunk whose checksum fails.
            return (type[0] & 0x20) != 0
                ? failed(Result::Unsupported, error, "An ancillary PNG chunk is damaged.")
                : failed(Result::Damaged, error, "A PNG chunk's checksum does not match.");
        }
        if (first != isChunk(type, "IHDR"))
            return failed(Result::Damaged, error, "The PNG stream does not start with its header.");
        if (first) {
            if (chunkLength != 13)
                return failed(Result::Damaged, error, "The PNG header has the wrong length.");
            const Result read = readHeader(body, &header, error);
            if (read != Result::Decoded)
                return read;
        } else if (isChunk(type, "IDAT")) {
            imageData.push_back({ body, chunkLength });
            imageDataLength += chunkLength;
        } else if (isChunk(type, "IEND")) {
            ended = true;
        } else if (isChunk(type, "pHYs") && chunkLength == 9) {
            if (body[8] == 1) {
                dotsPerMeterX = int(qMin<quint32>(qFromBigEndian<quint32>(body), 0x7fffffffU));
                dotsPerMeterY = int(qMin<quint32>(qFromBigEndian<quint32>(body + 4), 0x7fffffffU));
            }
        } else if (handedOver(type)) {
            return failed(
                Result::Unsupported, error, "The PNG stream holds a chunk decoded elsewhere.");
        }
    }
    if (imageData.empty())
        return failed(Result::Damaged, error, "The PNG stream holds no image data.");
    if (!PngDecoder::isPlausible(QSize(int(header.width), int(header.height)), length))
        return failed(
            Result::Damaged, error, "The PNG header claims more pixels than the stream can hold.");

    const size_t bpp = size_t(header.channels);
    const size_t rowBytes = size_t(header.width) * bpp;
    size_t filteredBytes = 0;
    if (__builtin_mul_overflow(size_t(header.height), rowBytes + 1, &filteredBytes)
        || filteredBytes > size_t(std::numeric_limits<qsizetype>::max()) - LoadSlack)
        return failed(Result::Damaged, error, "The PNG header gives an invalid size.");

    // Data split over several chunks is joined: libdeflate inflates one buffer in one call.
    const uchar *deflated = imageData.front().data;
    PictureMemory::Buffer joined;
    if (imageData.size() > 1) {
        joined = PictureMemory::newBuffer(imageDataLength);
        if (!joined)
            return failed(Result::Damaged, error, "Not enough memory to decode the picture.");
        size_t offset = 0;
        for (const Span &span : imageData) {
            std::memcpy(joined.get() + offset, span.data, span.length);
            offset += span.length;
        }
        deflated = joined.get();
    }

    // Every byte the rows use is written by the inflation before it is read. The rows come back
    // to the picture memory's spares when the decode ends, lazily given back, where the next
    // decode of about their size takes them again. Kept by each decoding thread instead, they
    // held the largest picture's rows that thread ever inflated, up to 64 MiB each, for as long
    // as the thread lived.
    const PictureMemory::Buffer ownRows = PictureMemory::newBuffer(filteredBytes + LoadSlack);
    uchar *const rows = ownRows.get();
    std::unique_ptr<uchar[]> zeros(new (std::nothrow) uchar[rowBytes + LoadSlack]());
    libdeflate_decompressor *decompressor = threadDecompressor();
    if (!rows || !zeros || !decompressor)
        return failed(Result::Damaged, error, "Not enough memory to decode the picture.");
    std::memset(rows + filteredBytes, 0, LoadSlack);
    size_t inflated = 0;
    const libdeflate_result inflation = libdeflate_zlib_decompress(
        decompressor, deflated, imageDataLength, rows, filteredBytes, &inflated);
    joined.reset();
    if (inflation == LIBDEFLATE_INSUFFICIENT_SPACE)
        return failed(
            Result::Damaged, error, "The PNG stream holds more image data than its rows.");
    if (inflation != LIBDEFLATE_SUCCESS)
        return failed(Result::Damaged, error, "The PNG image data is damaged.");
    if (inflated != filteredBytes)
        return failed(
            Result::Damaged, error, "The PNG stream holds less image data than its rows.");

    const int width = int(header.width);
    const int height = int(header.height);
    const QImage::Format alphaFormat
        = premultiply ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32;
    QImage decoded = PictureMemory::newImage(
        width, height, header.channels % 2 == 0 ? alphaFormat : QImage::Format_RGB32);
    if (decoded.isNull())
        return failed(Result::Damaged, error, "Not enough memory to decode the picture.");
    const uchar *prior = zeros.get();
    for (int y = 0; y < height; ++y) {
        uchar *row = rows + size_t(y) * (rowBytes + 1);
        const uchar filter = row[0];
        ++row;
        switch (Filter(filter)) {
        case Filter::None:
            break;
        case Filter::Sub:
            undoSub(row, rowBytes, bpp);
            break;
        case Filter::Up:
            undoUp(row, prior, rowBytes);
            break;
        case Filter::Average:
            undoAverage(row, prior, rowBytes, bpp);
            break;
        case Filter::Paeth:
            undoPaeth(row, prior, rowBytes, bpp);
            break;
        default:
            return failed(Result::Damaged, error, "A PNG row names an unknown filter.");
        }
        convertRow(row, reinterpret_cast<QRgb *>(decoded.scanLine(y)), width, header.channels,
            premultiply);
        prior = row;
    }
    if (dotsPerMeterX > 0 && dotsPerMeterY > 0) {
        decoded.setDotsPerMeterX(dotsPerMeterX);
        decoded.setDotsPerMeterY(dotsPerMeterY);
    }
    *image = std::move(decoded);
    return Result::Decoded;
}

} // namespace

PngDecoder::Result PngDecoder::decode(
    const uchar *data, qint64 length, QImage *image, QString *error)
{
    return decodeStream(data, length, true, image, error);
}

PngDecoder::Result PngDecoder::decodeAsStored(
    const uchar *data, qint64 length, QImage *image, QString *error)
{
    return decodeStream(data, length, false, image, error);
}
