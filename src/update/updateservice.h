#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Where the updater asks and what it trusts: the service's address and the public key that signs
// the service's version records. Both are fixed when the program is built
// (VELKORA_UPDATE_SERVICE, VELKORA_UPDATE_PUBLIC_KEY); a build without an address checks nothing.
// Tests make their own, pointing at a server on the loopback address with a key of their own.
struct UpdateService {
    QUrl address;
    QByteArray publicKey; // Ed25519, 32 bytes
    // A request that receives nothing for this long fails, so a stalled server cannot hold the
    // updater open for ever.
    int transferTimeoutMs = 30000;
    // Where dpkg lists the files of each installed package.
    QString packageDatabase = QStringLiteral("/var/lib/dpkg/info");

    static UpdateService builtIn();

    bool isConfigured() const { return address.isValid() && !address.isEmpty(); }
    // Only HTTPS reaches the program; plain HTTP only from this machine's loopback address,
    // where the tests serve.
    static bool isAllowed(const QUrl &url);
    QUrl url(const QString &path, const QString &query = QString()) const;

    // "Velkora/<version> (Linux <distribution version>; <distribution>; <CPU architecture>)".
    static QByteArray userAgent();
    // A GET with the updater's user agent and the transfer timeout, following redirects only to
    // addresses isAllowed() accepts. The caller owns the reply.
    QNetworkReply *get(QNetworkAccessManager *network, const QUrl &url) const;
};
