#include "simtls.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace simtls {
namespace {

const char *const FileName = "tls.pem";
// Renewed a little before it runs out, so that a simulator left running does not cross the end.
constexpr long long RenewWithinSec = 7 * 86400;
constexpr long long ValiditySec = 5LL * 365 * 86400;

bool readWhole(const QString &path, std::string *text, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    *text = file.readAll().toStdString();
    return true;
}

} // namespace

std::optional<tlscert::Pem> readFiles(const QString &certificateFile, const QString &keyFile, QString *error)
{
    tlscert::Pem pem;
    if (!readWhole(certificateFile, &pem.certificate, error) || !readWhole(keyFile, &pem.key, error))
        return std::nullopt;
    std::string reason;
    if (!tlscert::check(pem, &reason)) {
        *error
            = QStringLiteral("cannot use %1 and %2: %3").arg(certificateFile, keyFile, QString::fromStdString(reason));
        return std::nullopt;
    }
    return pem;
}

std::optional<tlscert::Pem> ownCertificate(const QString &folder, QString *note, QString *error)
{
    const QString path = QDir(folder).filePath(QLatin1String(FileName));
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot make the folder %1 for the TLS certificate").arg(folder);
        return std::nullopt;
    }
    // Two simulators started at once would otherwise each make one, and one would print a fingerprint
    // that no longer holds.
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(30000)) {
        *error = QStringLiteral("cannot lock %1.lock").arg(path);
        return std::nullopt;
    }

    QFile kept(path);
    if (kept.open(QIODevice::ReadOnly)) {
        // The file holds the certificate and then its key; each reader picks out its own PEM block.
        const std::string text = kept.readAll().toStdString();
        const tlscert::Pem pem { text, text };
        const auto left = tlscert::secondsLeft(text);
        if (tlscert::check(pem, nullptr) && left && *left > RenewWithinSec)
            return pem;
        *note = left && *left <= RenewWithinSec
            ? QStringLiteral("the TLS certificate in %1 runs out; made a new one").arg(path)
            : QStringLiteral("the TLS certificate in %1 could not be read; made a new one").arg(path);
    } else {
        *note = QStringLiteral("made a self-signed TLS certificate, kept in %1").arg(path);
    }

    tlscert::Spec spec = tlscert::localServerSpec("localhost");
    spec.organization = "Tillmark simulated servers";
    spec.validUntilSec = ValiditySec;
    std::string reason;
    const auto made = tlscert::make(spec, nullptr, &reason);
    if (!made) {
        *error = QStringLiteral("cannot make a TLS certificate: %1").arg(QString::fromStdString(reason));
        return std::nullopt;
    }
    QSaveFile file(path);
    const QByteArray text = QByteArray::fromStdString(made->certificate + made->key);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(text) != text.size() || !file.commit()) {
        *error = QStringLiteral("cannot keep the TLS certificate in %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    return made;
}

QString defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

} // namespace simtls
