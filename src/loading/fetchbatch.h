#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class BaseLoader;
class LoadJob;
class QNetworkAccessManager;
class QNetworkReply;

// One batch of downloads of a load: the addresses are fetched one after another and each body is
// offered to makeItem. When pageAddress is set, a body that made no item is read as an HTML page
// at that address and handed to loadPage (which may run a batch of its own, nested in this one).
//
// Runs on the loader thread. run() waits in an event loop of its own, so the replies' signals,
// cancellation and any nested batch are served meanwhile, and only this batch ends that wait.
class FetchBatch : public QObject {
    Q_OBJECT

public:
    using ItemMaker = std::function<bool(const QByteArray &body, const QString &address)>;
    // Returns whether the page's pictures made any item.
    using PageLoader = std::function<bool(const QString &html, const QString &pageAddress)>;

    static constexpr int defaultTransferTimeout = 30000;
    static constexpr qint64 defaultMaximumSize = qint64(512) * 1024 * 1024;

    FetchBatch(BaseLoader *loader, LoadJob *job, const QStringList &addresses, ItemMaker makeItem,
        QObject *parent = nullptr);
    ~FetchBatch() override;

    void setPageAddress(const QString &pageAddress, PageLoader loadPage);
    // Milliseconds without a byte received before a download is given up.
    void setTransferTimeout(int msecs) { m_transferTimeout = msecs; }
    void setMaximumSize(qint64 bytes) { m_maximumSize = bytes; }

    // Downloads every address; true when any of them made an item.
    bool run();

signals:
    void doneFetching();

private:
    void fetchNext();
    void onProgress(qint64 received, qint64 total);
    void onFinished();
    // Aborts the download in flight when bytes exceed the maximum size; true when it did.
    bool abortWhenTooLarge(qint64 bytes);
    bool handleDataUrl(const QString &address);
    void countDone();

    BaseLoader *m_loader;
    LoadJob *m_job;
    ItemMaker m_makeItem;
    PageLoader m_loadPage;
    std::unique_ptr<QNetworkAccessManager> m_network;
    QPointer<QNetworkReply> m_reply;
    QString m_currentAddress;
    QStringList m_pending;
    QString m_pageAddress;
    int m_batchSize = 0;
    int m_doneCount = 0;
    bool m_progressRangeSet = false;
    bool m_loadedAny = false;
    bool m_done = false;
    bool m_tooLarge = false;
    int m_transferTimeout = defaultTransferTimeout;
    qint64 m_maximumSize = defaultMaximumSize;
};
