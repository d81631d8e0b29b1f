#pragma once
#include <QString>

class QAuthenticator;
class QNetworkAccessManager;
class QNetworkReply;

/// The one way this program sends a request and reads its outcome, shared by every client of the
/// video server and the POS server.
namespace Request {

/// Parses urlText leniently and sends a GET with no header of its own. The reply ends with an error
/// once no data has arrived for transferTimeoutMs().
QNetworkReply *get(QNetworkAccessManager &manager, const QString &urlText);

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

} // namespace Request
