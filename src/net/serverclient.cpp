#include "net/serverclient.h"

#include "core/appstate.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QUrl>

#include <memory>

ServerClient::ServerClient(QObject *parent)
    : QObject(parent)
{
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
    request.setTransferTimeout(Request::transferTimeoutMs());
    return request;
}

QNetworkReply *ServerClient::get(const QString &urlText)
{
    sync();
    return manager().get(request(urlText));
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
