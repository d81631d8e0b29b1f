#pragma once
#include <QByteArray>
#include <QNetworkReply>
#include <QPointer>
#include <QString>

#include <functional>

class QAuthenticator;
class QNetworkAccessManager;
class QObject;

/// The one way this program sends a request and reads its outcome, shared by every client of the
/// video server and the POS server.
namespace Request {

using BodyHandler = std::function<void(const QByteArray &body)>;
/// message: the words for the user; code: the network layer's error, for callers that tell errors apart.
using ErrorHandler = std::function<void(const QString &message, QNetworkReply::NetworkError code)>;

/// Parses urlText leniently and sends a GET with no header of its own. The reply ends with an error
/// once no data has arrived for transferTimeoutMs().
QNetworkReply *get(QNetworkAccessManager &manager, const QString &urlText);

/// Sends a GET as get() does and, when the reply has finished, calls onBody with the whole body or
/// onError with errorText() of the reply, never both. The handlers run with context as the receiver:
/// they are dropped when context goes first. The reply is disposed of after the handler has run.
QNetworkReply *send(
    QNetworkAccessManager &manager, const QString &urlText, QObject *context, BodyHandler onBody, ErrorHandler onError);

/// Answers every authentication challenge on manager from the settings (answerChallenge), then
/// calls afterAnswer if given; ends with context.
void answerChallenges(QNetworkAccessManager &manager, QObject *context, std::function<void()> afterAnswer = {});

/// Answers a video server challenge with the user and password of the settings as they stand now.
void answerChallenge(QAuthenticator *authenticator);

/// The text to show for a failed reply: the network layer's words, a silent server said plainly,
/// or the reason given to abortWithReason().
QString errorText(const QNetworkReply *reply);

/// Ends a transfer on the program's own account; errorText() then gives the reason.
void abortWithReason(QNetworkReply *reply, const QString &reason);

int transferTimeoutMs();
/// For tests that cannot wait a minute for a silent server.
void setTransferTimeoutMs(int ms);

/// At most one request of a kind in flight: sending the next one aborts the one before, and only
/// the newest one's outcome reaches its handlers. A slow answer to an earlier question (another
/// camera, day or search text) can then never overwrite the answer to the current one.
class Latest
{
public:
    void send(QNetworkAccessManager &manager, const QString &urlText, QObject *context, BodyHandler onBody,
        ErrorHandler onError);
    bool isRunning() const;
    /// Drops the request in flight without calling its handlers.
    void abort();

private:
    QPointer<QNetworkReply> m_reply;
    quint64 m_generation = 0;
};

} // namespace Request
