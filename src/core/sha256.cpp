#include "core/sha256.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>

#ifdef TILLMARK_HAVE_LIBCRYPTO
#include <openssl/evp.h>
#else
#include <QCryptographicHash>
#endif

#ifdef TILLMARK_HAVE_LIBCRYPTO

struct Sha256::State {
    State()
        : context(EVP_MD_CTX_new())
    {
        restart();
    }
    ~State() { EVP_MD_CTX_free(context); }
    void restart() { EVP_DigestInit_ex(context, EVP_sha256(), nullptr); }
    EVP_MD_CTX *context;
};

Sha256::Sha256()
    : d(std::make_unique<State>())
{
}

void Sha256::addData(const char *data, qint64 size)
{
    EVP_DigestUpdate(d->context, data, size_t(size));
}

QString Sha256::hexResult()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(d->context, digest, &length);
    d->restart();
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

const char *Sha256::implementation()
{
    return "OpenSSL libcrypto";
}

#else

struct Sha256::State {
    QCryptographicHash hash { QCryptographicHash::Sha256 };
};

Sha256::Sha256()
    : d(std::make_unique<State>())
{
}

void Sha256::addData(const char *data, qint64 size)
{
    // addData takes an int length in Qt 5.
    while (size > 0) {
        const int part = int(std::min<qint64>(size, 1 << 30));
        d->hash.addData(data, part);
        data += part;
        size -= part;
    }
}

QString Sha256::hexResult()
{
    const QByteArray digest = d->hash.result();
    d->hash.reset();
    return QString::fromLatin1(digest.toHex());
}

const char *Sha256::implementation()
{
    return "QCryptographicHash";
}

#endif

Sha256::~Sha256() = default;

QString Sha256::ofBytes(const QByteArray &bytes)
{
    Sha256 hash;
    hash.addData(bytes);
    return hash.hexResult();
}

namespace {

/// What a file hash reads at a time.
constexpr qint64 kFileSlice = 8 * 1024 * 1024;

} // namespace

QThreadPool &hashingThreads()
{
    static QPointer<QThreadPool> pool;
    if (!pool) {
        // Owned by the application object: its end waits for the threads, whose work stops at once
        // once its owner has gone. Without one (a tool's main before it made one), kept for the process.
        pool = new QThreadPool(QCoreApplication::instance());
        pool->setExpiryTimeout(-1);
        pool->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
    }
    return *pool;
}

struct BackgroundSha256::State {
    std::mutex mutex;
    /// Null once the object has gone: nothing is reported any more.
    BackgroundSha256 *owner = nullptr;
    std::deque<QByteArray> queue;
    qint64 queued = 0;
    /// A task is waiting for a thread or running: it takes whatever is queued.
    bool scheduled = false;
    bool pausedFeeder = false;
    bool finishing = false;
    Sha256 hash;
};

BackgroundSha256::BackgroundSha256(QObject *parent)
    : QObject(parent)
    , d(std::make_shared<State>())
{
    d->owner = this;
}

BackgroundSha256::~BackgroundSha256()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->owner = nullptr;
    d->queue.clear();
}

bool BackgroundSha256::addData(const QByteArray &data)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!data.isEmpty()) {
        d->queue.push_back(data);
        d->queued += data.size();
        schedule();
    }
    if (d->queued < kMostQueued)
        return true;
    d->pausedFeeder = true;
    return false;
}

void BackgroundSha256::finish()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->finishing = true;
    schedule();
}

void BackgroundSha256::schedule()
{
    if (d->scheduled)
        return;
    d->scheduled = true;
    hashingThreads().start([state = d] {
        std::unique_lock<std::mutex> lock(state->mutex);
        while (state->owner && !state->queue.empty()) {
            const QByteArray data = state->queue.front();
            state->queue.pop_front();
            lock.unlock();
            state->hash.addData(data);
            lock.lock();
            state->queued -= data.size();
            if (state->pausedFeeder && state->queued <= kMostQueued / 2 && state->owner) {
                state->pausedFeeder = false;
                BackgroundSha256 *owner = state->owner;
                // Posted while the owner cannot go (its destructor takes the lock); dropped if it goes first.
                QMetaObject::invokeMethod(
                    owner, [owner] { emit owner->drained(); }, Qt::QueuedConnection);
            }
        }
        state->scheduled = false;
        if (state->owner && state->finishing) {
            state->finishing = false;
            const QString hex = state->hash.hexResult();
            BackgroundSha256 *owner = state->owner;
            QMetaObject::invokeMethod(
                owner, [owner, hex] { emit owner->finished(hex); }, Qt::QueuedConnection);
        }
    });
}

/// One start() of a FileHasher: the paths, and the owner while it still wants the result.
struct FileHasher::Run {
    std::mutex mutex;
    /// Null once cancelled or gone.
    FileHasher *owner = nullptr;
    std::atomic<bool> cancelled { false };
    QStringList paths;
    /// Copied to the one path before it is hashed, when set.
    QString copyFrom;
};

namespace {

/// Copies source to target in slices through buffer; the reason when that failed, else empty.
QString copyFile(const QString &source, const QString &target, QByteArray &buffer, const std::atomic<bool> &cancelled)
{
    QFile from(source);
    QFile to(target);
    if (!from.open(QIODevice::ReadOnly))
        return from.errorString();
    if (!to.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return to.errorString();
    qint64 read = 0;
    while (!cancelled && (read = from.read(buffer.data(), kFileSlice)) > 0) {
        if (to.write(buffer.constData(), read) != read)
            return to.errorString();
    }
    if (read < 0)
        return from.errorString();
    if (!to.flush())
        return to.errorString();
    to.close();
    return to.error() == QFileDevice::NoError ? QString() : to.errorString();
}

} // namespace

FileHasher::FileHasher(QObject *parent)
    : QObject(parent)
{
}

FileHasher::~FileHasher()
{
    cancel();
}

void FileHasher::start(const QStringList &paths)
{
    auto made = std::make_shared<Run>();
    made->paths = paths;
    run(made);
}

void FileHasher::startCopy(const QString &source, const QString &target)
{
    auto made = std::make_shared<Run>();
    made->paths = QStringList { target };
    made->copyFrom = source;
    run(made);
}

void FileHasher::run(std::shared_ptr<Run> run)
{
    cancel();
    m_digests.clear();
    m_copyError.clear();
    run->owner = this;
    m_run = run;
    hashingThreads().start([run] {
        QHash<QString, QString> digests;
        QByteArray buffer;
        QString copyError;
        if (!run->copyFrom.isEmpty()) {
            buffer.resize(int(kFileSlice));
            copyError = copyFile(run->copyFrom, run->paths.constFirst(), buffer, run->cancelled);
        }
        for (const QString &path : qAsConst(run->paths)) {
            if (!copyError.isEmpty())
                break;
            QFile file(path);
            if (run->cancelled || !file.open(QIODevice::ReadOnly))
                continue;
            if (buffer.isEmpty())
                buffer.resize(int(kFileSlice));
            Sha256 hash;
            qint64 read = 0;
            while (!run->cancelled && (read = file.read(buffer.data(), kFileSlice)) > 0)
                hash.addData(buffer.constData(), read);
            // A read error leaves the file without a digest, so that it reads as changed, never as intact.
            if (read == 0 && file.atEnd())
                digests.insert(path, hash.hexResult());
        }
        // Posted while the owner cannot go (cancel() takes the lock), to be delivered on its thread; dropped
        // when it goes first, and ignored when another run has replaced this one meanwhile.
        std::lock_guard<std::mutex> lock(run->mutex);
        FileHasher *owner = run->owner;
        if (!owner)
            return;
        QMetaObject::invokeMethod(
            owner,
            [owner, run, digests, copyError] {
                if (run != owner->m_run)
                    return;
                owner->m_run.reset();
                owner->m_digests = digests;
                owner->m_copyError = copyError;
                emit owner->finished();
            },
            Qt::QueuedConnection);
    });
}

void FileHasher::cancel()
{
    if (!m_run)
        return;
    std::lock_guard<std::mutex> lock(m_run->mutex);
    m_run->owner = nullptr;
    m_run->cancelled = true;
    m_run.reset();
}

bool FileHasher::isRunning() const
{
    return m_run != nullptr;
}

QHash<QString, QString> FileHasher::digests() const
{
    return m_digests;
}

QString FileHasher::copyError() const
{
    return m_copyError;
}
