#include "httptestserver.h"

#include "jobs/baseloader.h"
#include "jobs/loadjob.h"
#include "loading/fetchbatch.h"
#include "loading/htmlimageurls.h"

#include <QBuffer>
#include <QImage>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray pngBytes(int width = 4, int height = 3)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

class tst_FetchBatch : public QObject {
    Q_OBJECT

private slots:
    void init();
    void singleDownload_data();
    void singleDownload();
    void pageIsSearchedOnce();
    void batchProgress();
    void singleDownloadProgressInKilobytes();
    void stalledServerTimesOut();
    void cancelAbortsAtOnce();
    void oversizedResponses_data();
    void oversizedResponses();
    void otherSchemes();

private:
    QString url(const char *path) const { return m_server->url(QString::fromLatin1(path)); }
    FetchBatch::ItemMaker recorder()
    {
        return [this](const QByteArray &body, const QString &address) {
            if (QImage::fromData(body).isNull())
                return false;
            m_items.append(address);
            return true;
        };
    }

    std::unique_ptr<HttpTestServer> m_server;
    BaseLoader m_loader;
    QStringList m_items;
};

void tst_FetchBatch::init()
{
    m_server = std::make_unique<HttpTestServer>();
    QVERIFY(m_server->isListening());
    m_items.clear();
    m_server->setRoute("/a.png", { 200, "image/png", pngBytes(), {}, {} });
    m_server->setRoute("/b.png", { 200, "image/png", pngBytes(5, 5), {}, {} });
}

void tst_FetchBatch::singleDownload_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("loaded");

    QTest::addRow("image") << QByteArray("/a.png") << true;
    QTest::addRow("missing") << QByteArray("/missing.png") << false;
    QTest::addRow("redirect") << QByteArray("/moved") << true;
    QTest::addRow("wrong content type, picture inside") << QByteArray("/lying") << true;
    QTest::addRow("text") << QByteArray("/text") << false;
}

void tst_FetchBatch::singleDownload()
{
    QFETCH(QByteArray, path);
    QFETCH(bool, loaded);
    m_server->setRoute("/moved", { 302, "text/html", "", "/a.png", {} });
    m_server->setRoute("/lying", { 200, "text/html", pngBytes(), {}, {} });
    m_server->setRoute("/text", { 200, "text/plain", "hello", {}, {} });

    LoadJob job(&m_loader);
    const QString address = url(path.constData());
    FetchBatch batch(&m_loader, &job, { address }, recorder());
    QCOMPARE(batch.run(), loaded);
    // The item's source is the address asked for, also after a redirect.
    QCOMPARE(m_items, loaded ? QStringList { address } : QStringList {});
    QVERIFY(!m_server->userAgents.isEmpty());
    QCOMPARE(m_server->userAgents.first(), QByteArray("Velkora/1.11.1"));
}

void tst_FetchBatch::pageIsSearchedOnce()
{
    // A page that shows two pictures and links to another page.
    m_server->setRoute("/page.html",
        { 200, "text/html",
            "<html><img src=\"a.png\"><img src=\"/b.png\">"
            "<div style=\"background:url(other.html)\"></div></html>",
            {}, {} });
    m_server->setRoute("/other.html", { 200, "text/html", "<img src=\"/never.png\">", {}, {} });

    LoadJob job(&m_loader);
    int pages = 0;
    const QString pageAddress = url("/page.html");
    FetchBatch batch(&m_loader, &job, { pageAddress }, recorder());
    batch.setPageAddress(pageAddress, [&](const QString &html, const QString &base) {
        ++pages;
        FetchBatch nested(&m_loader, &job, HtmlImageUrls::extractImageUrls(html, base), recorder());
        return nested.run();
    });
    QVERIFY(batch.run());
    QCOMPARE(pages, 1);
    QCOMPARE(m_items, QStringList({ url("/a.png"), url("/b.png") }));
    QVERIFY(!m_server->requestedPaths.contains("/never.png"));
}

void tst_FetchBatch::batchProgress()
{
    LoadJob job(&m_loader);
    QSignalSpy range(&job, &LoadJob::progressRangeChanged);
    QSignalSpy progress(&job, &LoadJob::progressChanged);
    QSignalSpy loaderProgress(&m_loader, &BaseLoader::progressChanged);
    FetchBatch batch(&m_loader, &job, { url("/a.png"), url("/gone"), url("/b.png") }, recorder());
    QVERIFY(batch.run());
    QCOMPARE(range.count(), 1);
    QCOMPARE(range.at(0).at(1).toInt(), 3);
    QCOMPARE(progress.count(), 3);
    QCOMPARE(progress.last().at(0).toInt(), 3);
    QCOMPARE(loaderProgress.count(), 3);
    QCOMPARE(m_items.size(), 2);
}

void tst_FetchBatch::singleDownloadProgressInKilobytes()
{
    const QByteArray big = pngBytes(400, 400) + QByteArray(20000, 'x');
    m_server->setRoute("/big.png", { 200, "image/png", big, {}, HttpTestServer::Behaviour::Slow });
    LoadJob job(&m_loader);
    QSignalSpy range(&job, &LoadJob::progressRangeChanged);
    QSignalSpy progress(&job, &LoadJob::progressChanged);
    FetchBatch batch(&m_loader, &job, { url("/big.png") }, recorder());
    QVERIFY(batch.run());
    QCOMPARE(range.count(), 1);
    QCOMPARE(range.at(0).at(1).toInt(), big.size() / 1000);
    QVERIFY(progress.count() >= 2);
    QCOMPARE(progress.last().at(0).toInt(), big.size() / 1000);
}

void tst_FetchBatch::stalledServerTimesOut()
{
    m_server->setRoute(
        "/stall.png", { 200, "image/png", pngBytes(), {}, HttpTestServer::Behaviour::Stall });
    LoadJob job(&m_loader);
    FetchBatch batch(&m_loader, &job, { url("/stall.png"), url("/a.png") }, recorder());
    batch.setTransferTimeout(300);
    QVERIFY(batch.run());
    // The stalled download is given up and the batch goes on with the next.
    QCOMPARE(m_items, QStringList { url("/a.png") });
}

void tst_FetchBatch::cancelAbortsAtOnce()
{
    m_server->setRoute("/slow.png",
        { 200, "image/png", pngBytes(300, 300) + QByteArray(100000, 'x'), {},
            HttpTestServer::Behaviour::Slow });
    LoadJob job(&m_loader);
    // Cancel once the first bytes are on their way; the rest would take seconds.
    m_server->firstPieceSent = [&job] { job.cancel(); };
    FetchBatch batch(&m_loader, &job, { url("/slow.png"), url("/a.png") }, recorder());
    QVERIFY(!batch.run());
    QVERIFY(job.isCanceled());
    QVERIFY(m_items.isEmpty());
    QVERIFY(!m_server->requestedPaths.contains("/a.png"));
}

void tst_FetchBatch::oversizedResponses_data()
{
    QTest::addColumn<int>("behaviour");
    QTest::addRow("by announced length") << int(HttpTestServer::Behaviour::Whole);
    QTest::addRow("by bytes received") << int(HttpTestServer::Behaviour::NoLength);
}

void tst_FetchBatch::oversizedResponses()
{
    QFETCH(int, behaviour);
    m_server->setRoute("/huge.png",
        { 200, "image/png", pngBytes(200, 200) + QByteArray(100000, 'x'), {},
            HttpTestServer::Behaviour(behaviour) });
    LoadJob job(&m_loader);
    FetchBatch batch(&m_loader, &job, { url("/huge.png") }, recorder());
    batch.setMaximumSize(5000);
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression(QStringLiteral("huge.png: larger than 5000 bytes")));
    QVERIFY(!batch.run());
    QVERIFY(m_items.isEmpty());
}

void tst_FetchBatch::otherSchemes()
{
    LoadJob job(&m_loader);
    const QString dataUrl
        = QStringLiteral("data:image/png;base64,") + QString::fromLatin1(pngBytes().toBase64());
    FetchBatch batch(
        &m_loader, &job, { QStringLiteral("file:///etc/hostname"), dataUrl }, recorder());
    QVERIFY(batch.run());
    // The data address is decoded in place; the file address is never read.
    QCOMPARE(m_items, QStringList { QString() });
    QVERIFY(m_server->requestedPaths.isEmpty());
}

QTEST_GUILESS_MAIN(tst_FetchBatch)
#include "tst_fetchbatch.moc"
