#pragma once

#include "picture/picture.h"
#include "picture/picturebudget.h"
#include "picture/sourcefile.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QtEndian>

#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

// Byte for byte, alpha included: QImage's comparison forgives some of it.
inline bool sameBytes(const QImage &a, const QImage &b)
{
    if (a.format() != b.format() || a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y) {
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(a.width()) * 4) != 0)
            return false;
    }
    return true;
}

// The file the toolkit's writer makes of image, JPEGs at quality 90.
inline QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(90);
    writer.write(image);
    return bytes;
}

// How a test picture's colours are written: the sampling of the chroma, or no chroma at all.
enum class Layout { S420, S422, S440, S444, Grey, Cmyk };

// Written with libjpeg itself: the toolkit's writer offers neither the sampling nor CMYK.
inline QByteArray encoded(const QImage &image, Layout layout, bool progressive = false)
{
    const QImage::Format formats[]
        = { QImage::Format_RGB888, QImage::Format_RGB888, QImage::Format_RGB888,
              QImage::Format_RGB888, QImage::Format_Grayscale8, QImage::Format_RGBA8888 };
    const QImage rows = image.convertToFormat(formats[int(layout)]);
    jpeg_compress_struct info {};
    jpeg_error_mgr errors {};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(image.width());
    info.image_height = JDIMENSION(image.height());
    info.input_components = rows.depth() / 8;
    const J_COLOR_SPACE spaces[] = { JCS_RGB, JCS_RGB, JCS_RGB, JCS_RGB, JCS_GRAYSCALE, JCS_CMYK };
    info.in_color_space = spaces[int(layout)];
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    if (layout <= Layout::S444) {
        info.comp_info[0].h_samp_factor = layout == Layout::S420 || layout == Layout::S422 ? 2 : 1;
        info.comp_info[0].v_samp_factor = layout == Layout::S420 || layout == Layout::S440 ? 2 : 1;
    }
    if (progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uchar *>(rows.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    const QByteArray stream(reinterpret_cast<const char *>(out), int(size));
    jpeg_destroy_compress(&info);
    std::free(out);
    return stream;
}

// The mean difference of the channels of two RGB32 pictures of one size, in levels.
inline double meanDifference(const QImage &a, const QImage &b)
{
    qint64 sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        // The fourth bytes are 255 in both.
        for (int i = 0; i < a.width() * 4; ++i)
            sum += std::abs(a.constScanLine(y)[i] - b.constScanLine(y)[i]);
    }
    return double(sum) / (3.0 * a.width() * a.height());
}

// A file with the block after some other bytes, as a board holds its pictures.
inline std::shared_ptr<Picture> pictureInFile(const QString &path, const QByteArray &block)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return nullptr;
    const QByteArray before(37, 'x');
    file.write(before + block + QByteArray(11, 'y'));
    file.close();
    PictureBlock::Failure failure;
    return Picture::fromBlock(reinterpret_cast<const uchar *>(block.constData()), block.size(),
        SourceFile::forPath(path), before.size(), &failure);
}

// Sets the picture budget's limit for a test and gives the old one back after it.
struct BudgetLimit {
    explicit BudgetLimit(qint64 bytes)
        : previous(PictureBudget::instance().limit())
    {
        PictureBudget::instance().setLimit(bytes);
    }
    ~BudgetLimit() { PictureBudget::instance().setLimit(previous); }
    BudgetLimit(const BudgetLimit &) = delete;
    BudgetLimit &operator=(const BudgetLimit &) = delete;
    const qint64 previous;
};

// The header of an 8-bit RGBA PNG of this size, with CRCs that readers check, and a few rows of
// its data: deflated zeros, what a decompression bomb holds at a thousand to one.
inline QByteArray hugePng(quint32 width, quint32 height)
{
    const auto crc32 = [](const QByteArray &data) {
        quint32 crc = 0xffffffffu;
        for (const char byte : data) {
            crc ^= quint8(byte);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
        return ~crc;
    };
    const auto bigEndian = [](quint32 value) {
        QByteArray bytes(4, '\0');
        qToBigEndian(value, bytes.data());
        return bytes;
    };
    const auto chunk = [&](const QByteArray &type, const QByteArray &body) -> QByteArray {
        return bigEndian(quint32(body.size())) + type + body + bigEndian(crc32(type + body));
    };
    const QByteArray header
        = bigEndian(width) + bigEndian(height) + QByteArray::fromHex("0806000000");
    const QByteArray rows = qCompress(QByteArray(4 * (1 + 4 * int(width)), '\0')).mid(4);
    return QByteArray("\x89PNG\r\n\x1a\n") + chunk("IHDR", header) + chunk("IDAT", rows)
        + chunk("IEND", QByteArray());
}
