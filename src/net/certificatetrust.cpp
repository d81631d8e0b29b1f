#include "net/certificatetrust.h"

#include "core/settingsfile.h"
#include "net/request.h"

#include <QDebug>
#include <QNetworkReply>
#include <QSettings>
#include <QSslConfiguration>
#include <QUrl>

namespace {

int portOf(const QUrl &url)
{
    return url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
}

QString serverOf(const QString &host, int port)
{
    return host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(host).arg(port)
                                           : QStringLiteral("%1:%2").arg(host).arg(port);
}

} // namespace

CertificateTrust::CertificateTrust(QSettings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_pins(settings)
{
}

CertificateTrust *CertificateTrust::shared()
{
    static CertificateTrust *trust = new CertificateTrust(settingsFile());
    return trust;
}

bool CertificateTrust::asking() const
{
    return !m_fingerprint.isEmpty();
}

QString CertificateTrust::server() const
{
    return asking() ? serverOf(m_host, m_port) : QString();
}

QString CertificateTrust::details() const
{
    return m_details;
}

QString CertificateTrust::reason() const
{
    return m_reason;
}

int CertificateTrust::trustedCount() const
{
    return m_pins.servers().size();
}

void CertificateTrust::checkErrors(QNetworkReply *reply, const QList<QSslError> &errors)
{
    const QUrl url = reply->url();
    const QSslCertificate peer = reply->sslConfiguration().peerCertificate();
    const TlsTrust::Decision decision = TlsTrust::decide(errors, peer, m_pins.fingerprint(url.host(), portOf(url)));
    switch (decision.verdict) {
    case TlsTrust::Decision::Accept:
        reply->ignoreSslErrors(decision.ignore);
        return;
    case TlsTrust::Decision::Refuse:
        stop(reply, decision.reason);
        return;
    case TlsTrust::Decision::Ask:
        break;
    }
    const bool changed
        = m_fingerprint != decision.certificate.fingerprint || m_host != url.host() || m_port != portOf(url);
    m_host = url.host();
    m_port = portOf(url);
    m_fingerprint = decision.certificate.fingerprint;
    m_details = TlsTrust::describeText(decision.certificate);
    m_reason = decision.reason;
    stop(reply,
        tr("The certificate of %1 is not trusted yet (%2). Look at it and trust it, or cancel.")
            .arg(serverOf(m_host, m_port), decision.reason));
    if (changed)
        emit questionChanged();
}

void CertificateTrust::checkPinned(QNetworkReply *reply)
{
    const QUrl url = reply->url();
    const QString pinned = m_pins.fingerprint(url.host(), portOf(url));
    if (pinned.isEmpty())
        return;
    const TlsTrust::Decision decision = TlsTrust::decide({}, reply->sslConfiguration().peerCertificate(), pinned);
    if (decision.verdict == TlsTrust::Decision::Refuse)
        stop(reply, decision.reason);
}

void CertificateTrust::stop(QNetworkReply *reply, const QString &reason)
{
    qWarning().noquote() << "TLS:" << reply->url().adjusted(QUrl::RemoveUserInfo | QUrl::RemoveQuery).toString()
                         << reason;
    Request::abortWithReason(reply, reason);
}

void CertificateTrust::trust()
{
    if (!asking())
        return;
    const QString server = serverOf(m_host, m_port);
    m_pins.pin(m_host, m_port, m_fingerprint);
    m_fingerprint.clear();
    m_details.clear();
    m_reason.clear();
    // What waits on the answer hears that it was yes before it hears that the question is gone.
    emit trustedChanged();
    emit trusted(server);
    emit questionChanged();
}

void CertificateTrust::decline()
{
    if (!asking())
        return;
    m_fingerprint.clear();
    m_details.clear();
    m_reason.clear();
    emit questionChanged();
}

void CertificateTrust::forgetAll()
{
    m_pins.forgetAll();
    emit trustedChanged();
}

QString CertificateTrust::fingerprintOf(const QNetworkReply *reply)
{
    return reply ? TlsTrust::fingerprint(reply->sslConfiguration().peerCertificate()) : QString();
}
