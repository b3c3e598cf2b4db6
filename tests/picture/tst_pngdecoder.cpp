#include "loading/imageloader.h"
#include "persistence/imageloaderrunner.h"
#include "picture/pngdecoder.h"
#include "picture/pngencoder.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>

#include <cstring>

namespace {

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xffffffffU;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320U & (0U - (crc & 1U)));
    }
    return ~crc;
}

QByteArray chunk(const char *type, const QByteArray &body)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(quint32(body.size()), bytes.data());
    const QByteArray typed = QByteArray(type, 4) + body;
    QByteArray crc(4, '\0');
    qToBigEndian(crc32(typed), crc.data());
    return bytes + typed + crc;
}

QByteArray header(quint32 width, quint32 height, int depth, int colourType, int interlace = 0)
{
    QByteArray body(13, '\0');
    qToBigEndian(width, body.data());
    qToBigEndian(height, body.data() + 4);
    body[8] = char(depth);
    body[9] = char(colourType);
    body[12] = char(interlace);
    return chunk("IHDR", body);
}

int colourTypeOf(int channels)
{
    static const int types[] = { 0, 0, 4, 2, 6 };
    return types[channels];
}

// The five PNG filters applied to one row of raw bytes.
QByteArray filterRow(int filter, const QByteArray &row, const QByteArray &prior, int bpp)
{
    QByteArray out(row.size(), '\0');
    for (int i = 0; i < row.size(); ++i) {
        const int a = i >= bpp ? quint8(row[i - bpp]) : 0;
        const int b = quint8(prior[i]);
        const int c = i >= bpp ? quint8(prior[i - bpp]) : 0;
        int predictor = 0;
        switch (filter) {
        case 1:
            predictor = a;
            break;
        case 2:
            predictor = b;
            break;
        case 3:
            predictor = (a + b) / 2;
            break;
        case 4: {
            const int p = a + b - c;
            const int pa = qAbs(p - a), pb = qAbs(p - b), pc = qAbs(p - c);
            predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            break;
        }
        }
        out[i] = char(quint8(row[i]) - predictor);
    }
    return out;
}

// Filtered image data of random pixels; filter -1 gives each row the next filter in turn.
// Translucent pictures hold transparent, opaque and in-between alpha values.
QByteArray imageData(int width, int height, int channels, int filter, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray data;
    QByteArray prior(width * channels, '\0');
    for (int y = 0; y < height; ++y) {
        QByteArray row(width * channels, '\0');
        for (int i = 0; i < row.size(); ++i) {
            const bool alpha = channels % 2 == 0 && i % channels == channels - 1;
            row[i] = char(alpha ? int(random.bounded(5)) * 255 / 4 : int(random.bounded(256)));
        }
        const int rowFilter = filter < 0 ? y % 5 : filter;
        data += char(rowFilter) + filterRow(rowFilter, row, prior, channels);
        prior = row;
    }
    return data;
}

QByteArray zlib(const QByteArray &data)
{
    return qCompress(data).mid(4); // qCompress puts the length first
}

// A stream with the given image data split over idatChunks chunks (one more, empty, when
// emptyChunk is set) and extra chunks before the data.
QByteArray stream(int width, int height, int channels, const QByteArray &deflated,
    int idatChunks = 1, bool emptyChunk = false, const QByteArray &extra = QByteArray())
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png += header(quint32(width), quint32(height), 8, colourTypeOf(channels)) + extra;
    const int part = (deflated.size() + idatChunks - 1) / idatChunks;
    for (int at = 0; at < deflated.size(); at += part) {
        png += chunk("IDAT", deflated.mid(at, part));
        if (emptyChunk && at == 0)
            png += chunk("IDAT", QByteArray());
    }
    return png + chunk("IEND", QByteArray());
}

QImage toolkitDecode(const QByteArray &png)
{
    QBuffer buffer;
    buffer.setData(png);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    return PictureFile::toDisplayFormat(reader.read());
}

QByteArray toolkitEncode(const QImage &image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return png;
}

PngDecoder::Result decode(const QByteArray &png, QImage *image)
{
    return PngDecoder::decode(reinterpret_cast<const uchar *>(png.constData()), png.size(), image);
}

void compareWithToolkit(const QImage &image, const QByteArray &png)
{
    const QImage expected = toolkitDecode(png);
    QVERIFY(!expected.isNull());
    QCOMPARE(image.format(), expected.format());
    QCOMPARE(image.size(), expected.size());
    for (int y = 0; y < image.height(); ++y) {
        if (std::memcmp(
                image.constScanLine(y), expected.constScanLine(y), size_t(image.width()) * 4)
            != 0)
            QFAIL(qPrintable(QStringLiteral("row %1 differs").arg(y)));
    }
}

} // namespace

class tst_PngDecoder : public QObject {
    Q_OBJECT

private slots:
    void sameAsToolkit_data();
    void sameAsToolkit();
    void damagedIsRefused_data();
    void damagedIsRefused();
    void handedOverDecodesAsToolkit_data();
    void handedOverDecodesAsToolkit();
};

void tst_PngDecoder::sameAsToolkit_data()
{
    QTest::addColumn<QByteArray>("png");
    const char *filters[] = { "none", "sub", "up", "average", "paeth" };
    const char *layouts[] = { nullptr, "grey", "grey alpha", "rgb", "rgba" };
    for (int channels = 1; channels <= 4; ++channels) {
        for (int filter = 0; filter < 5; ++filter) {
            QTest::addRow("%s, %s", layouts[channels], filters[filter])
                << stream(37, 6, channels, zlib(imageData(37, 6, channels, filter, 7)));
        }
        QTest::addRow("%s, mixed filters", layouts[channels])
            << stream(61, 11, channels, zlib(imageData(61, 11, channels, -1, 3)));
    }
    for (const int width : { 1, 3, 4097 }) {
        QTest::addRow("rgb, width %d", width)
            << stream(width, 7, 3, zlib(imageData(width, 7, 3, -1, 11)));
        QTest::addRow("rgba, width %d", width)
            << stream(width, 7, 4, zlib(imageData(width, 7, 4, -1, 13)));
    }
    // Pictures past a mebibyte take memory of their own; the rows' buffer a thread keeps grows
    // for the larger one and serves the smaller ones after it.
    QTest::newRow("rgba, 700 x 500") << stream(700, 500, 4, zlib(imageData(700, 500, 4, -1, 29)));
    QTest::newRow("rgb, 1300 x 600") << stream(1300, 600, 3, zlib(imageData(1300, 600, 3, -1, 31)));
    QTest::newRow("height 1") << stream(50, 1, 3, zlib(imageData(50, 1, 3, -1, 5)));
    const QByteArray data = zlib(imageData(40, 30, 4, -1, 17));
    QTest::newRow("several data chunks") << stream(40, 30, 4, data, 5);
    QTest::newRow("an empty data chunk") << stream(40, 30, 4, data, 2, true);
    QByteArray physical(9, '\0');
    qToBigEndian(quint32(5906), physical.data());
    qToBigEndian(quint32(5906), physical.data() + 4);
    physical[8] = 1;
    QTest::newRow("resolution and an unknown chunk")
        << stream(40, 30, 4, data, 1, false, chunk("pHYs", physical) + chunk("vlKq", "abc"));

    // What our own writer produces, for each layout it picks.
    QImage translucent(300, 200, QImage::Format_ARGB32);
    QRandomGenerator random(23);
    for (int y = 0; y < translucent.height(); ++y)
        for (int x = 0; x < translucent.width(); ++x)
            translucent.setPixel(x, y, random.generate() & (y < 100 ? 0xffffffffU : 0x7fffffffU));
    const QImage grey = translucent.convertToFormat(QImage::Format_Grayscale8);
    for (const QImage &image : { translucent.convertToFormat(QImage::Format_ARGB32_Premultiplied),
             translucent.convertToFormat(QImage::Format_RGB32), grey }) {
        QByteArray png;
        QVERIFY(PngEncoder::encode(image, PngEncoder::deflateLevel(PngEncoder::Balanced), &png));
        QTest::addRow("our writer, %d", int(image.format())) << png;
    }
}

void tst_PngDecoder::sameAsToolkit()
{
    QFETCH(QByteArray, png);
    QImage image;
    QCOMPARE(decode(png, &image), PngDecoder::Result::Decoded);
    compareWithToolkit(image, png);
}

void tst_PngDecoder::damagedIsRefused_data()
{
    QTest::addColumn<QByteArray>("png");
    const QByteArray rows = imageData(20, 10, 3, -1, 19);
    const QByteArray good = stream(20, 10, 3, zlib(rows));
    QByteArray badCrc = good;
    badCrc[badCrc.size() - 13] = char(badCrc.at(badCrc.size() - 13) ^ 1); // the data's checksum
    QTest::newRow("bad checksum") << badCrc;
    const QByteArray deflated = zlib(rows);
    QTest::newRow("truncated image data") << stream(20, 10, 3, deflated.left(deflated.size() / 2));
    QTest::newRow("more image data than rows") << stream(20, 10, 3, zlib(rows + "extra"));
    QTest::newRow("less image data than rows")
        << stream(20, 10, 3, zlib(rows.left(rows.size() - 61)));
    QByteArray badFilter = rows;
    badFilter[61] = 5; // the second row's filter byte
    QTest::newRow("filter 5") << stream(20, 10, 3, zlib(badFilter));
    QTest::newRow("2^31 pixels") << stream(65536, 32768, 3, zlib(rows));
    QTest::newRow("stream cut short") << good.left(good.size() - 20);
    QTest::newRow("no image data")
        << QByteArray("\x89PNG\r\n\x1a\n", 8) + header(20, 10, 8, 2) + chunk("IEND", QByteArray());
    QTest::newRow("header not first") << QByteArray("\x89PNG\r\n\x1a\n", 8)
            + chunk("IDAT", deflated) + header(20, 10, 8, 2) + chunk("IEND", QByteArray());
    QTest::newRow("zero width") << stream(0, 10, 3, deflated);
    QTest::newRow("not a PNG stream") << QByteArray("GIF89a and so on");
}

void tst_PngDecoder::damagedIsRefused()
{
    QFETCH(QByteArray, png);
    QImage image;
    QString error;
    QCOMPARE(PngDecoder::decode(
                 reinterpret_cast<const uchar *>(png.constData()), png.size(), &image, &error),
        PngDecoder::Result::Damaged);
    QVERIFY(image.isNull());
    QVERIFY(!error.isEmpty());
}

void tst_PngDecoder::handedOverDecodesAsToolkit_data()
{
    QTest::addColumn<QByteArray>("png");
    QImage palette(30, 20, QImage::Format_Indexed8);
    palette.setColorTable({ qRgb(255, 0, 0), qRgb(0, 128, 255), qRgb(9, 9, 9) });
    for (int y = 0; y < palette.height(); ++y)
        for (int x = 0; x < palette.width(); ++x)
            palette.setPixel(x, y, uint((x + y) % 3));
    QTest::newRow("palette") << toolkitEncode(palette);
    QImage deep(30, 20, QImage::Format_RGBA64);
    deep.fill(QColor::fromRgba64(12345, 40000, 65535, 30000));
    QTest::newRow("16 bits") << toolkitEncode(deep);
    // One pixel is the whole of Adam7's first pass: the same bytes as a progressive stream.
    QTest::newRow("interlaced") << QByteArray("\x89PNG\r\n\x1a\n", 8) + header(1, 1, 8, 2, 1)
            + chunk("IDAT", zlib(QByteArray("\0\x10\x20\x30", 4))) + chunk("IEND", QByteArray());
    QTest::newRow("grey with a transparent key") << stream(
        8, 4, 1, zlib(imageData(8, 4, 1, 0, 29)), 1, false, chunk("tRNS", QByteArray("\0\x40", 2)));
}

void tst_PngDecoder::handedOverDecodesAsToolkit()
{
    QFETCH(QByteArray, png);
    QImage image;
    QCOMPARE(decode(png, &image), PngDecoder::Result::Unsupported);
    image = ImageLoaderRunner::decodePng(
        reinterpret_cast<const uchar *>(png.constData()), png.size());
    compareWithToolkit(image, png);
}

QTEST_MAIN(tst_PngDecoder)
#include "tst_pngdecoder.moc"
