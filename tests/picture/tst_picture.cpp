#include "picture/picture.h"
#include "picture/picturebudget.h"
#include "picture/sourcefile.h"
#include "picturetesting.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QImage photoLike(int width, int height, bool translucent = false)
{
    QImage image(width, height, translucent ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y,
                qRgba(x * 9 % 256, y * 5 % 256, (x ^ y) * 3 % 256,
                    translucent ? (x + 2 * y) % 256 : 255));
        }
    }
    return image.convertToFormat(
        translucent ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
}

// A file with the block after some other bytes, as a board holds its pictures.
std::shared_ptr<Picture> pictureInFile(const QString &path, const QByteArray &block)
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

} // namespace

class tst_Picture : public QObject {
    Q_OBJECT

private slots:
    void decodesTheSamePixelsAgain_data();
    void decodesTheSamePixelsAgain();
    void changedFileGivesAnError_data();
    void changedFileGivesAnError();
    void budgetDropsWhatIsNotShown();
    void sharedPixelsShareOnePicture();
};

void tst_Picture::decodesTheSamePixelsAgain_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QImage>("pixels");

    const QImage opaque = photoLike(203, 97);
    QTest::addRow("PNG block of a board") << "png block" << opaque;
    QTest::addRow("translucent PNG block") << "png block" << photoLike(64, 40, true);
    QTest::addRow("JPEG block of a board") << "jpeg block" << opaque;
    QTest::addRow("original file's bytes") << "original" << opaque;
    QTest::addRow("pasted pixels") << "pixels" << opaque;
    QTest::addRow("pasted translucent pixels") << "pixels" << photoLike(61, 33, true);
    QTest::addRow("too small for an overview") << "pixels" << photoLike(7, 5);
}

// Whatever a picture's pixels came from, they are the same after leaving memory and coming back.
void tst_Picture::decodesTheSamePixelsAgain()
{
    QFETCH(QString, kind);
    QFETCH(QImage, pixels);

    QTemporaryDir dir;
    std::shared_ptr<Picture> picture;
    if (kind == "png block") {
        picture = pictureInFile(dir.filePath("board"), encoded(pixels, "png"));
    } else if (kind == "jpeg block") {
        picture = pictureInFile(dir.filePath("board"), encoded(pixels, "jpeg"));
    } else if (kind == "original") {
        const QByteArray jpeg = encoded(pixels, "jpeg");
        PictureBlock::Failure failure;
        const QImage decoded = PictureBlock::decode(
            reinterpret_cast<const uchar *>(jpeg.constData()), jpeg.size(), &failure);
        picture = Picture::fromPixels(decoded, PictureSource::fromBytes(jpeg));
    } else {
        picture = Picture::fromPixels(pixels);
    }
    QVERIFY(picture);
    QCOMPARE(picture->size(), pixels.size());

    const QImage first = picture->pixels();
    QVERIFY(!first.isNull());
    if (kind.endsWith("block")) {
        // Read from disk for each use: nothing of the file stays in memory.
        QVERIFY(!picture->hasFull());
        QVERIFY(picture->hasOverview());
        QList<QSize> sizes;
        for (const QImage &level : picture->overview())
            sizes.append(level.size());
        QList<QSize> expected = Picture::overviewSizes(pixels.size());
        // A JPEG keeps its smallest level only: reduced decodes stand in for the others.
        for (int i = 0; kind == "jpeg block" && i + 1 < expected.size(); ++i)
            expected[i] = QSize(0, 0);
        QCOMPARE(sizes, expected);
        picture->setFull(first);
    }
    if (kind != "jpeg block" && kind != "original")
        QVERIFY(sameBytes(first, pixels));

    // Pixels nothing decodes again stay until their copy and overview are made.
    QTRY_VERIFY(picture->dropFull() || !picture->hasFull());
    QVERIFY(!picture->hasFull());
    QString error;
    const QImage again = picture->pixels(&error);
    QVERIFY2(sameBytes(again, first), qPrintable(error));
}

void tst_Picture::changedFileGivesAnError_data()
{
    QTest::addColumn<int>("change");
    QTest::addRow("a byte of the block changed") << 0;
    QTest::addRow("file cut short") << 1;
    QTest::addRow("file removed") << 2;
}

// A board changed behind the program's back never hands out another picture's pixels.
void tst_Picture::changedFileGivesAnError()
{
    QFETCH(int, change);
    QTemporaryDir dir;
    const QString path = dir.filePath("board");
    const std::shared_ptr<Picture> picture = pictureInFile(path, encoded(photoLike(40, 30), "png"));
    QVERIFY(picture);
    QVERIFY(!picture->pixels().isNull());

    QFile file(path);
    if (change == 0) {
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.seek(60);
        file.write("z");
        file.close();
    } else if (change == 1) {
        QVERIFY(file.resize(50));
    } else {
        QVERIFY(file.remove());
    }
    QString error;
    QVERIFY(picture->pixels(&error).isNull());
    QVERIFY(!error.isEmpty());
}

void tst_Picture::budgetDropsWhatIsNotShown()
{
    const QByteArray png = encoded(photoLike(100, 100), "png");
    PictureBlock::Failure failure;
    QList<std::shared_ptr<Picture>> pictures;
    for (int i = 0; i < 4; ++i) {
        QImage pixels = PictureBlock::decode(
            reinterpret_cast<const uchar *>(png.constData()), png.size(), &failure);
        pixels.detach();
        auto picture = Picture::fromPixels(pixels, PictureSource::fromBytes(png));
        picture->makeOverview();
        pictures.append(picture);
    }
    // Shown in the order 2, 0, 3, 1: 2 was shown longest ago.
    for (int i : { 2, 0, 3, 1 })
        pictures.at(i)->touch();

    // Room for two full pictures; 2 is on screen, so 0 and 3 go.
    const qint64 full = pictures.first()->fullBytes();
    BudgetLimit limit(PictureBudget::instance().chargedBytes() - 2 * full);
    const Picture *onScreen = pictures.at(2).get();
    PictureBudget::instance().trim([onScreen](const void *key) { return key == onScreen; });
    QList<bool> held;
    for (const auto &picture : qAsConst(pictures))
        held.append(picture->hasFull());
    QCOMPARE(held, (QList<bool> { false, true, true, false }));
}

void tst_Picture::sharedPixelsShareOnePicture()
{
    const QImage pixels = photoLike(20, 10);
    const auto one = Picture::fromPixels(pixels);
    QCOMPARE(Picture::fromPixels(pixels), one);
    QImage copy = pixels.copy();
    QVERIFY(Picture::fromPixels(copy) != one);
}

QTEST_MAIN(tst_Picture)
#include "tst_picture.moc"
