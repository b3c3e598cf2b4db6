#pragma once

#include <QByteArray>
#include <QImage>
#include <QVector>

// The toolkit reads GIF but cannot write it: a GIF of images of at most 256 colours in all, one
// frame each, their LZW data only literal codes, cleared before the code table would outgrow nine
// bits. More than one frame loops for ever, each shown delay hundredths of a second.
inline QByteArray gifOf(const QVector<QImage> &frames, int delay = 10)
{
    QVector<QRgb> palette;
    QVector<QVector<uchar>> indices;
    for (const QImage &image : frames) {
        QVector<uchar> frame;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb colour = image.pixel(x, y) | 0xff000000u;
                int index = palette.indexOf(colour);
                if (index < 0) {
                    index = palette.size();
                    palette.append(colour);
                }
                frame.append(uchar(index));
            }
        }
        indices.append(frame);
    }
    QByteArray gif("GIF89a");
    const auto word = [&gif](int value) {
        gif.append(char(value & 0xff));
        gif.append(char(value >> 8));
    };
    const QSize size = frames.value(0).size();
    word(size.width());
    word(size.height());
    gif.append(char(0xf7)); // global table of 256 entries
    gif.append(char(0));
    gif.append(char(0));
    for (int i = 0; i < 256; ++i) {
        const QRgb colour = palette.value(i);
        gif.append(char(qRed(colour)));
        gif.append(char(qGreen(colour)));
        gif.append(char(qBlue(colour)));
    }
    if (frames.size() > 1)
        gif.append(QByteArray("\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00", 19));
    for (const QVector<uchar> &frame : indices) {
        if (frames.size() > 1) {
            gif.append(QByteArray("\x21\xf9\x04\x00", 4));
            word(delay);
            gif.append(QByteArray("\x00\x00", 2));
        }
        gif.append(char(0x2c));
        word(0);
        word(0);
        word(size.width());
        word(size.height());
        gif.append(char(0));
        gif.append(char(8));
        QByteArray data;
        quint32 bits = 0;
        int count = 0;
        const auto code = [&](int value) {
            bits |= quint32(value) << count;
            for (count += 9; count >= 8; count -= 8, bits >>= 8)
                data.append(char(bits & 0xff));
        };
        for (int i = 0; i < frame.size(); ++i) {
            if (i % 250 == 0)
                code(256);
            code(frame.at(i));
        }
        code(257);
        if (count > 0)
            data.append(char(bits & 0xff));
        for (int at = 0; at < data.size(); at += 255) {
            const QByteArray block = data.mid(at, 255);
            gif.append(char(block.size()));
            gif.append(block);
        }
        gif.append(char(0));
    }
    gif.append(char(0x3b));
    return gif;
}

inline QByteArray gifOf(const QImage &image)
{
    return gifOf(QVector<QImage> { image });
}

// Few colours, so that a GIF holds them exactly.
inline QImage fewColours(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 40 % 256, y * 60 % 256, (x + y) % 3 * 100));
    }
    return image;
}
