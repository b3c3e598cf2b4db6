// libFuzzer target for the reader of BeeRef's boards: every input is a ".bee" file opened as the
// window opens one, through SaveFileLoader::loadFrom, so SQLite reads the database, the toolkit
// the JSON of each item and libdeflate the compressed pictures, all from the input. Whatever the
// reader hands over must be placeable: no transform, image transform or crop may carry a value
// that is not finite, and a picture must have pixels. A board that gave items is read once more,
// cancelled at its first item, as a user closing it at once would.
// See CMakeLists.txt in this folder; "-make_corpus=DIR" writes the seeds of fuzz/bee-seeds with
// the boards the reader's tests write (tests/persistence/beeboards.h).

#include "beeboards.h"
#include "fuzzcorpus.h"
#include "jobs/loadjob.h"
#include "persistence/savefileloader.h"
#include "picture/decoderpool.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTransform>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

bool isFinite(const QTransform &t)
{
    for (const double value :
        { t.m11(), t.m12(), t.m13(), t.m21(), t.m22(), t.m23(), t.m31(), t.m32(), t.m33() }) {
        if (!std::isfinite(value))
            return false;
    }
    return true;
}

bool isFinite(const QRectF &rect)
{
    return std::isfinite(rect.x()) && std::isfinite(rect.y()) && std::isfinite(rect.width())
        && std::isfinite(rect.height());
}

void check(const ItemRecord &record)
{
    // The reader places every item it hands over.
    require(record.transform && isFinite(*record.transform));
    if (record.type == ItemRecord::Type::Image) {
        require(!record.image.isNull());
        require(record.imageTransform && isFinite(*record.imageTransform));
        require(record.cropPath && isFinite(record.cropPath->boundingRect()));
    }
}

// Returns how many items the reader handed over.
int readOnce(SaveFileLoader &loader, const QString &path, bool cancelAtFirstItem)
{
    LoadJob job(&loader);
    int items = 0;
    QObject::connect(&loader, &BaseLoader::itemGenerated, &job,
        [&items, &job, cancelAtFirstItem](const ItemRecord &record) {
            check(record);
            ++items;
            if (cancelAtFirstItem)
                job.cancel();
        });
    // What the window would show of a board that lost items is worded from the counts.
    QObject::connect(&loader, &SaveFileLoader::itemsNotRead, &job,
        [](const LoadLosses &losses) { losses.message(); });
    // A BeeRef board is read at once, on the calling thread.
    loader.loadFrom(path, &job, 0);
    return items;
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage smallPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 40, y * 50, 200 - x * 20));
    return image;
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

BeeBoards::Item picture(const QByteArray &blob, const QJsonObject &data)
{
    BeeBoards::Item item;
    item.data = json(data);
    item.blob = blob;
    return item;
}

BeeBoards::Item note(const QString &text)
{
    BeeBoards::Item item;
    item.type = QStringLiteral("text");
    item.data = json({ { "text", text } });
    return item;
}

// A board as the tests write it, on pages of 512 bytes instead of 4096 so that a seed of a few
// items stays a few kilobytes; sql runs on it afterwards, and cut bytes go from its end.
QByteArray board(
    const QList<BeeBoards::Item> &items, int version = 2, const char *sql = nullptr, int cut = 0)
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("seed.bee"));
    sqlite3 *db = nullptr;
    // The page size holds from the first write, which setting user_version is.
    require(sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK
        && BeeBoards::exec(db, "PRAGMA page_size = 512; PRAGMA user_version = 0"));
    sqlite3_close(db);
    require(BeeBoards::write(path, items, version));
    if (sql) {
        require(sqlite3_open(path.toUtf8().constData(), &db) == SQLITE_OK
            && BeeBoards::exec(db, sql) && BeeBoards::exec(db, "VACUUM"));
        sqlite3_close(db);
    }
    QFile file(path);
    require(file.open(QIODevice::ReadOnly));
    return file.readAll().chopped(cut);
}

void makeCorpus(const QString &directory)
{
    const QByteArray png = encoded(smallPicture(5, 4), "png");
    const QByteArray jpeg = encoded(smallPicture(8, 8), "jpeg");

    BeeBoards::Item turned = picture(png,
        { { "filename", "/pictures/turned.png" }, { "opacity", 0.5 }, { "grayscale", true },
            { "crop", QJsonArray { 1, 1, 3, 2 } } });
    turned.x = -20;
    turned.y = 12.5;
    turned.z = 3;
    turned.scale = 2;
    turned.rotation = 30;
    turned.flip = -1;
    // The same bytes again: one picture of ours for both.
    BeeBoards::Item again = picture(png, {});
    again.data = QByteArray();
    again.z = -1;
    BeeBoards::Item arrow = note(QStringLiteral("arrow"));
    arrow.type = QStringLiteral("arrow");
    BeeBoards::Item written = note(QStringLiteral("a note"));
    written.rotation = -90;
    written.scale = 0.5;
    writeSeed(directory, QStringLiteral("pictures-and-notes.bee"),
        board({ turned, again, written, arrow }));

    BeeBoards::Item old;
    old.data = "/pictures/old.jpg";
    old.blob = jpeg;
    old.x = 4;
    writeSeed(directory, QStringLiteral("version-1.bee"), board({ old, note("old") }, 1));

    BeeBoards::Item compressed = picture(png, { { "filename", "/pictures/packed.png" } });
    compressed.compressed = true;
    BeeBoards::Item lying = compressed;
    lying.claimedSize = png.size() + 1;
    writeSeed(directory, QStringLiteral("compressed.bee"), board({ compressed, lying }));

    // A BMP goes through the decoder pool; the note's values are no JSON.
    BeeBoards::Item bmp = picture(encoded(smallPicture(3, 2), "bmp"), {});
    BeeBoards::Item missing = picture(QByteArray(), { { "filename", "/pictures/gone.png" } });
    BeeBoards::Item broken = note(QStringLiteral("x"));
    broken.data = "{\"text\": ";
    writeSeed(directory, QStringLiteral("bmp-missing-broken.bee"), board({ bmp, missing, broken }));

    writeSeed(directory, QStringLiteral("no-archive.bee"),
        board({ picture(png, {}), note(QStringLiteral("kept")) }, 2, "DROP TABLE sqlar"));

    // Its last page gone: read with the pages that are there.
    writeSeed(directory, QStringLiteral("cut-short.bee"),
        board({ note(QStringLiteral("first")), picture(jpeg, {}) }, 2, nullptr, 512));
}

// Each input writes its file: in memory where the system offers it.
QString temporaryTemplate()
{
    const QFileInfo memory(QStringLiteral("/dev/shm"));
    const QString parent
        = memory.isDir() && memory.isWritable() ? memory.filePath() : QDir::tempPath();
    return parent + QLatin1String("/fuzz_beeboardreader-XXXXXX");
}

// A board the reader refuses is worded as a warning, once an input: printing it took more time
// than reading the board. What ends the process is still said.
void quiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qUtf8Printable(message));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The reader makes records, not items or pixmaps: no GUI is needed.
    static QCoreApplication application(*argc, *argv);
    makeCorpusWhenAsked(*argc, *argv, makeCorpus);
    qInstallMessageHandler(quiet);
    // Pictures of other formats go to a helper, found as the thumbnailer's target finds it.
    DecoderPool::instance().setMaxHelpers(1);
    DecoderPool::instance().setTimeout(3000);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir directory(temporaryTemplate());
    static SaveFileLoader loader;
    const QString path = directory.filePath(QStringLiteral("input.bee"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    if (readOnce(loader, path, false) > 0)
        readOnce(loader, path, true);
    return 0;
}
