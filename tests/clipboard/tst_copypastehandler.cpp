#include "app/selectioncopy.h"
#include "clipboard/copypastehandler.h"
#include "commands/commandhandler.h"
#include "jobs/loadjob.h"
#include "persistence/itemrecordcodec.h"
#include "picture/picture.h"
#include "platform/localservers.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"
#include "scene/itembuilder.h"

#include <QApplication>
#include <QClipboard>
#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMimeData>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <cstdio>
#include <memory>

namespace {

// The same pictures in both processes, told apart by their pixels.
QImage picture(int seed)
{
    QImage image(40, 30, QImage::Format_ARGB32);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            image.setPixel(x, y, qRgba((seed * 40 + x * 7) % 256, (y * 13) % 256, seed, 255));
    return image;
}

// A board whose items are named by letters: a, b, f, g, r images (r cropped and rotated, f and g
// 20000 by 5000 apart), n a flipped note, c a note attached to a.
struct Board {
    CommandHandler commands;
    GraphicsScene scene { nullptr, &commands };
    QHash<QChar, GraphicsItem *> items;

    Board()
    {
        const auto image = [this](char key, int seed, const QPointF &at) {
            auto *item = new GraphicsImageItem(Picture::fromPixels(picture(seed)), QString(),
                QStringLiteral("picture %1").arg(seed), at);
            scene.addItem(item);
            items.insert(QLatin1Char(key), item);
            return item;
        };
        GraphicsImageItem *a = image('a', 1, QPointF(100, 50));
        a->setTransform(QTransform(3, 0, 0, 3, 100, 50));
        a->setAddresses(QStringLiteral("https://example.com/1.png"),
            QStringLiteral("https://example.com/pictures.html"));
        image('b', 2, QPointF(-400, 80));
        image('f', 4, QPointF(-9980, -2485));
        image('g', 5, QPointF(9980, 2485));
        GraphicsImageItem *rotated = image('r', 3, QPointF());
        QPainterPath crop;
        crop.addRect(-10, -5, 20, 10);
        rotated->cropTo(crop, true);
        rotated->setTransform(QTransform().rotate(30) * QTransform::fromTranslate(40, -200));
        items.insert('n', new GraphicsTextItem(QPointF(250, 300), QStringLiteral("a note")));
        // Turned half round and flipped, with the rounding of the turn left in its shear.
        items['n']->setTransform(
            QTransform(0.68, 5.551115123125783e-17, 5.551115123125783e-17, -0.68, 250, 300));
        scene.addItem(items['n']);
        items.insert('c', new GraphicsTextItem(QPointF(20, 0), "attached", items['a']));
    }
    QRectF select(const QString &keys)
    {
        QRectF bounds;
        for (const QChar key : keys) {
            items[key]->setSelected(true);
            bounds |= items[key]->sceneBounds();
        }
        return bounds;
    }
};

// What one paste job brought, built into items as the window builds them.
struct Pasted {
    std::vector<std::unique_ptr<GraphicsItem>> items;
    QString message;
    int allItems = 0;
    QRectF bounds;
    int pictures = 0; // images whose pixels are those copied; -1000 for each that differs
    QStringList addresses; // "picture page" of each image that has any
};

Pasted pasteAndWait(CopyPasteHandler *handler, const QByteArray &data, const QPointF &at)
{
    Pasted pasted;
    LoadJob job(handler);
    ItemBuilder builder;
    QObject::connect(&job, &LoadJob::itemGenerated, [&](const ItemRecord &record) {
        QCOMPARE(record.id, -1);
        pasted.items.emplace_back(builder.build(record));
        QList<GraphicsItem *> tree = pasted.items.back()->childGraphicsItems(true);
        tree.append(pasted.items.back().get());
        for (GraphicsItem *item : tree) {
            pasted.bounds |= item->sceneBounds();
            if (auto *image = dynamic_cast<GraphicsImageItem *>(item)) {
                const int seed = image->name().section(' ', 1).toInt();
                const QImage pixels = image->picture() ? image->pixels() : QImage();
                pasted.pictures
                    += pixels.convertToFormat(QImage::Format_ARGB32) == picture(seed) ? 1 : -1000;
                if (!image->pictureAddress().isEmpty() || !image->pageAddress().isEmpty())
                    pasted.addresses.append(image->pictureAddress() + ' ' + image->pageAddress());
            }
        }
        pasted.allItems += tree.size();
    });
    QSignalSpy finished(&job, &LoadJob::finished);
    QMetaObject::invokeMethod(handler, "paste", Qt::QueuedConnection, Q_ARG(QByteArray, data),
        Q_ARG(QPointF, at), Q_ARG(LoadJob *, &job));
    const bool ended = !finished.isEmpty() || finished.wait(60000);
    pasted.message = ended ? finished.first().first().toString() : QStringLiteral("hangs");
    return pasted;
}

QByteArray clipboardCopy()
{
    return QGuiApplication::clipboard()->mimeData()->data(CopyPasteHandler::MimeType);
}

QString uniqueName(const char *what)
{
    return QStringLiteral("tst_copypaste_%1_%2").arg(what).arg(QCoreApplication::applicationPid());
}

// The other instance: copies a, its note and b, prints the clipboard bytes, then serves one paste
// or gives the server up to a newer copy.
int serveCopy(int argc, char **argv)
{
    QApplication app(argc, argv);
    Board board;
    board.select("acb");
    QThread worker;
    auto *handler = new CopyPasteHandler;
    handler->setServerName(QString::fromLocal8Bit(argv[2]));
    handler->moveToThread(&worker);
    worker.start();
    QObject::connect(handler, &BaseLoader::finished, &app, &QCoreApplication::quit);
    QObject::connect(handler, &CopyPasteHandler::serverReleased, &app, [] {
        std::printf("released\n");
        QCoreApplication::quit();
    });
    // A loader thread still busy with other work when the copy is made starts serving late.
    const bool busy = qstrcmp(argv[1], "--serve-copy-busy") == 0;
    if (busy)
        QMetaObject::invokeMethod(
            handler, [] { QThread::msleep(1500); }, Qt::QueuedConnection);
    handler->copy(SelectionCopy::take(&board.scene));
    // A copy nobody serves fails the test that started this process, at its paste.
    if (!busy)
        static_cast<void>(QTest::qWaitFor([handler] { return handler->isServing(); }, 30000));
    std::printf("%s\n", clipboardCopy().toBase64().constData());
    std::fflush(stdout);
    const int code = app.exec();
    std::fflush(stdout);
    worker.quit();
    worker.wait();
    delete handler;
    return code;
}

// A PNG chunk's checksum, so that a forged header is read as valid and the size bound decides.
quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xffffffff;
    for (const char byte : bytes) {
        crc ^= uchar(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

} // namespace

class tst_CopyPasteHandler : public QObject {
    Q_OBJECT

private slots:
    void copyAndPasteHere_data();
    void copyAndPasteHere();
    void onlyForeignClipboardChangesDropTheCache();
    void leftToOtherProgramsAtExit_data();
    void leftToOtherProgramsAtExit();
    void otherProcess_data();
    void otherProcess();
    void hostileServer_data();
    void hostileServer();
};

void tst_CopyPasteHandler::copyAndPasteHere_data()
{
    QTest::addColumn<QString>("selection");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("items");
    // Invalid: the copied bounds' size.
    QTest::addColumn<QSize>("pictureSize");
    QTest::addColumn<QString>("text");
    QTest::addRow("scaled image, pictured at scale 1") << "a" << 1 << 1 << QSize(40, 30) << "";
    QTest::addRow("image and note") << "an" << 2 << 2 << QSize() << "";
    QTest::addRow("image with its attached note") << "ac" << 1 << 2 << QSize() << "";
    QTest::addRow("attached note alone, as text") << "c" << 1 << 1 << QSize(0, 0) << "attached";
    QTest::addRow("cropped rotated image and another") << "rb" << 2 << 2 << QSize() << "";
    QTest::addRow("20000 by 5000, pictured 10000 wide")
        << "fg" << 2 << 2 << QSize(10000, 2500) << "";
}

void tst_CopyPasteHandler::copyAndPasteHere()
{
    QFETCH(QString, selection);
    QFETCH(int, records);
    QFETCH(int, items);
    QFETCH(QSize, pictureSize);
    QFETCH(QString, text);
    Board board;
    const QRectF copied = board.select(selection);
    CopyPasteHandler handler;
    handler.setServerName(uniqueName("local"));
    handler.setOfferPng(true);
    handler.copy(SelectionCopy::take(&board.scene));

    const QMimeData *mime = QGuiApplication::clipboard()->mimeData();
    if (!pictureSize.isValid())
        pictureSize = copied.size().toSize();
    QCOMPARE(mime->text(), text);
    QCOMPARE(qvariant_cast<QImage>(mime->imageData()).size(), pictureSize);
    QCOMPARE(QImage::fromData(mime->data("image/png"), "png").size(), pictureSize);
    QDataStream header(clipboardCopy());
    qint64 pid = 0;
    qint32 count = 0;
    header >> pid >> count;
    QCOMPARE(pid, QCoreApplication::applicationPid());
    QCOMPARE(count, records);

    const QPointF at(-1000, 700);
    const Pasted pasted = pasteAndWait(&handler, clipboardCopy(), at);
    QCOMPARE(pasted.message, QString());
    QCOMPARE(int(pasted.items.size()), records);
    QCOMPARE(pasted.allItems, items);
    QCOMPARE(pasted.pictures, int(selection.count(QRegularExpression("[abfgr]"))));
    // The group keeps its shape and its centre lands on the paste point.
    QCOMPARE(pasted.bounds.center(), at);
    QCOMPARE(pasted.bounds.size(), copied.size());
    const auto linearPart = [](const GraphicsItem *item) {
        const QTransform t = item->fullTransform();
        return QVector<qreal> { t.m11(), t.m12(), t.m21(), t.m22() };
    };
    for (const auto &item : pasted.items) {
        QChar key = item->text() == QLatin1String("attached") ? 'c' : 'n';
        if (auto *image = dynamic_cast<GraphicsImageItem *>(item.get())) {
            key = QStringLiteral("?abrfg").at(image->name().section(' ', 1).toInt());
            QCOMPARE(
                image->cropPath(), static_cast<GraphicsImageItem *>(board.items[key])->cropPath());
        }
        // Moved, not turned: to the last bit.
        QCOMPARE(linearPart(item.get()), linearPart(board.items[key]));
    }
}

void tst_CopyPasteHandler::onlyForeignClipboardChangesDropTheCache()
{
    Board board;
    board.select("acb");
    CopyPasteHandler handler;
    handler.setServerName(uniqueName("local"));
    handler.copy(SelectionCopy::take(&board.scene));
    QCOMPARE(handler.cachedImageCount(), 2);
    handler.clipboardChanged(QClipboard::Selection);
    handler.clipboardChanged(QClipboard::FindBuffer);
    QCOMPARE(handler.cachedImageCount(), 2);
    QGuiApplication::clipboard()->setText(QStringLiteral("copied elsewhere"));
    QCOMPARE(handler.cachedImageCount(), 0);
}

void tst_CopyPasteHandler::leftToOtherProgramsAtExit_data()
{
    QTest::addColumn<QString>("selection");
    QTest::addColumn<bool>("ours");
    QTest::addRow("our picture") << "a" << true;
    QTest::addRow("our note, as text") << "c" << true;
    QTest::addRow("another instance's copy") << "a" << false;
}

void tst_CopyPasteHandler::leftToOtherProgramsAtExit()
{
    QFETCH(QString, selection);
    QFETCH(bool, ours);
    Board board;
    board.select(selection);
    CopyPasteHandler handler;
    handler.setServerName(uniqueName("exit"));
    handler.setOfferPng(true);
    handler.copy(SelectionCopy::take(&board.scene));
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!ours) {
        // The same copy, as another process put it there.
        QByteArray data = clipboardCopy();
        QDataStream(&data, QIODevice::ReadWrite) << qint64(QCoreApplication::applicationPid() + 1);
        auto *mime = new QMimeData;
        mime->setData(CopyPasteHandler::MimeType, data);
        clipboard->setMimeData(mime);
    }
    const QString text = clipboard->mimeData()->text();
    const QImage picture = qvariant_cast<QImage>(clipboard->mimeData()->imageData());

    CopyPasteHandler::leaveClipboardToOthers();
    const QMimeData *left = clipboard->mimeData();
    QCOMPARE(left->hasFormat(CopyPasteHandler::MimeType), !ours);
    QCOMPARE(left->text(), text);
    QCOMPARE(qvariant_cast<QImage>(left->imageData()), picture);
    if (ours && !picture.isNull())
        QCOMPARE(QImage::fromData(left->data("image/png"), "png").size(), picture.size());
}

void tst_CopyPasteHandler::otherProcess_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("copyHere");
    QTest::addColumn<bool>("copyWhileWaiting");
    QTest::addRow("paste what it copied") << "--serve-copy" << false << false;
    QTest::addRow("paste before it serves") << "--serve-copy-busy" << false << false;
    QTest::addRow("a copy here ends the wait") << "--serve-copy-busy" << false << true;
    QTest::addRow("a newer copy here takes its server") << "--serve-copy" << true << false;
}

void tst_CopyPasteHandler::otherProcess()
{
    QFETCH(QString, mode);
    QFETCH(bool, copyHere);
    QFETCH(bool, copyWhileWaiting);
    const QString name = uniqueName("serve");
    QProcess other;
    other.start(QCoreApplication::applicationFilePath(), { mode, name });
    QVERIFY(other.waitForReadyRead(60000));
    const QByteArray data = QByteArray::fromBase64(other.readLine().trimmed());
    CopyPasteHandler handler;
    handler.setServerName(name);
    if (copyHere) {
        Board board;
        board.select("n");
        handler.copy(SelectionCopy::take(&board.scene));
        QTRY_VERIFY_WITH_TIMEOUT(handler.isServing(), 60000);
        QVERIFY(other.waitForFinished(60000));
        QCOMPARE(other.readAll().trimmed(), QByteArray("released"));
        return;
    }
    if (copyWhileWaiting) {
        // The copy here is newer than the one pasted, and never what the other sends.
        Board board;
        board.select("n");
        QTimer::singleShot(300, &handler, [&] { handler.copy(SelectionCopy::take(&board.scene)); });
        QSignalSpy fallback(&handler, &CopyPasteHandler::pasteFallbackRequested);
        const Pasted pasted = pasteAndWait(&handler, data, QPointF(5, 5));
        QCOMPARE(pasted.message, QString());
        QCOMPARE(pasted.allItems, 0);
        QCOMPARE(fallback.size(), 0);
        // It serves once its loader is free, with nobody left to ask for its copy.
        other.kill();
        other.waitForFinished(60000);
        return;
    }
    const Pasted pasted = pasteAndWait(&handler, data, QPointF(5, 5));
    QCOMPARE(pasted.message, QString());
    QCOMPARE(pasted.allItems, 3);
    QCOMPARE(pasted.pictures, 2);
    QCOMPARE(pasted.bounds.center(), QPointF(5, 5));
    QCOMPARE(pasted.addresses,
        QStringList { "https://example.com/1.png https://example.com/pictures.html" });
    QVERIFY(other.waitForFinished(60000));
    QCOMPARE(other.exitCode(), 0);
}

void tst_CopyPasteHandler::hostileServer_data()
{
    QTest::addColumn<QByteArray>("sent");
    // 1: loads, 0: refused with a message, -1: nobody listens or the server hangs up before all
    // has come, so the ordinary paste follows.
    QTest::addColumn<int>("outcome");
    // Bytes sent in a first write, the rest a moment later; 0: all at once.
    QTest::addColumn<int>("split");
    // The server hangs up once it has written, as an instance killed while sending does.
    QTest::addColumn<bool>("hangUp");
    const auto sized = [](qint32 size, const QByteArray &payload) -> QByteArray {
        char header[4];
        qToBigEndian(size, header);
        return QByteArray(header, 4) + payload;
    };
    const QByteArray good = CopyPasteHandler::payloadOf({ { 7, picture(7) } });
    // A PNG of one grey pixel whose header claims 60000 by 60000.
    QByteArray huge
        = CopyPasteHandler::payloadOf({ { 7, QImage(1, 1, QImage::Format_Grayscale8) } });
    const int ihdr = huge.indexOf("IHDR");
    huge.replace(ihdr + 4, 8, QByteArray::fromHex("0000ea600000ea60"));
    qToBigEndian(crc32(huge.mid(ihdr, 17)), huge.data() + ihdr + 17);
    QTest::addRow("an honest server") << sized(good.size(), good) << 1 << 0 << false;
    QTest::addRow("size header in two parts") << sized(good.size(), good) << 1 << 2 << false;
    QTest::addRow("nobody listening") << QByteArray() << -1 << 0 << false;
    QTest::addRow("half a size header, then nothing") << QByteArray("\0\0", 2) << 0 << 0 << false;
    QTest::addRow("zero size") << sized(0, {}) << 0 << 0 << false;
    QTest::addRow("negative size") << sized(-5, good) << 0 << 0 << false;
    QTest::addRow("2 GiB size") << sized(qint32(0x80000000), good) << 0 << 0 << false;
    QTest::addRow("just over 1 GiB") << sized((1 << 30) + 1, good) << 0 << 0 << false;
    QTest::addRow("more than announced")
        << sized(good.size(), good + QByteArray("!")) << 0 << 0 << false;
    QTest::addRow("stalls half-way") << sized(good.size(), good.left(20)) << 0 << 0 << false;
    QTest::addRow("hangs up before the size") << QByteArray() << -1 << 0 << true;
    QTest::addRow("hangs up half-way") << sized(good.size(), good.left(20)) << -1 << 0 << true;
    QTest::addRow("1 GiB announced, a little sent, hangs up")
        << sized(1 << 30, good) << -1 << 0 << true;
    QTest::addRow("count of 2^31-1")
        << sized(12, QByteArray::fromHex("7fffffff0000000700000000")) << 0 << 0 << false;
    QTest::addRow("image claiming 60000 by 60000") << sized(huge.size(), huge) << 0 << 0 << false;
}

void tst_CopyPasteHandler::hostileServer()
{
    QFETCH(QByteArray, sent);
    QFETCH(int, outcome);
    QFETCH(int, split);
    QFETCH(bool, hangUp);
    const QString name = uniqueName("hostile");
    QLocalServer server;
    QVERIFY((outcome < 0 && !hangUp) || LocalServers::listen(&server, name));
    // Peers stay connected until the server goes, unless the row hangs up: a stalled one never
    // does.
    connect(&server, &QLocalServer::newConnection, this, [&] {
        QLocalSocket *peer = server.nextPendingConnection();
        peer->write(split > 0 ? sent.left(split) : sent);
        if (hangUp)
            peer->disconnectFromServer();
        if (split > 0)
            QTimer::singleShot(200, peer, [peer, rest = sent.mid(split)] { peer->write(rest); });
    });
    ItemRecord record;
    record.id = 7;
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    // Process id 0 is never ours: the pixels must come over the pipe.
    out << qint64(0) << qint32(1) << QRectF(0, 0, 40, 30);
    ItemRecordCodec::write(out, { record });

    CopyPasteHandler handler;
    handler.setServerName(name);
    handler.setStallTimeout(3000);
    QSignalSpy fallback(&handler, &CopyPasteHandler::pasteFallbackRequested);
    const Pasted pasted = pasteAndWait(&handler, data, QPointF(3, 4));
    QCOMPARE(int(pasted.items.size()), outcome > 0 ? 1 : 0);
    QCOMPARE(pasted.message.isEmpty(), outcome != 0);
    QCOMPARE(fallback.size(), outcome < 0 ? 1 : 0);
}

int main(int argc, char **argv)
{
    if (argc == 3
        && (qstrcmp(argv[1], "--serve-copy") == 0 || qstrcmp(argv[1], "--serve-copy-busy") == 0))
        return serveCopy(argc, argv);
    QApplication app(argc, argv);
    tst_CopyPasteHandler test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_copypastehandler.moc"
