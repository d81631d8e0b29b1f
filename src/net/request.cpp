#include "net/request.h"

#include "net/serverclient.h"

#include <QCoreApplication>
#include <QNetworkReply>

namespace {

int s_transferTimeoutMs = 60000;
const char *const kAbortReason = "tillmarkAbortReason";

} // namespace

namespace Request {

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
    ServerClient &client, const QString &urlText, QObject *context, BodyHandler onBody, ErrorHandler onError)
{
    abort();
    const quint64 generation = m_generation;
    auto current = [this, generation] { return generation == m_generation; };
    m_reply = client.send(
        urlText, context,
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
