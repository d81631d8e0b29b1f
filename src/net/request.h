#pragma once
#include <QByteArray>
#include <QNetworkReply>
#include <QPointer>
#include <QString>

#include <functional>

class QObject;
class ServerClient;

/// How this program reads the outcome of a request: the words for a failure, the stall limit, and at
/// most one request of a kind in flight. The requests themselves go through the server's client
/// (ServerClient::get and send).
namespace Request {

using BodyHandler = std::function<void(const QByteArray &body)>;
/// message: the words for the user; code: the network layer's error, for callers that tell errors apart.
using ErrorHandler = std::function<void(const QString &message, QNetworkReply::NetworkError code)>;

/// The text to show for a failed reply: the network layer's words, a silent server said plainly,
/// or the reason given to abortWithReason().
QString errorText(const QNetworkReply *reply);

/// Ends a transfer on the program's own account; errorText() then gives the reason.
void abortWithReason(QNetworkReply *reply, const QString &reason);

int transferTimeoutMs();
/// For tests that cannot wait a minute for a silent server.
void setTransferTimeoutMs(int ms);

/// Ends reply with the stall message once nothing has arrived for transferTimeoutMs(), counted
/// from now and from each arrival. Every request the clients make is watched so.
void watch(QNetworkReply *reply);

/// At most one request of a kind in flight: sending the next one aborts the one before, and only
/// the newest one's outcome reaches its handlers. A slow answer to an earlier question (another
/// camera, day or search text) can then never overwrite the answer to the current one.
class Latest
{
public:
    void send(ServerClient &client, const QString &urlText, QObject *context, BodyHandler onBody, ErrorHandler onError);
    bool isRunning() const;
    /// Drops the request in flight without calling its handlers.
    void abort();

private:
    QPointer<QNetworkReply> m_reply;
    quint64 m_generation = 0;
};

} // namespace Request
