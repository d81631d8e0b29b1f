#include "vms/apicall.h"

#include "core/common.h"
#include "core/property.h"
#include "net/request.h"
#include "net/vmsclient.h"

#include <QDateTime>
#include <QNetworkReply>

ApiCall::ApiCall(QObject *parent)
    : QObject(parent)
{
    setClient(VmsClient::shared());
    connect(&m_download, &FileDownload::progress, this, &ApiCall::downloadProgress);
    connect(&m_download, &FileDownload::succeeded, this, [this] { endDownload(QString(), false); });
    connect(&m_download, &FileDownload::failed, this, [this](const QString &error) { endDownload(error, false); });
    connect(&m_download, &FileDownload::cancelled, this, [this] { endDownload(QString(), true); });
}

void ApiCall::setIsLoggingIn(bool value)
{
    updateProperty(m_isLoggingIn, value, this, &ApiCall::isLoggingInChanged);
}

void ApiCall::setIsDownloading(bool value)
{
    updateProperty(m_isDownloading, value, this, &ApiCall::isDownloadingChanged);
}

VmsClient *ApiCall::client() const
{
    return m_client;
}

void ApiCall::setClient(VmsClient *client)
{
    if (client == m_client)
        return;
    if (m_client)
        m_client->disconnect(this);
    m_client = client;
    if (m_client)
        connect(m_client, &VmsClient::challengeAnswered, this, &ApiCall::onChallengeAnswered);
}

void ApiCall::onChallengeAnswered(QNetworkReply *reply)
{
    m_replies.removeAll(nullptr);
    if (m_replies.contains(reply) || reply == m_download.reply())
        emit authRequired();
}

void ApiCall::send(const QString &url, Request::BodyHandler onBody, Request::ErrorHandler onError)
{
    if (!m_client) {
        onError(tr("No video server is set."), QNetworkReply::ProtocolUnknownError);
        return;
    }
    m_replies.append(m_client->send(url, this, std::move(onBody), std::move(onError)));
}

void ApiCall::testLogin()
{
    // Forget remembered credentials so that the next challenge is answered from the settings afresh.
    if (m_client)
        m_client->forgetLogins();
    send(
        m_client ? m_client->statisticsUrl() : QString(),
        [this](const QByteArray &) {
            emit loggedIn();
            setIsLoggingIn(false);
        },
        [this](const QString &message, QNetworkReply::NetworkError code) {
            emit errorOccured(
                code == QNetworkReply::AuthenticationRequiredError ? QStringLiteral("Invalid credentials") : message);
            setIsLoggingIn(false);
        });
    setIsLoggingIn(true);
}

void ApiCall::fetchTimezone()
{
    send(
        m_client ? m_client->timeUrl() : QString(),
        [this](const QByteArray &body) {
            parseTimeData(body);
            emit timezoneReceived();
        },
        [this](const QString &message, QNetworkReply::NetworkError) { emit errorOccured(message); });
}

void ApiCall::parseTimeData(const QByteArray &body)
{
    const ServerTime time = parseServerTime(body);
    if (time.refusal) {
        emit errorOccured(*time.refusal);
        return;
    }
    // The clock offset is kept for the record of an export: a server clock that is off moves every
    // recorded time.
    if (m_client) {
        m_client->setServerTime(time.offsetMs,
            time.utcMs ? std::optional<qint64>(*time.utcMs - QDateTime::currentMSecsSinceEpoch()) : std::nullopt);
    }
}

void ApiCall::download(QString id, qulonglong timestamp, int duration, QString path)
{
    // One file slot in the settings: a second transfer would interleave its bytes with the first.
    if (m_isDownloading) {
        emit errorOccured(tr("A download is already running; wait until it has finished."));
        return;
    }
    if (!m_client) {
        emit errorOccured(tr("No video server is set."));
        return;
    }
    const QString file = path.isEmpty() ? QStringLiteral("download.mkv") : path;
    if (!m_download.start(*m_client, m_client->clipUrl(id, qint64(timestamp * 1000), duration, true), file)) {
        emit errorOccured(tr("Can't open file for writing"));
        return;
    }
    m_client->setCurrentDownload(m_download.file(), file);
    setIsDownloading(true);
}

void ApiCall::downloadByDatetime(QString id, QDateTime start, int duration)
{
    download(id, start.toSecsSinceEpoch(), duration);
}

void ApiCall::cancelDownload()
{
    m_download.cancel();
}

void ApiCall::endDownload(const QString &error, bool cancelled)
{
    if (m_client)
        m_client->setCurrentDownload(nullptr, QString());
    if (cancelled)
        emit downloadCancelled(m_download.path());
    else if (error.isEmpty())
        emit downloadComplete(m_download.path());
    else
        emit errorOccured(error);
    setIsDownloading(false);
}
