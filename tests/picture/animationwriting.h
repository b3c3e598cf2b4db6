#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QPoint>
#include <QSize>
#include <QVector>
#include <QtEndian>

// Animated PNG and WebP files built byte by byte from frames, with the disposal and blend each
// frame asks for: the toolkit writes neither.

namespace AnimationWriting {

inline void appendLe16(QByteArray &out, int value)
{
    out.append(char(value & 0xFF));
    out.append(char((value >> 8) & 0xFF));
}

// ---- PNG chunks ---------------------------------------------------------------------------------

inline quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= uchar(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

inline QByteArray be32(quint32 value)
{
    QByteArray out(4, '\0');
    qToBigEndian(value, out.data());
    return out;
}

inline QByteArray be16(quint16 value)
{
    QByteArray out(2, '\0');
    qToBigEndian(value, out.data());
    return out;
}

inline QByteArray chunk(const char *type, const QByteArray &body)
{
    const QByteArray typed = QByteArray(type, 4) + body;
    return be32(quint32(body.size())) + typed + be32(crc32(typed));
}

struct PngChunks {
    QByteArray header;
    // Chunks before the image data, whole.
    QByteArray ancillary;
    QByteArray data;
};

inline PngChunks splitPng(const QImage &image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.write(image);
    const QByteArray png = buffer.data();
    PngChunks chunks;
    int at = 8;
    while (at + 12 <= png.size()) {
        const int length = int(qFromBigEndian<quint32>(png.constData() + at));
        const QByteArray type = png.mid(at + 4, 4);
        const QByteArray body = png.mid(at + 8, length);
        if (type == "IHDR")
            chunks.header = body;
        else if (type == "IDAT")
            chunks.data += body;
        else if (type != "IEND" && chunks.data.isEmpty())
            chunks.ancillary += png.mid(at, length + 12);
        at += length + 12;
    }
    return chunks;
}

// ---- APNG ---------------------------------------------------------------------------------------

struct PngFrame {
    QImage image;
    QPoint offset;
    int delayNumerator = 1;
    int delayDenominator = 10;
    int dispose = 0; // none, background, previous
    int blend = 0; // source, over
};

struct ApngLayout {
    // The first frame is the default image; otherwise a picture of its own is.
    bool defaultIsFrame = true;
    QImage defaultImage;
    int plays = 0;
};

inline QByteArray encodeApng(
    const QSize &canvas, const QVector<PngFrame> &frames, const ApngLayout &layout = ApngLayout())
{
    const PngChunks first = splitPng(frames.first().image);
    QByteArray header = first.header;
    qToBigEndian(quint32(canvas.width()), header.data());
    qToBigEndian(quint32(canvas.height()), header.data() + 4);
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png += chunk("IHDR", header);
    png += chunk("acTL", be32(quint32(frames.size())) + be32(quint32(layout.plays)));
    png += first.ancillary;
    quint32 sequence = 0;
    auto control = [&](const PngFrame &frame) {
        return chunk("fcTL",
            be32(sequence++) + be32(quint32(frame.image.width()))
                + be32(quint32(frame.image.height())) + be32(quint32(frame.offset.x()))
                + be32(quint32(frame.offset.y())) + be16(quint16(frame.delayNumerator))
                + be16(quint16(frame.delayDenominator)) + char(frame.dispose) + char(frame.blend));
    };
    for (int i = 0; i < frames.size(); ++i) {
        const PngChunks chunks = splitPng(frames.at(i).image);
        if (i == 0 && layout.defaultIsFrame) {
            png += control(frames.at(i));
            png += chunk("IDAT", chunks.data);
            continue;
        }
        if (i == 0)
            png += chunk("IDAT", splitPng(layout.defaultImage).data);
        png += control(frames.at(i));
        // Two data chunks a frame: the reader must join them.
        const int half = chunks.data.size() / 2;
        png += chunk("fdAT", be32(sequence++) + chunks.data.left(half));
        png += chunk("fdAT", be32(sequence++) + chunks.data.mid(half));
    }
    png += chunk("IEND", QByteArray());
    return png;
}

// ---- WebP ---------------------------------------------------------------------------------------

struct WebPFrame {
    QImage image;
    QPoint offset; // even
    int duration = 100;
    bool blend = true;
    bool disposeToBackground = false;
    // Below 100 a lossy bitstream, with an alpha chunk when the picture has alpha.
    int quality = 100;
};

inline void appendLe24(QByteArray &out, int value)
{
    out.append(char(value & 0xFF));
    out.append(char((value >> 8) & 0xFF));
    out.append(char((value >> 16) & 0xFF));
}

inline QByteArray riffChunk(const char *type, const QByteArray &body)
{
    QByteArray out(type, 4);
    out.append(char(body.size() & 0xFF));
    out.append(char((body.size() >> 8) & 0xFF));
    out.append(char((body.size() >> 16) & 0xFF));
    out.append(char((body.size() >> 24) & 0xFF));
    out += body;
    if (body.size() & 1)
        out.append(char(0));
    return out;
}

inline QByteArray stillWebP(const QImage &image, int quality = 100)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "webp");
    writer.setQuality(quality);
    writer.write(image);
    return buffer.data();
}

// The chunks of the picture the toolkit's writer makes, without the extended header a lossy
// picture with alpha has.
inline QByteArray frameChunks(const QImage &image, int quality)
{
    const QByteArray webp = stillWebP(image, quality);
    return webp.mid(12, 4) == "VP8X" ? webp.mid(12 + 18) : webp.mid(12);
}

inline QByteArray encodeWebP(const QSize &canvas, const QVector<WebPFrame> &frames, int loops = 0)
{
    QByteArray header;
    header.append(char(0x12)); // alpha, animation
    header.append(3, '\0');
    appendLe24(header, canvas.width() - 1);
    appendLe24(header, canvas.height() - 1);
    QByteArray animation(4, '\0');
    appendLe16(animation, loops);
    QByteArray body = "WEBP" + riffChunk("VP8X", header) + riffChunk("ANIM", animation);
    for (const WebPFrame &frame : frames) {
        QByteArray control;
        appendLe24(control, frame.offset.x() / 2);
        appendLe24(control, frame.offset.y() / 2);
        appendLe24(control, frame.image.width() - 1);
        appendLe24(control, frame.image.height() - 1);
        appendLe24(control, frame.duration);
        control.append(char((frame.blend ? 0 : 2) | (frame.disposeToBackground ? 1 : 0)));
        body += riffChunk("ANMF", control + frameChunks(frame.image, frame.quality));
    }
    return riffChunk("RIFF", body);
}

} // namespace AnimationWriting
