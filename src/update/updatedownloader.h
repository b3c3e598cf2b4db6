#pragma once

#include "update/updatemanifest.h"
#include "update/updateservice.h"

#include <QObject>
#include <QVector>

class QNetworkAccessManager;
class QNetworkReply;

// Downloads the files of an update into a folder, all at once, and verifies each against the
// checksum of the (signed) version record before it is written. A file counts as done, and its
// progress reaches 100, only once it is verified and written, so the installation that waits
// for every file at 100 never sees an unverified one. The first failure aborts every other
// download, removes what was written and reports once. GUI thread only.
class UpdateDownloader : public QObject {
    Q_OBJECT

public:
    struct Entry {
        UpdateManifest::File file;
        QString downloadedPath; // absolute, once written
        qint64 size = 0;
        int progress = 0; // 0 .. 100
        QNetworkReply *reply = nullptr;
    };

    UpdateDownloader(const UpdateService &service, QObject *parent = nullptr);
    ~UpdateDownloader() override;

    // The files whose copy in the installation folder does not have the listed MD5.
    static QVector<UpdateManifest::File> filesToDownload(
        const QVector<UpdateManifest::File> &files, const QString &installDir);
    static QString md5Of(const QByteArray &data);

    // Requests every file at once into folder, which exists.
    void start(
        const QVector<UpdateManifest::File> &files, const QString &version, const QString &folder);
    // Aborts every download; nothing is reported afterwards.
    void cancel();

    const QVector<Entry> &entries() const { return m_entries; }
    bool isComplete() const;
    int progress() const;
    int maximum() const { return 100 * m_entries.size(); }

signals:
    void progressChanged(int value, int maximum);
    // Every file verified and written.
    void completed();
    // Nothing more happens after this; the files written so far are removed.
    void failed(const QString &heading, const QString &details);

private:
    void onProgress(int index, qint64 received, qint64 total);
    void onFinished(int index);
    void fail(const QString &heading, const QString &details);
    void abortAll();

    UpdateService m_service;
    QNetworkAccessManager *m_network;
    QVector<Entry> m_entries;
    QString m_folder;
    bool m_stopped = false;
};
