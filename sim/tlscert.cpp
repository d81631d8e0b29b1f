#include "tlscert.h"

#include <httplib.h>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace tlscert {
namespace {

template <typename T, void (*Free)(T *)> struct Deleter {
    void operator()(T *p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using BigNumPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;

/// What OpenSSL last complained about, emptying its error queue.
std::string openSslError(const std::string &what)
{
    std::string text = what;
    unsigned long code = 0;
    const char *separator = ": ";
    while ((code = ERR_get_error()) != 0) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        text += separator;
        text += buffer;
        separator = "; ";
    }
    return text;
}

bool fail(std::string *error, const std::string &text)
{
    const std::string reason = openSslError(text); // empties the queue either way
    if (error)
        *error = reason;
    return false;
}

BioPtr readBio(const std::string &text)
{
    return BioPtr(BIO_new_mem_buf(text.data(), int(text.size())));
}

/// Keys on disk here are never encrypted; OpenSSL's default would ask for a pass phrase on the terminal.
int noPassPhrase(char *, int, int, void *)
{
    return -1;
}

std::vector<X509Ptr> readCertificates(const std::string &pem)
{
    std::vector<X509Ptr> certificates;
    BioPtr bio = readBio(pem);
    while (X509 *certificate = PEM_read_bio_X509(bio.get(), nullptr, noPassPhrase, nullptr))
        certificates.emplace_back(certificate);
    ERR_clear_error(); // the end of the text reads as an error
    return certificates;
}

KeyPtr readKey(const std::string &pem)
{
    BioPtr bio = readBio(pem);
    return KeyPtr(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassPhrase, nullptr));
}

/// What the PEM parser leaves in OpenSSL's error queue says no more than that nothing was found.
bool refuse(std::string *error, const std::string &text)
{
    ERR_clear_error();
    if (error)
        *error = text;
    return false;
}

/// The certificates and the key of pem, checked to belong together; false with the reason otherwise.
bool load(const Pem &pem, std::vector<X509Ptr> *certificates, KeyPtr *key, std::string *error)
{
    *certificates = readCertificates(pem.certificate);
    if (certificates->empty())
        return refuse(error, "no PEM certificate found");
    *key = readKey(pem.key);
    if (!*key && pem.key.find("ENCRYPTED") != std::string::npos)
        return refuse(error, "the private key is encrypted; give it without a pass phrase");
    if (!*key)
        return refuse(error, "no PEM private key found");
    if (X509_check_private_key(certificates->front().get(), key->get()) != 1)
        return refuse(error, "the private key does not belong to the certificate");
    return true;
}

std::string toPem(int (*write)(BIO *, void *), void *object)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get(), object) != 1)
        return {};
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, size_t(size));
}

int writeCertificate(BIO *bio, void *certificate)
{
    return PEM_write_bio_X509(bio, static_cast<X509 *>(certificate));
}

int writeKey(BIO *bio, void *key)
{
    return PEM_write_bio_PrivateKey(bio, static_cast<EVP_PKEY *>(key), nullptr, nullptr, 0, nullptr, nullptr);
}

bool addExtension(X509 *certificate, X509V3_CTX *context, int nid, const std::string &value)
{
    X509_EXTENSION *extension = X509V3_EXT_nconf_nid(nullptr, context, nid, value.c_str());
    if (!extension)
        return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

bool addName(X509_NAME *name, const char *field, const std::string &value)
{
    return value.empty()
        || X509_NAME_add_entry_by_txt(
               name, field, MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(value.c_str()), -1, -1, 0)
        == 1;
}

/// A positive 127-bit serial: random, as browsers expect, and never zero.
bool setRandomSerial(X509 *certificate)
{
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return false;
    bytes[0] = (bytes[0] & 0x7F) | 0x40;
    BigNumPtr number(BN_bin2bn(bytes, sizeof bytes, nullptr));
    return number && BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate));
}

} // namespace

Spec localServerSpec(const std::string &commonName)
{
    Spec spec;
    spec.commonName = commonName;
    spec.dnsNames = { "localhost" };
    spec.ipAddresses = { "127.0.0.1", "::1" };
    return spec;
}

std::optional<Pem> make(const Spec &spec, const Pem *issuer, std::string *error)
{
    std::vector<X509Ptr> issuerCertificates;
    KeyPtr issuerKey;
    if (issuer && !load(*issuer, &issuerCertificates, &issuerKey, error))
        return std::nullopt;

    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key) {
        fail(error, "cannot make an EC P-256 key");
        return std::nullopt;
    }
    X509Ptr certificate(X509_new());
    X509 *const x = certificate.get();
    X509_NAME *subject = X509_get_subject_name(x);
    const bool filled = X509_set_version(x, 2) == 1 && setRandomSerial(x)
        && X509_gmtime_adj(X509_getm_notBefore(x), long(spec.validFromSec))
        && X509_gmtime_adj(X509_getm_notAfter(x), long(spec.validUntilSec)) && X509_set_pubkey(x, key.get()) == 1
        && addName(subject, "O", spec.organization) && addName(subject, "CN", spec.commonName)
        && X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuerCertificates.front().get()) : subject) == 1;
    if (!filled) {
        fail(error, "cannot fill in the certificate");
        return std::nullopt;
    }

    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer ? issuerCertificates.front().get() : x, x, nullptr, nullptr, 0);
    std::string names;
    for (const std::string &name : spec.dnsNames)
        names += (names.empty() ? "DNS:" : ",DNS:") + name;
    for (const std::string &address : spec.ipAddresses)
        names += (names.empty() ? "IP:" : ",IP:") + address;
    bool extended = addExtension(x, &context, NID_subject_key_identifier, "hash")
        && addExtension(x, &context, NID_authority_key_identifier, "keyid:always");
    if (spec.authority) {
        extended = extended && addExtension(x, &context, NID_basic_constraints, "critical,CA:TRUE")
            && addExtension(x, &context, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        extended = extended && addExtension(x, &context, NID_basic_constraints, "critical,CA:FALSE")
            && addExtension(x, &context, NID_ext_key_usage, "serverAuth")
            && (names.empty() || addExtension(x, &context, NID_subject_alt_name, names));
    }
    if (!extended) {
        fail(error, "cannot add the certificate's extensions");
        return std::nullopt;
    }
    if (X509_sign(x, issuer ? issuerKey.get() : key.get(), EVP_sha256()) <= 0) {
        fail(error, "cannot sign the certificate");
        return std::nullopt;
    }
    Pem pem { toPem(writeCertificate, x), toPem(writeKey, key.get()) };
    if (pem.certificate.empty() || pem.key.empty()) {
        fail(error, "cannot write the certificate as PEM");
        return std::nullopt;
    }
    return pem;
}

bool check(const Pem &pem, std::string *error)
{
    std::vector<X509Ptr> certificates;
    KeyPtr key;
    return load(pem, &certificates, &key, error);
}

std::string fingerprint(const std::string &certificatePem)
{
    const std::vector<X509Ptr> certificates = readCertificates(certificatePem);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (certificates.empty() || X509_digest(certificates.front().get(), EVP_sha256(), digest, &length) != 1)
        return {};
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i > 0)
            text.push_back(':');
        text.push_back(hex[digest[i] >> 4]);
        text.push_back(hex[digest[i] & 0x0F]);
    }
    return text;
}

std::optional<long long> secondsLeft(const std::string &certificatePem)
{
    const std::vector<X509Ptr> certificates = readCertificates(certificatePem);
    int days = 0;
    int seconds = 0;
    if (certificates.empty()
        || ASN1_TIME_diff(&days, &seconds, nullptr, X509_get0_notAfter(certificates.front().get())) != 1)
        return std::nullopt;
    return days * 86400LL + seconds;
}

std::unique_ptr<httplib::Server> httpsServer(const Pem &pem, std::string *error)
{
    std::vector<X509Ptr> certificates;
    KeyPtr key;
    if (!load(pem, &certificates, &key, error))
        return nullptr;
    auto server = std::make_unique<httplib::SSLServer>([&](SSL_CTX &context) {
        if (SSL_CTX_use_certificate(&context, certificates.front().get()) != 1
            || SSL_CTX_use_PrivateKey(&context, key.get()) != 1)
            return false;
        // The intermediates a file may carry after the server's own certificate go out with it.
        for (size_t i = 1; i < certificates.size(); ++i) {
            if (SSL_CTX_add1_chain_cert(&context, certificates[i].get()) != 1)
                return false;
        }
        return true;
    });
    if (!server->is_valid()) {
        fail(error, "cannot set up TLS with this certificate and key");
        return nullptr;
    }
    return server;
}

} // namespace tlscert
