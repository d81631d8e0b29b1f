#pragma once
#include "testserver.h"

#include <QByteArray>
#include <QSslCertificate>
#include <QString>
#include <QTemporaryDir>

namespace tlscert {
struct Spec;
}

/// The certificates that TLS tests need, made afresh for each run and written as PEM files into a
/// temporary folder: a certificate authority; server certificates for 127.0.0.1, ::1 and localhost,
/// one it issued and two different self-signed ones; and two it issued that no client may accept,
/// one expired and one for another host name.
class TestCertificates
{
public:
    struct Pair {
        QByteArray certificate;
        QByteArray key;
        QString certificateFile;
        QString keyFile;
        TestServer::Tls tls() const { return { certificate, key }; }
        QSslCertificate sslCertificate() const { return QSslCertificate(certificate, QSsl::Pem); }
    };

    TestCertificates();
    TestCertificates(const TestCertificates &) = delete;
    TestCertificates &operator=(const TestCertificates &) = delete;

    /// False, with the reason in error(), when any of them could not be made or written.
    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    QString folder() const { return m_dir.path(); }

    Pair authority;
    Pair issued;
    Pair selfSigned;
    Pair otherSelfSigned;
    Pair expired;
    Pair wrongHost;

private:
    void make(Pair *pair, const QString &name, const tlscert::Spec &spec, const Pair *issuer);

    QTemporaryDir m_dir;
    QString m_error;
};
