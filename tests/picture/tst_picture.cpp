#include "picture/jpegdecoder.h"
#include "picture/picture.h"
#include "picture/picturebudget.h"
#include "picture/sourcefile.h"
#include "picturetesting.h"

#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

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

// Smooth shading: reductions made by different means come out alike.
QImage shaded(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                qRgb(x * 255 / width, y * 255 / height, 128 + int(100 * std::sin((x + y) * 0.05))));
    }
    return image;
}

// The picture of pixels as the program holds it when they came from kind: a board's block, the
// bytes of the file they were opened from (with the decoded pixels in memory) or a paste.
std::shared_ptr<Picture> pictureOf(const QString &kind, const QImage &pixels, const QString &board)
{
    if (kind == "png block")
        return pictureInFile(board, encoded(pixels, "png"));
    if (kind == "jpeg block")
        return pictureInFile(board, encoded(pixels, "jpeg"));
    if (kind == "grey jpeg block")
        return pictureInFile(
            board, encoded(pixels.convertToFormat(QImage::Format_Grayscale8), "jpeg"));
    if (kind == "cmyk jpeg block")
        return pictureInFile(board, encoded(pixels, Layout::Cmyk));
    if (kind == "original") {
        const QByteArray jpeg = encoded(pixels, "jpeg");
        PictureBlock::Failure failure;
        const QImage decoded = PictureBlock::decode(
            reinterpret_cast<const uchar *>(jpeg.constData()), jpeg.size(), &failure);
        return Picture::fromPixels(decoded, PictureSource::fromBytes(jpeg));
    }
    return Picture::fromPixels(pixels);
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
    void reducedDetail_data();
    void reducedDetail();
    void regionOfTheFullPixels_data();
    void regionOfTheFullPixels();
    void detailForZoom_data();
    void detailForZoom();
    void storedOverviewServesItsBlockOnly_data();
    void storedOverviewServesItsBlockOnly();
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
    const std::shared_ptr<Picture> picture = pictureOf(kind, pixels, dir.filePath("board"));
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
    QTest::addColumn<bool>("readable");
    QTest::addRow("a byte of the block changed") << 0 << false;
    QTest::addRow("file cut short") << 1 << false;
    // Whatever happens to the name, the file the picture came from is still there to read.
    QTest::addRow("file removed") << 2 << true;
    QTest::addRow("file renamed") << 3 << true;
    QTest::addRow("another file put in its place") << 4 << true;
}

// A board changed behind the program's back never hands out another picture's pixels; one moved,
// deleted or replaced under its name still gives its own.
void tst_Picture::changedFileGivesAnError()
{
    QFETCH(int, change);
    QFETCH(bool, readable);
    QTemporaryDir dir;
    const QString path = dir.filePath("board");
    const std::shared_ptr<Picture> picture = pictureInFile(path, encoded(photoLike(40, 30), "png"));
    QVERIFY(picture);
    const QImage first = picture->pixels();
    QVERIFY(!first.isNull());

    QFile file(path);
    if (change == 0) {
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.seek(60);
        file.write("z");
        file.close();
    } else if (change == 1) {
        QVERIFY(file.resize(50));
    } else if (change == 3) {
        QVERIFY(file.rename(dir.filePath("moved")));
    } else {
        QVERIFY(file.remove());
        if (change == 4)
            QVERIFY(pictureInFile(path, encoded(photoLike(30, 40), "png")));
    }
    QString error;
    const QImage again = picture->pixels(&error);
    if (readable) {
        QVERIFY2(sameBytes(again, first), qPrintable(error));
    } else {
        QVERIFY(again.isNull());
        QVERIFY(!error.isEmpty());
    }
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

    // Pixels the budget wants gone before their overview is made go once it is, though nothing
    // asks again: the last picture of a large drop is not asked twice.
    QImage pixels = photoLike(120, 80);
    const auto fresh
        = Picture::fromPixels(pixels, PictureSource::fromBytes(encoded(pixels, "png")));
    QVERIFY(!fresh->hasOverview());
    BudgetLimit nothing(0);
    PictureBudget::instance().trim([onScreen](const void *key) { return key == onScreen; });
    QTRY_VERIFY(!fresh->hasFull());
    QVERIFY(fresh->hasOverview());
}

void tst_Picture::sharedPixelsShareOnePicture()
{
    const QImage pixels = photoLike(20, 10);
    const auto one = Picture::fromPixels(pixels);
    QCOMPARE(Picture::fromPixels(pixels), one);
    QImage copy = pixels.copy();
    QVERIFY(Picture::fromPixels(copy) != one);
}

void tst_Picture::reducedDetail_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("eighths");
    QTest::addColumn<bool>("reduces");

    const char *const reducing[] = { "jpeg block", "grey jpeg block", "original" };
    for (int eighths : { 1, 2, 4, 7 }) {
        for (const char *kind : reducing)
            QTest::addRow("%s, %d/8", kind, eighths) << kind << eighths << true;
        // Their decoders have no reduced decoding: the full pixels come instead.
        QTest::addRow("png block, %d/8", eighths) << "png block" << eighths << false;
        QTest::addRow("cmyk jpeg block, %d/8", eighths) << "cmyk jpeg block" << eighths << false;
    }
}

void tst_Picture::reducedDetail()
{
    QFETCH(QString, kind);
    QFETCH(int, eighths);
    QFETCH(bool, reduces);

    QTemporaryDir dir;
    const std::shared_ptr<Picture> picture
        = pictureOf(kind, shaded(203, 97), dir.filePath("board"));
    QVERIFY(picture);
    picture->makeOverview();
    picture->dropFull();
    QVERIFY(!picture->hasFull());

    int got = 0;
    QString error;
    const QImage detail = picture->decodeDetail(eighths, &got, &error);
    QVERIFY2(!detail.isNull(), qPrintable(error));
    QCOMPARE(got, reduces ? eighths : 8);
    QCOMPARE(detail.size(), JpegDecoder::scaledSize(picture->size(), got));
    // The whole picture at that scale, not a part of it nor another scale. The last row and
    // column of a reduced decode stand for what is left of the picture there, less than a whole
    // pixel: they are left out.
    const QImage full = picture->pixels();
    QImage scaled(detail.size(), QImage::Format_RGB32);
    QPainter painter(&scaled);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.scale(got / 8.0, got / 8.0);
    painter.drawImage(0, 0, full);
    painter.end();
    const QRect inside(0, 0, detail.width() - 1, detail.height() - 1);
    const double difference = meanDifference(
        detail.convertToFormat(QImage::Format_RGB32).copy(inside), scaled.copy(inside));
    QVERIFY2(difference < 3, qPrintable(QString::number(difference)));
    if (!reduces) {
        picture->setDetail(detail, got);
        QVERIFY(picture->hasFull());
        return;
    }

    PictureBudget &budget = PictureBudget::instance();
    // Pixels of one scale never pass for another's.
    picture->setDetail(detail, eighths + 1);
    QVERIFY(!picture->hasDetail(eighths));
    picture->setDetail(detail, eighths);
    QVERIFY(picture->hasDetail(eighths));
    QVERIFY(!picture->hasDetail(eighths + 1));
    QVERIFY(budget.contains(picture->detailKey()));
    if (eighths > 1) {
        // Less than is held changes nothing.
        picture->setDetail(picture->decodeDetail(eighths - 1, &got), eighths - 1);
        int held = 0;
        QCOMPARE(picture->detail(&held).size(), detail.size());
        QCOMPARE(held, eighths);
    }
    picture->dropDetail();
    QVERIFY(!picture->hasDetail(1));
    QVERIFY(!budget.contains(picture->detailKey()));

    // The full pixels serve every scale: the detail goes when they come.
    picture->setDetail(detail, eighths);
    picture->setFull(full);
    QVERIFY(picture->hasDetail(1));
    int held = -1;
    QVERIFY(picture->detail(&held).isNull());
    QCOMPARE(held, 0);
    QVERIFY(!budget.contains(picture->detailKey()));
}

void tst_Picture::regionOfTheFullPixels_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("asked");
    QTest::addColumn<QRect>("expected");

    const QRect inside(37, 21, 90, 40);
    for (const char *kind : { "jpeg block", "grey jpeg block", "original" })
        QTest::addRow("%s", kind) << kind << inside << inside;
    QTest::addRow("clipped to the picture")
        << "jpeg block" << QRect(150, -10, 100, 50) << QRect(150, 0, 53, 40);
    // Their decoders decode the whole or nothing: the full pixels come instead.
    const QRect whole(0, 0, 203, 97);
    QTest::addRow("png block") << "png block" << inside << whole;
    QTest::addRow("cmyk jpeg block") << "cmyk jpeg block" << inside << whole;
}

void tst_Picture::regionOfTheFullPixels()
{
    QFETCH(QString, kind);
    QFETCH(QRect, asked);
    QFETCH(QRect, expected);

    QTemporaryDir dir;
    const std::shared_ptr<Picture> picture
        = pictureOf(kind, photoLike(203, 97), dir.filePath("board"));
    QVERIFY(picture);
    picture->makeOverview();
    picture->dropFull();
    const QImage full = picture->pixels();

    QRect got;
    QString error;
    const QImage region = picture->decodeRegion(asked, &got, &error);
    QVERIFY2(!region.isNull(), qPrintable(error));
    QCOMPARE(got, expected);
    QVERIFY(sameBytes(region, full.copy(got)));

    picture->setRegion(region, got);
    QCOMPARE(picture->hasFull(), got == full.rect());
    QVERIFY(picture->hasRegion(got.adjusted(1, 1, -1, -1)));
    if (picture->hasFull())
        return;
    PictureBudget &budget = PictureBudget::instance();
    QVERIFY(budget.contains(picture->regionKey()));
    QVERIFY(!picture->hasRegion(got.adjusted(-1, 0, 0, 0) | QRect(0, 0, 1, 1)));
    // Pixels that are not the rectangle's size are no region of it.
    picture->dropRegion();
    QVERIFY(!budget.contains(picture->regionKey()));
    picture->setRegion(region, got.adjusted(0, 0, 1, 0));
    QVERIFY(!picture->hasRegion(got));
    // The full pixels serve every part: the region goes when they come.
    picture->setRegion(region, got);
    picture->setFull(full);
    QRect held;
    QVERIFY(picture->region(&held).isNull());
    QVERIFY(!budget.contains(picture->regionKey()));
    QVERIFY(picture->hasRegion(got));
}

void tst_Picture::detailForZoom_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<qreal>("levelOfDetail");
    QTest::addColumn<int>("expected");

    const QList<QPair<qreal, int>> jpeg = { { 0.1, 1 }, { 0.125, 1 }, { 0.13, 2 }, { 0.5, 4 },
        { 0.51, 5 }, { 1.0, 8 }, { 3.0, 8 } };
    for (const auto &entry : jpeg)
        QTest::addRow("jpeg block at %g", entry.first)
            << "jpeg block" << entry.first << entry.second;
    QTest::addRow("original at 0.3") << "original" << 0.3 << 3;
    QTest::addRow("png block at 0.1") << "png block" << 0.1 << 8;
    QTest::addRow("pasted pixels at 0.5") << "pixels" << 0.5 << 8;
}

// The smallest reduced decode that is never stretched on the screen.
void tst_Picture::detailForZoom()
{
    QFETCH(QString, kind);
    QFETCH(qreal, levelOfDetail);
    QFETCH(int, expected);

    QTemporaryDir dir;
    const std::shared_ptr<Picture> picture = pictureOf(kind, shaded(80, 60), dir.filePath("board"));
    QVERIFY(picture);
    QCOMPARE(picture->detailEighthsFor(levelOfDetail), expected);
}

void tst_Picture::storedOverviewServesItsBlockOnly_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("used");

    QTest::addRow("JPEG block, its own overview") << "jpeg"
                                                  << "matching" << true;
    QTest::addRow("JPEG block, another block's checksum") << "jpeg"
                                                          << "other checksum" << false;
    QTest::addRow("JPEG block, overview of another size") << "jpeg"
                                                          << "other size" << false;
    QTest::addRow("JPEG block, overview cut short") << "jpeg"
                                                    << "cut" << false;
    QTest::addRow("PNG block, its own overview") << "png"
                                                 << "matching" << true;
    QTest::addRow("PNG block, another block's checksum") << "png"
                                                         << "other checksum" << false;
}

// A board keeps each picture's smallest level so that opening it decodes nothing; a level that
// was not made from the very block at hand (the board was changed or damaged) must not stand
// for it.
void tst_Picture::storedOverviewServesItsBlockOnly()
{
    QFETCH(QString, kind);
    QFETCH(QString, stored);
    QFETCH(bool, used);

    const QImage pixels = photoLike(320, 200);
    const QByteArray block = kind == "jpeg" ? encoded(pixels, "jpeg") : encoded(pixels, "png");
    const auto *data = reinterpret_cast<const uchar *>(block.constData());
    const QSize levelSize = Picture::overviewSizes(pixels.size()).constLast();
    // Nothing like the picture, so that it shows which one was taken.
    QImage marker(
        stored == "other size" ? levelSize + QSize(1, 0) : levelSize, QImage::Format_RGB32);
    marker.fill(QColor(250, 10, 10));
    QByteArray overview = encoded(marker, "jpeg");
    if (stored == "cut")
        overview.chop(overview.size() / 2);
    quint32 checksum = PictureSource::checksumOf(data, block.size());
    if (stored == "other checksum")
        checksum ^= 1u;

    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("board")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(block) == block.size());
    file.close();
    PictureBlock::Failure failure;
    const std::shared_ptr<Picture> picture = Picture::fromBlock(
        data, block.size(), SourceFile::forPath(file.fileName()), 0, &failure, overview, checksum);
    QVERIFY(picture);
    const QImage level = picture->overview().constLast();
    QCOMPARE(level.size(), levelSize);
    QCOMPARE(qRed(level.pixel(levelSize.width() / 2, levelSize.height() / 2)) > 200
            && qGreen(level.pixel(levelSize.width() / 2, levelSize.height() / 2)) < 60,
        used);
    // What the board keeps next time is what serves now, or a level made from the block.
    const QByteArray kept = picture->storedOverview();
    QCOMPARE(kept == overview, used);
    QImage keptLevel;
    QVERIFY(keptLevel.loadFromData(kept, "jpeg"));
    QCOMPARE(keptLevel.size(), levelSize);
    // Known by its overview, the picture still decodes its block.
    QVERIFY(sameBytes(picture->pixels(), PictureBlock::decode(data, block.size(), &failure)));
}

QTEST_MAIN(tst_Picture)
#include "tst_picture.moc"
