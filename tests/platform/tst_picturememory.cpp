#include "picture/pictureblock.h"
#include "platform/picturememory.h"

#include <QBuffer>
#include <QImageWriter>
#include <QTest>
#include <QtConcurrent>

#include <cstring>
#include <functional>

namespace {

// A progressive JPEG whose coefficients alone fill several mebibytes, so that libjpeg asks for
// them as large objects.
QByteArray progressiveJpeg()
{
    QImage image(1500, 1000, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = qRgb(x * 7 % 256, y * 5 % 256, (x ^ y) % 256);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.write(image);
    return bytes;
}

} // namespace

class tst_PictureMemory : public QObject {
    Q_OBJECT

private slots:
    void blocksInUseAreNeverShared();
    void refusesBlocksNoMemoryHolds();
};

// Pictures, working buffers and libjpeg's objects are freed and taken again on every core at
// once; a block handed out twice, or given back with the wrong length, spoils another picture.
void tst_PictureMemory::blocksInUseAreNeverShared()
{
    const QByteArray jpeg = progressiveJpeg();
    const auto *jpegBytes = reinterpret_cast<const uchar *>(jpeg.constData());
    PictureBlock::Failure failure;
    const QImage expected = PictureBlock::decode(jpegBytes, jpeg.size(), &failure);
    QVERIFY(!expected.isNull());

    QList<int> tasks;
    for (int task = 0; task < 48; ++task)
        tasks.append(task);
    const std::function<int(int)> work = [&](int task) {
        int wrong = 0;
        for (int round = 0; round < 4; ++round) {
            // Sizes within an eighth of each other, so that blocks pass between them.
            const int side = 600 + (task * 37 + round * 11) % 80;
            QImage picture = PictureMemory::newImage(side, side, QImage::Format_RGB32);
            PictureMemory::Buffer buffer = PictureMemory::newBuffer(size_t(side) * side * 2);
            if (picture.isNull() || !buffer)
                return 1;
            const auto mark = uchar(task * 5 + round);
            std::memset(picture.bits(), mark, size_t(picture.sizeInBytes()));
            std::memset(buffer.get(), mark ^ 0xff, size_t(side) * side * 2);
            if (task % 6 == 0)
                wrong += PictureBlock::decode(jpegBytes, jpeg.size(), &failure) != expected;
            const uchar *pixels = picture.constBits();
            for (qsizetype at = 0; at < picture.sizeInBytes(); at += 4093)
                wrong += pixels[at] != mark;
            for (size_t at = 0; at < size_t(side) * side * 2; at += 4093)
                wrong += buffer[at] != uchar(mark ^ 0xff);
        }
        return wrong;
    };
    const QList<int> faults = QtConcurrent::blockingMapped(tasks, work);
    for (int wrong : faults)
        QCOMPARE(wrong, 0);
}

// A hostile file may claim any size: the block must fail when it is asked for, as the heap's
// would, not when its pages are touched and the system runs out of memory.
void tst_PictureMemory::refusesBlocksNoMemoryHolds()
{
    QVERIFY(!PictureMemory::newBuffer(size_t(1) << 42));
}

QTEST_GUILESS_MAIN(tst_PictureMemory)
#include "tst_picturememory.moc"
