#include "../picture/picturetesting.h"
#include "httptestserver.h"

#include "jobs/loadjob.h"
#include "loading/imageloader.h"
#include "picture/picture.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicstextitem.h"
#include "scene/itembuilder.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QByteArray pngBytes(const QSize &size, QColor colour = Qt::red)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

// Runs loads on the test's thread, as the loader thread would, and collects what they make.
class tst_ImageLoader : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void folderRecurses();
    void sceneFileOpensInstead();
    void missingFilesAreReported();
    void extensionThatLies();
    void cancelMidFolder();
    void autoDownscale_data();
    void autoDownscale();
    void loadedFilesAreDownscaled();
    void jpegFilesTakenAsTheyStand_data();
    void jpegFilesTakenAsTheyStand();
    void makeName_data();
    void makeName();
    void textBecomesNote_data();
    void textBecomesNote();
    void queuedLoadOnLoaderThread();
    void webSources_data();
    void webSources();
    void browserDropFetchesPageFirst_data();
    void browserDropFetchesPageFirst();
    void loadsAskedForDuringADownloadWaitTheirTurn();

private:
    QList<GraphicsImageItem *> run(const ImageLoader::Source &source);
    // Files of the temporary folder, as a drop or the open dialog hands them over.
    ImageLoader::Source files(const QStringList &names) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ImageLoader> m_loader;
    std::unique_ptr<HttpTestServer> m_server;
    QList<GraphicsItem *> m_items;
    QStringList m_finished;
};

void tst_ImageLoader::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_loader = std::make_unique<ImageLoader>();
    m_server = std::make_unique<HttpTestServer>();
    m_items.clear();
    m_finished.clear();
    connect(m_loader.get(), &BaseLoader::itemGenerated, this,
        [this](const ItemRecord &record) { m_items.append(ItemBuilder().build(record)); });
    connect(m_loader.get(), &BaseLoader::finished, this,
        [this](
            const QString &message, const QString &details) { m_finished << message << details; });
}

void tst_ImageLoader::cleanup()
{
    qDeleteAll(m_items);
    m_dir->setAutoRemove(!QTest::currentTestFailed());
}

QList<GraphicsImageItem *> tst_ImageLoader::run(const ImageLoader::Source &source)
{
    LoadJob job(m_loader.get());
    m_loader->load(source, &job);
    QList<GraphicsImageItem *> images;
    for (GraphicsItem *item : qAsConst(m_items)) {
        if (item->itemType() == GraphicsItem::ImageItemType)
            images.append(static_cast<GraphicsImageItem *>(item));
    }
    return images;
}

ImageLoader::Source tst_ImageLoader::files(const QStringList &names) const
{
    ImageLoader::Source source;
    for (const QString &name : names)
        source.urls.append(QUrl::fromLocalFile(m_dir->filePath(name)));
    return source;
}

void tst_ImageLoader::folderRecurses()
{
    writeFile(m_dir->filePath("pictures/a.png"), pngBytes({ 4, 3 }));
    writeFile(m_dir->filePath("pictures/sub/b.png"), pngBytes({ 5, 5 }));
    writeFile(m_dir->filePath("pictures/sub/deeper/c.png"), pngBytes({ 6, 2 }));
    writeFile(m_dir->filePath("pictures/sub/readme.txt"), "not a picture");

    LoadJob job(m_loader.get());
    QSignalSpy range(&job, &LoadJob::progressRangeChanged);
    QSignalSpy progress(&job, &LoadJob::progressChanged);
    ImageLoader::Source source = files({ "pictures" });
    source.position = QPointF(30, -40);
    m_loader->load(source, &job);

    QCOMPARE(m_items.size(), 3);
    QStringList names;
    for (GraphicsItem *item : qAsConst(m_items)) {
        names << static_cast<GraphicsImageItem *>(item)->name();
        QCOMPARE(item->scenePosition(), QPointF(30, -40));
    }
    names.sort();
    QCOMPARE(names, QStringList({ "a", "b", "c" }));
    QCOMPARE(range.last().at(1).toInt(), 4);
    QCOMPARE(progress.last().at(0).toInt(), 4);
    QCOMPARE(m_finished, QStringList({ QString(), QString() }));
}

void tst_ImageLoader::sceneFileOpensInstead()
{
    writeFile(m_dir->filePath("a.png"), pngBytes({ 4, 3 }));
    writeFile(m_dir->filePath("board.vlk"), "scene");
    QSignalSpy found(m_loader.get(), &ImageLoader::vlkFileFound);
    run(files({ "a.png", "board.vlk" }));
    QCOMPARE(found.count(), 1);
    QCOMPARE(found.at(0).at(0).toString(), m_dir->filePath("board.vlk"));
    QVERIFY(m_items.isEmpty());
    QCOMPARE(m_finished, QStringList({ QString(), QString() }));
}

void tst_ImageLoader::missingFilesAreReported()
{
    writeFile(m_dir->filePath("a.png"), pngBytes({ 4, 3 }));
    QCOMPARE(run(files({ "gone1.png", "a.png", "gone2.png" })).size(), 1);
    QCOMPARE(m_finished.value(0), QStringLiteral("Could not find some files."));
    QCOMPARE(
        m_finished.value(1), m_dir->filePath("gone1.png") + "\n\n" + m_dir->filePath("gone2.png"));
}

void tst_ImageLoader::extensionThatLies()
{
    writeFile(m_dir->filePath("photo.jpg"), pngBytes({ 7, 9 }));
    const QList<GraphicsImageItem *> items = run(files({ "photo.jpg" }));
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first()->pictureSize(), QSize(7, 9));
    QCOMPARE(items.first()->source(), m_dir->filePath("photo.jpg"));
}

void tst_ImageLoader::cancelMidFolder()
{
    for (int i = 0; i < 40; ++i)
        writeFile(m_dir->filePath(QStringLiteral("many/%1.png").arg(i)), pngBytes({ 64, 64 }));
    LoadJob job(m_loader.get());
    QSignalSpy finished(&job, &LoadJob::finished);
    connect(m_loader.get(), &BaseLoader::itemGenerated, &job, [&job, this] {
        if (m_items.size() == 3)
            job.cancel();
    });
    m_loader->load(files({ "many" }), &job);
    QCOMPARE(m_items.size(), 3);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toString(), QString());
}

void tst_ImageLoader::autoDownscale_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QSize>("maxSize");
    QTest::addColumn<QSize>("expected");

    QTest::addRow("landscape") << QSize(4000, 3000) << true << QSize(2000, 2000)
                               << QSize(2000, 1500);
    QTest::addRow("portrait") << QSize(3000, 4000) << true << QSize(2000, 2000)
                              << QSize(1500, 2000);
    QTest::addRow("wide but within height")
        << QSize(1500, 1600) << true << QSize(1000, 2000) << QSize(1500, 1600);
    QTest::addRow("switched off") << QSize(4000, 3000) << false << QSize(2000, 2000)
                                  << QSize(4000, 3000);
    QTest::addRow("small") << QSize(300, 200) << true << QSize(2000, 2000) << QSize(300, 200);
}

void tst_ImageLoader::autoDownscale()
{
    QFETCH(QSize, size);
    QFETCH(bool, enabled);
    QFETCH(QSize, maxSize);
    QFETCH(QSize, expected);
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QCOMPARE(PictureFile::applyAutoDownscale(image, enabled, maxSize).size(), expected);
}

void tst_ImageLoader::loadedFilesAreDownscaled()
{
    writeFile(m_dir->filePath("big.png"), pngBytes({ 400, 300 }));
    m_loader->setAutoDownscale(true);
    m_loader->setAutoDownscaleMaxWidth(200);
    m_loader->setAutoDownscaleMaxHeight(200);
    const QList<GraphicsImageItem *> items = run(files({ "big.png" }));
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first()->pictureSize(), QSize(200, 150));
    // The item remembers how it was reduced, so a linked file is read back the same way.
    QVERIFY(items.first()->autoDownscaled());
    QCOMPARE(items.first()->downscaleLimit(), QSize(200, 200));
}

void tst_ImageLoader::jpegFilesTakenAsTheyStand_data()
{
    QTest::addColumn<bool>("keepOriginals");
    QTest::addColumn<int>("transformation");
    QTest::addColumn<bool>("downscale");
    QTest::addColumn<bool>("asItStands");

    QTest::addRow("kept as it stands")
        << true << int(QImageIOHandler::TransformationNone) << false << true;
    QTest::addRow("turned upright")
        << true << int(QImageIOHandler::TransformationRotate90) << false << false;
    QTest::addRow("reduced") << true << int(QImageIOHandler::TransformationNone) << true << false;
    QTest::addRow("originals not kept")
        << false << int(QImageIOHandler::TransformationNone) << false << false;
}

// A JPEG that goes on the board as its bytes decode is not decoded in full when dropped (a drop
// of many camera photos would fill the memory); one that is turned upright or reduced is, and
// every way gives the pixels the toolkit's reader gives.
void tst_ImageLoader::jpegFilesTakenAsTheyStand()
{
    QFETCH(bool, keepOriginals);
    QFETCH(int, transformation);
    QFETCH(bool, downscale);
    QFETCH(bool, asItStands);

    QImage pixels(320, 200, QImage::Format_RGB32);
    for (int y = 0; y < pixels.height(); ++y) {
        for (int x = 0; x < pixels.width(); ++x)
            pixels.setPixel(x, y, qRgb(x * 7 % 256, y * 3 % 256, (x + y) % 256));
    }
    const QString path = m_dir->filePath(QStringLiteral("photo.jpg"));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(QImageWriter(&buffer, "jpeg").write(pixels));
    if (transformation != QImageIOHandler::TransformationNone) {
        // An Exif segment whose one entry says: turn the picture a quarter clockwise.
        const QByteArray tiff = QByteArray("MM\x00\x2a\x00\x00\x00\x08", 8)
            + QByteArray("\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00", 14)
            + QByteArray(4, '\0');
        const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
        QByteArray segment("\xff\xe1", 2);
        segment.append(char((body.size() + 2) >> 8)).append(char((body.size() + 2) & 0xff));
        jpeg.insert(2, segment + body);
    }
    writeFile(path, jpeg);
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage expected = reader.read().convertToFormat(QImage::Format_RGB32);
    if (downscale)
        expected = expected.scaledToWidth(160, Qt::SmoothTransformation);

    m_loader->setKeepOriginals(keepOriginals);
    m_loader->setAutoDownscale(downscale);
    m_loader->setAutoDownscaleMaxWidth(160);
    m_loader->setAutoDownscaleMaxHeight(160);
    const QList<GraphicsImageItem *> items = run(files({ "photo.jpg" }));
    QCOMPARE(items.size(), 1);
    GraphicsImageItem *item = items.first();
    QCOMPARE(item->pictureSize(), expected.size());
    QCOMPARE(item->picture()->hasFull(), !asItStands);
    QCOMPARE(item->pixels().convertToFormat(QImage::Format_RGB32), expected);
    QCOMPARE(!item->original().isEmpty(), asItStands);
}

void tst_ImageLoader::makeName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");

    QTest::addRow("extension dropped once") << "C:/pics/cat.final.png"
                                            << "cat.final";
    QTest::addRow("no extension") << "C:/pics/README"
                                  << "README";
    QTest::addRow("empty") << ""
                           << "Untitled";
    QTest::addRow("web address") << "https://a.org/img/x.png"
                                 << "x";
    QTest::addRow("trailing slash") << "/pics/folder/"
                                    << "folder";
}

void tst_ImageLoader::makeName()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(ImageLoader::makeName(path), name);
}

void tst_ImageLoader::textBecomesNote_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("note");

    QTest::addRow("single word") << "hello" << true;
    QTest::addRow("sentence without dot") << "buy more paint" << true;
    QTest::addRow("local path") << "PATH" << false;
}

void tst_ImageLoader::textBecomesNote()
{
    QFETCH(QString, text);
    QFETCH(bool, note);
    writeFile(m_dir->filePath("a.png"), pngBytes({ 4, 3 }));
    if (text == QLatin1String("PATH"))
        text = m_dir->filePath("a.png");

    m_loader->setDefaultNoteColor(Qt::darkMagenta);
    ImageLoader::Source source;
    source.text = text;
    source.position = QPointF(5, 6);
    run(source);
    QCOMPARE(m_items.size(), 1);
    QCOMPARE(m_items.first()->itemType(),
        int(note ? GraphicsItem::TextItemType : GraphicsItem::ImageItemType));
    if (note) {
        auto *textItem = static_cast<GraphicsTextItem *>(m_items.first());
        QCOMPARE(textItem->text(), text);
        QCOMPARE(textItem->textColor(), QColor(Qt::darkMagenta));
        QCOMPARE(textItem->scenePosition(), QPointF(5, 6));
        m_items.clear();
        delete textItem;
    }
}

void tst_ImageLoader::queuedLoadOnLoaderThread()
{
    writeFile(m_dir->filePath("a.png"), pngBytes({ 4, 3 }));
    QThread thread;
    auto *loader = new ImageLoader;
    loader->moveToThread(&thread);
    connect(&thread, &QThread::finished, loader, &QObject::deleteLater);
    thread.start();

    LoadJob job(loader);
    QList<GraphicsItem *> items;
    connect(&job, &LoadJob::itemGenerated, this,
        [&items](const ItemRecord &record) { items.append(ItemBuilder().build(record)); });
    QSignalSpy finished(&job, &LoadJob::finished);
    ImageLoader::Source source = files({ "a.png" });
    source.text = QStringLiteral("note");
    QVERIFY(QMetaObject::invokeMethod(loader, "load", Qt::QueuedConnection,
        Q_ARG(ImageLoader::Source, source), Q_ARG(LoadJob *, &job)));
    QVERIFY(finished.wait());
    thread.quit();
    thread.wait();

    // The file made an item, so the text is not used; its record becomes an item here.
    QCOMPARE(items.size(), 1);
    auto *image = static_cast<GraphicsImageItem *>(items.first());
    QCOMPARE(image->pictureSize(), QSize(4, 3));
    qDeleteAll(items);
}

void tst_ImageLoader::webSources_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("expectedSources"); // paths on the test server
    // The picture refused as too large, and named in the load's message; none when empty.
    QTest::addColumn<QString>("refused");

    QTest::addRow("address as text") << "text" << QStringList { "/a.png" } << QString();
    QTest::addRow("address as url") << "url" << QStringList { "/a.png" } << QString();
    QTest::addRow("page address fetches the page's pictures")
        << "page" << QStringList { "/a.png", "/b.png" } << QString();
    QTest::addRow("html fragment") << "html" << QStringList { "/a.png", "/b.png" } << QString();
    QTest::addRow("image data takes the fragment's address")
        << "data" << QStringList { "/b.png" } << QString();
    QTest::addRow("a picture of the page too large to load")
        << "huge page" << QStringList { "/a.png" } << "/huge.png";
}

void tst_ImageLoader::webSources()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, expectedSources);
    QFETCH(QString, refused);
    m_server->setRoute("/a.png", { 200, "image/png", pngBytes({ 3, 3 }), {}, {} });
    m_server->setRoute("/huge.png", { 200, "image/png", hugePng(60000, 60000), {}, {} });
    m_server->setRoute("/huge.html",
        { 200, "text/html", "<p><img src=\"huge.png\"><img src=\"a.png\"></p>", {}, {} });
    m_server->setRoute("/b.png", { 200, "image/png", pngBytes({ 4, 4 }), {}, {} });
    const QByteArray page = "<p><img src=\"a.png\"><img srcset=\"/b.png 2x, /a.png 1x\"></p>";
    m_server->setRoute("/page.html", { 200, "text/html", page, {}, {} });

    ImageLoader::Source source;
    if (kind == QLatin1String("text")) {
        source.text = m_server->url("/a.png");
    } else if (kind == QLatin1String("url")) {
        source.urls = { QUrl(m_server->url("/a.png")) };
    } else if (kind == QLatin1String("page")) {
        source.urls = { QUrl(m_server->url("/page.html")) };
    } else if (kind == QLatin1String("huge page")) {
        source.urls = { QUrl(m_server->url("/huge.html")) };
    } else if (kind == QLatin1String("html")) {
        source.html = QString::fromUtf8(page);
        source.text = m_server->url("/page.html");
    } else {
        QImage image(5, 5, QImage::Format_RGB32);
        image.fill(Qt::green);
        source.image = image;
        source.html = "<img src=\"" + m_server->url("/b.png") + "\"/>";
    }

    QStringList sources;
    for (GraphicsImageItem *item : run(source))
        sources << item->source();
    QStringList expected;
    for (const QString &path : expectedSources)
        expected << m_server->url(path);
    QCOMPARE(sources, expected);
    if (refused.isEmpty()) {
        QCOMPARE(m_finished.value(0), QString());
    } else {
        QCOMPARE(m_finished.value(0), QStringLiteral("Some pictures are too large to load."));
        QVERIFY2(m_finished.value(1).startsWith(
                     m_server->url(refused) + QStringLiteral(": The picture is too large: ")),
            qPrintable(m_finished.value(1)));
    }
}

void tst_ImageLoader::browserDropFetchesPageFirst_data()
{
    QTest::addColumn<QString>("localName");
    QTest::addColumn<QString>("expectedSource");

    // The file's kind differs from the page's picture: the page's picture is fetched instead.
    QTest::addRow("different kind") << "download.png"
                                    << "/photo.webp";
    // Same kind: the file is loaded and remembers where it came from.
    QTest::addRow("same kind") << "download.webp"
                               << "/photo.webp";
}

void tst_ImageLoader::browserDropFetchesPageFirst()
{
    QFETCH(QString, localName);
    QFETCH(QString, expectedSource);
    m_server->setRoute("/photo.webp", { 200, "image/png", pngBytes({ 8, 8 }), {}, {} });
    writeFile(m_dir->filePath(localName), pngBytes({ 2, 2 }));

    ImageLoader::Source source = files({ localName });
    source.html = "<img src=\"" + m_server->url("/photo.webp") + "\">";
    const QList<GraphicsImageItem *> items = run(source);
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first()->source(), m_server->url(expectedSource));
    const bool fetched = m_server->requestedPaths.contains("/photo.webp");
    QCOMPARE(fetched, localName == QLatin1String("download.png"));
}

// A download keeps this thread's events served, and with them any load queued meanwhile: each
// such load must start only after the one under way has finished, in the order they were asked
// for, even one queued while the first is reporting its end.
void tst_ImageLoader::loadsAskedForDuringADownloadWaitTheirTurn()
{
    // Noise does not compress: the body comes in several pieces, so the download takes a while.
    QImage noise(64, 64, QImage::Format_RGB32);
    QRandomGenerator random(5);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, random.generate() | 0xff000000u);
    }
    QByteArray slowBody;
    QBuffer buffer(&slowBody);
    buffer.open(QIODevice::WriteOnly);
    noise.save(&buffer, "PNG");
    QVERIFY(slowBody.size() > 3 * 1024);
    m_server->setRoute(
        "/slow.png", { 200, "image/png", slowBody, {}, HttpTestServer::Behaviour::Slow });
    m_server->setRoute("/c.png", { 200, "image/png", pngBytes({ 3, 3 }), {}, {} });
    writeFile(m_dir->filePath("b.png"), pngBytes({ 2, 2 }));
    writeFile(m_dir->filePath("d.png"), pngBytes({ 4, 4 }));

    ImageLoader::Source a;
    a.urls = { QUrl(m_server->url("/slow.png")) };
    const ImageLoader::Source b = files({ "b.png" });
    ImageLoader::Source c;
    c.text = m_server->url("/c.png");
    const ImageLoader::Source d = files({ "d.png" });

    QStringList events;
    LoadJob jobs[4] = { LoadJob(m_loader.get()), LoadJob(m_loader.get()), LoadJob(m_loader.get()),
        LoadJob(m_loader.get()) };
    for (int i = 0; i < 4; ++i) {
        const QString name(QLatin1Char(char('a' + i)));
        connect(
            &jobs[i], &LoadJob::started, this, [&events, name] { events << name + " started"; });
        connect(
            &jobs[i], &LoadJob::finished, this, [&events, name] { events << name + " finished"; });
    }
    const auto queueLoad = [this](const ImageLoader::Source &source, LoadJob *job) {
        QVERIFY(QMetaObject::invokeMethod(m_loader.get(), "load", Qt::QueuedConnection,
            Q_ARG(ImageLoader::Source, source), Q_ARG(LoadJob *, job)));
    };
    m_server->firstPieceSent = [&] {
        queueLoad(b, &jobs[1]);
        queueLoad(c, &jobs[2]);
    };
    connect(&jobs[0], &LoadJob::finished, this, [&] { queueLoad(d, &jobs[3]); });

    m_loader->load(a, &jobs[0]);
    QCOMPARE(events, QStringList({ "a started", "a finished" }));
    QTRY_COMPARE(events.size(), 8);
    QCOMPARE(events,
        QStringList({ "a started", "a finished", "b started", "b finished", "c started",
            "c finished", "d started", "d finished" }));

    QStringList sources;
    for (GraphicsItem *item : qAsConst(m_items))
        sources << static_cast<GraphicsImageItem *>(item)->source();
    QCOMPARE(sources,
        QStringList({ m_server->url("/slow.png"), m_dir->filePath("b.png"), m_server->url("/c.png"),
            m_dir->filePath("d.png") }));
    QCOMPARE(m_finished.size(), 8); // one message and its details per load
}

QTEST_MAIN(tst_ImageLoader)
#include "tst_imageloader.moc"
