#include "net/serverclient.h"

#include "core/appstate.h"
#include "net/certificatetrust.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QUrl>

#include <memory>

ServerClient::ServerClient(QObject *parent)
    : QObject(parent)
{
    setTrust(CertificateTrust::shared());
}

void ServerClient::setTrust(CertificateTrust *trust)
{
    if (m_trust)
        m_trust->disconnect(this);
    m_trust = trust;
    // Qt remembers for a connection the errors it was told to ignore: a pin forgotten must be asked
    // about again on a new one.
    if (m_trust)
        connect(m_trust, &CertificateTrust::trustedChanged, this, &ServerClient::forgetConnections);
}

bool ServerClient::isSecure()
{
    return base().startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

QString ServerClient::baseFor(const QString &typed) const
{
    return normalisedBase(typed);
}

ServerClient::~ServerClient() = default;

QString ServerClient::base()
{
    sync();
    return m_base;
}

QString ServerClient::storedBase() const
{
    return m_base;
}

void ServerClient::setBase(const QString &base)
{
    if (base == m_base)
        return;
    m_base = base;
    emit baseChanged();
}

QString ServerClient::normalisedBase(const QString &text)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    QString base = text.trimmed();
    while (base.endsWith(QLatin1Char('/')) && !base.endsWith(QLatin1String("://")))
        base.chop(1);
    if (!base.isEmpty() && !scheme.match(base).hasMatch())
        base.prepend(QStringLiteral("http://"));
    return base;
}

QNetworkAccessManager &ServerClient::manager()
{
    if (!m_manager)
        makeManager();
    return *m_manager;
}

void ServerClient::makeManager()
{
    QNetworkAccessManager *old = m_manager;
    m_manager = new QNetworkAccessManager(this);
    connect(m_manager, &QNetworkAccessManager::sslErrors, this,
        [this](QNetworkReply *reply, const QList<QSslError> &errors) {
            if (m_trust)
                m_trust->checkErrors(reply, errors);
            else
                Request::abortWithReason(reply, errors.isEmpty() ? reply->errorString() : errors.first().errorString());
        });
    connect(m_manager, &QNetworkAccessManager::encrypted, this, [this](QNetworkReply *reply) {
        if (m_trust)
            m_trust->checkPinned(reply);
    });
    prepareManager(*m_manager);
    if (old)
        retire(old);
}

void ServerClient::prepareManager(QNetworkAccessManager &) { }

void ServerClient::retire(QNetworkAccessManager *old)
{
    const QList<QNetworkReply *> replies = old->findChildren<QNetworkReply *>(QString(), Qt::FindDirectChildrenOnly);
    if (replies.isEmpty()) {
        old->deleteLater();
        return;
    }
    auto remaining = std::make_shared<int>(replies.size());
    for (QNetworkReply *reply : replies) {
        QObject::connect(reply, &QObject::destroyed, old, [old, remaining] {
            if (--*remaining == 0)
                old->deleteLater();
        });
    }
}

QNetworkRequest ServerClient::request(const QString &urlText) const
{
    QNetworkRequest request(QUrl(urlText, QUrl::TolerantMode));
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    request.setSslConfiguration(tls);
    return request;
}

QNetworkReply *ServerClient::get(const QString &urlText)
{
    sync();
    QNetworkReply *reply = manager().get(request(urlText));
    Request::watch(reply);
    return reply;
}

QNetworkReply *ServerClient::send(
    const QString &urlText, QObject *context, Request::BodyHandler onBody, Request::ErrorHandler onError)
{
    QNetworkReply *reply = get(urlText);
    QObject::connect(
        reply, &QNetworkReply::finished, context, [reply, onBody = std::move(onBody), onError = std::move(onError)] {
            reply->deleteLater();
            if (reply->error() != QNetworkReply::NoError)
                onError(Request::errorText(reply), reply->error());
            else
                onBody(reply->readAll());
        });
    return reply;
}

void ServerClient::forgetConnections()
{
    makeManager();
}

void ServerClient::followSettings(AppState *settings)
{
    m_settings = settings;
    sync();
}

void ServerClient::followCurrentSettings()
{
    m_followsCurrentSettings = true;
    sync();
}

void ServerClient::sync()
{
    if (m_followsCurrentSettings && m_settings != AppState::get())
        m_settings = AppState::get();
    if (m_settings)
        readSettings(*m_settings);
}

AppState *ServerClient::settings()
{
    sync();
    return m_settings;
}
