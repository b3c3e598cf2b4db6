#include "../persistence/boardbytes.h"
#include "export/boardthumbnail.h"
#include "jobs/loadjob.h"
#include "persistence/savefileloader.h"
#include "platform/processguard.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

// A picture of one colour, or of two halves, placed as the scene places a new one: centred on
// its item's origin.
ItemRecord picture(
    int id, const QTransform &transform, QColor left, QColor right = QColor(), int side = 100)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(left);
    if (right.isValid()) {
        for (int y = 0; y < side; ++y)
            for (int x = side / 2; x < side; ++x)
                image.setPixelColor(x, y, right);
    }
    ItemRecord record;
    record.id = id;
    record.pixelsOwnerId = id;
    record.name = QStringLiteral("picture %1").arg(id);
    record.transform = transform;
    record.image = image;
    QPainterPath crop;
    const qreal half = side / 2.0;
    crop.addRect(-half, -half, side, side);
    record.cropPath = crop;
    record.imageTransform = QTransform::fromTranslate(-half, -half);
    return record;
}

ItemRecord at(int id, qreal x, qreal y, QColor colour)
{
    return picture(id, QTransform::fromTranslate(x, y), colour);
}

bool save(const QString &path, const QList<ItemRecord> &items, bool embed)
{
    SaveFileLoader loader;
    loader.setEmbedLocalFiles(embed);
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate))
        return false;
    SaveFileLoader::SceneState state;
    state.items = items;
    state.nextItemId = 10;
    state.sceneRect = QRectF(-1000, -1000, 2000, 2000);
    LoadJob job(&loader);
    QString message = QStringLiteral("unfinished");
    QObject::connect(
        &job, &LoadJob::finished, &job, [&message](const QString &text) { message = text; });
    loader.save(&file, QString(), state, &job);
    return message.isEmpty();
}

bool near(QRgb pixel, QColor expected)
{
    return qAbs(qRed(pixel) - expected.red()) < 12 && qAbs(qGreen(pixel) - expected.green()) < 12
        && qAbs(qBlue(pixel) - expected.blue()) < 12;
}

const QColor Canvas(32, 32, 32);

} // namespace

class tst_Thumbnailer : public QObject {
    Q_OBJECT

private slots:
    void sampleBoard_data();
    void sampleBoard();
    void composition_data();
    void composition();
    void damagedBoards_data();
    void damagedBoards();

private:
    QTemporaryDir m_dir;
};

void tst_Thumbnailer::sampleBoard_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("asAddress");

    QTest::addRow("128, from a path") << 128 << false;
    QTest::addRow("256, from a file address") << 256 << true;
}

// As a file manager runs it, on the board the build writes.
void tst_Thumbnailer::sampleBoard()
{
    QFETCH(int, size);
    QFETCH(bool, asAddress);

    const QString board = QStringLiteral(VELKORA_SAMPLE_BOARD);
    const QString output = m_dir.filePath(QStringLiteral("sample-%1.png").arg(size));
    const QString input = asAddress ? QUrl::fromLocalFile(board).toString() : board;
    QProcess process;
    process.start(QStringLiteral(VELKORA_THUMBNAILER),
        { QStringLiteral("-s"), QString::number(size), input, output });
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);

    const QImage thumbnail(output);
    QVERIFY(!thumbnail.isNull());
    QCOMPARE(std::max(thumbnail.width(), thumbnail.height()), size);
    QSet<QRgb> colours;
    for (int y = 0; y < thumbnail.height(); y += 4)
        for (int x = 0; x < thumbnail.width(); x += 4)
            colours.insert(thumbnail.pixel(x, y));
    QVERIFY2(colours.size() > 16, qPrintable(QString::number(colours.size())));
}

void tst_Thumbnailer::composition_data()
{
    QTest::addColumn<QList<ItemRecord>>("items");
    // A blue picture linked from this folder path instead of embedded: the last item's source.
    QTest::addColumn<QString>("linked");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("red");
    QTest::addColumn<QPoint>("blue");
    QTest::addColumn<QPoint>("canvas");

    const QColor red(Qt::red);
    const QColor blue(Qt::blue);
    // Scene x -50 to 350 and y -50 to 50 in 200 x 50 pixels: half a pixel a unit.
    QTest::addRow("two pictures apart")
        << QList<ItemRecord> { at(0, 0, 0, red), at(1, 300, 0, blue) } << QString()
        << QSize(200, 50) << QPoint(25, 25) << QPoint(175, 25) << QPoint(100, 25);
    ItemRecord under = at(1, 50, 0, blue);
    under.z = -1;
    ItemRecord over = at(0, 0, 0, red);
    over.z = 1;
    // Written in the order that would put the blue one on top, were depth ignored.
    QTest::addRow("the deeper picture under the other")
        << QList<ItemRecord> { over, under } << QString() << QSize(150, 100) << QPoint(75, 50)
        << QPoint(140, 50) << QPoint(-1, -1);
    ItemRecord cropped = picture(0, QTransform(), red, blue);
    QPainterPath left;
    left.addRect(-50, -50, 50, 100);
    cropped.cropPath = left;
    // The picture below widens the board to where the cropped half would show.
    QTest::addRow("a crop hides the rest of its picture")
        << QList<ItemRecord> { cropped, at(1, 0, 200, Qt::red) } << QString() << QSize(100, 300)
        << QPoint(25, 50) << QPoint(-1, -1) << QPoint(75, 50);
    ItemRecord turned = picture(0, QTransform().rotate(180), red, blue);
    QTest::addRow("a turned picture")
        << QList<ItemRecord> { turned } << QString() << QSize(100, 100) << QPoint(75, 50)
        << QPoint(25, 50) << QPoint(-1, -1);
    ItemRecord parent = picture(0, QTransform::fromScale(2, 2), red);
    ItemRecord child = picture(1, QTransform::fromTranslate(30, 0).scale(0.1, 0.1), blue);
    parent.children.append(child);
    QTest::addRow("an attached picture follows its parent's scale")
        << QList<ItemRecord> { parent } << QString() << QSize(200, 200) << QPoint(40, 100)
        << QPoint(160, 100) << QPoint(-1, -1);
    ItemRecord copy = at(1, 300, 0, red);
    copy.pixelsOwnerId = 0;
    copy.image = QImage();
    QTest::addRow("a picture sharing another's pixels")
        << QList<ItemRecord> { at(0, 0, 0, red), copy } << QString() << QSize(200, 50)
        << QPoint(175, 25) << QPoint(-1, -1) << QPoint(100, 25);
    // 25 million pixels: more than a thumbnail decodes of one picture.
    const ItemRecord huge = picture(0, QTransform(), red, QColor(), 5000);
    QTest::addRow("beside a picture too large, the largest other alone")
        << QList<ItemRecord> { huge, at(1, 3000, 0, blue), picture(2, {}, red, {}, 10) }
        << QString() << QSize(100, 100) << QPoint(-1, -1) << QPoint(50, 50) << QPoint(-1, -1);
    QTest::addRow("a linked picture in the board's folder")
        << QList<ItemRecord> { at(0, 0, 0, red), at(1, 300, 0, blue) } << "blue.png"
        << QSize(200, 50) << QPoint(25, 25) << QPoint(175, 25) << QPoint(100, 25);
    QTest::addRow("a linked picture in another folder is left out")
        << QList<ItemRecord> { at(0, 0, 0, red), at(1, 300, 0, blue) } << "elsewhere/blue.png"
        << QSize(200, 50) << QPoint(25, 25) << QPoint(-1, -1) << QPoint(175, 25);
}

// The thumbnail shows the board as the window does zoomed to fit.
void tst_Thumbnailer::composition()
{
    QFETCH(QList<ItemRecord>, items);
    QFETCH(QString, linked);
    QFETCH(QSize, size);
    QFETCH(QPoint, red);
    QFETCH(QPoint, blue);
    QFETCH(QPoint, canvas);

    QTemporaryDir dir;
    if (!linked.isEmpty()) {
        const QString path = dir.filePath(linked);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QVERIFY(items.constLast().image.save(path));
        items.last().source = path;
    }
    const QString path = dir.filePath(QStringLiteral("board.vlk"));
    QVERIFY(save(path, items, linked.isEmpty()));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString error;
    const QImage thumbnail
        = BoardThumbnail(&file, dir.path()).render(std::max(size.width(), size.height()), &error);
    QVERIFY2(!thumbnail.isNull(), qPrintable(error));
    QCOMPARE(thumbnail.size(), size);
    const auto check = [&thumbnail](QPoint point, QColor colour) {
        return point.x() < 0 || near(thumbnail.pixel(point), colour);
    };
    QVERIFY(check(red, Qt::red));
    QVERIFY(check(blue, Qt::blue));
    QVERIFY(check(canvas, Canvas));
    dir.setAutoRemove(!QTest::currentTestFailed());
}

void tst_Thumbnailer::damagedBoards_data()
{
    QTest::addColumn<QByteArray>("board");

    const QByteArray sample = readAll(QStringLiteral(VELKORA_SAMPLE_BOARD));
    const Header header = headerOf(sample);
    const QList<IndexEntry> index = indexOf(sample);
    QVERIFY(index.size() >= 2);
    const IndexEntry first = index.constFirst();

    QTest::addRow("empty file") << QByteArray();
    QTest::addRow("cut in the header") << sample.left(14);
    QTest::addRow("cut in the first picture") << sample.left(int(first.start) + 40);
    QTest::addRow("cut in the item records") << sample.left(int(index.constLast().end) + 20);
    QTest::addRow("cut in the index") << sample.left(int(header.indexOffset) + 30);
    QTest::addRow("last byte missing") << sample.left(sample.size() - 1);
    QByteArray bytes = sample;
    put<quint32>(bytes, first.start + 16, 50000);
    put<quint32>(bytes, first.start + 20, 50000);
    QTest::addRow("a picture claims 50000 x 50000") << bytes;
    bytes = sample;
    put<quint32>(bytes, first.start + 16, 0x7fffffff);
    QTest::addRow("a picture claims the widest size") << bytes;
    bytes = sample;
    put<qint64>(bytes, header.indexOffset + 12, first.start - 1);
    QTest::addRow("index entry ends before it starts") << bytes;
    bytes = sample;
    put<qint64>(bytes, 16, sample.size() + 100);
    QTest::addRow("index past the end") << bytes;
    bytes = sample;
    // Inside the deflate stream of the first picture, behind the signature and header chunk.
    put<quint32>(bytes, first.start + 33 + 10, 0xdeadbeef);
    QTest::addRow("damaged picture data") << bytes;
    bytes = sample;
    put<qint64>(bytes, index.constLast().end, 0x7fffffffffffffff);
    QTest::addRow("record ends past the file") << bytes;
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(Qt::green);
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    image.save(&png, "png");
    QTest::addRow("a PNG named like a board") << png.data();
}

// File managers run the thumbnailer on whatever is downloaded: each damaged board ends it with
// an error, never a crash, well within its time and memory, and leaves no thumbnail behind.
void tst_Thumbnailer::damagedBoards()
{
    QFETCH(QByteArray, board);

    const QString input = m_dir.filePath(QStringLiteral("damaged.vlk"));
    const QString output = m_dir.filePath(QStringLiteral("damaged.png"));
    writeAll(input, board);
    QFile::remove(output);
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(
        QStringLiteral(VELKORA_THUMBNAILER), { QStringLiteral("-s"), "256", input, output });
    QVERIFY(process.waitForFinished(30000));
    QVERIFY(clock.elapsed() < 8000);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(!QFile::exists(output));
    // A sanitized build's thumbnailer has no memory limit, and its shadow memory alone is
    // resident beyond this bound.
    if (ProcessGuard::limitsMemory())
        QVERIFY(ProcessGuard::peakChildResidentBytes() < (quint64(256) << 20));
}

QTEST_GUILESS_MAIN(tst_Thumbnailer)

#include "tst_thumbnailer.moc"
