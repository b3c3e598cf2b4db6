#include "picture/pictureblock.h"

#include "picture/decoderpool.h"
#include "picture/jpegdecoder.h"
#include "picture/picturefile.h"
#include "picture/pngdecoder.h"

#include <QBuffer>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>

namespace PictureBlock {

namespace {

    constexpr uchar PngSignature[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };

    bool isFrameHeader(uchar marker)
    {
        // SOF0 to SOF15, except DHT (C4), JPG (C8) and DAC (CC), which share the range.
        return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8
            && marker != 0xcc;
    }

    // Walks the markers of a JPEG stream to its end of image, skipping entropy-coded data, where
    // 0xff is followed by 0 (a stuffed byte) or a restart marker. Returns the length, or -1.
    // With Walk::ToSize it stops at the first frame header, which comes before any entropy-coded
    // data, and returns 0 once size is set: a picture's size costs no pass over its bytes.
    enum class Walk { ToEnd, ToSize };
    qint64 walkJpeg(const uchar *data, qint64 available, QSize *size, Walk walk = Walk::ToEnd)
    {
        if (available < 4 || data[0] != 0xff || data[1] != 0xd8 || data[2] != 0xff)
            return -1;
        qint64 at = 2;
        while (at < available) {
            if (data[at] != 0xff)
                return -1;
            // Any number of fill bytes may come before a marker.
            while (at < available && data[at] == 0xff)
                ++at;
            if (at >= available)
                return -1;
            const uchar marker = data[at++];
            if (marker == 0xd9)
                return at;
            if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7))
                continue;
            if (marker == 0x00 || marker == 0xd8 || available - at < 2)
                return -1;
            const qint64 segment = qFromBigEndian<quint16>(data + at);
            if (segment < 2 || segment > available - at)
                return -1;
            if (isFrameHeader(marker) && segment >= 7 && size && !size->isValid()) {
                *size = QSize(
                    qFromBigEndian<quint16>(data + at + 5), qFromBigEndian<quint16>(data + at + 3));
                if (walk == Walk::ToSize)
                    return 0;
            }
            at += segment;
            if (marker != 0xda)
                continue;
            // Entropy-coded data up to the next marker that is neither a stuffed byte nor a
            // restart.
            for (;;) {
                const void *found = std::memchr(data + at, 0xff, size_t(available - at));
                if (!found)
                    return -1;
                at = static_cast<const uchar *>(found) - data;
                if (available - at < 2)
                    return -1;
                const uchar next = data[at + 1];
                if (next == 0x00 || (next >= 0xd0 && next <= 0xd7)) {
                    at += 2;
                    continue;
                }
                if (next == 0xff) {
                    ++at;
                    continue;
                }
                break;
            }
        }
        return -1;
    }

    // Walks the blocks of a GIF stream to its trailer: the header and screen descriptor with
    // their colour table, then extensions and images, each a run of sub-blocks ended by an
    // empty one. Returns the length, or -1.
    qint64 walkGif(const uchar *data, qint64 available)
    {
        constexpr qint64 ScreenEnd = 13;
        if (available < ScreenEnd + 1)
            return -1;
        const auto colourTable = [](uchar packed) {
            return packed & 0x80 ? qint64(3) << ((packed & 0x07) + 1) : qint64(0);
        };
        qint64 at = ScreenEnd + colourTable(data[10]);
        const auto skipSubBlocks = [data, available](qint64 from) -> qint64 {
            while (from < available) {
                const qint64 length = data[from];
                ++from;
                if (length == 0)
                    return from;
                from += length;
            }
            return -1;
        };
        while (at >= 0 && at < available) {
            switch (data[at]) {
            case 0x3b:
                return at + 1;
            case 0x21:
                // Introducer, label, sub-blocks.
                at = at + 2 <= available ? skipSubBlocks(at + 2) : -1;
                break;
            case 0x2c: {
                // Descriptor of nine bytes, its colour table, the code size, sub-blocks.
                if (available - at < 11)
                    return -1;
                at += 10 + colourTable(data[at + 9]);
                at = at + 1 <= available ? skipSubBlocks(at + 1) : -1;
                break;
            }
            default:
                return -1;
            }
        }
        return -1;
    }

} // namespace

Kind kindOf(const uchar *data, qint64 length)
{
    if (length >= 8 && std::memcmp(data, PngSignature, 8) == 0)
        return Kind::Png;
    if (length >= 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff)
        return Kind::Jpeg;
    if (length >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0)
        return Kind::WebP;
    if (length >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0))
        return Kind::Gif;
    return Kind::Unknown;
}

qint64 streamLength(const uchar *data, qint64 available)
{
    switch (kindOf(data, available)) {
    case Kind::Png:
        return PngDecoder::streamLength(data, available);
    case Kind::Jpeg:
        return walkJpeg(data, available, nullptr);
    case Kind::WebP: {
        // The container's size counts from after itself, and odd sizes are padded.
        const qint64 length = 8 + qint64(qFromLittleEndian<quint32>(data + 4));
        const qint64 padded = length + (length & 1);
        if (padded <= available)
            return padded;
        return length <= available ? length : -1;
    }
    case Kind::Gif:
        return walkGif(data, available);
    case Kind::Unknown:
        break;
    }
    return -1;
}

QSize declaredSize(const uchar *data, qint64 length)
{
    QSize size;
    const Kind kind = kindOf(data, length);
    switch (kind) {
    case Kind::Png:
        // PNG allows up to 2^31 - 1 either way.
        if (length >= 24 && std::memcmp(data + 12, "IHDR", 4) == 0) {
            const quint32 width = qFromBigEndian<quint32>(data + 16);
            const quint32 height = qFromBigEndian<quint32>(data + 20);
            if (width <= 0x7fffffffu && height <= 0x7fffffffu)
                size = QSize(int(width), int(height));
        }
        break;
    case Kind::Jpeg:
        walkJpeg(data, length, &size, Walk::ToSize);
        break;
    case Kind::WebP:
    case Kind::Gif: {
        QByteArray bytes = QByteArray::fromRawData(
            reinterpret_cast<const char *>(data), int(std::min<qint64>(length, INT_MAX)));
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        size = QImageReader(&buffer, kind == Kind::Gif ? "gif" : "webp").size();
        break;
    }
    case Kind::Unknown:
        break;
    }
    return size.isEmpty() ? QSize() : size;
}

QImage decodePng(const uchar *data, qint64 length, Failure *failure)
{
    Failure ignored;
    if (!failure)
        failure = &ignored;
    *failure = Failure::Damaged;
    length = PngDecoder::streamLength(data, length);
    if (length <= 0 || length > std::numeric_limits<int>::max())
        return {};
    const QSize declared = length >= 24
        ? QSize(int(qMin<quint32>(qFromBigEndian<quint32>(data + 16), INT_MAX)),
            int(qMin<quint32>(qFromBigEndian<quint32>(data + 20), INT_MAX)))
        : QSize();
    if (!PngDecoder::isPlausible(declared, length)) {
        *failure = Failure::ImplausibleSize;
        return {};
    }
    // A stream that deflates a thousand to one is plausible, and may still ask for more memory
    // than there is.
    if (PictureFile::checkSize(declared).code != PictureFile::LoadResult::Loaded) {
        *failure = Failure::TooLarge;
        return {};
    }
    QImage image;
    if (PngDecoder::decode(data, length, &image) != PngDecoder::Result::Unsupported)
        return image;
    // Streams our decoder leaves alone (palettes, 16 bits, profiles) go where any picture goes:
    // a board is as untrusted as any file.
    DecoderPool::instance().decodeData(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(length)), "png", false,
        QSize(), &image);
    return image;
}

QImage decode(const uchar *data, qint64 length, Failure *failure, const std::atomic_bool *cancel)
{
    *failure = Failure::Damaged;
    const Kind kind = kindOf(data, length);
    if (kind == Kind::Png)
        return decodePng(data, length, failure);
    if (kind == Kind::Unknown || length > std::numeric_limits<int>::max())
        return {};

    QSize declared;
    if (kind == Kind::Jpeg) {
        // A JPEG that does not reach its end marker within the block was cut short: the toolkit
        // would hand back its first rows over grey.
        if (walkJpeg(data, length, &declared) < 0)
            return {};
    } else {
        declared = declaredSize(data, length);
    }
    if (!declared.isValid() || declared.isEmpty())
        return {};
    // Neither format bounds how many pixels a byte may describe as deflate does, but no picture
    // anyone keeps comes near the limit PNG streams have: a block claiming more would only make
    // us allocate.
    if (!PngDecoder::isPlausible(declared, length)) {
        *failure = Failure::ImplausibleSize;
        return {};
    }
    if (PictureFile::checkSize(declared).code != PictureFile::LoadResult::Loaded) {
        *failure = Failure::TooLarge;
        return {};
    }
    QImage image;
    if (kind == Kind::Jpeg) {
        const JpegDecoder::Result result
            = JpegDecoder::decode(data, length, declared, &image, nullptr, cancel);
        if (result == JpegDecoder::Result::Decoded)
            return image;
        if (result == JpegDecoder::Result::Canceled) {
            *failure = Failure::Canceled;
            return {};
        }
        if (result == JpegDecoder::Result::Damaged)
            return {};
    }
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(length));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    // A GIF block gives its first frame.
    QImageReader reader(&buffer, kind == Kind::Jpeg ? "jpeg" : kind == Kind::Gif ? "gif" : "webp");
    reader.setAutoDetectImageFormat(false);
    if (!reader.read(&image) || image.size() != declared)
        return {};
    return PictureFile::toDisplayFormat(std::move(image));
}

} // namespace PictureBlock
