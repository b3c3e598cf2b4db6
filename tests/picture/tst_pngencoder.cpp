#include "picture/pngencoder.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTest>

namespace {

QImage decode(const QByteArray &png)
{
    QBuffer buffer;
    buffer.setData(png);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    return reader.read();
}

QImage randomImage(int width, int height, QImage::Format format, bool translucent, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // Fully transparent pixels keep a colour: straight alpha must not lose it.
            const int alpha = translucent ? int(random.bounded(4)) * 85 : 255;
            image.setPixel(x, y,
                qRgba(int(random.bounded(256)), int(random.bounded(256)), int(random.bounded(256)),
                    alpha));
        }
    }
    return image.convertToFormat(format);
}

// Rows that change slowly to the right but jump from row to row: they are filtered by SUB.
QImage rampImage(int width, int height, QImage::Format format, bool translucent, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        const int offset = int(random.bounded(256));
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y,
                qRgba((x * 5 + offset) & 0xff, (x * 3 + offset * 7) & 0xff, (x * 11) & 0xff,
                    translucent ? (x * 2 + offset) & 0xff : 255));
        }
    }
    return image.convertToFormat(format);
}

QImage greyImage(int width, int height, QImage::Format format)
{
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.scanLine(y)[x] = uchar((x * 7 + y * 13) % 256);
    return image.convertToFormat(format);
}

quint8 colourType(const QByteArray &png)
{
    return quint8(png.at(25)); // signature 8, IHDR length and type 8, then 9 bytes in
}

} // namespace

class tst_PngEncoder : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void premultipliedMatchesToolkit();
    void sameImageSameBytes();
    void nullImageIsRefused();
};

void tst_PngEncoder::roundTrip_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<int>("expectedColourType"); // -1: written by the toolkit's writer

    QTest::addRow("RGB32") << randomImage(37, 21, QImage::Format_RGB32, false, 1) << 2;
    QTest::addRow("opaque ARGB32 written as RGB")
        << randomImage(16, 9, QImage::Format_ARGB32, false, 2) << 2;
    QTest::addRow("translucent ARGB32") << randomImage(16, 9, QImage::Format_ARGB32, true, 3) << 6;
    QTest::addRow("width 1") << randomImage(1, 17, QImage::Format_RGB32, false, 4) << 2;
    QTest::addRow("width 3, translucent") << randomImage(3, 5, QImage::Format_ARGB32, true, 5) << 6;
    QTest::addRow("width 4097") << randomImage(4097, 3, QImage::Format_RGB32, false, 6) << 2;
    QTest::addRow("height 1") << randomImage(301, 1, QImage::Format_ARGB32, true, 7) << 6;
    QTest::addRow("horizontal ramps") << rampImage(37, 9, QImage::Format_RGB32, false, 14) << 2;
    QTest::addRow("horizontal ramps, translucent")
        << rampImage(37, 9, QImage::Format_ARGB32, true, 15) << 6;
    QTest::addRow("grey 8-bit") << greyImage(33, 17, QImage::Format_Grayscale8) << 0;
    QTest::addRow("grey pixels in RGB32") << greyImage(33, 17, QImage::Format_RGB32) << 0;
    QTest::addRow("RGB888 converted") << randomImage(19, 7, QImage::Format_RGB888, false, 8) << 2;
    QTest::addRow("RGBA8888 converted")
        << randomImage(19, 7, QImage::Format_RGBA8888, true, 9) << 6;
    QTest::addRow("16 bits a channel, toolkit")
        << randomImage(9, 4, QImage::Format_RGBA64, true, 10) << -1;
    QTest::addRow("palette, toolkit") << randomImage(9, 4, QImage::Format_RGB32, false, 11)
                                             .convertToFormat(QImage::Format_Indexed8)
                                      << -1;
}

void tst_PngEncoder::roundTrip()
{
    QFETCH(QImage, image);
    QFETCH(int, expectedColourType);

    for (int compression : { PngEncoder::Fastest, PngEncoder::Balanced, PngEncoder::Smallest }) {
        QByteArray png;
        QString error;
        QVERIFY2(PngEncoder::encode(image, PngEncoder::deflateLevel(compression), &png, &error),
            qPrintable(error));
        if (expectedColourType >= 0)
            QCOMPARE(int(colourType(png)), expectedColourType);

        const QImage decoded = decode(png);
        QVERIFY(!decoded.isNull());
        if (image.format() == QImage::Format_RGBA64) {
            QCOMPARE(decoded.convertToFormat(QImage::Format_RGBA64), image);
        } else {
            QCOMPARE(decoded.convertToFormat(QImage::Format_ARGB32),
                image.convertToFormat(QImage::Format_ARGB32));
        }
    }
}

void tst_PngEncoder::premultipliedMatchesToolkit()
{
    const QImage image = randomImage(45, 150, QImage::Format_ARGB32_Premultiplied, true, 12);
    QByteArray ours;
    QVERIFY(PngEncoder::encode(image, PngEncoder::deflateLevel(PngEncoder::Balanced), &ours));
    QCOMPARE(int(colourType(ours)), 6);

    QByteArray toolkit;
    QBuffer buffer(&toolkit);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(QImageWriter(&buffer, "png").write(image));

    QCOMPARE(decode(ours).convertToFormat(QImage::Format_ARGB32),
        decode(toolkit).convertToFormat(QImage::Format_ARGB32));
}

void tst_PngEncoder::sameImageSameBytes()
{
    const QImage image = randomImage(200, 100, QImage::Format_ARGB32, true, 13);
    QByteArray first;
    QByteArray second;
    QVERIFY(PngEncoder::encode(image, 5, &first));
    QVERIFY(PngEncoder::encode(image.copy(), 5, &second));
    QCOMPARE(first, second);
}

void tst_PngEncoder::nullImageIsRefused()
{
    QByteArray png("stale");
    QString error;
    QVERIFY(!PngEncoder::encode(QImage(), 5, &png, &error));
    QVERIFY(png.isEmpty());
    QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(tst_PngEncoder)
#include "tst_pngencoder.moc"
