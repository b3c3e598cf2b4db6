#include "update/updatedownloader.h"

#include "update/updatelog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStorageInfo>
#include <QUrlQuery>

#include <algorithm>

UpdateDownloader::UpdateDownloader(const UpdateService &service, QObject *parent)
    : QObject(parent)
    , m_service(service)
    , m_network(new QNetworkAccessManager(this))
{
}

UpdateDownloader::~UpdateDownloader()
{
    abortAll();
}

QString UpdateDownloader::md5Of(const QByteArray &data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

QVector<UpdateManifest::File> UpdateDownloader::filesToDownload(
    const QVector<UpdateManifest::File> &files, const QString &installDir)
{
    QVector<UpdateManifest::File> wanted;
    for (const UpdateManifest::File &file : files) {
        QFile local(installDir + QLatin1Char('/') + file.path);
        if (local.open(QIODevice::ReadOnly)) {
            QCryptographicHash hash(QCryptographicHash::Md5);
            if (hash.addData(&local) && QString::fromLatin1(hash.result().toHex()) == file.checksum)
                continue;
        }
        wanted.append(file);
    }
    return wanted;
}

void UpdateDownloader::start(
    const QVector<UpdateManifest::File> &files, const QString &version, const QString &folder)
{
    m_folder = folder;
    m_stopped = false;
    m_entries.clear();
    for (const UpdateManifest::File &file : files)
        m_entries.append(Entry { file, {}, 0, 0, nullptr });

    for (int i = 0; i < m_entries.size(); ++i) {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("file"), m_entries[i].file.path);
        query.addQueryItem(QStringLiteral("version"), version);
        QNetworkReply *reply = m_service.get(m_network,
            m_service.url(QStringLiteral("/files/file.php"), query.toString(QUrl::FullyEncoded)));
        m_entries[i].reply = reply;
        connect(reply, &QNetworkReply::downloadProgress, this,
            [this, i](qint64 received, qint64 total) { onProgress(i, received, total); });
        connect(reply, &QNetworkReply::finished, this, [this, i] { onFinished(i); });
    }
    emit progressChanged(progress(), maximum());
    if (m_entries.isEmpty())
        emit completed();
}

void UpdateDownloader::cancel()
{
    m_stopped = true;
    abortAll();
}

bool UpdateDownloader::isComplete() const
{
    return !m_stopped && std::all_of(m_entries.cbegin(), m_entries.cend(), [](const Entry &entry) {
        return entry.progress == 100;
    });
}

int UpdateDownloader::progress() const
{
    int sum = 0;
    for (const Entry &entry : m_entries)
        sum += entry.progress;
    return sum;
}

void UpdateDownloader::onProgress(int index, qint64 received, qint64 total)
{
    if (m_stopped || total <= 0)
        return;
    // 100 is kept for a file that has been verified and written.
    m_entries[index].progress = static_cast<int>(std::min<qint64>(99, received * 100 / total));
    emit progressChanged(progress(), maximum());
}

void UpdateDownloader::onFinished(int index)
{
    Entry &entry = m_entries[index];
    QNetworkReply *reply = entry.reply;
    entry.reply = nullptr;
    reply->deleteLater();
    if (m_stopped)
        return;

    const QByteArray data
        = reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    if (data.isEmpty()) {
        const QString why = reply->error() != QNetworkReply::NoError ? reply->errorString()
                                                                     : tr("Nothing to download.");
        fail(tr("Failed to download files."),
            tr("Download of file '%0' failed: %1").arg(entry.file.path, why));
        return;
    }

    const QString destination = QDir(m_folder).absoluteFilePath(entry.file.path);
    const QString checksum = md5Of(data);
    if (checksum != entry.file.checksum) {
        fail(tr("Verification of downloaded files failed."),
            tr("Checksum of file '%0' was %1, server said %2.")
                .arg(destination, checksum, entry.file.checksum));
        return;
    }
    if (!QDir().mkpath(QFileInfo(destination).absolutePath())) {
        fail(tr("Failed to download files."),
            tr("Update download failed: Failed to create path for downloaded file '%0'")
                .arg(entry.file.path));
        return;
    }
    const QStorageInfo volume(m_folder);
    if (volume.bytesAvailable() < data.size()) {
        fail(tr("Failed to download files."),
            tr("There is not enough space on the disk for the temporary update files.\n\n Needs "
               "at least %0 on disk '%1'")
                .arg(QLocale().toString(static_cast<double>(data.size()), 'f', 2),
                    volume.displayName()));
        return;
    }
    QFile file(destination);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        fail(tr("Failed to download files."), file.errorString());
        return;
    }
    entry.downloadedPath = QFileInfo(destination).absoluteFilePath();
    if (file.write(data) != data.size() || !file.flush()) {
        fail(tr("Failed to write downloaded files."), file.errorString());
        return;
    }
    entry.size = data.size();
    entry.progress = 100;
    qCDebug(lcUpdate) << "[DONE]" << entry.file.path << "Final size:" << entry.size;
    emit progressChanged(progress(), maximum());
    if (isComplete())
        emit completed();
}

void UpdateDownloader::fail(const QString &heading, const QString &details)
{
    m_stopped = true;
    abortAll();
    for (Entry &entry : m_entries) {
        if (!entry.downloadedPath.isEmpty())
            QFile::remove(entry.downloadedPath);
        entry.downloadedPath.clear();
        entry.progress = 0;
    }
    emit failed(heading, details);
}

void UpdateDownloader::abortAll()
{
    for (Entry &entry : m_entries) {
        if (QNetworkReply *reply = entry.reply) {
            entry.reply = nullptr;
            disconnect(reply, nullptr, this, nullptr);
            reply->abort();
            reply->deleteLater();
        }
    }
}
