#include "clipboard/copypastehandler.h"

#include "clipboard/clipboardlog.h"
#include "jobs/loadjob.h"
#include "persistence/imageloaderrunner.h"
#include "persistence/itemrecordcodec.h"
#include "picture/picture.h"
#include "picture/pngdecoder.h"
#include "picture/pngencoder.h"
#include "platform/localservers.h"
#include "platform/platform.h"
#include "scene/graphicsitem.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDataStream>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMimeData>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>

const QString CopyPasteHandler::MimeType = QStringLiteral("velkora/binary");
const QString CopyPasteHandler::DefaultServerName = QStringLiteral("VelkoraCopyDataPipe");

namespace {

// The header of the private format: process id, record count, bounds.
constexpr qint64 CopyHeaderSize = 8 + 4 + 4 * 8;
// The least an image entry of the payload takes: its id and the null marker of the image.
constexpr qint64 MinimumEntrySize = 4 + 4;
// How long a paste waits for a running copier to serve its copy before it pastes the plain
// picture, and how often it asks meanwhile. A save of a large board can hold the copier's loader
// thread for seconds; the user can cancel the wait, which the progress shows.
constexpr int ConnectGraceMilliseconds = 15000;
constexpr int ConnectRetryMilliseconds = 100;

void forEachRecord(QList<ItemRecord> &records, const std::function<void(ItemRecord &)> &visit)
{
    for (ItemRecord &record : records) {
        visit(record);
        forEachRecord(record.children, visit);
    }
}

} // namespace

CopyPasteHandler::CopyPasteHandler(QObject *parent)
    : BaseLoader(parent)
    , m_serverName(DefaultServerName)
{
    qRegisterMetaType<QClipboard::Mode>("QClipboard::Mode");
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        m_offerPng = app->platformName() == QLatin1String("xcb");
        // Queued onto this handler's thread once it is moved there.
        connect(QGuiApplication::clipboard(), &QClipboard::changed, this,
            &CopyPasteHandler::clipboardChanged);
    }
}

CopyPasteHandler::~CopyPasteHandler()
{
    endReceiving();
}

int CopyPasteHandler::cachedImageCount() const
{
    QMutexLocker locker(&m_cacheLock);
    return m_cache.size();
}

bool CopyPasteHandler::readCopy(
    const QByteArray &data, qint64 *processId, QRectF *bounds, QList<ItemRecord> *records)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QDataStream in(&buffer);
    qint64 pid = 0;
    qint32 count = 0;
    QRectF rect;
    in >> pid >> count >> rect;
    if (in.status() != QDataStream::Ok || count < 0 || !qIsFinite(rect.x()) || !qIsFinite(rect.y())
        || !qIsFinite(rect.width()) || !qIsFinite(rect.height()))
        return false;
    Q_ASSERT(buffer.pos() == CopyHeaderSize);
    if (!ItemRecordCodec::read(&buffer, count, records))
        return false;
    *processId = pid;
    *bounds = rect;
    return true;
}

QByteArray CopyPasteHandler::payloadOf(const QMap<int, QImage> &images)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out << qint32(images.size());
    for (auto it = images.cbegin(); it != images.cend(); ++it) {
        out << qint32(it.key());
        QByteArray png;
        // The data-stream encoding of a pixmap: a marker (0 for none), then a PNG stream. Our
        // encoder writes the same stream several times faster than the toolkit's.
        if (it.value().isNull()
            || !PngEncoder::encode(
                it.value(), PngEncoder::deflateLevel(PngEncoder::Fastest), &png)) {
            out << qint32(0);
            continue;
        }
        out << qint32(1);
        out.writeRawData(png.constData(), png.size());
    }
    return payload;
}

// GUI thread -----------------------------------------------------------------------------------

void CopyPasteHandler::copy(const Copy &copy)
{
    if (copy.bounds.isNull())
        return;
    // A second instance waits five seconds for this thread to answer its paste: what a copy
    // costs here is logged, so that a long run can tell a slow copy from another stall.
    QElapsedTimer timer;
    timer.start();

    QByteArray data;
    {
        QDataStream out(&data, QIODevice::WriteOnly);
        // The count is that of the records written: an item whose parent is copied too travels
        // inside its parent's record only.
        out << qint64(QCoreApplication::applicationPid()) << qint32(copy.records.size())
            << copy.bounds;
        ItemRecordCodec::write(out, copy.records);
    }

    QMap<int, QImage> images;
    QMap<int, QByteArray> originals;
    QList<ItemRecord> records = copy.records;
    // An image without a picture is cached as a null one: it pastes as the placeholder it was
    // rather than failing the whole paste for want of pixels it never had.
    forEachRecord(records, [&images, &originals](ItemRecord &record) {
        if (record.type == ItemRecord::Type::Image && !images.contains(record.id)) {
            // Pixels not in memory are decoded now: the copy must not depend on the board.
            images.insert(record.id,
                record.image.isNull() && record.picture ? record.picture->pixels() : record.image);
            if (!record.original.isEmpty())
                originals.insert(record.id, record.original);
        }
    });
    const qint64 decoded = timer.elapsed();
    {
        // A paste or a serving pass on the loader thread sees the old cache or the new one,
        // never one half rebuilt.
        QMutexLocker locker(&m_cacheLock);
        m_cache = images;
        m_originals = originals;
    }

    auto *mime = new QMimeData;
    mime->setData(MimeType, data);
    if (copy.records.size() == 1 && copy.records.first().type == ItemRecord::Type::Note
        && copy.records.first().children.isEmpty()) {
        mime->setText(copy.text);
    } else if (!copy.picture.isNull()) {
        mime->setImageData(copy.picture);
        QByteArray png;
        if (m_offerPng
            && PngEncoder::encode(
                copy.picture, PngEncoder::deflateLevel(PngEncoder::Fastest), &png))
            mime->setData(QStringLiteral("image/png"), png);
    }

    QMetaObject::invokeMethod(this, "startPasteServer", Qt::QueuedConnection);
    // The change this causes is our own and must not drop the cache just filled.
    m_ownChangePending = true;
    QGuiApplication::clipboard()->setMimeData(mime, QClipboard::Clipboard);
    qCInfo(lcClipboard, "Copied %d items with %d pictures in %lld ms (pixels %lld ms)",
        int(copy.records.size()), int(images.size()), timer.elapsed(), decoded);
}

void CopyPasteHandler::leaveClipboardToOthers()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QMimeData *current = clipboard->mimeData(QClipboard::Clipboard);
    if (!current || !current->hasFormat(MimeType))
        return;
    // Another instance's copy goes on being served by that instance.
    QDataStream in(current->data(MimeType));
    qint64 processId = 0;
    in >> processId;
    if (in.status() != QDataStream::Ok || processId != QCoreApplication::applicationPid())
        return;
    auto *kept = new QMimeData;
    const QStringList formats = current->formats();
    for (const QString &format : formats) {
        // The picture goes over as an image, which the clipboard offers in every form it knows.
        if (format != MimeType && format != QLatin1String("application/x-qt-image"))
            kept->setData(format, current->data(format));
    }
    if (current->hasImage())
        kept->setImageData(current->imageData());
    clipboard->setMimeData(kept, QClipboard::Clipboard);
}

// Loader thread --------------------------------------------------------------------------------

void CopyPasteHandler::clipboardChanged(QClipboard::Mode mode)
{
    // The selection and the find buffer change with every text a user marks: only a real copy
    // elsewhere replaces ours.
    if (mode != QClipboard::Clipboard)
        return;
    if (m_ownChangePending.exchange(false))
        return;
    {
        QMutexLocker locker(&m_cacheLock);
        m_cache.clear();
        m_originals.clear();
    }
    stopServer();
}

void CopyPasteHandler::cleanup()
{
    {
        QMutexLocker locker(&m_cacheLock);
        m_cache.clear();
        m_originals.clear();
    }
    stopServer();
    if (m_socket || m_pasteJob)
        receiveFailed(QString(), QStringLiteral("Failed to receive paste data: Cleaned up"));
}

void CopyPasteHandler::stopServer()
{
    if (!m_server)
        return;
    m_server->disconnect(this);
    m_server->close();
    m_server->deleteLater();
    m_server = nullptr;
    m_serving = false;
}

void CopyPasteHandler::startPasteServer()
{
    stopServer();
    // A paste still waiting for its copier to serve gives way to the copy made here since: the
    // user moved on.
    if (m_pasteJob && !m_socket)
        receiveFailed(QString(), QStringLiteral("Gave up waiting for paste data: copied here"));

    // Another instance serving an older copy is asked to let the name go.
    {
        QLocalSocket socket;
        socket.connectToServer(LocalServers::address(m_serverName));
        if (socket.waitForConnected(1000)) {
            socket.write("0", 1);
            socket.waitForBytesWritten(30000);
            if (socket.state() != QLocalSocket::UnconnectedState)
                socket.waitForDisconnected(30000);
        }
    }

    m_server = new QLocalServer(this);
    connect(m_server, &QLocalServer::newConnection, this, &CopyPasteHandler::pasteRequested);
    QString error;
    // The old owner closes its server just after it hangs up; give it a moment to do so.
    bool listening = LocalServers::listen(m_server, m_serverName, &error);
    for (int attempt = 0; !listening && attempt < 10; ++attempt) {
        QThread::msleep(50);
        listening = LocalServers::listen(m_server, m_serverName, &error);
    }
    if (!listening) {
        qCDebug(lcClipboard).noquote() << "Failed to start paste server: " + error;
        delete m_server;
        m_server = nullptr;
        return;
    }
    m_serving = true;
}

void CopyPasteHandler::pasteRequested()
{
    if (!m_server)
        return;
    QLocalSocket *socket = m_server->nextPendingConnection();
    if (!socket)
        return;
    socket->setParent(nullptr);
    const auto dispose = [socket] {
        socket->abort();
        socket->deleteLater();
    };
    // A client that speaks first is a newer copy asking for the name; a paste only listens.
    if (socket->waitForReadyRead(500)) {
        dispose();
        stopServer();
        emit serverReleased();
        return;
    }
    // A probe that only checked whether the name is taken.
    if (socket->state() != QLocalSocket::ConnectedState) {
        dispose();
        return;
    }

    LoadJob *job = ensureJob(nullptr);
    reportStarted(job, tr("Sending paste data"));
    QMap<int, QImage> images;
    {
        QMutexLocker locker(&m_cacheLock);
        images = m_cache;
    }
    reportProgressRange(job, 0, images.size());
    QByteArray payload;
    {
        QDataStream out(&payload, QIODevice::WriteOnly);
        out << qint32(images.size());
    }
    int sent = 0;
    for (auto it = images.cbegin(); it != images.cend(); ++it) {
        if (job->isCanceled() || socket->state() != QLocalSocket::ConnectedState)
            break;
        QMap<int, QImage> one;
        one.insert(it.key(), it.value());
        // The entry without the count payloadOf puts in front.
        payload += payloadOf(one).mid(4);
        if (payload.size() > MaximumPayload) {
            // No instance accepts more, and the size header could not say it.
            qCDebug(lcClipboard) << "Failed to send paste data: more than 1 GiB";
            break;
        }
        reportProgress(job, ++sent);
    }
    if (sent != images.size()) {
        dispose();
        reportFinished(job);
        return;
    }

    QByteArray header;
    {
        QDataStream out(&header, QIODevice::WriteOnly);
        out << qint32(payload.size());
    }
    socket->write(header);
    if (!socket->waitForBytesWritten(30000)) {
        qCDebug(lcClipboard).noquote()
            << "Failed to send paste data size: " + socket->errorString();
    } else {
        socket->write(payload);
        // A client that stops reading holds this thread only until the user cancels.
        while (socket->bytesToWrite() > 0 && socket->state() == QLocalSocket::ConnectedState
            && !job->isCanceled()) {
            if (!socket->waitForBytesWritten(30000)) {
                qCDebug(lcClipboard).noquote()
                    << "Failed to send paste data: " + socket->errorString();
                break;
            }
        }
    }
    socket->disconnectFromServer();
    socket->deleteLater();
    reportFinished(job);
}

void CopyPasteHandler::paste(const QByteArray &data, const QPointF &pastePos, LoadJob *loadJob)
{
    LoadJob *job = ensureJob(loadJob);
    reportStarted(job, tr("Pasting"));
    if (m_socket || m_pasteJob) {
        reportFinished(job, tr("Paste failed: Another paste is still in progress."));
        return;
    }
    qint64 processId = 0;
    QRectF bounds;
    QList<ItemRecord> records;
    if (!readCopy(data, &processId, &bounds, &records)) {
        reportFinished(job, tr("Paste failed: The pasted data is damaged."));
        return;
    }
    m_pasteItems = records;
    m_pasteOffset = bounds.center() - pastePos;
    m_pastePosition = pastePos;

    if (processId == QCoreApplication::applicationPid() || cachedImageCount() > 0) {
        insertItems(job);
        return;
    }

    m_pasteJob = job;
    m_copierId = processId;
    m_connectDeadline = QDeadlineTimer(ConnectGraceMilliseconds);
    connectToCopier();
}

void CopyPasteHandler::connectToCopier()
{
    LoadJob *job = m_pasteJob;
    if (!job || m_socket)
        return;
    if (job->isCanceled()) {
        receiveFailed(QString());
        return;
    }
    // While this instance serves a copy of its own, the name leads back here, not to the copier.
    QString why = QStringLiteral("this instance serves the name");
    std::unique_ptr<QLocalSocket> socket;
    if (!m_serving) {
        socket = std::make_unique<QLocalSocket>(this);
        socket->connectToServer(LocalServers::address(m_serverName));
        if (!socket->waitForConnected(5000)) {
            why = socket->errorString();
            socket.reset();
        }
    }
    if (!socket) {
        // The copier puts its copy on the clipboard at once, but starts serving it from its
        // loader thread, which may still be busy with a load or a save for a while.
        if (Platform::processExists(m_copierId) && !m_connectDeadline.hasExpired()) {
            QTimer::singleShot(ConnectRetryMilliseconds, this, [this, job] {
                if (m_pasteJob == job)
                    connectToCopier();
            });
            return;
        }
        qCDebug(lcClipboard).noquote() << "Failed to connect to paste data: " + why;
        m_pasteJob = nullptr;
        endReceiving();
        m_pasteItems.clear();
        reportFinished(job);
        emit pasteFallbackRequested(m_pastePosition);
        return;
    }
    m_socket = socket.release();
    m_received.clear();
    m_expectedSize = 0;
    m_stallTimer = new QTimer(this);
    m_stallTimer->setSingleShot(true);
    m_stallTimer->setInterval(m_stallTimeout);
    connect(m_stallTimer, &QTimer::timeout, this, [this] {
        receiveFailed(tr("Paste failed: The other instance stopped sending."),
            QStringLiteral("Failed to receive paste data: Timed out"));
    });
    connect(m_socket, &QLocalSocket::readyRead, this, &CopyPasteHandler::receive);
    connect(m_socket, &QLocalSocket::disconnected, this, [this] {
        // What came just before the hang-up may still wait in the socket's buffer.
        receive();
        if (!m_socket)
            return;
        peerGone(m_expectedSize == 0
                ? QStringLiteral(
                    "Failed to receive paste data: Disconnected before any data was received")
                : QStringLiteral("Failed to receive paste data: Disconnected"));
    });
    connect(m_socket, &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError) {
        if (m_socket && m_socket->error() != QLocalSocket::PeerClosedError)
            peerGone(QStringLiteral("Failed to receive paste data: ") + m_socket->errorString());
    });
    connect(job, &LoadJob::canceledCalled, this, [this, job] {
        if (m_pasteJob == job)
            receiveFailed(QString());
    });
    m_stallTimer->start();
    reportProgressRange(job, 0, 0);
    if (m_socket->bytesAvailable() > 0)
        receive();
}

void CopyPasteHandler::receive()
{
    if (!m_socket || !m_pasteJob)
        return;
    if (m_pasteJob->isCanceled()) {
        receiveFailed(QString());
        return;
    }
    m_stallTimer->start();
    if (m_expectedSize == 0) {
        // The size is read only once all of it is there; a short read would be taken as zero.
        if (m_socket->bytesAvailable() < 4)
            return;
        QDataStream in(m_socket->read(4));
        qint32 size = 0;
        in >> size;
        if (size <= 0 || size > MaximumPayload) {
            receiveFailed(
                tr("Paste failed: The other instance announced an impossible amount of data."),
                QStringLiteral("Failed to receive paste data: Announced %1 bytes").arg(size));
            return;
        }
        m_expectedSize = size;
    }
    // Never more than announced is taken in, and anything beyond it is refused. Only what has
    // arrived is read: the toolkit sizes its buffer by what is asked for, and a peer announcing
    // 1 GiB would otherwise cost that much memory for every chunk it trickles in.
    const qint64 missing = qint64(m_expectedSize) - m_received.size();
    m_received += m_socket->read(qMin(missing, m_socket->bytesAvailable()));
    if (m_socket->bytesAvailable() > 0) {
        receiveFailed(tr("Paste failed: The other instance sent more data than it announced."),
            QStringLiteral("Failed to receive paste data: More than %1 bytes").arg(m_expectedSize));
        return;
    }
    if (m_received.size() < m_expectedSize)
        return;

    const QByteArray payload = std::exchange(m_received, QByteArray());
    LoadJob *job = m_pasteJob;
    m_pasteJob = nullptr;
    endReceiving();
    if (!readPayload(payload, job)) {
        m_pasteItems.clear();
        reportFinished(job, tr("Paste failed: The pasted data is damaged."));
        return;
    }
    insertItems(job);
}

bool CopyPasteHandler::readPayload(const QByteArray &payload, LoadJob *job)
{
    const auto *bytes = reinterpret_cast<const uchar *>(payload.constData());
    const qint64 size = payload.size();
    QDataStream in(payload);
    qint32 count = 0;
    in >> count;
    // Bounded by the bytes received, not by what the peer claims.
    if (in.status() != QDataStream::Ok || count < 0 || count > (size - 4) / MinimumEntrySize)
        return false;
    reportProgressRange(job, 0, count);
    QMap<int, QImage> images;
    for (qint32 i = 0; i < count; ++i) {
        qint32 id = 0;
        qint32 marker = 0;
        in >> id >> marker;
        if (in.status() != QDataStream::Ok)
            break;
        QImage image;
        if (marker != 0) {
            const qint64 at = in.device()->pos();
            const qint64 length = PngDecoder::streamLength(bytes + at, size - at);
            if (length < 0)
                break;
            // Refuses dimensions the stream's length could not describe before decoding.
            image = ImageLoaderRunner::decodePng(bytes + at, length);
            // Pixels were promised: a picture that does not decode is damage, not a placeholder.
            if (image.isNull())
                return false;
            in.skipRawData(int(length));
        }
        images.insert(id, image);
        reportProgress(job, i + 1);
        if (job->isCanceled())
            return false;
    }
    QMutexLocker locker(&m_cacheLock);
    for (auto it = images.cbegin(); it != images.cend(); ++it)
        m_cache.insert(it.key(), it.value());
    return true;
}

void CopyPasteHandler::insertItems(LoadJob *job)
{
    QList<ItemRecord> items = std::exchange(m_pasteItems, {});
    bool complete = true;
    {
        QMutexLocker locker(&m_cacheLock);
        forEachRecord(items, [this, &complete](ItemRecord &record) {
            if (record.type == ItemRecord::Type::Image) {
                const auto found = m_cache.constFind(record.id);
                if (found == m_cache.constEnd()) {
                    complete = false;
                } else {
                    record.image = found.value();
                    record.original = m_originals.value(record.id);
                }
            }
            record.id = -1;
        });
    }
    if (!complete) {
        reportFinished(job, tr("Paste failed: The pasted images did not exist in the cache."));
        return;
    }
    for (ItemRecord &record : items) {
        record.transform
            = GraphicsItem::movedBy(record.transform.value_or(QTransform()), -m_pasteOffset);
        reportItem(job, record);
    }
    reportFinished(job);
}

void CopyPasteHandler::receiveFailed(const QString &message, const QString &log)
{
    if (!log.isEmpty())
        qCDebug(lcClipboard).noquote() << log;
    LoadJob *job = m_pasteJob;
    m_pasteJob = nullptr;
    endReceiving();
    m_pasteItems.clear();
    if (job)
        reportFinished(job, message);
}

void CopyPasteHandler::peerGone(const QString &log)
{
    // The instance that copied ended (killed, crashed, closed) before all of its copy came over:
    // as when it could not be reached at all, what other programs would paste is pasted, the
    // plain picture that a clipboard manager keeps after its owner has gone.
    const bool pasting = m_pasteJob != nullptr;
    receiveFailed(QString(), log);
    if (pasting)
        emit pasteFallbackRequested(m_pastePosition);
}

void CopyPasteHandler::endReceiving()
{
    if (m_stallTimer) {
        m_stallTimer->stop();
        m_stallTimer->deleteLater();
        m_stallTimer = nullptr;
    }
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_received.clear();
    m_expectedSize = 0;
}
