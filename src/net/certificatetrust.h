#pragma once
#include "net/tlstrust.h"

#include <QObject>
#include <QString>

class QNetworkReply;
class QSettings;
class QSslError;

/// The certificates the operator trusts, as SSH trusts hosts, for both servers' clients. A connection
/// whose certificate the system does not trust is stopped the first time, and the operator is asked
/// (server, subject, issuer, validity, fingerprint, why it is not trusted): trusted, it is pinned for that
/// host and port in the settings, and later connections to that server go on with exactly that
/// certificate. Another certificate on a pinned server, an expired one or one for another name is
/// refused with the words why; nothing is ever let through by a blanket ignore.
class CertificateTrust : public QObject
{
    Q_OBJECT
    /// A question waits for the operator's answer.
    Q_PROPERTY(bool asking READ asking NOTIFY questionChanged)
    /// "host:port" of the server asked about.
    Q_PROPERTY(QString server READ server NOTIFY questionChanged)
    /// The certificate: subject, issuer, names, validity and fingerprint, a line each.
    Q_PROPERTY(QString details READ details NOTIFY questionChanged)
    /// Why the system does not trust it.
    Q_PROPERTY(QString reason READ reason NOTIFY questionChanged)
    /// How many servers have a certificate pinned.
    Q_PROPERTY(int trustedCount READ trustedCount NOTIFY trustedChanged)
public:
    /// Pins kept in settings, which must outlive this object.
    explicit CertificateTrust(QSettings &settings, QObject *parent = nullptr);

    /// The one the clients of the program use, on the program's settings file.
    static CertificateTrust *shared();

    bool asking() const;
    QString server() const;
    QString details() const;
    QString reason() const;
    int trustedCount() const;

    /// For a reply's sslErrors(): lets it go on past exactly the errors a pin accepts, or stops it with the
    /// words why (and asks the operator about a certificate not trusted yet).
    void checkErrors(QNetworkReply *reply, const QList<QSslError> &errors);
    /// For a reply's encrypted(): stops it when its server is pinned to another certificate, even one the
    /// system trusts.
    void checkPinned(QNetworkReply *reply);

    /// Trusts the certificate asked about: pins it; trusted() follows.
    Q_INVOKABLE void trust();
    /// Trusts nothing: the question goes, no pin is made.
    Q_INVOKABLE void decline();
    /// Forgets every pinned certificate; the next connection to those servers asks again.
    Q_INVOKABLE void forgetAll();

    /// The fingerprint of the certificate a reply came through; empty over plain HTTP.
    static QString fingerprintOf(const QNetworkReply *reply);

signals:
    void questionChanged();
    /// The operator has trusted the certificate of server ("host:port"): what it stopped may be tried again.
    void trusted(const QString &server);
    /// Pins were made or forgotten: connections kept open to those servers must be made anew.
    void trustedChanged();

private:
    void stop(QNetworkReply *reply, const QString &reason);

    QSettings &m_settings;
    TlsTrust::Pins m_pins;
    QString m_host;
    int m_port = 0;
    QString m_fingerprint;
    QString m_details;
    QString m_reason;
};
