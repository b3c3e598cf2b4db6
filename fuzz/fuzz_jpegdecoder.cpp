// libFuzzer target for the JPEG blocks of boards: the walk over their markers that finds a
// stream's length and declared size, then the decoder in full, reduced and for a rectangle, as a
// picture shown from a board asks for them. A rectangle that decodes must be that rectangle of
// the full picture pixel for pixel, and every picture must have the size it was asked for. The
// scale and the rectangle come from a hash of the input, so that each seed tries several.
// See CMakeLists.txt in this folder; "-make_corpus=DIR" writes the seeds of fuzz/jpeg-seeds.

#include "picture/jpegdecoder.h"
#include "picture/pictureblock.h"
#include "picture/pngdecoder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QRect>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

quint32 hashOf(const uint8_t *data, size_t size)
{
    quint32 hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

QImage pattern(int width, int height, bool grey)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int r = (x * 11 + y * 3) % 256;
            image.setPixel(x, y, grey ? qRgb(r, r, r) : qRgb(r, y * 17 % 256, (x ^ y) * 5 % 256));
        }
    }
    return image;
}

// Streams of each kind the toolkit's writer makes: baseline and progressive, colour and grey,
// sizes that are and are not whole blocks, and a comment segment ahead of the frame header.
void makeCorpus(const QString &directory)
{
    QDir().mkpath(directory);
    struct Seed {
        const char *name;
        int width;
        int height;
        bool grey;
        bool progressive;
        bool optimized;
        int quality;
        const char *comment;
    };
    const Seed seeds[] = {
        { "baseline-16x16", 16, 16, false, false, false, 75, nullptr },
        { "baseline-odd-19x13", 19, 13, false, false, false, 90, nullptr },
        { "grey-24x9", 24, 9, true, false, false, 75, nullptr },
        { "progressive-33x17", 33, 17, false, true, false, 80, nullptr },
        { "optimized-8x40", 8, 40, false, false, true, 50, nullptr },
        { "comment-12x12", 12, 12, false, false, false, 60, "metadata ahead of the frame" },
        { "one-pixel", 1, 1, false, false, false, 100, nullptr },
    };
    for (const Seed &seed : seeds) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setQuality(seed.quality);
        writer.setProgressiveScanWrite(seed.progressive);
        writer.setOptimizedWrite(seed.optimized);
        if (seed.comment)
            writer.setText(QStringLiteral("Description"), QString::fromLatin1(seed.comment));
        QImage image = pattern(seed.width, seed.height, seed.grey);
        if (seed.grey)
            image = image.convertToFormat(QImage::Format_Grayscale8);
        if (!writer.write(image))
            std::abort();
        QFile file(QDir(directory).filePath(QLatin1String(seed.name) + QLatin1String(".jpg")));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(buffer.data());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    for (int i = 1; i < *argc; ++i) {
        if (std::strncmp((*argv)[i], "-make_corpus=", 13) == 0) {
            // The toolkit's JPEG writer is a plugin, found through the application.
            QCoreApplication application(*argc, *argv);
            makeCorpus(QString::fromLocal8Bit((*argv)[i] + 13));
            std::exit(0);
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const qint64 length = qint64(size);
    const qint64 streamLength = PictureBlock::streamLength(data, length);
    require(streamLength <= length);
    if (PictureBlock::kindOf(data, length) != PictureBlock::Kind::Jpeg)
        return 0;
    // As a board's picture is opened: the declared size is checked before anything is allocated.
    const QSize declared = PictureBlock::declaredSize(data, length);
    if (!declared.isValid() || !PngDecoder::isPlausible(declared, length))
        return 0;

    QImage full;
    const JpegDecoder::Result fullResult = JpegDecoder::decode(data, length, declared, &full);
    require((fullResult == JpegDecoder::Result::Decoded) != full.isNull());
    if (!full.isNull())
        require(full.size() == declared && full.format() == QImage::Format_RGB32);

    const quint32 hash = hashOf(data, size);
    const int eighths = 1 + int(hash % 8);
    QImage scaled;
    const JpegDecoder::Result scaledResult
        = JpegDecoder::decodeScaled(data, length, declared, eighths, &scaled);
    require((scaledResult == JpegDecoder::Result::Decoded) != scaled.isNull());
    if (!scaled.isNull())
        require(scaled.size() == JpegDecoder::scaledSize(declared, eighths));

    const int x = int((hash >> 3) % quint32(declared.width()));
    const int y = int((hash >> 13) % quint32(declared.height()));
    const QRect region(x, y, 1 + int((hash >> 21) % quint32(declared.width() - x)),
        1 + int((hash >> 26) % quint32(declared.height() - y)));
    QImage part;
    const JpegDecoder::Result partResult
        = JpegDecoder::decodeRegion(data, length, declared, region, &part);
    require((partResult == JpegDecoder::Result::Decoded) != part.isNull());
    if (!part.isNull()) {
        require(part.size() == region.size());
        if (!full.isNull()) {
            const QImage expected = full.copy(region);
            for (int row = 0; row < part.height(); ++row)
                require(std::memcmp(part.constScanLine(row), expected.constScanLine(row),
                            size_t(part.width()) * 4)
                    == 0);
        }
    }
    return 0;
}
