#include "holdingserver.h"

#include <QTcpSocket>

HoldingServer::HoldingServer(const QByteArray &clip, int sent)
    : m_clip(clip)
    , m_sent(sent)
{
    m_server.listen(QHostAddress::LocalHost);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        QTcpSocket *socket = m_server.nextPendingConnection();
        connect(socket, &QTcpSocket::disconnected, this, &HoldingServer::clientLeft);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            m_request += socket->readAll();
            if (!m_request.contains("\r\n\r\n") || m_answered)
                return;
            m_answered = true;
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: video/x-matroska\r\nContent-Length: "
                + QByteArray::number(m_clip.size()) + "\r\n\r\n" + m_clip.left(m_sent));
        });
    });
}

QString HoldingServer::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

QString HoldingServer::url() const
{
    return base() + QStringLiteral("/hls/held.mkv");
}
