#include "beeboards.h"
#include "jobs/loadjob.h"
#include "persistence/beeboardreader.h"
#include "persistence/savefileloader.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicstextitem.h"
#include "scene/itembuilder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtMath>

#include <cmath>
#include <memory>

using BeeBoards::Item;
Q_DECLARE_METATYPE(BeeBoards::Item)
Q_DECLARE_METATYPE(LoadLosses::Reason)

namespace {

// Every pixel of the test picture has a colour of its own, so a pixel found in the wrong place
// shows.
QColor colourAt(int x, int y)
{
    return QColor(x * 6, y * 12, 200 - x);
}

QImage testPicture()
{
    QImage image(40, 20, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, colourAt(x, y));
    return image;
}

QByteArray encoded(const QImage &image, const char *format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// Where the stored item puts a point p of its own coordinates: flip, scale, rotate about the
// origin (x towards y for positive degrees), then move by (x, y). Written out, not composed from
// transforms, so that it checks the reader's composition.
QPointF stored(const Item &item, const QPointF &p)
{
    const double a = qDegreesToRadians(item.rotation);
    const double u = item.flip * p.x() * item.scale;
    const double v = p.y() * item.scale;
    return { item.x + u * std::cos(a) - v * std::sin(a),
        item.y + u * std::sin(a) + v * std::cos(a) };
}

QList<QPointF> corners(const QRectF &rect)
{
    return { rect.topLeft(), rect.topRight(), rect.bottomRight(), rect.bottomLeft() };
}

bool near(const QPointF &a, const QPointF &b)
{
    return std::abs(a.x() - b.x()) < 1e-6 && std::abs(a.y() - b.y()) < 1e-6;
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

Item picture(const QString &name, double z = 0)
{
    Item item;
    item.z = z;
    item.data = json({ { "filename", QStringLiteral("/pictures/%1.png").arg(name) } });
    item.blob = encoded(testPicture(), "png");
    return item;
}

Item note(const QString &text, double z = 0)
{
    Item item;
    item.type = QStringLiteral("text");
    item.z = z;
    item.data = json({ { "text", text } });
    return item;
}

// What one load reported.
struct Loaded {
    QList<ItemRecord> records;
    LoadLosses losses;
    QString message;
    int finished = 0;
};

Loaded load(const QString &path)
{
    Loaded loaded;
    SaveFileLoader loader;
    LoadJob job(&loader);
    QObject::connect(&loader, &BaseLoader::itemGenerated, &loader,
        [&loaded](const ItemRecord &record) { loaded.records.append(record); });
    QObject::connect(&loader, &SaveFileLoader::itemsNotRead, &loader,
        [&loaded](const LoadLosses &losses) { loaded.losses = losses; });
    QObject::connect(&loader, &BaseLoader::finished, &loader, [&loaded](const QString &message) {
        loaded.message = message;
        ++loaded.finished;
    });
    loader.loadFrom(path, &job, SaveFileLoader::StopWhenDamaged);
    return loaded;
}

QString nameOf(const ItemRecord &record)
{
    return record.type == ItemRecord::Type::Note ? record.text : record.name;
}

} // namespace

class tst_BeeBoardReader : public QObject {
    Q_OBJECT

private slots:
    void init();
    void placesItems_data();
    void placesItems();
    void reportsLosses_data();
    void reportsLosses();
    void refusesWhatIsNoBoard_data();
    void refusesWhatIsNoBoard();

private:
    QString board() const { return m_dir->filePath(QStringLiteral("board.bee")); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_BeeBoardReader::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_BeeBoardReader::placesItems_data()
{
    QTest::addColumn<Item>("item");
    QTest::addColumn<int>("version");
    // The picture's stored values: crop (null for none), opacity, grey.
    QTest::addColumn<QRectF>("crop");
    QTest::addColumn<double>("opacity");
    QTest::addColumn<bool>("grey");

    const auto turned = [](Item item, double x, double y, double scale, double rotation, int flip) {
        item.x = x;
        item.y = y;
        item.scale = scale;
        item.rotation = rotation;
        item.flip = flip;
        return item;
    };
    const Item plain = picture(QStringLiteral("plain"));
    const auto withData = [](Item item, const QJsonObject &data) {
        item.data = json(data);
        return item;
    };
    QJsonObject grey { { "filename", "/pictures/grey.png" }, { "opacity", 0.25 },
        { "grayscale", true } };
    QJsonObject cropped { { "filename", "/pictures/cropped.png" },
        { "crop", QJsonArray { 10, 5, 20, 10 } } };
    QJsonObject pastTheEdge { { "filename", "/pictures/edge.png" },
        { "crop", QJsonArray { 30, 10, 40, 40 } } };

    QTest::addRow("picture as stored")
        << turned(plain, 100, 50, 1, 0, 1) << 2 << QRectF() << 1.0 << false;
    Item first = turned(plain, -30, 12.5, 1.5, 0, 1);
    first.data = "/pictures/old.png";
    QTest::addRow("version 1") << first << 1 << QRectF() << 1.0 << false;
    QTest::addRow("flip with rotation 90")
        << turned(plain, 10, 20, 1, 90, -1) << 2 << QRectF() << 1.0 << false;
    QTest::addRow("flip with rotation 30, scale 2")
        << turned(plain, -5, 7, 2, 30, -1) << 2 << QRectF() << 1.0 << false;
    QTest::addRow("crop with scale") << turned(withData(plain, cropped), 3, 4, 3, 0, 1) << 2
                                     << QRectF(10, 5, 20, 10) << 1.0 << false;
    QTest::addRow("crop past the edge, flipped, turned back, halved")
        << turned(withData(plain, pastTheEdge), 0, 0, 0.5, -45, -1) << 2 << QRectF(30, 10, 10, 10)
        << 1.0 << false;
    QTest::addRow("opacity and grey")
        << turned(withData(plain, grey), 1, 2, 1, 0, 1) << 2 << QRectF() << 0.25 << true;
    Item compressed = turned(plain, 8, 9, 1, 180, 1);
    // Stored without deflate, so that the archive's compression gains.
    compressed.blob = encoded(testPicture(), "png", 100);
    compressed.compressed = true;
    QTest::addRow("compressed archive blob") << compressed << 2 << QRectF() << 1.0 << false;
    Item jpeg = turned(plain, 0, 0, 1, 0, 1);
    jpeg.blob = encoded(testPicture(), "jpeg");
    QTest::addRow("JPEG") << jpeg << 2 << QRectF() << 1.0 << false;
    Item bmp = turned(plain, 0, 0, 1, 0, 1);
    bmp.blob = encoded(testPicture(), "bmp");
    QTest::addRow("BMP, which our boards store as PNG") << bmp << 2 << QRectF() << 1.0 << false;
    QTest::addRow("note") << turned(note("a note"), 5, -7, 1, 0, 1) << 2 << QRectF() << 1.0
                          << false;
    QTest::addRow("note turned, scaled and flipped")
        << turned(note("turned"), 5, -7, 2, 60, -1) << 2 << QRectF() << 1.0 << false;
}

void tst_BeeBoardReader::placesItems()
{
    QFETCH(Item, item);
    QFETCH(int, version);
    QFETCH(QRectF, crop);
    QFETCH(double, opacity);
    QFETCH(bool, grey);
    QVERIFY(BeeBoards::write(board(), { item }, version));
    const QByteArray before = [this] {
        QFile file(board());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();

    Loaded loaded = load(board());
    QCOMPARE(loaded.message, QString());
    QCOMPARE(loaded.finished, 1);
    QVERIFY(loaded.losses.isEmpty());
    QCOMPARE(loaded.records.size(), 1);
    const ItemRecord record = loaded.records.first();
    std::unique_ptr<GraphicsItem> built(ItemBuilder().build(record));

    // Opening a board never writes it, nor anything beside it.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList { "board.bee" });
    QFile file(board());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);

    if (item.type == QLatin1String("text")) {
        auto *text = dynamic_cast<GraphicsTextItem *>(built.get());
        QVERIFY(text);
        QCOMPARE(text->text(), QJsonDocument::fromJson(item.data).object()["text"].toString());
        const QRectF own = text->boundingRect();
        const QList<QPointF> ours = corners(own);
        const QList<QPointF> theirs = corners(QRectF(QPointF(0, 0), own.size()));
        for (int i = 0; i < 4; ++i)
            QVERIFY2(near(text->transform().map(ours.at(i)), stored(item, theirs.at(i))),
                qPrintable(QStringLiteral("corner %1").arg(i)));
        return;
    }

    auto *image = dynamic_cast<GraphicsImageItem *>(built.get());
    QVERIFY(image);
    // The stored bytes are the picture's original: a save stores them as they are.
    const QByteArray original = item.blob.startsWith("BM") ? QByteArray() : item.blob;
    QCOMPARE(record.original, original);
    QCOMPARE(image->original(), original);
    QCOMPARE(image->opacity(), float(opacity));
    QCOMPARE(bool(image->filter() & GraphicsImageItem::GrayscaleFilter), grey);
    QCOMPARE(image->name(),
        QFileInfo(version == 1 ? QString::fromUtf8(item.data)
                               : QJsonDocument::fromJson(item.data).object()["filename"].toString())
            .completeBaseName());

    const QRectF shown = crop.isNull() ? QRectF(0, 0, 40, 20) : crop;
    const QList<QPointF> ours = corners(image->boundingRect());
    const QList<QPointF> theirs = corners(shown);
    for (int i = 0; i < 4; ++i)
        QVERIFY2(near(image->transform().map(ours.at(i)), stored(item, theirs.at(i))),
            qPrintable(QStringLiteral("corner %1").arg(i)));

    // Chosen pixels: where the stored item shows a pixel, ours shows the same pixel, and a pixel
    // the crop hides is outside our item.
    const QTransform toScene = image->imageTransform() * image->transform();
    const QImage pixels = record.image;
    const bool exactColours = !item.blob.startsWith("\xff\xd8");
    const QList<QPoint> chosen { { 0, 0 }, { 39, 19 }, { 12, 6 }, { 29, 14 }, { 31, 11 },
        { 35, 3 } };
    for (const QPoint &pixel : chosen) {
        const QPointF centre = QPointF(pixel) + QPointF(0.5, 0.5);
        const QPointF scenePoint = stored(item, centre);
        const QPointF found = toScene.inverted().map(scenePoint);
        QVERIFY(near(found, centre));
        QCOMPARE(image->boundingRect().contains(image->transform().inverted().map(scenePoint)),
            shown.contains(centre));
        if (exactColours)
            QCOMPARE(pixels.pixelColor(pixel), colourAt(pixel.x(), pixel.y()));
    }
}

void tst_BeeBoardReader::reportsLosses_data()
{
    QTest::addColumn<QList<Item>>("items");
    // Bytes cut off the end of the file written.
    QTest::addColumn<int>("cut");
    // What was generated, bottom to top (a picture's name, a note's text).
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("pictures");
    QTest::addColumn<int>("notes");
    QTest::addColumn<int>("others");
    QTest::addColumn<QList<LoadLosses::Reason>>("reasons");
    using R = LoadLosses::Reason;

    QTest::addRow("stacking follows z, not the order stored")
        << QList<Item> { picture("b", 5), note("a", -2), picture("c", 1e300) } << 0
        << QStringList { "a", "b", "c" } << 0 << 0 << 0 << QList<R> {};
    Item missing = picture("missing");
    missing.blob = QByteArray();
    QTest::addRow("a picture without data")
        << QList<Item> { missing, note("kept") } << 0 << QStringList { "kept" } << 1 << 0 << 0
        << QList<R> { R::NoPictureData };
    Item undecodable = picture("undecodable");
    undecodable.blob = QByteArray("\x89PNG\r\n\x1a\n and no more");
    QTest::addRow("undecodable picture data")
        << QList<Item> { undecodable, picture("fine") } << 0 << QStringList { "fine" } << 1 << 0
        << 0 << QList<R> { R::DamagedPicture };
    Item arrow = note("arrow");
    arrow.type = QStringLiteral("arrow");
    QTest::addRow("an unknown item kind")
        << QList<Item> { arrow, picture("fine") } << 0 << QStringList { "fine" } << 0 << 0 << 1
        << QList<R> { R::UnknownKind };
    Item unreadable = note("x");
    unreadable.data = "{\"text\": ";
    QTest::addRow("a note whose values are no JSON")
        << QList<Item> { unreadable, note("fine") } << 0 << QStringList { "fine" } << 0 << 1 << 0
        << QList<R> { R::UnreadableData };
    // The toolkit's parser would lose the earlier array of a repeated key without freeing it.
    Item twice = note("twice");
    twice.data = R"({"text": ["a"], "text": "b"})";
    Item escaped = picture("escaped");
    escaped.data = R"({"crop": [1, 1, 4, 4], "filename": "/p/a.png", "\u0063rop": [0, 0, 2, 2]})";
    Item nested = note("nested");
    nested.data
        = R"({"text": "\"text\": 1, \"text\"", "more": {"text": [1]}, "list": [{"text": 2}]})";
    QTest::addRow("values naming a key twice") << QList<Item> { twice, escaped, nested } << 0
                                               << QStringList { "Untitled", R"("text": 1, "text")" }
                                               << 0 << 1 << 0 << QList<R> { R::UnreadableData };
    Item bomb = picture("bomb");
    bomb.compressed = true;
    bomb.claimedSize = qint64(1) << 40;
    QTest::addRow("a blob inflating past what one picture may take")
        << QList<Item> { bomb } << 0 << QStringList {} << 1 << 0 << 0 << QList<R> { R::TooLarge };
    Item lying = picture("lying");
    lying.compressed = true;
    lying.claimedSize = lying.blob.size() + 1;
    QTest::addRow("a blob inflating to another size than stored")
        << QList<Item> { lying } << 0 << QStringList {} << 1 << 0 << 0
        << QList<R> { R::DamagedPicture };

    // Noise does not compress: the picture's pages are the last of the file.
    QImage noise(300, 300, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, QRandomGenerator::global()->generate());
    Item large = picture("large");
    large.blob = encoded(noise, "png");
    QTest::addRow("a file cut short")
        << QList<Item> { note("kept"), large } << large.blob.size() / 2 << QStringList { "kept" }
        << 1 << 0 << 0 << QList<R> { R::FileEnds };

    Item nonsense = note("nonsense");
    nonsense.type = QStringLiteral("nonsense");
    QList<Item> endless;
    for (int i = 0; i < BeeBoardReader::MaximumItems + 3; ++i)
        endless.append(nonsense);
    QTest::addRow("more rows than a board holds")
        << endless << 0 << QStringList {} << 0 << 0 << BeeBoardReader::MaximumItems + 3
        << QList<R> { R::TooManyItems, R::UnknownKind };
}

void tst_BeeBoardReader::reportsLosses()
{
    QFETCH(QList<Item>, items);
    QFETCH(int, cut);
    QFETCH(QStringList, names);
    QFETCH(int, pictures);
    QFETCH(int, notes);
    QFETCH(int, others);
    QFETCH(QList<LoadLosses::Reason>, reasons);
    QVERIFY(BeeBoards::write(board(), items));
    if (cut > 0)
        QVERIFY(QFile::resize(board(), QFileInfo(board()).size() - cut));

    const Loaded loaded = load(board());
    QCOMPARE(loaded.message, QString());
    QCOMPARE(loaded.finished, 1);
    QStringList generated;
    for (const ItemRecord &record : loaded.records)
        generated << nameOf(record);
    QCOMPARE(generated, names);
    QCOMPARE(loaded.losses.pictures, pictures);
    QCOMPARE(loaded.losses.notes, notes);
    QCOMPARE(loaded.losses.items, others);
    QCOMPARE(loaded.losses.reasons, reasons);
    QCOMPARE(loaded.losses.message().isEmpty(), reasons.isEmpty());
}

void tst_BeeBoardReader::refusesWhatIsNoBoard_data()
{
    // SQL run on a board of one picture before it is read; "!" prefixes bytes written instead.
    QTest::addColumn<QByteArray>("change");
    QTest::addColumn<QString>("cause");

    QTest::addRow("an empty file") << QByteArray("!") << "not an SQLite database";
    QTest::addRow("not a database")
        << QByteArray("!PK\x03\x04 an archive of another kind") << "not an SQLite database";
    QTest::addRow("another program's database")
        << QByteArray("PRAGMA application_id = 7") << "but not a BeeRef board";
    QTest::addRow("a newer format")
        << QByteArray("PRAGMA user_version = 3") << "newer BeeRef format (3)";
    QTest::addRow("items computed without end")
        << QByteArray("DROP TABLE items; CREATE VIEW items AS WITH RECURSIVE n(i) AS (SELECT 1 "
                      "UNION ALL SELECT i + 1 FROM n) SELECT i AS id, 'text' AS type, 0 AS x, 0 "
                      "AS y, i AS z, 1 AS scale, 0 AS rotation, 1 AS flip, '{}' AS data FROM n")
        << "no table of items";
    QTest::addRow("a table of items of another kind")
        << QByteArray("DROP TABLE items; CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT)")
        << "table of items is not that of a board";
    QTest::addRow("its first page only")
        << QByteArray("!first page") << "ends before its last page";
}

void tst_BeeBoardReader::refusesWhatIsNoBoard()
{
    QFETCH(QByteArray, change);
    QFETCH(QString, cause);
    QVERIFY(BeeBoards::write(board(), { picture("p"), note("n") }));
    if (change == "!first page") {
        QFile file(board());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray page = file.read(4096);
        file.close();
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(page);
    } else if (change.startsWith('!')) {
        QFile file(board());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(change.mid(1));
    } else {
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(board().toUtf8().constData(), &db), SQLITE_OK);
        QVERIFY(BeeBoards::exec(db, change.constData()));
        sqlite3_close(db);
    }

    const Loaded loaded = load(board());
    QCOMPARE(loaded.finished, 1);
    QVERIFY(loaded.records.isEmpty());
    QVERIFY2(loaded.message.contains(QLatin1String("board.bee")), qPrintable(loaded.message));
    QVERIFY2(loaded.message.contains(cause), qPrintable(loaded.message));
}

QTEST_MAIN(tst_BeeBoardReader)
#include "tst_beeboardreader.moc"
