#pragma once

#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>

// A small HTTP/1.1 server on 127.0.0.1 for download tests: one request per connection, routes
// answered from a table. Runs on the test's thread; a download waiting in a local event loop
// keeps it served.
class HttpTestServer : public QTcpServer {
public:
    enum class Behaviour {
        Whole, // headers and body at once
        Stall, // headers only, then silence
        Slow, // the body in small pieces, one every 50 ms
        NoLength // body without Content-Length, connection closed at the end
    };

    struct Route {
        int status = 200;
        QByteArray contentType = "application/octet-stream";
        QByteArray body;
        QByteArray location; // for redirects
        Behaviour behaviour = Behaviour::Whole;
    };

    HttpTestServer()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                serve(socket);
        });
    }

    ~HttpTestServer() override
    {
        // Sockets are children of the server, and closing one reports to the server: close them
        // while it is still whole, not from QObject's destructor.
        qDeleteAll(findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly));
    }

    QString url(const QString &path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
    }

    void setRoute(const QByteArray &path, const Route &route) { m_routes.insert(path, route); }
    // More headers for a route's response ("Name: value" lines without the line end).
    void setHeaders(const QByteArray &path, const QList<QByteArray> &headers)
    {
        m_headers.insert(path, headers);
    }

    // Called when a slow response has sent its first piece of body.
    std::function<void()> firstPieceSent;
    QList<QByteArray> requestedPaths;
    QList<QByteArray> userAgents;
    int closedConnections = 0;

private:
    void serve(QTcpSocket *socket)
    {
        auto *buffer = new QByteArray;
        connect(socket, &QTcpSocket::disconnected, socket, [this, socket, buffer] {
            ++closedConnections;
            delete buffer;
            socket->deleteLater();
        });
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            if (!buffer->contains("\r\n\r\n") || buffer->isEmpty())
                return;
            const QList<QByteArray> lines = buffer->split('\n');
            buffer->clear();
            const QByteArray path = lines.value(0).split(' ').value(1);
            requestedPaths.append(path);
            for (const QByteArray &line : lines) {
                if (line.toLower().startsWith("user-agent:"))
                    userAgents.append(line.mid(11).trimmed());
            }
            respond(socket, m_routes.value(path, Route { 404, "text/plain", "not found", {}, {} }),
                m_headers.value(path));
        });
    }

    void respond(QTcpSocket *socket, const Route &route, const QList<QByteArray> &headers)
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(route.status)
            + " Status\r\n"
              "Content-Type: "
            + route.contentType + "\r\nConnection: close\r\n";
        if (!route.location.isEmpty())
            head += "Location: " + route.location + "\r\n";
        for (const QByteArray &header : headers)
            head += header + "\r\n";
        if (route.behaviour != Behaviour::NoLength)
            head += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
        socket->write(head + "\r\n");

        switch (route.behaviour) {
        case Behaviour::Whole:
        case Behaviour::NoLength:
            socket->write(route.body);
            socket->disconnectFromHost();
            break;
        case Behaviour::Stall:
            break;
        case Behaviour::Slow: {
            auto *timer = new QTimer(socket);
            auto offset = std::make_shared<int>(0);
            const QByteArray body = route.body;
            connect(timer, &QTimer::timeout, socket, [this, socket, timer, offset, body] {
                const QByteArray piece = body.mid(*offset, 1024);
                const bool first = *offset == 0;
                *offset += piece.size();
                socket->write(piece);
                if (first && firstPieceSent)
                    firstPieceSent();
                if (*offset >= body.size()) {
                    timer->stop();
                    socket->disconnectFromHost();
                }
            });
            timer->start(50);
            break;
        }
        }
    }

    QHash<QByteArray, Route> m_routes;
    QHash<QByteArray, QList<QByteArray>> m_headers;
};
