#include "testcerts.h"

#include "tlscert.h"

#include <QSaveFile>

namespace {

bool writeWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace

TestCertificates::TestCertificates()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder: %1").arg(m_dir.errorString());
        return;
    }
    tlscert::Spec authoritySpec;
    authoritySpec.commonName = "Tillmark Test CA";
    authoritySpec.authority = true;
    make(&authority, QStringLiteral("ca"), authoritySpec, nullptr);
    make(&issued, QStringLiteral("issued"), tlscert::localServerSpec("localhost"), &authority);
    make(&selfSigned, QStringLiteral("self-signed"), tlscert::localServerSpec("localhost"), nullptr);
    make(&otherSelfSigned, QStringLiteral("other-self-signed"), tlscert::localServerSpec("localhost"), nullptr);

    tlscert::Spec expiredSpec = tlscert::localServerSpec("localhost");
    expiredSpec.validFromSec = -2LL * 365 * 86400;
    expiredSpec.validUntilSec = -86400;
    make(&expired, QStringLiteral("expired"), expiredSpec, &authority);

    tlscert::Spec wrongHostSpec;
    wrongHostSpec.commonName = "cameras.example.com";
    wrongHostSpec.dnsNames = { "cameras.example.com" };
    make(&wrongHost, QStringLiteral("wrong-host"), wrongHostSpec, &authority);
}

void TestCertificates::make(Pair *pair, const QString &name, const tlscert::Spec &spec, const Pair *issuer)
{
    if (!m_error.isEmpty())
        return;
    std::string error;
    const tlscert::Pem issuerPem { issuer ? issuer->certificate.toStdString() : std::string(),
        issuer ? issuer->key.toStdString() : std::string() };
    const auto pem = tlscert::make(spec, issuer ? &issuerPem : nullptr, &error);
    if (!pem) {
        m_error = QStringLiteral("%1: %2").arg(name, QString::fromStdString(error));
        return;
    }
    pair->certificate = QByteArray::fromStdString(pem->certificate);
    pair->key = QByteArray::fromStdString(pem->key);
    pair->certificateFile = m_dir.filePath(name + QStringLiteral(".crt"));
    pair->keyFile = m_dir.filePath(name + QStringLiteral(".key"));
    if (!writeWhole(pair->certificateFile, pair->certificate) || !writeWhole(pair->keyFile, pair->key))
        m_error = QStringLiteral("%1: cannot write into %2").arg(name, m_dir.path());
}
