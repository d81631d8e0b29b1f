#include "apicall.h"

#include "appstate.h"
#include "request.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>

namespace {
constexpr qint64 kReadBufferSize = 1 << 20;
} // namespace

ApiCall::ApiCall(QObject *parent)
    : QObject(parent)
{
    connect(&m_manager, &QNetworkAccessManager::authenticationRequired, this, &ApiCall::authenticationRequired);
}

bool ApiCall::isLoggingIn() const
{
    return m_isLoggingIn;
}

void ApiCall::setIsLoggingIn(bool value)
{
    if (m_isLoggingIn == value)
        return;
    m_isLoggingIn = value;
    emit isLoggingInChanged();
}

bool ApiCall::isDownloading() const
{
    return m_isDownloading;
}

void ApiCall::setIsDownloading(bool value)
{
    if (m_isDownloading == value)
        return;
    m_isDownloading = value;
    emit isDownloadingChanged();
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
    QNetworkReply *reply = Request::get(m_manager, QStringLiteral("%1/api/statistics").arg(AppState::get()->base()));
    setIsLoggingIn(true);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (reply->error() != QNetworkReply::NoError) {
            emit errorOccured(reply->error() == QNetworkReply::AuthenticationRequiredError
                    ? QStringLiteral("Invalid credentials")
                    : Request::errorText(reply));
        } else {
            emit loggedIn();
        }
        setIsLoggingIn(false);
        reply->deleteLater();
    });
}

void ApiCall::fetchTimezone()
{
    QNetworkReply *reply = Request::get(m_manager, QStringLiteral("%1/api/getTime").arg(AppState::get()->base()));
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (reply->error() != QNetworkReply::NoError) {
            emit errorOccured(Request::errorText(reply));
        } else {
            parseTimeData(reply->readAll());
            emit timezoneReceived();
        }
        reply->deleteLater();
    });
}

void ApiCall::parseTimeData(const QByteArray &body)
{
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    if (object.value(QStringLiteral("error")).toString().toInt() != 0) {
        emit errorOccured(object.value(QStringLiteral("errorString")).toString());
        return;
    }
    const QJsonObject reply = object.value(QStringLiteral("reply")).toObject();
    AppState::get()->setTimezoneOffsetMS(reply.value(QStringLiteral("timeZoneOffset")).toString().toInt());
}

void ApiCall::download(QString id, qulonglong timestamp, int duration)
{
    // One file slot in the settings: a second transfer would interleave its bytes with the first.
    if (m_isDownloading) {
        emit errorOccured(tr("A download is already running; wait until it has finished."));
        return;
    }
    AppState *state = AppState::get();
    state->setCurrentFilePath(QStringLiteral("download.mkv"));
    auto *file = new QFile(state->currentFilePath());
    // Unbuffered, so that a full disk shows in the result of the write that hit it.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        emit errorOccured(tr("Can't open file for writing"));
        delete file;
        return;
    }
    state->setCurrentFile(file);
    m_written = 0;

    QNetworkReply *reply = Request::get(m_manager,
        QStringLiteral("%1/hls/%2.mkv?pos=%3&duration=%4&hi=1")
            .arg(state->base(), id, QString::number(timestamp * 1000), QString::number(duration)));
    setIsDownloading(true);
    // A bounded read buffer, drained on every readyRead, keeps the clip out of memory: without it the
    // network thread can run ahead of this thread and hold gigabytes until the file catches up.
    reply->setReadBufferSize(kReadBufferSize);
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (AppState::get()->currentFile())
            writeToCurrentFile(reply, reply->readAll());
    });
    connect(reply, &QNetworkReply::downloadProgress, this,
        [this, reply](qint64 received, qint64 total) { onDownloadProgress(reply, received, total); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onDownloadFinished(reply); });
}

void ApiCall::downloadByDatetime(QString id, QDateTime start, int duration)
{
    download(id, start.toSecsSinceEpoch(), duration);
}

bool ApiCall::writeToCurrentFile(QNetworkReply *reply, const QByteArray &data)
{
    QFile *file = AppState::get()->currentFile();
    if (data.isEmpty() || !file)
        return true;
    if (file->write(data) == data.size()) {
        m_written += data.size();
        return true;
    }
    Request::abortWithReason(reply,
        tr("Writing \"%1\" failed (%2); the download was stopped and the file is incomplete.")
            .arg(AppState::get()->currentFilePath(), file->errorString()));
    return false;
}

void ApiCall::onDownloadProgress(QNetworkReply *reply, qint64 received, qint64 total)
{
    // Stopped on a failed write: the file is already released, or the abort itself is reporting
    // its last figures on the closed reply before it finishes.
    if (!AppState::get()->currentFile() || !reply->isOpen())
        return;
    if (!writeToCurrentFile(reply, reply->readAll()))
        return; // the abort has already run the finish handler
    // At the end the network layer reports a total equal to what arrived even when the server
    // announced none; the page shows an unknown total as such throughout.
    if (!reply->header(QNetworkRequest::ContentLengthHeader).isValid())
        total = -1;
    emit downloadProgress(received, total);
}

void ApiCall::onDownloadFinished(QNetworkReply *reply)
{
    QString error;
    if (reply->error() != QNetworkReply::NoError) {
        error = Request::errorText(reply);
    } else {
        QFile *file = AppState::get()->currentFile();
        const QByteArray rest = reply->readAll();
        if (file && !rest.isEmpty() && file->write(rest) != rest.size()) {
            error = tr("Writing \"%1\" failed (%2); the file is incomplete.")
                        .arg(AppState::get()->currentFilePath(), file->errorString());
        } else {
            m_written += rest.size();
            // The network layer may end a transfer whose connection dropped early without an error.
            const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
            if (announced.isValid() && m_written < announced.toLongLong()) {
                error = tr("The server ended the transfer early: %1 of %2 bytes arrived; \"%3\" is incomplete.")
                            .arg(m_written)
                            .arg(announced.toLongLong())
                            .arg(AppState::get()->currentFilePath());
            }
        }
    }
    releaseCurrentFile();
    if (error.isEmpty())
        emit downloadComplete(AppState::get()->currentFilePath());
    else
        emit errorOccured(error);
    setIsDownloading(false);
    reply->deleteLater();
}

void ApiCall::releaseCurrentFile()
{
    QFile *file = AppState::get()->currentFile();
    AppState::get()->setCurrentFile(nullptr);
    if (file) {
        file->close();
        delete file;
    }
}
