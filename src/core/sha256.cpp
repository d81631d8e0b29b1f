#include "core/sha256.h"

#include <QThreadPool>

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
constexpr qint64 kMostQueued = 4 * 1024 * 1024;

/// Threads kept for the hashing of one transfer after another: a thread made per transfer would, over
/// a long queue of exports, leave the allocator a new heap to grow each time.
QThreadPool &hashingThreads()
{
    static QThreadPool *pool = [] {
        auto *made = new QThreadPool;
        made->setExpiryTimeout(-1);
        // Far more than ever hash at once, so that a transfer's hashing always starts at once rather
        // than waiting for a thread another transfer holds.
        made->setMaxThreadCount(64);
        return made;
    }();
    return *pool;
}
} // namespace

BackgroundSha256::BackgroundSha256()
{
    hashingThreads().start([this] { run(); });
}

BackgroundSha256::~BackgroundSha256()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_stop = true;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_ended; });
}

void BackgroundSha256::addData(const QByteArray &data)
{
    if (data.isEmpty())
        return;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queued < kMostQueued; });
    m_queue.push_back(data);
    m_queued += data.size();
    lock.unlock();
    m_changed.notify_all();
}

QString BackgroundSha256::hexResult()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queue.empty() && !m_busy; });
    return m_hash.hexResult();
}

void BackgroundSha256::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop) {
            m_ended = true;
            m_changed.notify_all();
            return;
        }
        const QByteArray data = m_queue.front();
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        m_hash.addData(data);
        lock.lock();
        m_busy = false;
        m_queued -= data.size();
        m_changed.notify_all();
    }
}
