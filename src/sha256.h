#pragma once
#include <QByteArray>
#include <QString>

#include <memory>

/// SHA-256 of bytes fed as they pass, for the checksums of an export. Built on OpenSSL's libcrypto where
/// the build found it (it uses the processor's SHA instructions: some ten times the speed of
/// QCryptographicHash here), else on QCryptographicHash.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void addData(const char *data, qint64 size);
    void addData(const QByteArray &data) { addData(data.constData(), data.size()); }
    /// The digest of everything fed since the start as 64 lower-case hex digits; starts afresh.
    QString hexResult();

    static QString ofBytes(const QByteArray &bytes);
    /// Which implementation this build uses, for the benchmarks.
    static const char *implementation();

private:
    struct State;
    std::unique_ptr<State> d;
};
