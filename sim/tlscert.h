#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace httplib {
class Server;
}

/// Certificates for the simulated servers' HTTPS and for the tests' TLS servers, made and read with
/// OpenSSL: what an operator would otherwise make with the openssl tool, without needing it.
namespace tlscert {

/// A certificate (possibly followed by the chain that issued it) and its private key, as PEM text.
struct Pem {
    std::string certificate;
    std::string key;
};

struct Spec {
    std::string commonName;
    std::string organization = "Tillmark";
    std::vector<std::string> dnsNames;
    std::vector<std::string> ipAddresses;
    /// Seconds from now; negative for a time in the past.
    long long validFromSec = -3600;
    long long validUntilSec = 3LL * 365 * 86400;
    /// A certificate authority, which may issue others, instead of a server's certificate.
    bool authority = false;
};

/// The names every local server certificate carries, so that localhost, 127.0.0.1 and [::1] all match.
Spec localServerSpec(const std::string &commonName);

/// A new EC P-256 key and a certificate for it, signed with SHA-256 by issuer (a certificate authority
/// made here) or by itself when issuer is null, with a random serial. Empty with a reason on failure.
std::optional<Pem> make(const Spec &spec, const Pem *issuer, std::string *error);

/// True when the text holds a certificate and a private key that belongs to it (an encrypted key is
/// refused, never prompted for); otherwise false with the reason.
bool check(const Pem &pem, std::string *error);

/// The SHA-256 fingerprint of the first certificate, as upper-case hex pairs joined by ':';
/// empty when there is none.
std::string fingerprint(const std::string &certificatePem);

/// Seconds until the first certificate stops being valid (negative once it has); empty when unreadable.
std::optional<long long> secondsLeft(const std::string &certificatePem);

/// An HTTPS server that presents the certificate (and its chain) with the key; null with a reason
/// when they cannot be used.
std::unique_ptr<httplib::Server> httpsServer(const Pem &pem, std::string *error);

} // namespace tlscert
