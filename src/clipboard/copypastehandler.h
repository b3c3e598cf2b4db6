#pragma once

#include "jobs/baseloader.h"
#include "scene/itemrecord.h"

#include <QByteArray>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QImage>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <atomic>

class LoadJob;
class QLocalServer;
class QLocalSocket;
class QTimer;

// Copies items to the system clipboard and pastes them back, in this instance or another one.
// The clipboard gets a picture any program can paste and the private format "velkora/binary":
// process id (qint64), record count (qint32), bounds (QRectF), then the item records as a scene
// file writes them, without pixels. The pixels stay here, in a cache keyed by image id; another
// instance fetches them over the local server "VelkoraCopyDataPipe", which this instance holds as
// long as its copy is on the clipboard. Transfer: a qint32 payload size, then the payload: a
// qint32 count and count pairs of (qint32 image id, image in the data-stream pixmap encoding).
//
// Threads: the handler lives on the loader thread, where the server, every socket and the paste
// in progress live. copy() is the exception: the GUI thread calls it directly, because it writes
// the clipboard. The two share only the image cache, behind m_cacheLock, and the own-change flag,
// an atomic. Everything that arrives over the socket is untrusted: counts and sizes are checked
// against the bytes received before anything is allocated for them.
class CopyPasteHandler : public BaseLoader {
    Q_OBJECT

public:
    // What a copy takes from the board, gathered on the GUI thread where the items live.
    struct Copy {
        // One record per copied item whose parent is not copied too, each holding its copied
        // descendants. Image records carry their pixels, which go into the cache.
        QList<ItemRecord> records;
        // Union of the copied items' scene bounding rectangles.
        QRectF bounds;
        // The form other programs paste: a picture, or the text of a single note.
        QImage picture;
        QString text;
    };

    static const QString MimeType;
    static const QString DefaultServerName;
    // Larger announcements are refused before anything is read: no copy of pixels comes near it.
    static constexpr qint32 MaximumPayload = 1 << 30;
    // Each side of the largest picture put on the clipboard for several items.
    static constexpr int MaximumPictureSide = 10000;

    explicit CopyPasteHandler(QObject *parent = nullptr);
    ~CopyPasteHandler() override;

    // GUI thread. Puts the copy on the clipboard, fills the cache and queues startPasteServer.
    // Nothing happens for a copy with null bounds.
    void copy(const Copy &copy);
    // GUI thread, as the process ends. When the clipboard holds this process's copy, it keeps
    // only what other programs paste: the private format would point at a server that is gone.
    static void leaveClipboardToOthers();
    // Before the handler runs: another server name (tests), how long a transfer may stall, and
    // whether a picture is also offered pre-encoded as image/png (X11 clients ask for PNG, and
    // the toolkit would encode it on the GUI thread at each request).
    void setServerName(const QString &name) { m_serverName = name; }
    QString serverName() const { return m_serverName; }
    void setStallTimeout(int milliseconds) { m_stallTimeout = milliseconds; }
    void setOfferPng(bool offer) { m_offerPng = offer; }
    // Any thread.
    int cachedImageCount() const;
    bool isServing() const { return m_serving.load(); }

    // Reads the private format's header and records; false for bytes that are not a copy.
    static bool readCopy(
        const QByteArray &data, qint64 *processId, QRectF *bounds, QList<ItemRecord> *records);
    // The payload the server sends for the given images, without its size header.
    static QByteArray payloadOf(const QMap<int, QImage> &images);

public slots:
    void paste(const QByteArray &data, const QPointF &pastePos, LoadJob *loadJob = nullptr);
    void clipboardChanged(QClipboard::Mode mode);
    void pasteRequested();
    // Drops the cache, the server and any paste in progress.
    void cleanup();
    void startPasteServer();

signals:
    // The instance that copied could not be reached, or went away before its copy had come:
    // paste the clipboard's ordinary contents at position (scene coordinates) instead.
    void pasteFallbackRequested(const QPointF &position);
    // Another instance asked this one to give up the server name.
    void serverReleased();

private:
    void stopServer();
    void receive();
    void receiveFailed(const QString &message, const QString &log = QString());
    // The copying instance hung up or failed before its copy had come: fall back.
    void peerGone(const QString &log);
    void endReceiving();
    // Connects to the copying instance's server and starts receiving; while that instance runs
    // but does not listen yet, tries again for a while before falling back.
    void connectToCopier();
    bool readPayload(const QByteArray &payload, LoadJob *job);
    void insertItems(LoadJob *job);

    QString m_serverName;
    int m_stallTimeout = 30000;
    bool m_offerPng = false;

    mutable QMutex m_cacheLock;
    QMap<int, QImage> m_cache;
    // The files the cached pictures came from, where kept: a paste here keeps them too. Other
    // instances get the pixels only.
    QMap<int, QByteArray> m_originals;
    std::atomic_bool m_ownChangePending { false };
    std::atomic_bool m_serving { false };

    QLocalServer *m_server = nullptr;
    QLocalSocket *m_socket = nullptr;
    QTimer *m_stallTimer = nullptr;
    QByteArray m_received;
    qint32 m_expectedSize = 0;
    QList<ItemRecord> m_pasteItems;
    QPointF m_pasteOffset;
    QPointF m_pastePosition;
    LoadJob *m_pasteJob = nullptr;
    qint64 m_copierId = 0;
    QDeadlineTimer m_connectDeadline;
};
