#pragma once
#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QThreadPool;

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

/// The threads the hashing runs on: a bounded set, kept from one use to the next (a thread made per
/// transfer would, over a long queue of exports, leave the allocator a new heap to grow each time) and
/// owned by the application object, whose end stops and joins them. The window's thread only hands
/// work over and hears the results as signals: it never waits on a digest.
QThreadPool &hashingThreads();

/// SHA-256 of a stream on the hashing threads: the bytes of a download are hashed while the next ones
/// arrive and are written, as "curl | openssl dgst" does in two processes. addData() only queues; the
/// feeder keeps the queue bounded by pausing when it says so, until drained().
class BackgroundSha256 : public QObject
{
    Q_OBJECT
public:
    /// How many bytes may wait before addData() asks the feeder to pause.
    static constexpr qint64 kMostQueued = 4 * 1024 * 1024;

    explicit BackgroundSha256(QObject *parent = nullptr);
    /// Drops what still waits; a slice being hashed is let go of by its thread afterwards.
    ~BackgroundSha256() override;

    /// Queues the bytes (shared, not copied). False when the feeder should pause until drained().
    bool addData(const QByteArray &data);
    /// Once everything queued has been hashed, finished() brings the digest.
    void finish();

signals:
    /// The queue that asked the feeder to pause has shrunk to half its limit.
    void drained();
    /// The digest of everything added, as 64 lower-case hex digits.
    void finished(const QString &hex);

private:
    struct State;
    void schedule();
    std::shared_ptr<State> d;
};

/// Hashes whole files on the hashing threads, one after the other. Ends with finished().
class FileHasher : public QObject
{
    Q_OBJECT
public:
    explicit FileHasher(QObject *parent = nullptr);
    ~FileHasher() override;

    void start(const QStringList &paths);
    /// Copies source to target (replacing it), then hashes the copy as read back from disk, so that the
    /// digest tells whether the copy holds the bytes expected. A copy that failed has no digest, and
    /// copyError() says why.
    void startCopy(const QString &source, const QString &target);
    void cancel();
    bool isRunning() const;
    /// The hex digest of each path hashed; a file that could not be read has none.
    QHash<QString, QString> digests() const;
    QString copyError() const;

signals:
    void finished();

private:
    struct Run;
    void run(std::shared_ptr<Run> run);

    std::shared_ptr<Run> m_run;
    QHash<QString, QString> m_digests;
    QString m_copyError;
};
