#pragma once

#include "picture/picturebudget.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

#include <cstring>

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
