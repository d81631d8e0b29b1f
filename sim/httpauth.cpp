#include "httpauth.h"

#include <httplib.h>

#include <openssl/evp.h>

#include <atomic>
#include <cctype>
#include <map>
#include <random>

namespace httpauth {
namespace {

std::string base64Decode(const std::string &in)
{
    static const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned value = 0; // only the low 14 bits ever matter; masking keeps long input from overflowing
    int bits = -8;
    for (unsigned char c : in) {
        if (c == '=')
            break;
        const auto pos = chars.find(static_cast<char>(c));
        if (pos == std::string::npos)
            return {};
        value = ((value << 6) | static_cast<unsigned>(pos)) & 0xFFFFFu;
        bits += 6;
        if (bits >= 0) {
            out.push_back(static_cast<char>((value >> bits) & 0xFF));
            bits -= 8;
        }
    }
    return out;
}

bool startsWithNoCase(const std::string &text, const std::string &prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

/// Splits the parameters of a Digest header: key=value or key="quoted value", separated by commas.
std::map<std::string, std::string> digestParameters(const std::string &header)
{
    std::map<std::string, std::string> params;
    size_t i = 0;
    const size_t n = header.size();
    while (i < n) {
        while (i < n && (header[i] == ' ' || header[i] == ','))
            ++i;
        size_t keyStart = i;
        while (i < n && header[i] != '=' && header[i] != ',')
            ++i;
        std::string key = header.substr(keyStart, i - keyStart);
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        if (i >= n || header[i] != '=') {
            continue;
        }
        ++i;
        std::string value;
        if (i < n && header[i] == '"') {
            ++i;
            while (i < n && header[i] != '"') {
                if (header[i] == '\\' && i + 1 < n)
                    ++i;
                value.push_back(header[i++]);
            }
            ++i;
        } else {
            while (i < n && header[i] != ',')
                value.push_back(header[i++]);
            while (!value.empty() && value.back() == ' ')
                value.pop_back();
        }
        for (auto &c : key)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        params[key] = value;
    }
    return params;
}

std::string newNonce()
{
    static std::atomic<unsigned> counter { 0 };
    static const unsigned seed = std::random_device {}();
    return md5Hex(std::to_string(seed) + ":" + std::to_string(counter++));
}

} // namespace

std::string md5Hex(const std::string &data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(hex[digest[i] >> 4]);
        out.push_back(hex[digest[i] & 0x0F]);
    }
    return out;
}

std::string challenge(Scheme scheme, const Account &account)
{
    // Credentials are compared as the UTF-8 bytes the account was given in; RFC 7617 lets a Basic
    // challenge say so, so that a client does not send Latin-1 instead.
    if (scheme == Scheme::Basic)
        return "Basic realm=\"" + account.realm + "\", charset=\"UTF-8\"";
    return "Digest realm=\"" + account.realm + "\", nonce=\"" + newNonce() + "\", algorithm=MD5, qop=\"auth\"";
}

bool authorize(const httplib::Request &request, httplib::Response &response, Scheme scheme, const Account &account)
{
    const std::string header = request.get_header_value("Authorization");
    bool ok = false;
    if (scheme == Scheme::Basic && startsWithNoCase(header, "Basic ")) {
        ok = base64Decode(header.substr(6)) == account.user + ":" + account.password;
    } else if (scheme == Scheme::Digest && startsWithNoCase(header, "Digest ")) {
        auto p = digestParameters(header.substr(7));
        if (p["username"] == account.user && p["realm"] == account.realm && !p["nonce"].empty()) {
            const std::string ha1 = md5Hex(account.user + ":" + account.realm + ":" + account.password);
            // httplib percent-decodes header values, so a "uri" answered for a target with escapes (camera
            // ids in braces: %7B...%7D) no longer reads as the client hashed it; the raw target does.
            for (const std::string &uri : { p["uri"], request.target }) {
                const std::string ha2 = md5Hex(request.method + ":" + uri);
                const std::string expected = p["qop"] == "auth"
                    ? md5Hex(ha1 + ":" + p["nonce"] + ":" + p["nc"] + ":" + p["cnonce"] + ":auth:" + ha2)
                    : md5Hex(ha1 + ":" + p["nonce"] + ":" + ha2);
                if (p["response"] == expected) {
                    ok = true;
                    break;
                }
            }
        }
    }
    if (ok)
        return true;
    response.status = 401;
    response.set_header("WWW-Authenticate", challenge(scheme, account));
    response.set_content("Unauthorized", "text/plain");
    return false;
}

} // namespace httpauth
