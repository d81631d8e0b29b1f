#pragma once
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

/// What a clip shows: the camera and the site-time instant of its first frame.
struct ClipRequest {
    std::string cameraName;
    long long posMs = 0; ///< milliseconds since the epoch
    int durationSec = 0;
    bool high = true; ///< 640x360 rather than 320x180
    long long tzOffsetMs = 0;
};

/// The FFmpeg arguments (without the program) that render the clip as Matroska on standard output: a test
/// pattern at 25 fps with the camera name and the site time of each frame drawn in. "-t" on the output also
/// makes FFmpeg write the duration into the segment header, which it could not go back and patch in a pipe.
std::vector<std::string> clipArguments(const ClipRequest &request, const std::string &fontFile);

/// One FFmpeg child writing into a pipe. The destructor kills it if it is still running and reaps it, so a
/// client that goes away leaves no renderer behind.
class ClipProcess
{
public:
    /// Starts the program; nullptr and a reason when it cannot be started.
    static std::unique_ptr<ClipProcess> start(
        const std::string &program, const std::vector<std::string> &arguments, std::string *error);
    ~ClipProcess();
    ClipProcess(const ClipProcess &) = delete;
    ClipProcess &operator=(const ClipProcess &) = delete;

    enum : long { EndOfStream = 0, Failed = -1, TimedOut = -2 };
    /// Reads what the child has written, waiting at most timeoutMs; a byte count or one of the values above.
    long read(char *buffer, size_t size, int timeoutMs);
    /// Waits for the child after the end of its output; true when it exited with status 0.
    bool finishedCleanly();

private:
    ClipProcess(pid_t pid, int fd);
    pid_t m_pid;
    int m_fd;
    bool m_reaped = false;
    int m_status = 0;
};
