#include "persistence/itemrecordcodec.h"

#include <QBuffer>
#include <QDataStream>
#include <QTest>
#include <QtEndian>

namespace {

// A note with depth notes below it, each attached to the one before.
ItemRecord chain(int depth)
{
    ItemRecord record;
    record.type = ItemRecord::Type::Note;
    record.id = depth;
    record.text = QStringLiteral("note %1").arg(depth);
    if (depth > 0)
        record.children.append(chain(depth - 1));
    return record;
}

QByteArray encoded(const QList<ItemRecord> &records, bool withAddresses = true)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QDataStream out(&buffer);
    ItemRecordCodec::write(out, records, withAddresses);
    return bytes;
}

bool decode(const QByteArray &bytes, int count, QList<ItemRecord> *records)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return ItemRecordCodec::read(&buffer, count, records);
}

} // namespace

class tst_ItemRecordCodec : public QObject {
    Q_OBJECT

private slots:
    void everyFieldSurvives();
    void playbackFromDisk_data();
    void playbackFromDisk();
    void addressesFromDisk_data();
    void addressesFromDisk();
    void damage_data();
    void damage();
};

void tst_ItemRecordCodec::everyFieldSurvives()
{
    ItemRecord image;
    image.id = 7;
    image.z = 2.5;
    image.transform = QTransform(2, 0, 0, 2, 30, -40);
    image.source = QStringLiteral("/pictures/é.png");
    image.pictureAddress = QStringLiteral("https://example.com/é.png");
    image.pageAddress = QStringLiteral("https://example.com/gallery?page=2");
    image.name = QStringLiteral("é");
    image.opacity = 0.5f;
    image.imageTransform = QTransform::fromTranslate(-10, -5);
    QPainterPath crop;
    crop.addEllipse(0, 0, 20, 10);
    image.cropPath = crop;
    image.filter = 2;
    image.autoDownscaled = true;
    image.downscaleLimit = QSize(800, 600);
    image.playback = ItemRecord::Playback { 12, 0.5, false, false };
    ItemRecord note = chain(0);
    note.textColor = QColor(10, 20, 30);
    note.backgroundColor = QColor(40, 50, 60, 70);
    image.children.append(note);

    QList<ItemRecord> read;
    QVERIFY(decode(encoded({ image }), 1, &read));
    QCOMPARE(read.size(), 1);
    const ItemRecord &back = read.first();
    QCOMPARE(back.id, image.id);
    QCOMPARE(back.z, image.z);
    QCOMPARE(*back.transform, *image.transform);
    QCOMPARE(back.source, image.source);
    QCOMPARE(back.pictureAddress, image.pictureAddress);
    QCOMPARE(back.pageAddress, image.pageAddress);
    QCOMPARE(back.name, image.name);
    QCOMPARE(back.opacity, image.opacity);
    QCOMPARE(*back.imageTransform, *image.imageTransform);
    QCOMPARE(*back.cropPath, crop);
    QCOMPARE(back.filter, image.filter);
    QCOMPARE(back.autoDownscaled, true);
    QCOMPARE(back.downscaleLimit, image.downscaleLimit);
    QVERIFY(back.playback == image.playback);
    QCOMPARE(back.children.size(), 1);
    QCOMPARE(back.children.first().type, ItemRecord::Type::Note);
    QCOMPARE(back.children.first().text, note.text);
    QCOMPARE(*back.children.first().textColor, *note.textColor);
    QCOMPARE(*back.children.first().backgroundColor, *note.backgroundColor);
}

using Playback = ItemRecord::Playback;
Q_DECLARE_METATYPE(std::optional<Playback>)

void tst_ItemRecordCodec::playbackFromDisk_data()
{
    QTest::addColumn<std::optional<Playback>>("written");
    QTest::addColumn<bool>("withOverview");
    QTest::addColumn<std::optional<Playback>>("read");

    const Playback paused { 3, 2.0, false, true };
    QTest::addRow("still") << std::optional<Playback>() << false << std::optional<Playback>();
    QTest::addRow("still with overview")
        << std::optional<Playback>() << true << std::optional<Playback>();
    QTest::addRow("paused, no overview") << std::optional(paused) << false << std::optional(paused);
    QTest::addRow("paused after an overview")
        << std::optional(paused) << true << std::optional(paused);
    QTest::addRow("too fast, frame before the first")
        << std::optional(Playback { -4, 100.0, true, true }) << false
        << std::optional(Playback { 0, 4.0, true, true });
    QTest::addRow("not a speed") << std::optional(Playback { 1, qQNaN(), true, false }) << false
                                 << std::optional(Playback { 1, 1.0, true, false });
    QTest::addRow("too slow") << std::optional(Playback { 1, 0.0, true, true }) << true
                              << std::optional(Playback { 1, 0.25, true, true });
}

void tst_ItemRecordCodec::playbackFromDisk()
{
    QFETCH(std::optional<Playback>, written);
    QFETCH(bool, withOverview);
    QFETCH(std::optional<Playback>, read);

    ItemRecord image;
    image.playback = written;
    if (withOverview) {
        image.overview = QByteArray("\xff\xd8 level", 8);
        image.overviewChecksum = 77;
    }
    QList<ItemRecord> records;
    QVERIFY(decode(encoded({ image }), 1, &records));
    QVERIFY(records.first().playback == read);
    QCOMPARE(records.first().overview, image.overview);
    QCOMPARE(records.first().overviewChecksum, image.overviewChecksum);
}

void tst_ItemRecordCodec::addressesFromDisk_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("pictureAddress");
    QTest::addColumn<QString>("pageAddress");
    QTest::addColumn<bool>("playback");

    const QString picture = QStringLiteral("https://example.com/cat.jpg");
    const QString page = QStringLiteral("https://example.com/cats.html");
    ItemRecord still;
    still.source = QStringLiteral("/tmp/cat.jpg");
    still.pictureAddress = picture;
    still.pageAddress = page;
    QTest::addRow("still: the fields before them are placeholders")
        << encoded({ still }) << picture << page << false;
    ItemRecord animation = still;
    animation.playback = ItemRecord::Playback { 2, 1.5, false, true };
    animation.overview = QByteArray("\xff\xd8 level", 8);
    QTest::addRow("after an overview and a playback")
        << encoded({ animation }) << picture << page << true;
    QTest::addRow("left out: the record ends at its playback")
        << encoded({ animation }, false) << QString() << QString() << true;
    ItemRecord download;
    download.source = picture;
    download.pageAddress = page;
    QTest::addRow("left out: a download keeps its address in its source")
        << encoded({ download }, false) << picture << QString() << false;
    // The page's length field, before its one UTF-16 character, claims more than the record has.
    still.pageAddress = QStringLiteral("p");
    QByteArray cut = encoded({ still });
    qToBigEndian<quint32>(0x7fffffff, cut.data() + cut.size() - 6);
    QTest::addRow("page claiming more than its record") << cut << QString() << QString() << false;
}

void tst_ItemRecordCodec::addressesFromDisk()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, pictureAddress);
    QFETCH(QString, pageAddress);
    QFETCH(bool, playback);

    QList<ItemRecord> records;
    QVERIFY(decode(bytes, 1, &records));
    QCOMPARE(records.first().pictureAddress, pictureAddress);
    QCOMPARE(records.first().pageAddress, pageAddress);
    QCOMPARE(records.first().playback.has_value(), playback);
}

void tst_ItemRecordCodec::damage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("accepted");

    const QByteArray deepest = encoded({ chain(ItemRecordCodec::MaximumNesting) });
    QTest::addRow("nested as deep as allowed") << deepest << 1 << true;
    QTest::addRow("one level deeper")
        << encoded({ chain(ItemRecordCodec::MaximumNesting + 1) }) << 1 << false;
    QTest::addRow("last byte missing") << deepest.chopped(1) << 1 << false;
    QTest::addRow("more records counted than sent") << encoded({ chain(0) }) << 2 << false;
    QByteArray pastEnd = encoded({ chain(0) });
    qToBigEndian<qint64>(pastEnd.size() + 1, pastEnd.data());
    QTest::addRow("end offset past the data") << pastEnd << 1 << false;
    QByteArray manyChildren = encoded({ chain(0) });
    qToBigEndian<qint32>(1000, manyChildren.data() + manyChildren.size() - 4);
    QTest::addRow("more attached records claimed than bytes") << manyChildren << 1 << false;
}

void tst_ItemRecordCodec::damage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, count);
    QFETCH(bool, accepted);

    QList<ItemRecord> records { chain(0) };
    QCOMPARE(decode(bytes, count, &records), accepted);
    // A refusal leaves what the caller had.
    QCOMPARE(records.size(), 1);
    if (accepted)
        QCOMPARE(records.first().id, ItemRecordCodec::MaximumNesting);
    else
        QCOMPARE(records.first().id, 0);
}

QTEST_GUILESS_MAIN(tst_ItemRecordCodec)
#include "tst_itemrecordcodec.moc"
