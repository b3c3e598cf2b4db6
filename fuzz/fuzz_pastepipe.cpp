// libFuzzer target for the paste pipe between instances: a paste of a copy made elsewhere asks
// the copying instance for the pixels, and here a server in this process plays that instance,
// sending the input as it is (size header, count, then image entries of id, marker and PNG
// stream) and hanging up. The paste must end, with the copy's items or a message, whatever
// arrives. The copy names pictures 1, 2 and 7, so that pixels sent for them become items.
// See CMakeLists.txt in this folder; "-make_corpus=DIR" writes the seeds of fuzz/pipe-seeds.

#include "clipboard/copypastehandler.h"
#include "fuzzcorpus.h"
#include "jobs/loadjob.h"
#include "persistence/itemrecordcodec.h"
#include "platform/localservers.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QLocalServer>
#include <QLocalSocket>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

QByteArray sized(const QByteArray &payload)
{
    QByteArray header;
    QDataStream out(&header, QIODevice::WriteOnly);
    out << qint32(payload.size());
    return header + payload;
}

QImage picture(int width, int height, QImage::Format format)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x * 40 % 256, y * 60 % 256, (x + y) * 20 % 256, 128 + x));
    return image.convertToFormat(format);
}

void makeCorpus(const QString &directory)
{
    const auto save = [&directory](const QString &name, const QByteArray &bytes) {
        writeSeed(directory, name, bytes);
    };
    save(QStringLiteral("one-picture.bin"),
        sized(CopyPasteHandler::payloadOf({ { 7, picture(5, 4, QImage::Format_ARGB32) } })));
    save(QStringLiteral("three-pictures.bin"),
        sized(CopyPasteHandler::payloadOf({ { 1, picture(3, 3, QImage::Format_RGB32) },
            { 2, picture(2, 6, QImage::Format_Grayscale8) },
            { 7, picture(4, 1, QImage::Format_ARGB32) } })));
    // A picture without pixels: its marker is 0.
    save(QStringLiteral("missing-pixels.bin"),
        sized(CopyPasteHandler::payloadOf({ { 7, QImage() } })));
}

// The instance that copied: sends the bytes it is given to whoever connects, then hangs up.
class Peer : public QObject {
public:
    Peer()
    {
        const QString name
            = QStringLiteral("fuzz_pastepipe_%1").arg(QCoreApplication::applicationPid());
        if (!LocalServers::listen(&m_server, name))
            std::abort();
        m_name = name;
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
                socket->write(m_bytes);
                socket->disconnectFromServer();
            }
        });
    }
    QString name() const { return m_name; }
    void setBytes(const QByteArray &bytes) { m_bytes = bytes; }

private:
    QLocalServer m_server;
    QString m_name;
    QByteArray m_bytes;
};

QByteArray copyNaming(const QList<int> &pictures)
{
    QList<ItemRecord> records;
    for (const int id : pictures) {
        ItemRecord record = ItemRecordCodec::imageRecord(
            QString(), QStringLiteral("p%1").arg(id), id, 1.0f, QTransform());
        records.append(record);
    }
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    // Process id 0 is never this one: the pixels must come over the pipe.
    out << qint64(0) << qint32(records.size()) << QRectF(0, 0, 10, 10);
    ItemRecordCodec::write(out, records);
    return data;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication application(*argc, *argv);
    makeCorpusWhenAsked(*argc, *argv, makeCorpus);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Peer peer;
    static const QByteArray copy = copyNaming({ 1, 2, 7 });
    peer.setBytes(QByteArray(reinterpret_cast<const char *>(data), int(size)));

    CopyPasteHandler handler;
    handler.setServerName(peer.name());
    // A peer that hangs up ends the paste at once; the stall timeout only bounds a fault.
    handler.setStallTimeout(5000);
    LoadJob job(&handler);
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&job, &LoadJob::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    handler.paste(copy, QPointF(1, 2), &job);
    if (!finished)
        loop.exec();
    handler.cleanup();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
