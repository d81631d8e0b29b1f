#include "request.h"

#include "appstate.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

int s_transferTimeoutMs = 60000;
const char *const kAbortReason = "tillmarkAbortReason";

} // namespace

namespace Request {

QNetworkReply *get(QNetworkAccessManager &manager, const QString &urlText)
{
    QNetworkRequest request(QUrl(urlText, QUrl::TolerantMode));
    request.setTransferTimeout(s_transferTimeoutMs);
    return manager.get(request);
}

void answerChallenge(QAuthenticator *authenticator)
{
    authenticator->setUser(AppState::get()->user());
    authenticator->setPassword(AppState::get()->password());
}

QString errorText(const QNetworkReply *reply)
{
    const QVariant reason = reply->property(kAbortReason);
    if (reason.isValid())
        return reason.toString();
    // The only cancel this program does not ask for itself is the transfer timeout.
    if (reply->error() == QNetworkReply::OperationCanceledError) {
        return QCoreApplication::translate("Request", "The server did not answer in time (nothing received for %1 s)")
            .arg(s_transferTimeoutMs / 1000.0);
    }
    return reply->errorString();
}

void abortWithReason(QNetworkReply *reply, const QString &reason)
{
    reply->setProperty(kAbortReason, reason);
    reply->abort();
}

int transferTimeoutMs()
{
    return s_transferTimeoutMs;
}

void setTransferTimeoutMs(int ms)
{
    s_transferTimeoutMs = ms;
}

} // namespace Request
