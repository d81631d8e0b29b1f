#include "vms/apicall.h"

#include "core/appstate.h"
#include "core/common.h"
#include "core/property.h"
#include "net/request.h"

#include <QDateTime>
#include <QNetworkReply>

ApiCall::ApiCall(QObject *parent)
    : QObject(parent)
{
    connect(&m_manager, &QNetworkAccessManager::authenticationRequired, this, &ApiCall::authenticationRequired);
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

void ApiCall::authenticationRequired(QNetworkReply *, QAuthenticator *authenticator)
{
    Request::answerChallenge(authenticator);
    emit authRequired();
}

void ApiCall::testLogin()
{
    // Forget remembered credentials so that the next challenge is answered from the settings afresh.
    m_manager.clearAccessCache();
    Request::send(
        m_manager, QStringLiteral("%1/api/statistics").arg(AppState::get()->base()), this,
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
    Request::send(
        m_manager, QStringLiteral("%1/api/getTime").arg(AppState::get()->base()), this,
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
    AppState::get()->setTimezoneOffsetMS(time.offsetMs);
    // Kept for the record of an export: a server clock that is off moves every recorded time.
    AppState::get()->setVmsClockOffsetMs(
        time.utcMs ? std::optional<qint64>(*time.utcMs - QDateTime::currentMSecsSinceEpoch()) : std::nullopt);
}

void ApiCall::download(QString id, qulonglong timestamp, int duration, QString path)
{
    // One file slot in the settings: a second transfer would interleave its bytes with the first.
    if (m_isDownloading) {
        emit errorOccured(tr("A download is already running; wait until it has finished."));
        return;
    }
    AppState *state = AppState::get();
    state->setCurrentFilePath(path.isEmpty() ? QStringLiteral("download.mkv") : path);
    const QString url = QStringLiteral("%1/hls/%2.mkv?pos=%3&duration=%4&hi=1")
                            .arg(state->base(), id, QString::number(timestamp * 1000), QString::number(duration));
    if (!m_download.start(m_manager, url, state->currentFilePath())) {
        emit errorOccured(tr("Can't open file for writing"));
        return;
    }
    state->setCurrentFile(m_download.file());
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
    AppState::get()->setCurrentFile(nullptr);
    if (cancelled)
        emit downloadCancelled(AppState::get()->currentFilePath());
    else if (error.isEmpty())
        emit downloadComplete(AppState::get()->currentFilePath());
    else
        emit errorOccured(error);
    setIsDownloading(false);
}
