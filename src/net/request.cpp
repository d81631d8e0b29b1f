#include "net/request.h"

#include "core/appstate.h"

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

QNetworkReply *send(
    QNetworkAccessManager &manager, const QString &urlText, QObject *context, BodyHandler onBody, ErrorHandler onError)
{
    QNetworkReply *reply = get(manager, urlText);
    QObject::connect(
        reply, &QNetworkReply::finished, context, [reply, onBody = std::move(onBody), onError = std::move(onError)] {
            reply->deleteLater();
            if (reply->error() != QNetworkReply::NoError)
                onError(errorText(reply), reply->error());
            else
                onBody(reply->readAll());
        });
    return reply;
}

void answerChallenges(QNetworkAccessManager &manager, QObject *context, std::function<void()> afterAnswer)
{
    QObject::connect(&manager, &QNetworkAccessManager::authenticationRequired, context,
        [afterAnswer = std::move(afterAnswer)](QNetworkReply *, QAuthenticator *authenticator) {
            answerChallenge(authenticator);
            if (afterAnswer)
                afterAnswer();
        });
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

void Latest::send(
    QNetworkAccessManager &manager, const QString &urlText, QObject *context, BodyHandler onBody, ErrorHandler onError)
{
    abort();
    const quint64 generation = m_generation;
    auto current = [this, generation] { return generation == m_generation; };
    m_reply = Request::send(
        manager, urlText, context,
        [this, current, onBody = std::move(onBody)](const QByteArray &body) {
            if (!current())
                return;
            m_reply = nullptr;
            onBody(body);
        },
        [this, current, onError = std::move(onError)](const QString &message, QNetworkReply::NetworkError code) {
            if (!current())
                return;
            m_reply = nullptr;
            onError(message, code);
        });
}

bool Latest::isRunning() const
{
    return !m_reply.isNull();
}

void Latest::abort()
{
    ++m_generation;
    // The earlier answer would only be thrown away; spare the server the rest of it.
    if (QNetworkReply *previous = m_reply.data()) {
        m_reply = nullptr;
        previous->abort();
    }
}

} // namespace Request
