#include "net/request.h"

#include "net/serverclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkReply>
#include <QTimer>

namespace {

int s_transferTimeoutMs = 60000;
const char *const kAbortReason = "tillmarkAbortReason";

QString stallText(int ms)
{
    return QCoreApplication::translate("Request", "The server did not answer in time (nothing received for %1 s)")
        .arg(ms / 1000.0);
}

/// The stall limit of one reply. The network layer's own (QNetworkRequest::setTransferTimeout) restarts
/// its timer through a queued call for every block that arrives, and over TLS a block is 4 KiB: a
/// quarter of a million events a gigabyte on the window's thread. This one notes the time of each
/// arrival and looks at it only when its single timer runs out.
class StallWatch : public QObject
{
public:
    StallWatch(QNetworkReply *reply, int ms)
        : QObject(reply)
        , m_reply(reply)
        , m_limitMs(ms)
    {
        m_sinceArrival.start();
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &StallWatch::check);
        const auto arrived = [this] { m_sinceArrival.restart(); };
        connect(reply, &QNetworkReply::metaDataChanged, this, arrived);
        connect(reply, &QNetworkReply::readyRead, this, arrived);
        connect(reply, &QNetworkReply::downloadProgress, this, arrived);
        connect(reply, &QNetworkReply::uploadProgress, this, arrived);
        connect(reply, &QNetworkReply::finished, &m_timer, &QTimer::stop);
        m_timer.start(ms);
    }

private:
    void check()
    {
        const qint64 quietMs = m_sinceArrival.elapsed();
        if (quietMs < m_limitMs) {
            m_timer.start(int(m_limitMs - quietMs));
            return;
        }
        if (m_reply->isRunning())
            Request::abortWithReason(m_reply, stallText(m_limitMs));
    }

    QNetworkReply *m_reply;
    int m_limitMs;
    QElapsedTimer m_sinceArrival;
    QTimer m_timer;
};

} // namespace

namespace Request {

QString errorText(const QNetworkReply *reply)
{
    const QVariant reason = reply->property(kAbortReason);
    if (reason.isValid())
        return reason.toString();
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

void watch(QNetworkReply *reply)
{
    if (s_transferTimeoutMs > 0)
        new StallWatch(reply, s_transferTimeoutMs);
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
