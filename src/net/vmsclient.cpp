#include "net/vmsclient.h"

#include "core/appstate.h"

#include <QAuthenticator>
#include <QDebug>
#include <QNetworkReply>
#include <QUrl>

VmsClient::VmsClient(QObject *parent)
    : ServerClient(parent)
{
    makeManager();
}

void VmsClient::prepareManager(QNetworkAccessManager &manager)
{
    connect(&manager, &QNetworkAccessManager::authenticationRequired, this,
        [this](QNetworkReply *reply, QAuthenticator *authenticator) {
            learnScheme(reply->url());
            answer(authenticator);
            emit challengeAnswered(reply);
        });
}

VmsClient *VmsClient::shared()
{
    return sharedFollowingSettings<VmsClient>();
}

void VmsClient::readSettings(AppState &settings)
{
    setBase(settings.base());
    setAccount(settings.user(), settings.password());
}

QString VmsClient::user()
{
    sync();
    return m_user;
}

QString VmsClient::password()
{
    sync();
    return m_password;
}

void VmsClient::setAccount(const QString &user, const QString &password)
{
    if (user == m_user && password == m_password)
        return;
    m_user = user;
    m_password = password;
    // What the manager remembers was accepted for the account before.
    forgetLogins();
    emit accountChanged();
}

void VmsClient::forgetLogins()
{
    forgetConnections();
}

void VmsClient::answer(QAuthenticator *authenticator)
{
    sync();
    authenticator->setUser(QString::fromLatin1(m_user.toUtf8()));
    authenticator->setPassword(QString::fromLatin1(m_password.toUtf8()));
}

bool VmsClient::basicInClear() const
{
    return m_basicInClear;
}

QString VmsClient::basicInClearText() const
{
    return tr("This video server asks for Basic authentication over plain HTTP: the password crosses the "
              "network readable by anyone on the way. Use https:// if the server offers it.");
}

void VmsClient::learnScheme(const QUrl &challenged)
{
    const QString server = challenged.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveUserInfo).toString();
    if (server == m_schemeLearnedFor)
        return;
    m_schemeLearnedFor = server;
    if (challenged.scheme() != QLatin1String("http")) {
        setBasicInClear(false);
        return;
    }
    // Qt's authenticator does not say which scheme the server asked for. The challenge itself does: asked
    // for once more, without an account, its answer is the challenge.
    if (!m_probe)
        m_probe = new QNetworkAccessManager(this);
    QNetworkReply *probe = m_probe->get(request(challenged.toString()));
    Request::watch(probe);
    connect(probe, &QNetworkReply::finished, this, [this, probe, server] {
        probe->deleteLater();
        if (server != m_schemeLearnedFor)
            return;
        const QByteArray challenge = probe->rawHeader("WWW-Authenticate").trimmed().toLower();
        setBasicInClear(challenge.startsWith("basic"));
    });
}

void VmsClient::setBasicInClear(bool value)
{
    if (value == m_basicInClear)
        return;
    m_basicInClear = value;
    if (value)
        qWarning() << "The video server asks for Basic authentication over plain HTTP:" << m_schemeLearnedFor;
    emit basicInClearChanged();
}

void VmsClient::setServerTime(int timezoneOffsetMs, std::optional<qint64> clockOffsetMs)
{
    m_timezoneOffsetMs = timezoneOffsetMs;
    m_clockOffsetMs = clockOffsetMs;
    if (AppState *followed = settings()) {
        followed->setTimezoneOffsetMS(timezoneOffsetMs);
        followed->setVmsClockOffsetMs(clockOffsetMs);
    }
}

int VmsClient::timezoneOffsetMs()
{
    const AppState *followed = settings();
    return followed ? followed->timezoneOffsetMS() : m_timezoneOffsetMs;
}

std::optional<qint64> VmsClient::clockOffsetMs()
{
    const AppState *followed = settings();
    return followed ? followed->vmsClockOffsetMs() : m_clockOffsetMs;
}

void VmsClient::setCurrentDownload(QFile *file, const QString &path)
{
    AppState *followed = settings();
    if (!followed)
        return;
    if (file)
        followed->setCurrentFilePath(path);
    followed->setCurrentFile(file);
}

QString VmsClient::statisticsUrl()
{
    return QStringLiteral("%1/api/statistics").arg(base());
}

QString VmsClient::timeUrl()
{
    return QStringLiteral("%1/api/getTime").arg(base());
}

QString VmsClient::camerasUrl()
{
    return QStringLiteral("%1/ec2/getCamerasEx").arg(base());
}

QString VmsClient::periodsUrl(const QString &cameraId, qint64 startMs, qint64 endMs)
{
    return QStringLiteral("%1/ec2/recordedTimePeriods?cameraId=%2&startTime=%3&endTime=%4&desc=1")
        .arg(base(), cameraId, QString::number(startMs), QString::number(endMs));
}

QString VmsClient::clipUrl(const QString &cameraId, qint64 startMs, qint64 durationSecs, bool highQuality)
{
    return QStringLiteral("%1/hls/%2.mkv?pos=%3&duration=%4&hi=%5")
        .arg(base(), cameraId, QString::number(startMs), QString::number(durationSecs),
            highQuality ? QStringLiteral("1") : QStringLiteral("0"));
}

QString VmsClient::credentialedClipUrl(const QString &cameraId, const QDateTime &start, const QDateTime &end)
{
    sync();
    // Host and port as the base has them; the scheme too, so that an HTTPS server's account never
    // travels in clear (the design's URL names http, which the base of a plain server also does).
    const QStringList pieces = storedBase().split(QStringLiteral("//"), Qt::KeepEmptyParts, Qt::CaseSensitive);
    const QString hostPart = pieces.size() > 1 ? pieces.at(1) : QString();
    const QString scheme = storedBase().startsWith(QLatin1String("https://"), Qt::CaseInsensitive)
        ? QStringLiteral("https")
        : QStringLiteral("http");
    const QString user = QString::fromLatin1(QUrl::toPercentEncoding(m_user));
    const QString password = QString::fromLatin1(QUrl::toPercentEncoding(m_password));
    // One multi-argument arg(): inserted text is never searched again for place markers.
    return QStringLiteral("%1://%2:%3@%4/hls/%5.mkv?pos=%6&duration=%7&hi=0")
        .arg(scheme, user, password, hostPart, cameraId, QString::number(quint64(start.toMSecsSinceEpoch())),
            QString::number(static_cast<int>(start.secsTo(end))));
}
