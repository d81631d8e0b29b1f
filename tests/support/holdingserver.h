#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>

/// A server on 127.0.0.1 that answers any request with the head of a clip, announcing all of it, and then
/// holds the connection open without a further byte; it tells when the client lets go.
class HoldingServer : public QObject
{
    Q_OBJECT
public:
    /// Sends the first sent bytes of clip.
    HoldingServer(const QByteArray &clip, int sent);
    /// "http://127.0.0.1:<port>": every path answers the same.
    QString base() const;
    /// A clip URL on this server.
    QString url() const;

signals:
    void clientLeft();

private:
    QTcpServer m_server;
    QByteArray m_clip;
    QByteArray m_request;
    int m_sent = 0;
    bool m_answered = false;
};
