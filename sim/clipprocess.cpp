#include "clipprocess.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

std::string decimal(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

/// The name goes inside a quoted drawtext value, where quotes, backslashes, "%" and the option
/// separators would change the meaning; none of them belongs in a camera name anyway.
std::string overlaySafe(const std::string &name)
{
    std::string out;
    for (char c : name)
        out.push_back(std::strchr("'\\%:,;[]{}=\n\r", c) ? ' ' : c);
    return out;
}

std::string utcIso(long long ms)
{
    const time_t seconds = time_t(ms / 1000);
    std::tm tm {};
    gmtime_r(&seconds, &tm);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
    char text[48];
    std::snprintf(text, sizeof text, "%s.%03lldZ", date, ms % 1000);
    return text;
}

} // namespace

std::vector<std::string> clipArguments(const ClipRequest &request, const std::string &fontFile)
{
    const long long siteMs = request.posMs + request.tzOffsetMs;
    // Both parts of the stamp round to the nearest millisecond; the half millisecond keeps the
    // seconds from flooring to the one before when floating point lands just below a whole second.
    const std::string secondsOffset = decimal((double(siteMs) + 0.5) / 1000.0, 4);
    const std::string msOffset = decimal(double(siteMs) / 1000.0, 3);
    const std::string stamp = "%{pts\\:gmtime\\:" + secondsOffset
        + "\\:%Y-%m-%d %H\\\\\\:%M\\\\\\:%S}.%{eif\\:mod(floor((t+" + msOffset + ")*1000+0.5)\\,1000)\\:d\\:3}";
    const int fontSize = request.high ? 22 : 11;
    // Bottom right: the top left is where an export burns in its receipts.
    const std::string drawtext = "drawtext=fontfile='" + fontFile + "':fontsize=" + std::to_string(fontSize)
        + ":fontcolor=white:box=1:boxcolor=black@0.6:boxborderw=" + std::to_string(fontSize / 4) + ":x=w-tw-"
        + std::to_string(fontSize / 2) + ":y=h-th-" + std::to_string(fontSize / 2) + ":text='"
        + overlaySafe(request.cameraName) + "\n" + stamp + "'";
    // The test pattern draws its own running time at the top left; render it taller and crop that
    // band away, so that only the receipts an export burns in appear there.
    const int width = request.high ? 640 : 320;
    const int height = request.high ? 360 : 180;
    const int band = width / 8;
    const std::string source
        = "testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height + band) + ":rate=25";
    const std::string crop
        = "crop=" + std::to_string(width) + ":" + std::to_string(height) + ":0:" + std::to_string(band);
    // clang-format off
    return {
        "-hide_banner", "-nostdin", "-nostats", "-loglevel", "error",
        "-f", "lavfi", "-i", source,
        "-vf", crop + "," + drawtext,
        "-t", std::to_string(request.durationSec),
        "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency", "-pix_fmt", "yuv420p", "-g", "50",
        "-metadata", "title=" + overlaySafe(request.cameraName),
        "-metadata", "creation_time=" + utcIso(request.posMs),
        // Short clusters so that the client sees the stream arrive steadily rather than in bursts.
        "-cluster_time_limit", "1000",
        "-f", "matroska", "pipe:1",
    };
    // clang-format on
}

ClipProcess::ClipProcess(pid_t pid, int fd)
    : m_pid(pid)
    , m_fd(fd)
{
}

std::unique_ptr<ClipProcess> ClipProcess::start(
    const std::string &program, const std::vector<std::string> &arguments, std::string *error)
{
    int fds[2];
    // Close-on-exec, so that no other child inherits the write end and keeps the pipe open past FFmpeg's exit.
    if (pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    // The server blocks its stop signals and ignores SIGPIPE; the child must not inherit either. Its own
    // process group keeps a Ctrl+C in the terminal from ending a clip early: the server ends it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int result = posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(fds[1]);
    if (result != 0) {
        close(fds[0]);
        *error = "cannot run " + program + ": " + std::strerror(result);
        return nullptr;
    }
    return std::unique_ptr<ClipProcess>(new ClipProcess(pid, fds[0]));
}

ClipProcess::~ClipProcess()
{
    if (!m_reaped) {
        kill(m_pid, SIGKILL);
        while (waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) { }
    }
    close(m_fd);
}

long ClipProcess::read(char *buffer, size_t size, int timeoutMs)
{
    pollfd p { m_fd, POLLIN, 0 };
    const int ready = poll(&p, 1, timeoutMs);
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return TimedOut;
    if (ready < 0)
        return Failed;
    const ssize_t n = ::read(m_fd, buffer, size);
    if (n < 0)
        return errno == EINTR || errno == EAGAIN ? TimedOut : Failed;
    return long(n);
}

bool ClipProcess::finishedCleanly()
{
    if (!m_reaped) {
        while (waitpid(m_pid, &m_status, 0) < 0) {
            if (errno != EINTR)
                return false;
        }
        m_reaped = true;
    }
    return WIFEXITED(m_status) && WEXITSTATUS(m_status) == 0;
}
