#include "simserver.h"

#include "clipprocess.h"
#include "httpauth.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const Host = "127.0.0.1";
constexpr size_t ChunkSize = 64 * 1024;
// A stall or a slow clip holds a worker; enough of them that the other paths still answer meanwhile.
constexpr size_t WorkerThreads = 24;
// FFmpeg needs well under a second to start; this only catches one that hangs.
constexpr int FirstBytesTimeoutMs = 60000;

// JSON error codes in the "error" field of video server replies.
const char *const MissingParameter = "1";
const char *const InvalidParameter = "2";
const char *const NotFound = "3";

void setJson(httplib::Response &response, const QJsonDocument &document)
{
    response.set_content(document.toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

void setText(httplib::Response &response, int status, const std::string &text)
{
    response.status = status;
    response.set_content(text + "\n", "text/plain; charset=utf-8");
}

QJsonObject envelope(const QJsonValue &reply)
{
    return { { QStringLiteral("error"), QStringLiteral("0") }, { QStringLiteral("errorString"), QString() },
        { QStringLiteral("reply"), reply } };
}

void setVmsError(httplib::Response &response, const char *code, const QString &text)
{
    setJson(response,
        QJsonDocument(QJsonObject { { QStringLiteral("error"), QString::fromLatin1(code) },
            { QStringLiteral("errorString"), text }, { QStringLiteral("reply"), QJsonArray() } }));
}

QString msText(qint64 ms)
{
    return QString::number(ms);
}

/// A whole decimal number within [low, high], nothing else (no blanks, sign only for a negative); std::nullopt
/// otherwise.
std::optional<qint64> integerValue(const std::string &text, qint64 low, qint64 high)
{
    const size_t digitsFrom = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == digitsFrom || text.size() - digitsFrom > 18
        || text.find_first_not_of("0123456789", digitsFrom) != std::string::npos)
        return std::nullopt;
    const qint64 number = std::stoll(text);
    if (number < low || number > high)
        return std::nullopt;
    return number;
}

/// Query decoding turns the "+" of an unescaped UTC offset ("...T10:00:00.000+01:00") into a blank; put it back.
std::string restoreOffsetSign(std::string value)
{
    const size_t blank = value.rfind(' ');
    const size_t time = value.find('T');
    if (blank == std::string::npos || time == std::string::npos || blank < time)
        return value;
    const size_t offsetLength = value.size() - blank - 1; // "01", "0100" or "01:00"
    if ((offsetLength == 2 || offsetLength == 4 || offsetLength == 5)
        && value.find_first_not_of("0123456789:", blank + 1) == std::string::npos)
        value[blank] = '+';
    return value;
}

/// Closes the clip file when the last reader of it is gone.
struct FileHandle {
    int fd = -1;
    ~FileHandle()
    {
        if (fd >= 0)
            close(fd);
    }
};

} // namespace

void StopSignal::raise()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_raised = true;
    }
    m_changed.notify_all();
}

bool StopSignal::raised() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_raised;
}

bool StopSignal::sleepFor(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_raised; });
}

void StopSignal::wait()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_raised; });
}

SimServer::SimServer(SimOptions options, simdata::Site site, const tlscert::Pem &tls)
    : m_options(std::move(options))
    , m_site(std::move(site))
    , m_started(std::chrono::steady_clock::now())
{
    if (!tls.certificate.empty()) {
        m_vms = tlscert::httpsServer(tls, &m_tlsError);
        m_pos = tlscert::httpsServer(tls, &m_tlsError);
    }
    // Without TLS, or when it failed (start() then says so), the plain servers keep the rest simple.
    if (!m_vms || !m_pos) {
        m_vms = std::make_unique<httplib::Server>();
        m_pos = std::make_unique<httplib::Server>();
    }
    setUpCommon(*m_vms, "VMS");
    setUpCommon(*m_pos, "POS");
    setUpVms();
    setUpPos();
}

SimServer::~SimServer()
{
    stop();
}

qint64 SimServer::presentMs() const
{
    const auto elapsed = std::chrono::steady_clock::now() - m_started;
    return m_site.config().nowMs + std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

bool SimServer::start(std::string *error)
{
    if (!m_tlsError.empty()) {
        *error = "no HTTPS: " + m_tlsError;
        return false;
    }
    auto bind = [&](httplib::Server &server, int wanted, const char *label) {
        const int port
            = wanted == 0 ? server.bind_to_any_port(Host) : (server.bind_to_port(Host, wanted) ? wanted : -1);
        if (port < 0)
            *error = std::string("cannot listen on ") + Host + ":" + std::to_string(wanted) + " for the " + label
                + " (port in use?)";
        return port;
    };
    m_vmsPort = bind(*m_vms, m_options.vmsPort, "VMS");
    if (m_vmsPort < 0)
        return false;
    m_posPort = bind(*m_pos, m_options.posPort, "POS");
    if (m_posPort < 0)
        return false;
    m_vmsThread = std::thread([this] { m_vms->listen_after_bind(); });
    m_posThread = std::thread([this] { m_pos->listen_after_bind(); });
    // A stop() before the accept loops run would find nothing to stop and leave them running for ever.
    while (!m_vms->is_running() || !m_pos->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void SimServer::stop()
{
    m_stop.raise();
    m_vms->stop();
    m_pos->stop();
    if (m_vmsThread.joinable())
        m_vmsThread.join();
    if (m_posThread.joinable())
        m_posThread.join();
}

void SimServer::setUpCommon(httplib::Server &server, const char *label)
{
    server.new_task_queue = [] { return new httplib::ThreadPool(WorkerThreads); };
    // httplib's default adds SO_REUSEPORT, with which a second simulator would share the ports silently
    // instead of being told they are taken.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_keep_alive_max_count(100);
    server.set_error_handler([](const httplib::Request &request, httplib::Response &response) {
        if (!response.body.empty())
            return;
        if (response.status == 404)
            setText(response, 404, "Not found: " + request.path);
        else
            setText(response, response.status, "HTTP error " + std::to_string(response.status));
    });
    if (m_options.verbose) {
        server.set_logger([label](const httplib::Request &request, const httplib::Response &response) {
            std::fprintf(
                stderr, "%s %s %s -> %d\n", label, request.method.c_str(), request.target.c_str(), response.status);
        });
    }
}

bool SimServer::applyFaults(const httplib::Request &request, httplib::Response &response)
{
    int delay = m_options.delayMs;
    for (const PathFault &fault : m_options.delays) {
        if (fault.pattern.matches(request.path))
            delay += fault.value;
    }
    if (delay > 0 && !m_stop.sleepFor(delay)) {
        setText(response, 503, "Shutting down");
        return true;
    }
    for (const PathPattern &stall : m_options.stalls) {
        if (stall.matches(request.path)) {
            m_stop.wait();
            setText(response, 503, "Shutting down");
            return true;
        }
    }
    for (const PathFault &fault : m_options.failures) {
        if (fault.pattern.matches(request.path)) {
            setText(
                response, fault.value, "Simulated failure: " + std::to_string(fault.value) + " for " + request.path);
            return true;
        }
    }
    return false;
}

void SimServer::setUpVms()
{
    m_vms->set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &response) {
        if (applyFaults(request, response)
            || !httpauth::authorize(request, response, m_options.scheme, m_options.account))
            return httplib::Server::HandlerResponse::Handled;
        return httplib::Server::HandlerResponse::Unhandled;
    });
    m_vms->Get("/api/statistics",
        [this](const httplib::Request &, httplib::Response &response) { serveStatistics(response); });
    m_vms->Get("/api/getTime", [this](const httplib::Request &, httplib::Response &response) { serveTime(response); });
    m_vms->Get(
        "/ec2/getCamerasEx", [this](const httplib::Request &, httplib::Response &response) { serveCameras(response); });
    m_vms->Get("/ec2/recordedTimePeriods",
        [this](const httplib::Request &request, httplib::Response &response) { servePeriods(request, response); });
    m_vms->Get(R"(/hls/([^/]+)\.mkv)",
        [this](const httplib::Request &request, httplib::Response &response) { serveClip(request, response); });
}

void SimServer::serveStatistics(httplib::Response &response) const
{
    const qint64 uptime = presentMs() - m_site.config().nowMs;
    // Loads that wander a little, as a live server's do.
    const double wobble = double(uptime / 2000 % 7) / 100.0;
    QJsonArray statistics;
    auto add = [&](const char *description, const char *type, double value) {
        QJsonObject entry;
        entry.insert(QStringLiteral("description"), QString::fromLatin1(description));
        entry.insert(QStringLiteral("deviceType"), QString::fromLatin1(type));
        entry.insert(QStringLiteral("value"), value);
        statistics.append(entry);
    };
    add("CPU", "StatisticsCPU", 0.08 + wobble);
    add("RAM", "StatisticsRAM", 0.31 + wobble / 4);
    add("sda", "StatisticsHDD", 0.04 + wobble / 2);
    add("eth0", "StatisticsNETWORK", 0.02 + wobble / 3);
    QJsonObject reply;
    reply.insert(QStringLiteral("statistics"), statistics);
    reply.insert(QStringLiteral("uptimeMs"), msText(uptime));
    reply.insert(QStringLiteral("updatePeriod"), QStringLiteral("2000"));
    setJson(response, QJsonDocument(envelope(reply)));
}

void SimServer::serveTime(httplib::Response &response) const
{
    const qint64 now = presentMs();
    const qint64 offset = m_site.config().tzOffsetMs;
    const qint64 minutes = (offset < 0 ? -offset : offset) / 60000;
    const QString zone = QStringLiteral("UTC%1%2:%3")
                             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                             .arg(minutes % 60, 2, 10, QLatin1Char('0'));
    QJsonObject reply;
    reply.insert(QStringLiteral("utcTime"), msText(now));
    reply.insert(QStringLiteral("osTime"), msText(now + offset));
    reply.insert(QStringLiteral("timeZoneOffset"), msText(offset));
    reply.insert(QStringLiteral("timeZoneId"), zone);
    reply.insert(QStringLiteral("timezoneId"), zone);
    reply.insert(QStringLiteral("realm"), QString::fromStdString(m_options.account.realm));
    setJson(response, QJsonDocument(envelope(reply)));
}

void SimServer::serveCameras(httplib::Response &response) const
{
    QJsonArray cameras;
    for (const simdata::Camera &camera : m_site.cameras()) {
        const QString host = camera.name.toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
        cameras.append(QJsonObject {
            { QStringLiteral("id"), camera.id },
            { QStringLiteral("name"), camera.name },
            { QStringLiteral("parentId"), m_site.serverId() },
            { QStringLiteral("physicalId"), camera.physicalId },
            { QStringLiteral("mac"), camera.physicalId },
            { QStringLiteral("vendor"), camera.vendor },
            { QStringLiteral("model"), camera.model },
            { QStringLiteral("url"), QStringLiteral("rtsp://cam-%1.shop.local:554/stream1").arg(host) },
            { QStringLiteral("typeId"), QStringLiteral("{1657647e-f6e4-bc39-d5e8-563c93cb5e1c}") },
            { QStringLiteral("logicalId"), QString::number(camera.logicalId) },
            { QStringLiteral("status"), QStringLiteral("Recording") },
            { QStringLiteral("statusFlags"), QStringLiteral("CSF_NoFlags") },
            { QStringLiteral("groupId"), QString() },
            { QStringLiteral("groupName"), QString() },
            { QStringLiteral("audioEnabled"), false },
            { QStringLiteral("scheduleEnabled"), true },
            { QStringLiteral("motionType"),
                camera.continuous ? QStringLiteral("MT_Default") : QStringLiteral("MT_SoftwareGrid") },
            { QStringLiteral("recordBeforeMotionSec"), 5 },
            { QStringLiteral("recordAfterMotionSec"), 5 },
            { QStringLiteral("minArchiveDays"), 1 },
            { QStringLiteral("maxArchiveDays"), 30 },
            { QStringLiteral("preferredServerId"), m_site.serverId() },
        });
    }
    setJson(response, QJsonDocument(cameras));
}

void SimServer::servePeriods(const httplib::Request &request, httplib::Response &response) const
{
    for (const char *name : { "cameraId", "startTime", "endTime" }) {
        if (!request.has_param(name)) {
            setVmsError(response, MissingParameter, QStringLiteral("Missing required parameter '%1'").arg(name));
            return;
        }
    }
    const QString cameraId = QString::fromStdString(request.get_param_value("cameraId"));
    const int camera = m_site.cameraIndex(cameraId);
    const auto start = integerValue(request.get_param_value("startTime"), 0, std::numeric_limits<qint64>::max() / 2);
    const auto end = integerValue(request.get_param_value("endTime"), 0, std::numeric_limits<qint64>::max() / 2);
    const std::string desc = request.get_param_value("desc");
    if (!start || !end) {
        const char *name = !start ? "startTime" : "endTime";
        setVmsError(response, InvalidParameter,
            QStringLiteral("Invalid value of parameter '%1': expected milliseconds since the epoch").arg(name));
        return;
    }
    if (*start > *end) {
        setVmsError(response, InvalidParameter, QStringLiteral("startTime is after endTime"));
        return;
    }
    if (!desc.empty() && desc != "0" && desc != "1" && desc != "true" && desc != "false") {
        setVmsError(response, InvalidParameter, QStringLiteral("Invalid value of parameter 'desc': expected 0 or 1"));
        return;
    }
    if (camera < 0) {
        setVmsError(response, NotFound, QStringLiteral("Camera not found: %1").arg(cameraId));
        return;
    }
    const bool newestFirst = desc == "1" || desc == "true";
    QJsonArray periods;
    for (const simdata::Period &p : m_site.periodsOverlapping(camera, *start, *end, presentMs(), newestFirst)) {
        periods.append(QJsonObject { { QStringLiteral("startTimeMs"), msText(p.startMs) },
            { QStringLiteral("durationMs"), msText(p.durationMs) } });
    }
    const QJsonArray reply { QJsonObject {
        { QStringLiteral("guid"), m_site.serverId() }, { QStringLiteral("periods"), periods } } };
    setJson(response, QJsonDocument(envelope(reply)));
}

void SimServer::serveClip(const httplib::Request &request, httplib::Response &response)
{
    const std::string id = request.matches[1];
    const int camera = m_site.cameraIndex(QString::fromStdString(id));
    if (camera < 0) {
        setText(response, 404, "No camera with id " + id);
        return;
    }
    // Up to the year 9999; a day at most, which is what the timeline can mark.
    const auto pos = integerValue(request.get_param_value("pos"), 0, 253402300799999LL);
    const auto duration = integerValue(request.get_param_value("duration"), 1, 86400);
    const std::string hi = request.has_param("hi") ? request.get_param_value("hi") : "1";
    if (!pos) {
        setText(response, 400,
            "pos: expected the start in milliseconds since the epoch, got '" + request.get_param_value("pos") + "'");
        return;
    }
    if (!duration) {
        setText(response, 400,
            "duration: expected whole seconds from 1 to 86400, got '" + request.get_param_value("duration") + "'");
        return;
    }
    if (hi != "0" && hi != "1") {
        setText(response, 400, "hi: expected 0 or 1, got '" + hi + "'");
        return;
    }
    if (!m_options.clipFile.isEmpty()) {
        serveClipFile(response);
        return;
    }
    // A clip being rendered cannot be sought in, so a range (FFmpeg asks for "bytes=0-") gets the whole
    // stream with 200, not a 206 without a Content-Range. httplib hands the handler a const request
    // although the request itself is its own, modifiable object.
    const_cast<httplib::Request &>(request).ranges.clear();
    renderClip(camera, *pos, int(*duration), hi == "1", response);
}

bool SimServer::sendClipBytes(httplib::DataSink &sink, const char *data, size_t size, long long &sent) const
{
    const long long cut = m_options.cutClipAfter;
    if (cut >= 0 && sent + (long long)size > cut) {
        if (cut > sent)
            sink.write(data, size_t(cut - sent));
        sent = cut;
        return false;
    }
    sent += (long long)size;
    return sink.write(data, size);
}

void SimServer::serveClipFile(httplib::Response &response)
{
    auto file = std::make_shared<FileHandle>();
    file->fd = open(m_options.clipFile.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    struct stat status {
    };
    if (file->fd < 0 || fstat(file->fd, &status) != 0) {
        setText(response, 500, "Cannot read the clip file");
        return;
    }
    response.set_content_provider(size_t(status.st_size), "video/x-matroska",
        [this, file](size_t offset, size_t length, httplib::DataSink &sink) {
            if (m_options.cutClipAfter >= 0 && (long long)offset >= m_options.cutClipAfter)
                return false;
            char buffer[ChunkSize];
            const ssize_t n = pread(file->fd, buffer, std::min(length, sizeof buffer), off_t(offset));
            if (n <= 0)
                return false;
            long long sent = (long long)offset;
            return sendClipBytes(sink, buffer, size_t(n), sent);
        });
}

void SimServer::renderClip(int camera, long long posMs, int durationSec, bool high, httplib::Response &response)
{
    ClipRequest clip;
    clip.cameraName = m_site.cameras().at(camera).name.toStdString();
    clip.posMs = posMs;
    clip.durationSec = durationSec;
    clip.high = high;
    clip.tzOffsetMs = m_site.config().tzOffsetMs;
    std::string error;
    std::shared_ptr<ClipProcess> process
        = ClipProcess::start(m_options.ffmpeg, clipArguments(clip, m_options.font), &error);
    if (!process) {
        setText(response, 500, error);
        return;
    }

    // Wait for the first bytes before answering, so that a renderer that fails at once gives a 500
    // rather than an empty 200.
    auto pending = std::make_shared<std::string>(ChunkSize, '\0');
    long n = ClipProcess::TimedOut;
    for (int waited = 0; n == ClipProcess::TimedOut && waited < FirstBytesTimeoutMs; waited += 100) {
        if (m_stop.raised()) {
            setText(response, 503, "Shutting down");
            return;
        }
        n = process->read(pending->data(), pending->size(), 100);
    }
    if (n == ClipProcess::TimedOut) {
        setText(response, 504, "FFmpeg produced nothing in time");
        return;
    }
    if (n <= 0) {
        process->finishedCleanly();
        setText(response, 500, "FFmpeg failed to render the clip (see the simulator's stderr)");
        return;
    }
    pending->resize(size_t(n));

    auto sent = std::make_shared<long long>(0);
    response.set_chunked_content_provider(
        "video/x-matroska", [this, process, pending, sent](size_t, httplib::DataSink &sink) {
            if (!pending->empty()) {
                const std::string first = std::move(*pending);
                pending->clear();
                return sendClipBytes(sink, first.data(), first.size(), *sent);
            }
            char buffer[ChunkSize];
            const long n = process->read(buffer, sizeof buffer, 100);
            if (n == ClipProcess::TimedOut)
                return !m_stop.raised(); // called again until FFmpeg has more
            if (n == ClipProcess::EndOfStream) {
                // A renderer that died half-way must not pass for a complete clip.
                if (!process->finishedCleanly())
                    return false;
                sink.done();
                return true;
            }
            if (n < 0)
                return false;
            return sendClipBytes(sink, buffer, size_t(n), *sent);
        });
}

void SimServer::setUpPos()
{
    m_pos->set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &response) {
        return applyFaults(request, response) ? httplib::Server::HandlerResponse::Handled
                                              : httplib::Server::HandlerResponse::Unhandled;
    });
    auto handler
        = [this](const httplib::Request &request, httplib::Response &response) { servePos(request, response); };
    m_pos->Get("/poses/", handler);
    m_pos->Get("/poses", handler);
}

void SimServer::servePos(const httplib::Request &request, httplib::Response &response) const
{
    simdata::ReceiptQuery query;
    if (request.has_param("text__icontains"))
        query.textContains = QString::fromStdString(request.get_param_value("text__icontains"));
    for (const char *name : { "received_at__range_after", "received_at__range_before" }) {
        const std::string raw = request.get_param_value(name);
        if (raw.empty())
            continue; // an empty bound is no bound
        const auto ms = simdata::parseIsoDateTime(QString::fromStdString(restoreOffsetSign(raw)));
        if (!ms) {
            setText(response, 400,
                std::string(name) + ": '" + raw
                    + "' is not an ISO 8601 date-time; expected e.g. 2026-12-07T10:15:30.123Z");
            return;
        }
        (std::strcmp(name, "received_at__range_after") == 0 ? query.receivedFromMs : query.receivedToMs) = *ms;
    }
    response.set_content(m_site.receiptsJson(m_site.select(query)).toStdString(), "application/json");
}
