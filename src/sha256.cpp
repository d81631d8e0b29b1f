#include "sha256.h"

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
