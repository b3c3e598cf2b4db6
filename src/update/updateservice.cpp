#include "update/updateservice.h"

#include "update/updateversion.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSysInfo>

#ifndef VELKORA_UPDATE_SERVICE
#define VELKORA_UPDATE_SERVICE ""
#endif
#ifndef VELKORA_UPDATE_PUBLIC_KEY
#define VELKORA_UPDATE_PUBLIC_KEY ""
#endif

UpdateService UpdateService::builtIn()
{
    UpdateService service;
    const QString address = QStringLiteral(VELKORA_UPDATE_SERVICE);
    if (!address.isEmpty())
        service.address = QUrl(address);
    service.publicKey = QByteArray::fromHex(QByteArrayLiteral(VELKORA_UPDATE_PUBLIC_KEY));
    return service;
}

bool UpdateService::isAllowed(const QUrl &url)
{
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    if (scheme != QLatin1String("http"))
        return false;
    if (url.host() == QLatin1String("localhost"))
        return true;
    const QHostAddress host(url.host());
    return !host.isNull() && host.isLoopback();
}

QUrl UpdateService::url(const QString &path, const QString &query) const
{
    QUrl url = address;
    QString base = url.path();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    url.setPath(base + path);
    if (!query.isEmpty())
        url.setQuery(query);
    return url;
}

QByteArray UpdateService::userAgent()
{
    const QString agent = QLatin1String("Velkora/") + UpdateVersion::current()
        + QLatin1String(" (Linux ") + QSysInfo::productVersion() + QLatin1String("; ")
        + QSysInfo::productType() + QLatin1String("; ") + QSysInfo::currentCpuArchitecture()
        + QLatin1Char(')');
    return agent.toUtf8();
}

QNetworkReply *UpdateService::get(QNetworkAccessManager *network, const QUrl &url) const
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setTransferTimeout(transferTimeoutMs);
    QNetworkReply *reply = network->get(request);
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply](const QUrl &target) {
        // A redirect to plain HTTP elsewhere would hand the download to anyone on the way.
        if (isAllowed(target))
            emit reply->redirectAllowed();
        else
            reply->abort();
    });
    return reply;
}
