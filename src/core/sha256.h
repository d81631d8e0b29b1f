#pragma once
#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

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

/// SHA-256 of a stream on a thread of its own (one of a pool kept for it): the bytes of a download are hashed while the
/// next ones arrive and are written, as "curl | openssl dgst" does in two processes. At most a few MiB wait.
class BackgroundSha256
{
public:
    BackgroundSha256();
    ~BackgroundSha256();
    BackgroundSha256(const BackgroundSha256 &) = delete;
    BackgroundSha256 &operator=(const BackgroundSha256 &) = delete;

    /// Queues the bytes (shared, not copied); waits while too many wait already.
    void addData(const QByteArray &data);
    /// Waits until everything queued is hashed; the digest as 64 lower-case hex digits.
    QString hexResult();

private:
    void run();

    Sha256 m_hash;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_queue;
    qint64 m_queued = 0;
    bool m_busy = false;
    bool m_stop = false;
    bool m_ended = false;
};
