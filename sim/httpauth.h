#pragma once
#include <string>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

/// HTTP authentication for the simulated video server and the test servers:
/// Basic, or Digest with MD5 and qop=auth, checked against one account whose user name and password
/// are UTF-8 (RFC 7617, RFC 7616).
namespace httpauth {

enum class Scheme { Basic, Digest };

struct Account {
    std::string user;
    std::string password;
    std::string realm = "Tillmark";
};

/// True when the request carries valid credentials for the account. Otherwise the
/// response becomes a 401 with a fresh challenge of the given scheme.
bool authorize(const httplib::Request &request, httplib::Response &response, Scheme scheme, const Account &account);

/// The challenge header value that a 401 carries ("Basic realm=..." or "Digest realm=..., nonce=...").
std::string challenge(Scheme scheme, const Account &account);

std::string md5Hex(const std::string &data);

} // namespace httpauth
