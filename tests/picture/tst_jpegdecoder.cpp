#include "picture/jpegdecoder.h"
#include "picturetesting.h"

#include <QImage>
#include <QRandomGenerator>
#include <QRect>
#include <QTest>

#include <cmath>
#include <cstdlib>

Q_DECLARE_METATYPE(JpegDecoder::Result)

namespace {

// Smooth shading as in a photograph, with a grain of the given strength. A strong grain puts
// a different colour in every pixel, so that any chroma sample or block taken from the wrong
// place shows.
QImage photoLike(int width, int height, int grain)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        auto *pixels = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const auto channel = [&](double phase) {
                const double shade
                    = 127.5 + 100 * std::sin(x * 0.031 + phase) * std::cos(y * 0.023);
                return qBound(0, int(shade) + int(random.bounded(2 * grain + 1)) - grain, 255);
            };
            pixels[x] = qRgb(channel(0), channel(2), channel(4));
        }
    }
    return image;
}

const uchar *bytesOf(const QByteArray &bytes)
{
    return reinterpret_cast<const uchar *>(bytes.constData());
}

QImage fullDecode(const QByteArray &stream, const QSize &size)
{
    QImage image;
    const JpegDecoder::Result result
        = JpegDecoder::decode(bytesOf(stream), stream.size(), size, &image);
    return result == JpegDecoder::Result::Decoded ? image : QImage();
}

} // namespace

class tst_JpegDecoder : public QObject {
    Q_OBJECT

private slots:
    void scaledSizeIsTheLibrarys_data();
    void scaledSizeIsTheLibrarys();
    void eighthsForCoversWanted_data();
    void eighthsForCoversWanted();
    void scaledLooksLikeReducedFull_data();
    void scaledLooksLikeReducedFull();
    void regionIsCropOfFull_data();
    void regionIsCropOfFull();
    void damagedStreamsFailCleanly_data();
    void damagedStreamsFailCleanly();
    void workingBytesCountWholePictureCoefficients_data();
    void workingBytesCountWholePictureCoefficients();
};

void tst_JpegDecoder::scaledSizeIsTheLibrarys_data()
{
    QTest::addColumn<QSize>("size");
    // Sides that are no multiple of 8, and of 1 to 7 pixels, where rounding decides.
    for (const QSize &size : { QSize(1, 1), QSize(7, 3), QSize(9, 17), QSize(259, 131) })
        QTest::addRow("%d x %d", size.width(), size.height()) << size;
}

void tst_JpegDecoder::scaledSizeIsTheLibrarys()
{
    QFETCH(QSize, size);
    const QByteArray stream = encoded(photoLike(size.width(), size.height(), 4), Layout::S420);
    for (int eighths = 1; eighths <= 8; ++eighths) {
        QImage image;
        QCOMPARE(JpegDecoder::decodeScaled(bytesOf(stream), stream.size(), size, eighths, &image),
            JpegDecoder::Result::Decoded);
        QVERIFY2(image.size() == JpegDecoder::scaledSize(size, eighths),
            qPrintable(QStringLiteral("at %1/8: %2 x %3")
                           .arg(eighths)
                           .arg(image.width())
                           .arg(image.height())));
    }
}

void tst_JpegDecoder::eighthsForCoversWanted_data()
{
    QTest::addColumn<QSize>("full");
    QTest::addColumn<QSize>("wanted");
    QTest::addColumn<int>("eighths");
    QTest::addRow("exactly half") << QSize(4000, 3000) << QSize(2000, 1500) << 4;
    QTest::addRow("a pixel more than half") << QSize(4000, 3000) << QSize(2001, 1500) << 5;
    // 259 / 8 rounds up to 33: an eighth still covers 33 pixels.
    QTest::addRow("rounded up side covers") << QSize(259, 131) << QSize(33, 10) << 1;
    QTest::addRow("the taller side decides") << QSize(259, 131) << QSize(10, 18) << 2;
    QTest::addRow("more than the full size") << QSize(259, 131) << QSize(600, 400) << 8;
}

void tst_JpegDecoder::eighthsForCoversWanted()
{
    QFETCH(QSize, full);
    QFETCH(QSize, wanted);
    QFETCH(int, eighths);
    QCOMPARE(JpegDecoder::eighthsFor(full, wanted), eighths);
}

void tst_JpegDecoder::scaledLooksLikeReducedFull_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("eighths");
    // Sides that are multiples of 8: the library's last pixels then cover whole blocks, and both
    // reductions divide the picture alike.
    const QImage picture = photoLike(520, 392, 6);
    const QByteArray baseline = encoded(picture, Layout::S420);
    const QList<QPair<const char *, QByteArray>> streams { { "4:2:0", baseline },
        { "4:4:4", encoded(picture, Layout::S444) }, { "grey", encoded(picture, Layout::Grey) },
        { "progressive", encoded(picture, Layout::S420, true) } };
    for (const auto &stream : streams) {
        for (int eighths : { 1, 2, 3, 5, 7 })
            QTest::addRow("%s at %d/8", stream.first, eighths) << stream.second << eighths;
    }
}

void tst_JpegDecoder::scaledLooksLikeReducedFull()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, eighths);
    const QSize size(520, 392);
    const QImage full = fullDecode(stream, size);
    QVERIFY(!full.isNull());
    QImage scaled;
    QCOMPARE(JpegDecoder::decodeScaled(bytesOf(stream), stream.size(), size, eighths, &scaled),
        JpegDecoder::Result::Decoded);
    const QImage reduced
        = full.scaled(scaled.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // A reduction of the wrong part, a swapped channel or a shifted row costs tens of levels.
    const double difference = meanDifference(scaled, reduced);
    QVERIFY2(difference < 2.0, qPrintable(QString::number(difference)));
}

void tst_JpegDecoder::regionIsCropOfFull_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QRect>("region");
    const QImage picture = photoLike(203, 157, 60);
    const QByteArray baseline = encoded(picture, Layout::S420);
    const QByteArray progressive = encoded(picture, Layout::S420, true);
    const QList<QPair<const char *, QByteArray>> streams { { "4:2:0", baseline },
        { "4:2:2", encoded(picture, Layout::S422) }, { "4:4:0", encoded(picture, Layout::S440) },
        { "4:4:4", encoded(picture, Layout::S444) }, { "grey", encoded(picture, Layout::Grey) },
        { "4:2:0 progressive", progressive },
        { "4:2:2 progressive", encoded(picture, Layout::S422, true) },
        // Cut after its first scans: the missing coefficients are estimated from the blocks
        // around, which a decoder starting at a later column does not see.
        { "progressive cut short", progressive.left(progressive.size() / 3) },
        { "baseline cut short", baseline.left(baseline.size() * 2 / 3) } };
    // Offsets and sizes on and off the 8- and 16-pixel grids of blocks and iMCUs.
    const QList<QPair<const char *, QRect>> regions { { "odd offset", QRect(37, 23, 29, 41) },
        { "on an iMCU corner", QRect(48, 32, 16, 16) }, { "one pixel", QRect(101, 77, 1, 1) },
        { "one column", QRect(63, 0, 1, 157) },
        { "one row below an iMCU row", QRect(5, 16, 190, 1) },
        { "rows across an iMCU row", QRect(33, 15, 50, 3) }, { "left edge", QRect(0, 50, 13, 9) },
        { "right edge", QRect(190, 60, 13, 11) }, { "top rows", QRect(70, 0, 40, 3) },
        { "bottom rows", QRect(20, 150, 60, 7) }, { "whole width", QRect(0, 40, 203, 30) },
        { "beyond the corner", QRect(180, 140, 100, 100) },
        { "whole picture", QRect(0, 0, 203, 157) } };
    for (const auto &stream : streams) {
        for (const auto &region : regions)
            QTest::addRow("%s, %s", stream.first, region.first) << stream.second << region.second;
    }
}

void tst_JpegDecoder::regionIsCropOfFull()
{
    QFETCH(QByteArray, stream);
    QFETCH(QRect, region);
    const QSize size(203, 157);
    const QImage full = fullDecode(stream, size);
    QVERIFY(!full.isNull());
    QImage part;
    QCOMPARE(JpegDecoder::decodeRegion(bytesOf(stream), stream.size(), size, region, &part),
        JpegDecoder::Result::Decoded);
    const QImage expected = full.copy(region & full.rect());
    QCOMPARE(part.size(), expected.size());
    for (int y = 0; y < part.height(); ++y) {
        for (int x = 0; x < part.width(); ++x) {
            if (part.pixel(x, y) != expected.pixel(x, y)) {
                QFAIL(qPrintable(QStringLiteral("differs first at %1, %2 of the picture")
                                     .arg(region.x() + x)
                                     .arg(region.y() + y)));
            }
        }
    }
}

void tst_JpegDecoder::damagedStreamsFailCleanly_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<JpegDecoder::Result>("result");
    const QImage picture = photoLike(61, 47, 20);
    const QByteArray stream = encoded(picture, Layout::S420);
    const QSize size = picture.size();
    using R = JpegDecoder::Result;
    QTest::addRow("empty") << QByteArray() << size << R::Damaged;
    QTest::addRow("cut in its header") << stream.left(40) << size << R::Damaged;
    QByteArray garbage(4000, '\0');
    QRandomGenerator random(11);
    for (char &byte : garbage)
        byte = char(random.bounded(256));
    QTest::addRow("garbage") << garbage << size << R::Damaged;
    QTest::addRow("garbage after its start marker")
        << stream.left(2) + garbage << size << R::Damaged;
    // As in the toolkit's reader, missing or garbled image data decodes, as grey or noise.
    QTest::addRow("cut in its image data") << stream.left(stream.size() / 2) << size << R::Decoded;
    QByteArray garbled = stream;
    garbled.replace(garbled.size() / 2, 300, garbage.left(300));
    QTest::addRow("garbled image data") << garbled << size << R::Decoded;
    QTest::addRow("cmyk") << encoded(picture, Layout::Cmyk) << size << R::Unsupported;
    QTest::addRow("other size than expected") << stream << QSize(61, 48) << R::Unsupported;
}

// Every way of decoding gives the same answer, and a picture only with Decoded.
void tst_JpegDecoder::damagedStreamsFailCleanly()
{
    QFETCH(QByteArray, stream);
    QFETCH(QSize, size);
    QFETCH(JpegDecoder::Result, result);
    const uchar *data = bytesOf(stream);
    QImage image;
    QString error;
    QCOMPARE(JpegDecoder::decode(data, stream.size(), size, &image, &error), result);
    QCOMPARE(image.isNull(), result != JpegDecoder::Result::Decoded);
    QCOMPARE(error.isEmpty(), result == JpegDecoder::Result::Decoded);
    for (int eighths : { 1, 3, 8 }) {
        QCOMPARE(JpegDecoder::decodeScaled(data, stream.size(), size, eighths, &image), result);
        QCOMPARE(image.isNull(), result != JpegDecoder::Result::Decoded);
    }
    for (const QRect &region : { QRect(0, 0, 9, 9), QRect(17, 21, 30, 20), QRect(50, 40, 11, 7) }) {
        QCOMPARE(JpegDecoder::decodeRegion(data, stream.size(), size, region, &image), result);
        QCOMPARE(image.isNull(), result != JpegDecoder::Result::Decoded);
    }
}

void tst_JpegDecoder::workingBytesCountWholePictureCoefficients_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<qint64>("bytes");
    // 203 x 157 pixels are 26 x 20 blocks of 128 bytes at full resolution, 13 x 10 at half
    // resolution both ways.
    const QImage picture = photoLike(203, 157, 20);
    const QByteArray progressive = encoded(picture, Layout::S420, true);
    QTest::addRow("baseline") << encoded(picture, Layout::S420) << qint64(0);
    QTest::addRow("4:2:0 progressive") << progressive << qint64((520 + 2 * 130) * 128);
    QTest::addRow("4:2:2 progressive")
        << encoded(picture, Layout::S422, true) << qint64((520 + 2 * 260) * 128);
    QTest::addRow("progressive cut in its scans")
        << progressive.left(progressive.size() / 2) << qint64((520 + 2 * 130) * 128);
    QTest::addRow("cut in its header") << progressive.left(40) << qint64(0);
    QTest::addRow("empty") << QByteArray() << qint64(0);
}

void tst_JpegDecoder::workingBytesCountWholePictureCoefficients()
{
    QFETCH(QByteArray, stream);
    QFETCH(qint64, bytes);
    QCOMPARE(JpegDecoder::workingBytes(bytesOf(stream), stream.size()), bytes);
}

QTEST_GUILESS_MAIN(tst_JpegDecoder)
#include "tst_jpegdecoder.moc"
