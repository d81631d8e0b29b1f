#pragma once
#include "simdata.h"
#include "simoptions.h"
#include "tlscert.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
class DataSink;
} // namespace httplib

/// Lets requests that wait (a delay, a stall, a clip being rendered) end at once when the server stops.
class StopSignal
{
public:
    void raise();
    bool raised() const;
    /// Sleeps for ms milliseconds; false when the stop came first.
    bool sleepFor(int ms);
    void wait();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_raised = false;
};

/// The simulated video management server and POS server, each on its own port of 127.0.0.1 and its
/// own thread pool, both answering from one generated site.
class SimServer
{
public:
    /// Plain HTTP, or HTTPS with tls when it holds a certificate.
    SimServer(SimOptions options, simdata::Site site, const tlscert::Pem &tls = {});
    ~SimServer();
    SimServer(const SimServer &) = delete;
    SimServer &operator=(const SimServer &) = delete;

    /// Binds both ports and starts serving; false with a reason when a port cannot be had (or TLS cannot
    /// be set up with the certificate given).
    bool start(std::string *error);
    int vmsPort() const { return m_vmsPort; }
    int posPort() const { return m_posPort; }
    /// Ends waiting requests and running clips, then closes both servers.
    void stop();

private:
    void setUpCommon(httplib::Server &server, const char *label);
    bool applyFaults(const httplib::Request &request, httplib::Response &response);
    void setUpVms();
    void setUpPos();
    /// The site's clock: the reference time plus the time since start.
    qint64 presentMs() const;

    void serveTime(httplib::Response &response) const;
    void serveStatistics(httplib::Response &response) const;
    void serveCameras(httplib::Response &response) const;
    void servePeriods(const httplib::Request &request, httplib::Response &response) const;
    void serveClip(const httplib::Request &request, httplib::Response &response);
    void serveClipFile(httplib::Response &response);
    void renderClip(int camera, long long posMs, int durationSec, bool high, httplib::Response &response);
    /// Passes clip bytes on, or drops the connection where --cut-clip-after says.
    bool sendClipBytes(httplib::DataSink &sink, const char *data, size_t size, long long &sent) const;
    void servePos(const httplib::Request &request, httplib::Response &response) const;

    SimOptions m_options;
    simdata::Site m_site;
    std::chrono::steady_clock::time_point m_started;
    StopSignal m_stop;
    std::unique_ptr<httplib::Server> m_vms;
    std::unique_ptr<httplib::Server> m_pos;
    std::thread m_vmsThread;
    std::thread m_posThread;
    int m_vmsPort = 0;
    int m_posPort = 0;
    std::string m_tlsError;
};
