#pragma once
#include <QDateTime>
#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QStringList>

class QSettings;

/// Whether to go on with a server whose certificate the system does not trust, the way SSH trusts hosts:
/// an untrusted certificate is shown to the operator once and, when they trust it, pinned for that host
/// and port; a pinned host that answers with another certificate is refused, and so is a certificate
/// that is expired, not yet valid, for another name or otherwise broken, pinned or not. A certificate
/// that the system trusts raises no SSL errors and never gets here.
namespace TlsTrust {

/// What the operator is shown about a certificate.
struct CertificateInfo {
    QString subject; ///< "CN=..., O=..."
    QString issuer;
    QStringList names; ///< the host names and addresses it is for
    QDateTime validFrom; ///< UTC
    QDateTime validTo; ///< UTC
    QString fingerprint; ///< SHA-256, see fingerprint()
};

/// SHA-256 of the certificate's DER form as upper-case hex pairs joined by ':', as `openssl x509
/// -fingerprint -sha256` and the simulator print it; empty for a null certificate.
QString fingerprint(const QSslCertificate &certificate);
CertificateInfo describe(const QSslCertificate &certificate);
/// The description as lines for a dialog: subject, issuer, names, validity, fingerprint.
QString describeText(const CertificateInfo &info);

/// True for the errors that only say that no one the system trusts vouches for the certificate
/// (self-signed, unknown issuer): the operator may look at it and trust it. Every other error refuses.
bool mayBeTrusted(QSslError::SslError error);
/// The error in words for the operator; peer is the server's certificate, for errors that name none.
QString explain(const QSslError &error, const QSslCertificate &peer);

struct Decision {
    enum Verdict { Accept, Ask, Refuse };
    Verdict verdict = Refuse;
    /// Accept: exactly the errors to hand to QNetworkReply::ignoreSslErrors(), none of them refused kinds.
    QList<QSslError> ignore;
    CertificateInfo certificate;
    /// Ask: why the certificate is not trusted; Refuse: the whole message for the operator.
    QString reason;
};

/// What to do about the errors of a connection whose server presented peer. pinned is the fingerprint
/// pinned for the server's host and port, empty when there is none.
Decision decide(const QList<QSslError> &errors, const QSslCertificate &peer, const QString &pinned = {});

/// The pinned certificates: host and port -> SHA-256 fingerprint, kept in the settings given (and
/// written through at once, so that a pin survives a crash).
class Pins
{
public:
    explicit Pins(QSettings &settings);
    /// Empty when none is pinned. The host is matched case-insensitively.
    QString fingerprint(const QString &host, int port) const;
    void pin(const QString &host, int port, const QString &fingerprint);
    void forget(const QString &host, int port);
    void forgetAll();
    /// "host:port" ("[::1]:7001" for an IPv6 address) of every pin.
    QStringList servers() const;

private:
    QSettings &m_settings;
};

} // namespace TlsTrust
