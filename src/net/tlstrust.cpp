#include "net/tlstrust.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSettings>

#include <algorithm>

namespace TlsTrust {
namespace {

const char *const PinGroup = "tlsPins";

/// The operator's words, translated in the context "TlsTrust".
class Words
{
    Q_DECLARE_TR_FUNCTIONS(TlsTrust)
};

/// "CN=..., O=..., C=...": the name first, then the organisation and the place, then anything else.
QString distinguishedName(const QSslCertificate &certificate, bool issuer)
{
    static const QList<QByteArray> order { "CN", "OU", "O", "L", "ST", "C" };
    QList<QByteArray> attributes = issuer ? certificate.issuerInfoAttributes() : certificate.subjectInfoAttributes();
    std::stable_sort(attributes.begin(), attributes.end(), [](const QByteArray &a, const QByteArray &b) {
        return uint(order.indexOf(a)) < uint(order.indexOf(b)); // unknown ones (-1) last
    });
    QStringList parts;
    for (const QByteArray &attribute : attributes) {
        const QStringList values = issuer ? certificate.issuerInfo(attribute) : certificate.subjectInfo(attribute);
        for (const QString &value : values)
            parts << QString::fromLatin1(attribute) + QLatin1Char('=') + value;
    }
    return parts.join(QStringLiteral(", "));
}

QString moment(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"));
}

/// The certificate an error is about, which may be one higher up the chain than the server's own.
QSslCertificate subjectOf(const QSslError &error, const QSslCertificate &peer)
{
    return error.certificate().isNull() ? peer : error.certificate();
}

/// For errors about a certificate of the chain rather than the server's own, which one.
QString whose(const QSslCertificate &certificate, const QSslCertificate &peer)
{
    if (certificate == peer)
        return Words::tr("The server's certificate");
    return Words::tr("The certificate \"%1\" that vouches for the server's").arg(distinguishedName(certificate, false));
}

QString normalized(const QString &fingerprint)
{
    return fingerprint.trimmed().toUpper();
}

/// The settings key of a server's pin: "tlsPins/host:port", the host in lower case, an IPv6 address in brackets.
QString pinKey(const QString &host, int port)
{
    const QString name = host.trimmed().toLower();
    const bool ipv6 = name.contains(QLatin1Char(':')) && !name.startsWith(QLatin1Char('['));
    return QLatin1String(PinGroup) + QLatin1Char('/') + (ipv6 ? QLatin1Char('[') + name + QLatin1Char(']') : name)
        + QLatin1Char(':') + QString::number(port);
}

void addOnce(QStringList &texts, const QString &text)
{
    if (!texts.contains(text))
        texts << text;
}

} // namespace

QString fingerprint(const QSslCertificate &certificate)
{
    if (certificate.isNull())
        return {};
    const QByteArray hex = certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper();
    return QString::fromLatin1(hex);
}

CertificateInfo describe(const QSslCertificate &certificate)
{
    CertificateInfo info;
    info.subject = distinguishedName(certificate, false);
    info.issuer = distinguishedName(certificate, true);
    const auto alternatives = certificate.subjectAlternativeNames();
    for (auto it = alternatives.cbegin(); it != alternatives.cend(); ++it)
        info.names << it.value();
    info.validFrom = certificate.effectiveDate().toUTC();
    info.validTo = certificate.expiryDate().toUTC();
    info.fingerprint = fingerprint(certificate);
    return info;
}

QString describeText(const CertificateInfo &info)
{
    QStringList lines { Words::tr("Subject: %1").arg(info.subject), Words::tr("Issuer: %1").arg(info.issuer) };
    if (!info.names.isEmpty())
        lines << Words::tr("For: %1").arg(info.names.join(QStringLiteral(", ")));
    lines << Words::tr("Valid from %1 to %2").arg(moment(info.validFrom), moment(info.validTo))
          << Words::tr("SHA-256 fingerprint: %1").arg(info.fingerprint);
    return lines.join(QLatin1Char('\n'));
}

bool mayBeTrusted(QSslError::SslError error)
{
    switch (error) {
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
        return true;
    default:
        return false;
    }
}

QString explain(const QSslError &error, const QSslCertificate &peer)
{
    const QSslCertificate certificate = subjectOf(error, peer);
    switch (error.error()) {
    case QSslError::SelfSignedCertificate:
        return Words::tr("The certificate is self-signed: no certificate authority that this computer trusts vouches "
                         "for it.");
    case QSslError::SelfSignedCertificateInChain:
        return Words::tr("The certificate was issued by a certificate authority that this computer does not trust.");
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToGetIssuerCertificate:
        return Words::tr("The certificate's issuer is not a certificate authority that this computer knows.");
    case QSslError::UnableToVerifyFirstCertificate:
        return Words::tr("The certificate cannot be traced back to a certificate authority that this computer trusts.");
    case QSslError::CertificateUntrusted:
        return Words::tr(
            "The certificate authority that issued the certificate is not trusted for identifying servers.");
    case QSslError::CertificateExpired:
        return Words::tr("%1 expired on %2. Check the date and time of this computer; otherwise the server needs a new "
                         "certificate.")
            .arg(whose(certificate, peer), moment(certificate.expiryDate()));
    case QSslError::CertificateNotYetValid:
        return Words::tr("%1 is not valid before %2. Check the date and time of this computer and of the server.")
            .arg(whose(certificate, peer), moment(certificate.effectiveDate()));
    case QSslError::HostNameMismatch: {
        QStringList names = describe(certificate).names;
        if (names.isEmpty()) // an older certificate may name its server only as its common name
            names = certificate.subjectInfo(QSslCertificate::CommonName);
        if (names.isEmpty())
            return Words::tr("The certificate does not name the address you connected to.");
        return Words::tr(
            "The certificate is for %1, not for the address you connected to. Connect by one of those names, "
            "or ask the server's administrator for a certificate that names the address you use.")
            .arg(names.join(QStringLiteral(", ")));
    }
    case QSslError::CertificateRevoked:
        return Words::tr("%1 has been revoked by its issuer.").arg(whose(certificate, peer));
    case QSslError::InvalidPurpose:
        return Words::tr("%1 is not meant for identifying a server.").arg(whose(certificate, peer));
    case QSslError::CertificateBlacklisted:
        return Words::tr("%1 is on the list of certificates known to be compromised.").arg(whose(certificate, peer));
    default:
        return Words::tr("The certificate could not be checked: %1.").arg(error.errorString());
    }
}

Decision decide(const QList<QSslError> &errors, const QSslCertificate &peer, const QString &pinned)
{
    Decision decision;
    if (peer.isNull()) {
        decision.reason = Words::tr("The connection was refused: the server presented no certificate.");
        return decision;
    }
    decision.certificate = describe(peer);
    QList<QSslError> trustable;
    QStringList refusals;
    for (const QSslError &error : errors) {
        if (mayBeTrusted(error.error()))
            trustable << error;
        else
            addOnce(refusals, explain(error, peer));
    }

    if (!pinned.isEmpty() && normalized(pinned) != decision.certificate.fingerprint) {
        QStringList lines { Words::tr("The connection was refused: this server's certificate is not the one that was "
                                      "trusted for it."),
            Words::tr("Trusted: %1").arg(normalized(pinned)),
            Words::tr("Now: %1").arg(decision.certificate.fingerprint),
            Words::tr("Either the server's certificate was replaced (ask its administrator, and compare the new "
                      "fingerprint with the one they give you) or someone is intercepting the connection. Nothing was "
                      "sent to the server.") };
        decision.reason = (lines + refusals).join(QLatin1Char('\n'));
        return decision;
    }
    if (!refusals.isEmpty()) {
        decision.reason = (QStringList { Words::tr("The connection was refused: the server's certificate cannot be "
                                                   "accepted.") }
            + refusals)
                              .join(QLatin1Char('\n'));
        return decision;
    }
    if (trustable.isEmpty() || !pinned.isEmpty()) {
        decision.verdict = Decision::Accept;
        decision.ignore = trustable;
        return decision;
    }
    decision.verdict = Decision::Ask;
    QStringList reasons;
    for (const QSslError &error : trustable)
        addOnce(reasons, explain(error, peer));
    decision.reason = reasons.join(QLatin1Char(' '));
    return decision;
}

Pins::Pins(QSettings &settings)
    : m_settings(settings)
{
}

QString Pins::fingerprint(const QString &host, int port) const
{
    return m_settings.value(pinKey(host, port)).toString();
}

void Pins::pin(const QString &host, int port, const QString &fingerprint)
{
    m_settings.setValue(pinKey(host, port), normalized(fingerprint));
    m_settings.sync();
}

void Pins::forget(const QString &host, int port)
{
    m_settings.remove(pinKey(host, port));
    m_settings.sync();
}

void Pins::forgetAll()
{
    m_settings.remove(QLatin1String(PinGroup));
    m_settings.sync();
}

QStringList Pins::servers() const
{
    m_settings.beginGroup(QLatin1String(PinGroup));
    const QStringList keys = m_settings.childKeys();
    m_settings.endGroup();
    return keys;
}

} // namespace TlsTrust
