#pragma once
#include "httpauth.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace httplib {
class Server;
}

/// A scripted HTTP or HTTPS server on 127.0.0.1 and a free port, for tests: each path answers as told
/// (status, body, delay, no length, a cut connection, silence, an authentication challenge),
/// and every request it got is recorded.
class TestServer
{
public:
    /// The certificate (the server's own first, then any chain) and its private key, as PEM.
    struct Tls {
        QByteArray certificate;
        QByteArray key;
        /// Empty (and so refused by the server) when a file cannot be read.
        static Tls fromFiles(const QString &certificatePath, const QString &keyPath);
    };
    struct Reply {
        int status = 200;
        QByteArray body;
        std::string contentType = "application/json";
        int delayMs = 0;
        bool withoutLength = false; ///< chunked, so the client learns no total
        long long cutAfter = -1; ///< send about this many bytes of the body, then drop the connection
        bool stall = false; ///< never answer until the server stops
        long long stallAfter = -1; ///< send about this many bytes of the body, then nothing until released
        size_t chunkSize = 64 * 1024;
        int chunkDelayMs = 0; ///< a pause before each chunk of a body longer than chunkSize
    };
    struct Recorded {
        std::string method;
        std::string path; ///< decoded by the server
        std::string target; ///< path and query exactly as the client sent them
        std::multimap<std::string, std::string> params; ///< decoded query items
        std::string authorization;
    };

    TestServer();
    /// HTTPS with this certificate, on port (0: a free one). A certificate that cannot be used or a
    /// port that cannot be had leave the server not listening, with the reason given as a warning.
    explicit TestServer(const Tls &tls, int port = 0);
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    bool isListening() const;
    int port() const;
    /// "http://127.0.0.1:<port>", or "https://..." with TLS
    QString base() const;
    /// "127.0.0.1:<port>", the form the login page takes
    QString hostPort() const;

    /// Every path answers with this unless a route says otherwise.
    void setDefault(const Reply &reply);
    void route(const std::string &path, const Reply &reply);
    /// A request on path whose query item param is value (decoded) answers with this, before route().
    void routeQuery(const std::string &path, const std::string &param, const std::string &value, const Reply &reply);
    /// Challenge every request that lacks valid credentials of this account.
    void requireAuth(httpauth::Scheme scheme, const std::string &user, const std::string &password);

    /// Back to a plain 200 for every path, no routes, no authentication, no recorded requests.
    void reset();

    std::vector<Recorded> requests() const;
    size_t requestCount() const;
    /// Requests the server is done with: the answer handed to the connection after any delay (a
    /// refused or stalled one counted too, once it ends). A request sent after this count has grown
    /// is answered after that answer went out.
    size_t answeredCount() const;
    /// Lets stalled requests go (they then end without an answer).
    void releaseStalled();

private:
    void serve(int port);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = -1;
    bool m_tls = false;
    mutable std::mutex m_mutex;
    std::condition_variable m_stallReleased;
    bool m_released = false;
    Reply m_default;
    std::map<std::string, Reply> m_routes;
    std::map<std::tuple<std::string, std::string, std::string>, Reply> m_queryRoutes;
    bool m_authRequired = false;
    httpauth::Scheme m_scheme = httpauth::Scheme::Basic;
    httpauth::Account m_account;
    std::vector<Recorded> m_requests;
    size_t m_answered = 0;
};
