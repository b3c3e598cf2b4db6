#include "gifwriting.h"
#include "loading/imageloader.h"
#include "picture/pictureblock.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>

namespace {

QImage photoLike(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(
                x, y, qRgb(x * 5 % 256, y * 3 % 256, (x * y + int(random.bounded(24))) % 256));
    }
    return image;
}

QByteArray written(const QImage &image, const char *format, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(90);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

const uchar *bytesOf(const QByteArray &bytes)
{
    return reinterpret_cast<const uchar *>(bytes.constData());
}

// A JPEG whose frame header claims the given size, the rest of the stream unchanged.
QByteArray withFrameSize(QByteArray jpeg, quint16 width, quint16 height)
{
    for (int at = 2; at + 9 < jpeg.size();) {
        const uchar marker = uchar(jpeg.at(at + 1));
        const int length = qFromBigEndian<quint16>(bytesOf(jpeg) + at + 2);
        if (marker == 0xc0 || marker == 0xc2) {
            qToBigEndian(height, jpeg.data() + at + 5);
            qToBigEndian(width, jpeg.data() + at + 7);
            return jpeg;
        }
        at += 2 + length;
    }
    return {};
}

} // namespace

class tst_PictureBlock : public QObject {
    Q_OBJECT

private slots:
    void streamLength_data();
    void streamLength();
    void decodesLikeTheToolkit_data();
    void decodesLikeTheToolkit();
    void damagedBlocks_data();
    void damagedBlocks();
};

void tst_PictureBlock::streamLength_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("following");
    QTest::addColumn<bool>("complete");

    const QImage image = photoLike(37, 23);
    const QByteArray jpeg = written(image, "jpeg");
    const QByteArray progressive = written(image, "jpeg", true);
    const QByteArray png = written(image, "png");
    const QByteArray webp = written(image, "webp");
    const QByteArray gif = gifOf(fewColours(37, 23));
    // Whatever follows a block in a board: the next block, or a record's end offset.
    const QByteArray next = QByteArray("\xff\xd8\xff\x00\x89PNG", 8) + png;
    QTest::addRow("jpeg") << jpeg << next << true;
    QTest::addRow("progressive jpeg") << progressive << next << true;
    QTest::addRow("png") << png << next << true;
    QTest::addRow("webp") << webp << next << true;
    QTest::addRow("gif") << gif << next << true;
    QTest::addRow("jpeg alone") << jpeg << QByteArray() << true;
    QTest::addRow("jpeg cut in its image data")
        << jpeg.left(jpeg.size() - 40) << QByteArray() << false;
    QTest::addRow("jpeg cut in its headers") << jpeg.left(30) << QByteArray() << false;
    QTest::addRow("jpeg without its end marker")
        << jpeg.left(jpeg.size() - 2) << QByteArray() << false;
    QTest::addRow("webp cut short") << webp.left(webp.size() - 1) << QByteArray() << false;
    QTest::addRow("gif without its trailer") << gif.chopped(1) << QByteArray() << false;
    QTest::addRow("gif cut in its image data") << gif.left(900) << QByteArray() << false;
    QTest::addRow("no picture") << QByteArray("GIF89a-------------") << next << false;
}

void tst_PictureBlock::streamLength()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, following);
    QFETCH(bool, complete);
    const QByteArray block = stream + following;
    QCOMPARE(PictureBlock::streamLength(bytesOf(block), block.size()),
        complete ? qint64(stream.size()) : qint64(-1));
}

void tst_PictureBlock::decodesLikeTheToolkit_data()
{
    QTest::addColumn<QByteArray>("stream");
    const QImage image = photoLike(41, 29);
    QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    QTest::addRow("jpeg") << written(image, "jpeg");
    QTest::addRow("grey jpeg") << written(grey, "jpeg");
    QTest::addRow("progressive jpeg") << written(image, "jpeg", true);
    // Our own JPEG decoding must match the toolkit's at the edges of the blocks and of the
    // chroma upsampling, and go on through damaged image data as the toolkit does.
    QTest::addRow("jpeg of one pixel") << written(photoLike(1, 1), "jpeg");
    QTest::addRow("jpeg of odd size") << written(photoLike(259, 131), "jpeg");
    QByteArray garbled = written(photoLike(64, 64), "jpeg");
    garbled.replace(garbled.size() * 2 / 3, 24, QByteArray(24, 0x55));
    QTest::addRow("jpeg with garbled image data") << garbled;
    QTest::addRow("webp") << written(image, "webp");
    QTest::addRow("png") << written(image, "png");
    QTest::addRow("gif") << gifOf(fewColours(41, 29));
}

void tst_PictureBlock::decodesLikeTheToolkit()
{
    QFETCH(QByteArray, stream);
    PictureBlock::Failure failure;
    const QImage decoded = PictureBlock::decode(bytesOf(stream), stream.size(), &failure);
    QVERIFY(!decoded.isNull());
    // Exactly what the intake made of the same bytes, so that a picture kept as its file comes
    // back as it was.
    QCOMPARE(decoded, PictureFile::toDisplayFormat(QImage::fromData(stream)));
    QCOMPARE(PictureBlock::declaredSize(bytesOf(stream), stream.size()), decoded.size());
}

void tst_PictureBlock::damagedBlocks_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("failure");

    const QByteArray jpeg = written(photoLike(40, 30), "jpeg");
    const int damaged = int(PictureBlock::Failure::Damaged);
    QTest::addRow("jpeg cut short") << jpeg.left(jpeg.size() / 2) << damaged;
    QByteArray overlong = jpeg;
    overlong[4] = char(0xff);
    overlong[5] = char(0xff);
    QTest::addRow("jpeg segment longer than the block") << overlong << damaged;
    QTest::addRow("jpeg with an empty frame") << withFrameSize(jpeg, 0, 30) << damaged;
    // Far more pixels than any such short stream could describe: refused before allocating.
    QTest::addRow("jpeg claiming 65535 x 65535")
        << withFrameSize(jpeg, 65535, 65535) << int(PictureBlock::Failure::ImplausibleSize);
    // Noise does not deflate: enough stream for 24000 x 24000 pixels to be plausible, whose
    // 2.1 GB no picture may take.
    QImage noise(160, 160, QImage::Format_ARGB32);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, QRandomGenerator::global()->generate());
    }
    QByteArray bomb = written(noise, "png");
    qToBigEndian<quint32>(24000, bomb.data() + 16);
    qToBigEndian<quint32>(24000, bomb.data() + 20);
    QTest::addRow("png of 24000 x 24000") << bomb << int(PictureBlock::Failure::TooLarge);
    QByteArray webp = written(photoLike(40, 30), "webp");
    QTest::addRow("webp garbled") << webp.left(20) + QByteArray(webp.size() - 20, 'x') << damaged;
    QTest::addRow("unknown kind") << QByteArray("BM this is no board block") << damaged;
}

void tst_PictureBlock::damagedBlocks()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, failure);
    PictureBlock::Failure reason = PictureBlock::Failure::Damaged;
    QVERIFY(PictureBlock::decode(bytesOf(stream), stream.size(), &reason).isNull());
    QCOMPARE(int(reason), failure);
}

QTEST_MAIN(tst_PictureBlock)
#include "tst_pictureblock.moc"
