#include "loading/fetchbatch.h"

#include "jobs/baseloader.h"
#include "jobs/loadjob.h"
#include "loading/htmlimageurls.h"
#include "loading/loadinglog.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

FetchBatch::FetchBatch(BaseLoader *loader, LoadJob *job, const QStringList &addresses,
    ItemMaker makeItem, QObject *parent)
    : QObject(parent)
    , m_loader(loader)
    , m_job(job)
    , m_makeItem(std::move(makeItem))
    , m_network(std::make_unique<QNetworkAccessManager>())
    , m_pending(addresses)
    , m_batchSize(addresses.size())
{
}

FetchBatch::~FetchBatch()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        delete m_reply;
    }
}

void FetchBatch::setPageAddress(const QString &pageAddress, PageLoader loadPage)
{
    m_pageAddress = pageAddress;
    m_loadPage = std::move(loadPage);
}

bool FetchBatch::run()
{
    if (m_pending.isEmpty() || m_job->isCanceled())
        return false;
    if (m_batchSize > 1)
        m_loader->reportProgressRange(m_job, 0, m_batchSize);

    // Cancelling aborts the download in flight at once, not at its next progress report.
    connect(m_job, &LoadJob::canceledCalled, this, [this] {
        if (m_reply)
            m_reply->abort();
    });

    QEventLoop loop;
    connect(this, &FetchBatch::doneFetching, &loop, &QEventLoop::quit);
    fetchNext();
    if (!m_done)
        loop.exec();
    return m_loadedAny;
}

void FetchBatch::fetchNext()
{
    while (!m_pending.isEmpty() && !m_job->isCanceled()) {
        m_currentAddress = m_pending.takeFirst();
        if (handleDataUrl(m_currentAddress))
            continue;
        if (!HtmlImageUrls::isFetchable(m_currentAddress)) {
            qCDebug(lcLoading, "%s: not a web address, skipped", qUtf8Printable(m_currentAddress));
            countDone();
            continue;
        }

        QNetworkRequest request(QUrl(m_currentAddress, QUrl::TolerantMode));
        request.setAttribute(
            QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        request.setHeader(
            QNetworkRequest::UserAgentHeader, QStringLiteral("Velkora/" VELKORA_VERSION));
        request.setTransferTimeout(m_transferTimeout);
        m_reply = m_network->get(request);
        connect(m_reply, &QNetworkReply::downloadProgress, this, &FetchBatch::onProgress);
        connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
            if (m_reply)
                abortWhenTooLarge(
                    m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
        });
        connect(m_reply, &QNetworkReply::readyRead, this, [this] {
            if (m_reply)
                abortWhenTooLarge(m_reply->bytesAvailable());
        });
        connect(m_reply, &QNetworkReply::finished, this, &FetchBatch::onFinished);
        return;
    }
    m_done = true;
    emit doneFetching();
}

bool FetchBatch::abortWhenTooLarge(qint64 bytes)
{
    // The whole body is held in memory until it ends: refuse what could exhaust it.
    if (m_tooLarge)
        return true;
    if (m_maximumSize <= 0 || bytes <= m_maximumSize || !m_reply)
        return false;
    qCWarning(lcLoading, "%s: larger than %lld bytes, download aborted",
        qUtf8Printable(m_currentAddress), m_maximumSize);
    m_tooLarge = true;
    m_reply->abort();
    return true;
}

void FetchBatch::onProgress(qint64 received, qint64 total)
{
    if (!m_reply)
        return;
    if (m_job->isCanceled()) {
        m_reply->abort();
        return;
    }
    if (abortWhenTooLarge(total) || abortWhenTooLarge(received))
        return;
    if (m_batchSize != 1)
        return;
    if (!m_progressRangeSet) {
        m_progressRangeSet = true;
        m_loader->reportProgressRange(m_job, 0, int(qMax<qint64>(0, total) / 1000));
    }
    m_loader->reportProgress(m_job, int(received / 1000));
}

void FetchBatch::onFinished()
{
    QNetworkReply *reply = m_reply;
    if (!reply)
        return;
    m_reply = nullptr;

    QString page;
    if (!m_tooLarge && reply->error() == QNetworkReply::NoError) {
        m_reply = reply;
        abortWhenTooLarge(reply->bytesAvailable());
        m_reply = nullptr;
    }
    if (m_tooLarge) {
        m_tooLarge = false;
    } else if (reply->error() != QNetworkReply::NoError) {
        qCDebug(lcLoading, "%s: %s", qUtf8Printable(m_currentAddress),
            qUtf8Printable(reply->errorString()));
    } else if (!m_job->isCanceled()) {
        const QByteArray body = reply->readAll();
        if (m_makeItem(body, m_currentAddress))
            m_loadedAny = true;
        else if (!m_pageAddress.isEmpty())
            page = QString::fromUtf8(body);
    }
    countDone();
    reply->deleteLater();

    // Pages that this page refers to are not followed: the address is used once.
    if (!page.isEmpty() && !m_job->isCanceled() && m_loadPage) {
        const QString pageAddress = m_pageAddress;
        m_pageAddress.clear();
        if (m_loadPage(page, pageAddress))
            m_loadedAny = true;
    }

    if (!m_pending.isEmpty() && !m_job->isCanceled()) {
        fetchNext();
    } else {
        m_done = true;
        emit doneFetching();
    }
}

void FetchBatch::countDone()
{
    ++m_doneCount;
    if (m_batchSize > 1)
        m_loader->reportProgress(m_job, m_doneCount);
}

bool FetchBatch::handleDataUrl(const QString &address)
{
    // "data:image/png;base64,...": the picture is in the address itself.
    if (!address.startsWith(QLatin1String("data:"), Qt::CaseInsensitive))
        return false;
    const int comma = address.indexOf(QLatin1Char(','));
    if (comma > 0
        && address.leftRef(comma).endsWith(QLatin1String(";base64"), Qt::CaseInsensitive)) {
        const QByteArray body = QByteArray::fromBase64(address.midRef(comma + 1).toLatin1());
        // The address is the picture itself, not a place it came from.
        if (m_makeItem(body, QString()))
            m_loadedAny = true;
    }
    countDone();
    return true;
}
