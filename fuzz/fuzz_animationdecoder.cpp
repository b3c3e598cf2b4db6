// libFuzzer target for the decoder of animated GIF, WebP and PNG: the walk over blocks and chunks
// that counts frames, and the frames drawn from it. Every frame that decodes must be the whole
// canvas; after a frame that does not, none may; stepping back must give the same pixels again;
// asking whether a GIF or WebP is an animation must agree with the frames the decoder finds.
// Canvases the harness lets through are small: a canvas as large as PictureFile::checkSize
// allows is allocated by design, and would only stop the run for memory. See CMakeLists.txt in
// this folder; "-make_corpus=DIR" writes the seeds of fuzz/animation-seeds.

#include "fuzzcorpus.h"
#include "picture/animationdecoder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QImageWriter>
#include <QtEndian>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

bool samePixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.format() != b.format())
        return false;
    for (int y = 0; y < a.height(); ++y) {
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(a.width()) * 4) != 0)
            return false;
    }
    return true;
}

void appendLe16(QByteArray &out, int value)
{
    out.append(char(value & 0xFF));
    out.append(char((value >> 8) & 0xFF));
}

void appendLe24(QByteArray &out, int value)
{
    appendLe16(out, value);
    out.append(char((value >> 16) & 0xFF));
}

QByteArray be32(quint32 value)
{
    QByteArray out(4, '\0');
    qToBigEndian(value, out.data());
    return out;
}

// The decoder ignores checksums: seeds carry none.
QByteArray pngChunk(const char *type, const QByteArray &body)
{
    return be32(quint32(body.size())) + QByteArray(type, 4) + body + be32(0);
}

QByteArray riffChunk(const char *type, const QByteArray &body)
{
    QByteArray out(type, 4);
    appendLe24(out, body.size());
    out.append(char(0));
    out += body;
    if (body.size() & 1)
        out.append(char(0));
    return out;
}

QByteArray written(const QImage &image, const char *format, int quality = 100)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    if (!writer.write(image))
        std::abort();
    return buffer.data();
}

QImage square(int size, QRgb colour, bool hole)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(colour);
    if (hole)
        image.setPixel(size / 2, size / 2, 0);
    return image;
}

// Frames of 9-bit literal codes, a clear code before each: every decoder reads them.
QByteArray gif(int frames, int disposal, bool transparency)
{
    QByteArray out("GIF89a");
    appendLe16(out, 8);
    appendLe16(out, 8);
    out.append("\xF1\x00\x00", 3);
    out.append("\x00\x00\x00\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF", 12);
    out.append("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    for (int i = 0; i < frames; ++i) {
        const int side = i == 0 ? 8 : 4;
        out.append("\x21\xF9\x04", 3);
        out.append(char(disposal << 2 | (transparency ? 1 : 0)));
        appendLe16(out, i * 5);
        out.append(char(3));
        out.append(char(0));
        out.append(char(0x2C));
        appendLe16(out, i);
        appendLe16(out, i);
        appendLe16(out, side);
        appendLe16(out, side);
        out.append(char(0));
        out.append(char(2));
        QByteArray codes;
        quint32 bits = 0;
        int count = 0;
        auto put = [&](int code) {
            bits |= quint32(code) << count;
            count += 3;
            while (count >= 8) {
                codes.append(char(bits & 0xFF));
                bits >>= 8;
                count -= 8;
            }
        };
        for (int p = 0; p < side * side; ++p) {
            put(4);
            put((p + i) % 4);
        }
        put(5);
        if (count > 0)
            codes.append(char(bits & 0xFF));
        for (int at = 0; at < codes.size(); at += 255) {
            out.append(char(qMin(255, codes.size() - at)));
            out.append(codes.mid(at, 255));
        }
        out.append(char(0));
    }
    out.append(char(0x3B));
    return out;
}

// Lossless frames, or below quality 100 lossy ones with an alpha chunk.
QByteArray webp(int flags, int quality = 100)
{
    QByteArray header;
    header.append(char(0x12));
    header.append(3, '\0');
    appendLe24(header, 7);
    appendLe24(header, 7);
    QByteArray animation(4, '\0');
    appendLe16(animation, 0);
    QByteArray body = "WEBP" + riffChunk("VP8X", header) + riffChunk("ANIM", animation);
    for (int i = 0; i < 3; ++i) {
        const int side = i == 0 ? 8 : 4;
        QByteArray control;
        appendLe24(control, i);
        appendLe24(control, i);
        appendLe24(control, side - 1);
        appendLe24(control, side - 1);
        appendLe24(control, 40 * i);
        control.append(char(flags));
        const QByteArray still
            = written(square(side, qRgb(40 * i, 200, 90), i > 0), "webp", quality);
        // A lossy picture with alpha comes with an extended header the frame does without.
        body += riffChunk("ANMF", control + still.mid(still.mid(12, 4) == "VP8X" ? 30 : 12));
    }
    return riffChunk("RIFF", body);
}

QByteArray apng(bool defaultIsFrame, int dispose, int blend, bool palette)
{
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    QVector<QImage> frames;
    for (int i = 0; i < 3; ++i) {
        QImage image = square(i == 0 ? 8 : 4, qRgb(200, 60 * i, 30), i > 0);
        if (palette)
            image = image.convertToFormat(QImage::Format_Indexed8);
        frames.append(image);
    }
    quint32 sequence = 0;
    for (int i = 0; i < frames.size(); ++i) {
        const QByteArray png = written(frames.at(i), "png");
        QByteArray data;
        for (int at = 8; at + 12 <= png.size();) {
            const int length = int(qFromBigEndian<quint32>(png.constData() + at));
            const QByteArray type = png.mid(at + 4, 4);
            if (i == 0 && type == "IHDR")
                out += png.mid(at, length + 12) + pngChunk("acTL", be32(3) + be32(0));
            else if (i == 0 && type != "IDAT" && type != "IEND")
                out += png.mid(at, length + 12);
            else if (type == "IDAT")
                data += png.mid(at + 8, length);
            at += length + 12;
        }
        if (i == 0 && !defaultIsFrame)
            out += pngChunk("IDAT", data);
        const QByteArray control = be32(sequence++) + be32(quint32(frames.at(i).width()))
            + be32(quint32(frames.at(i).height())) + be32(quint32(i)) + be32(quint32(i))
            + QByteArray("\x00\x01\x00\x0a", 4) + char(dispose) + char(blend);
        out += pngChunk("fcTL", control);
        if (i == 0 && defaultIsFrame)
            out += pngChunk("IDAT", data);
        else
            out += pngChunk("fdAT", be32(sequence++) + data);
    }
    return out + pngChunk("IEND", QByteArray());
}

void makeCorpus(const QString &directory)
{
    writeSeed(directory, "none.gif", gif(3, 1, false));
    writeSeed(directory, "background.gif", gif(3, 2, true));
    writeSeed(directory, "previous.gif", gif(3, 3, true));
    writeSeed(directory, "still.gif", gif(1, 0, false));
    writeSeed(directory, "blended.webp", webp(0));
    writeSeed(directory, "replaced-cleared.webp", webp(3));
    writeSeed(directory, "lossy-alpha.webp", webp(0, 80));
    writeSeed(directory, "source.png", apng(true, 0, 0, false));
    writeSeed(directory, "over-background.png", apng(true, 1, 1, false));
    writeSeed(directory, "previous-hidden-default.png", apng(false, 2, 1, false));
    writeSeed(directory, "palette.png", apng(true, 1, 1, true));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The GIF and WebP readers are plugins, found through the application.
    static QCoreApplication application(*argc, *argv);
    makeCorpusWhenAsked(*argc, *argv, makeCorpus);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const bool animation = AnimationDecoder::isAnimation(bytes);
    AnimationDecoder decoder(bytes);
    if (!decoder.isValid()) {
        require(decoder.frameCount() == 0 && decoder.frame(0).isNull());
        return 0;
    }
    require(decoder.frameCount() >= 1 && decoder.frameCount() <= 100000);
    if (decoder.format() != AnimationDecoder::Format::Png)
        require(animation == (decoder.frameCount() > 1));
    for (int i = 0; i < decoder.frameCount(); ++i)
        require(decoder.frameDelay(i) > AnimationDecoder::ShortestDelay);
    if (qint64(decoder.size().width()) * decoder.size().height() > 1024 * 1024)
        return 0;

    decoder.setCacheFrames(2);
    const int count = qMin(decoder.frameCount(), 64);
    QImage first;
    bool broken = false;
    for (int i = 0; i < count; ++i) {
        const QImage frame = decoder.frame(i);
        require(!broken || frame.isNull());
        if (frame.isNull()) {
            broken = true;
            continue;
        }
        require(frame.size() == decoder.size()
            && frame.format() == QImage::Format_ARGB32_Premultiplied);
        if (i == 0)
            first = frame.copy();
    }
    // Back to the start, past the kept frames: the same pixels again.
    const QImage again = decoder.frame(0);
    require(again.isNull() == first.isNull());
    if (!first.isNull())
        require(samePixels(first, again));
    require(decoder.frame(decoder.frameCount()).isNull());
    return 0;
}
