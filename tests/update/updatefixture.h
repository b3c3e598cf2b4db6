#pragma once

#include "../loading/httptestserver.h"
#include "update/updatedownloader.h"
#include "update/updateservice.h"
#include "update/updatesignature.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QUrlQuery>

#include <sodium.h>

#include <algorithm>

// A test update service: a key pair of its own, and a local HTTP server that answers with signed
// version records and the files they list.
class UpdateFixture {
public:
    UpdateFixture()
    {
        if (sodium_init() < 0)
            qFatal("libsodium does not start");
        crypto_sign_keypair(m_public, m_secret);
    }

    UpdateService service() const
    {
        UpdateService service;
        service.address = QUrl(server.url(QString()));
        service.publicKey
            = QByteArray(reinterpret_cast<const char *>(m_public), crypto_sign_PUBLICKEYBYTES);
        service.transferTimeoutMs = 2000;
        service.packageDatabase = QStringLiteral("/nonexistent");
        return service;
    }

    QByteArray sign(const QByteArray &body, const unsigned char *secret = nullptr) const
    {
        unsigned char signature[crypto_sign_BYTES];
        crypto_sign_detached(signature, nullptr,
            reinterpret_cast<const unsigned char *>(body.constData()),
            static_cast<unsigned long long>(body.size()), secret ? secret : m_secret);
        return QByteArray(reinterpret_cast<const char *>(signature), crypto_sign_BYTES).toBase64();
    }

    // Serves body as the version record with this signature header value (none when empty).
    void serveRecord(const QByteArray &body, const QByteArray &signature,
        HttpTestServer::Behaviour behaviour = HttpTestServer::Behaviour::Whole)
    {
        server.setRoute("/version.php", { 200, "application/json", body, {}, behaviour });
        if (!signature.isEmpty())
            server.setHeaders("/version.php", { "X-Velkora-Signature: " + signature });
    }
    void serveSigned(const QByteArray &body) { serveRecord(body, sign(body)); }

    // Serves a file as the downloader asks for it.
    void serveFile(const QString &path, const QString &version, const QByteArray &data,
        HttpTestServer::Behaviour behaviour = HttpTestServer::Behaviour::Whole)
    {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("file"), path);
        query.addQueryItem(QStringLiteral("version"), version);
        server.setRoute("/files/file.php?" + query.toString(QUrl::FullyEncoded).toUtf8(),
            { 200, "application/octet-stream", data, {}, behaviour });
    }

    int fileRequests() const
    {
        return static_cast<int>(
            std::count_if(server.requestedPaths.cbegin(), server.requestedPaths.cend(),
                [](const QByteArray &path) { return path.startsWith("/files/"); }));
    }

    static void writeFile(const QString &path, const QByteArray &data)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            qFatal("cannot write %s", qPrintable(path));
    }

    // Every file and link of a folder with its content (links: "-> target").
    static QMap<QString, QByteArray> tree(const QString &root)
    {
        QMap<QString, QByteArray> entries;
        QDirIterator it(root,
            QDir::Files | QDir::System | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot,
            QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QFileInfo info(path);
            const QString name = QDir(root).relativeFilePath(path);
            if (info.isSymLink())
                entries.insert(name, "-> " + info.symLinkTarget().toUtf8());
            else if (info.isFile()) {
                QFile file(path);
                file.open(QIODevice::ReadOnly);
                entries.insert(name, file.readAll());
            }
        }
        return entries;
    }

    HttpTestServer server;

private:
    unsigned char m_public[crypto_sign_PUBLICKEYBYTES];
    unsigned char m_secret[crypto_sign_SECRETKEYBYTES];
};
