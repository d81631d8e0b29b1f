#include "testserver.h"
#include "testutil.h"

#include "tlscert.h"

#include <httplib.h>

#include <QFile>
#include <QtGlobal>

#include <algorithm>
#include <chrono>

TestServer::Tls TestServer::Tls::fromFiles(const QString &certificatePath, const QString &keyPath)
{
    QFile certificate(certificatePath);
    QFile key(keyPath);
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        return {};
    return { certificate.readAll(), key.readAll() };
}

TestServer::TestServer()
    : m_server(std::make_unique<httplib::Server>())
{
    serve(0);
}

TestServer::TestServer(const Tls &tls, int port)
    : m_tls(true)
{
    std::string error;
    m_server = tlscert::httpsServer({ tls.certificate.toStdString(), tls.key.toStdString() }, &error);
    if (!m_server) {
        qWarning("TestServer: no HTTPS: %s", error.c_str());
        return;
    }
    serve(port);
}

void TestServer::serve(int port)
{
    m_server->Get(".*", [this](const httplib::Request &request, httplib::Response &response) {
        // Counted as the handler returns, whichever way: what it set is then sent.
        struct Answered {
            TestServer *server;
            ~Answered()
            {
                std::lock_guard<std::mutex> lock(server->m_mutex);
                ++server->m_answered;
            }
        } answered { this };
        Reply reply;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back({ request.method, request.path, request.target,
                { request.params.begin(), request.params.end() }, request.get_header_value("Authorization") });
            reply = m_routes.count(request.path) ? m_routes.at(request.path) : m_default;
            for (const auto &[key, value] : request.params) {
                const auto routed = m_queryRoutes.find({ request.path, key, value });
                if (routed != m_queryRoutes.end()) {
                    reply = routed->second;
                    break;
                }
            }
            if (m_authRequired && !httpauth::authorize(request, response, m_scheme, m_account))
                return;
        }
        if (reply.stall) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_stallReleased.wait(lock, [this] { return m_released; });
            response.status = 500;
            return;
        }
        if (reply.delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
        response.status = reply.status;
        auto body = std::make_shared<QByteArray>(reply.body);
        const size_t chunk = reply.chunkSize;
        if (reply.withoutLength) {
            const long long cutAfter = reply.cutAfter;
            response.set_chunked_content_provider(
                reply.contentType, [body, chunk, cutAfter](size_t offset, httplib::DataSink &sink) {
                    if (cutAfter >= 0 && offset >= size_t(cutAfter))
                        return false; // drops the connection without the closing chunk
                    if (offset >= size_t(body->size())) {
                        sink.done();
                        return true;
                    }
                    const size_t n = std::min(chunk, size_t(body->size()) - offset);
                    return sink.write(body->constData() + offset, n);
                });
        } else if (reply.stallAfter >= 0) {
            const size_t limit = size_t(reply.stallAfter);
            response.set_content_provider(size_t(body->size()), reply.contentType,
                [this, body, chunk, limit](size_t offset, size_t length, httplib::DataSink &sink) {
                    if (offset >= limit) {
                        std::unique_lock<std::mutex> lock(m_mutex);
                        m_stallReleased.wait(lock, [this] { return m_released; });
                        return false; // drops the connection
                    }
                    const size_t n = std::min({ chunk, length, limit - offset });
                    return sink.write(body->constData() + offset, n);
                });
        } else if (reply.cutAfter >= 0) {
            const size_t limit = size_t(reply.cutAfter);
            response.set_content_provider(size_t(body->size()), reply.contentType,
                [body, chunk, limit](size_t offset, size_t length, httplib::DataSink &sink) {
                    if (offset >= limit)
                        return false; // drops the connection
                    const size_t n = std::min({ chunk, length, limit - offset });
                    return sink.write(body->constData() + offset, n);
                });
        } else if (body->size() > qsizetype(chunk)) {
            const int pauseMs = reply.chunkDelayMs;
            response.set_content_provider(size_t(body->size()), reply.contentType,
                [body, chunk, pauseMs](size_t offset, size_t length, httplib::DataSink &sink) {
                    if (pauseMs > 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
                    return sink.write(body->constData() + offset, std::min(chunk, length));
                });
        } else {
            response.set_content(body->toStdString(), reply.contentType.c_str());
        }
    });
    m_port
        = port == 0 ? m_server->bind_to_any_port("127.0.0.1") : (m_server->bind_to_port("127.0.0.1", port) ? port : -1);
    if (m_port < 0) {
        qWarning("TestServer: cannot listen on 127.0.0.1:%d", port);
        return;
    }
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() does nothing until the accept loop runs, so a server stopped at once would never end.
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestServer::~TestServer()
{
    closeServerConnections();
    releaseStalled();
    if (m_thread.joinable()) {
        m_server->stop();
        m_thread.join();
    }
}

bool TestServer::isListening() const
{
    return m_port > 0;
}

int TestServer::port() const
{
    return m_port;
}

QString TestServer::base() const
{
    return (m_tls ? QStringLiteral("https://") : QStringLiteral("http://")) + hostPort();
}

QString TestServer::hostPort() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

void TestServer::setDefault(const Reply &reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_default = reply;
}

void TestServer::route(const std::string &path, const Reply &reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = reply;
}

void TestServer::routeQuery(
    const std::string &path, const std::string &param, const std::string &value, const Reply &reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queryRoutes[{ path, param, value }] = reply;
}

void TestServer::requireAuth(httpauth::Scheme scheme, const std::string &user, const std::string &password)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_authRequired = true;
    m_scheme = scheme;
    m_account.user = user;
    m_account.password = password;
}

void TestServer::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_default = Reply();
    m_routes.clear();
    m_queryRoutes.clear();
    m_authRequired = false;
    m_requests.clear();
    m_answered = 0;
}

std::vector<TestServer::Recorded> TestServer::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

size_t TestServer::requestCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests.size();
}

size_t TestServer::answeredCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_answered;
}

void TestServer::releaseStalled()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released = true;
    }
    m_stallReleased.notify_all();
}
