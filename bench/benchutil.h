#pragma once
// What the benchmark programs measure with: processor time, memory figures of /proc, and FFmpeg run by
// hand beside the program's own run.
#include "core/logfile.h"
#include "export/merger.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace bench {

/// Processor seconds used so far by this process and by its children that have ended (FFmpeg): on two
/// cores shared with other work the wall clock says little, the processor time stays.
inline double cpuNow()
{
#ifdef Q_OS_UNIX
    double seconds = 0;
    for (const int who : { RUSAGE_SELF, RUSAGE_CHILDREN }) {
        rusage usage {};
        getrusage(who, &usage);
        seconds
            += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return seconds;
#else
    return 0;
#endif
}

/// "VmHWM", "VmRSS" or another field of /proc/self/status, in KiB; -1 where there is none.
inline qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression line(
        QStringLiteral("^%1:\\s+(\\d+) kB$").arg(QLatin1String(field)), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

/// A video's length in seconds as ffprobe reads it; -1 when it cannot.
inline double videoSeconds(const QString &video)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
        { "-v", "error", "-show_entries", "format=duration", "-of", "default=nw=1:nk=1", video });
    bool read = false;
    const double seconds
        = ffprobe.waitForFinished(60000) ? ffprobe.readAllStandardOutput().trimmed().toDouble(&read) : -1;
    return read ? seconds : -1;
}

/// FFmpeg typed by hand on a clip file and a subtitle script (a plain file name in the working directory,
/// as the export gives it), with these encoder options: the wall-clock milliseconds, the processor
/// seconds in *cpuS, and in *ok whether it made a video of expectedSeconds.
inline double ffmpegByHand(const QString &clip, const QString &script, const QStringList &encoder,
    const QString &output, double expectedSeconds, bool *ok, double *cpuS)
{
    const double cpuBefore = cpuNow();
    QProcess ffmpeg;
    QElapsedTimer timer;
    timer.start();
    ffmpeg.start(Merger::programName(),
        QStringList { "-y", "-i", clip, "-vf", QStringLiteral("ass=%1").arg(script) } + encoder
            + QStringList { output });
    *ok = ffmpeg.waitForFinished(30 * 60 * 1000) && ffmpeg.exitStatus() == QProcess::NormalExit
        && ffmpeg.exitCode() == 0;
    const double ms = timer.nsecsElapsed() / 1e6;
    *cpuS = cpuNow() - cpuBefore;
    *ok = *ok && std::abs(videoSeconds(output) - expectedSeconds) < 1;
    if (!*ok)
        std::fprintf(stderr, "FFmpeg by hand failed: %s\n", ffmpeg.readAllStandardError().right(2000).constData());
    return ms;
}

/// A camera's picture for the benchmarks: FFmpeg's test picture with sensor-like noise at size ("1920x1080"),
/// 25 frames a second, H.264 at kbits kbit/s with a key frame every two seconds, as Matroska. Made beside
/// path and renamed into place once whole, so that a run cut short leaves no half clip to be taken for one.
inline bool makeTestClip(const QString &path, const QString &size, int seconds, int kbits)
{
    std::printf("making %s (a few minutes, once) ...\n", qPrintable(path));
    std::fflush(stdout);
    QProcess ffmpeg;
    ffmpeg.start(Merger::programName(),
        { "-v", "error", "-y", "-f", "lavfi", "-i",
            QStringLiteral("testsrc2=s=%1:r=25:d=%2,noise=alls=6:allf=t").arg(size).arg(seconds), "-c:v", "libx264",
            "-preset", "veryfast", "-b:v", QStringLiteral("%1k").arg(kbits), "-maxrate",
            QStringLiteral("%1k").arg(kbits * 5 / 4), "-bufsize", QStringLiteral("%1k").arg(kbits * 2), "-g", "50",
            "-pix_fmt", "yuv420p", "-f", "matroska", path + ".part" });
    if (!ffmpeg.waitForFinished(60 * 60 * 1000) || ffmpeg.exitCode() != 0)
        return false;
    return QFile::rename(path + ".part", path);
}

/// A fresh directory under where, made the working directory, with the diagnostics going to "logs.txt"
/// in it as in the program; null (and said) when there can be none.
inline std::unique_ptr<QTemporaryDir> workIn(const QString &where)
{
    auto dir = std::make_unique<QTemporaryDir>(QDir(where).filePath(QStringLiteral("tillmark-bench-XXXXXX")));
    if (!dir->isValid() || !QDir::setCurrent(dir->path())) {
        std::fprintf(stderr, "cannot work in a directory of %s\n", qPrintable(where));
        return nullptr;
    }
    qInstallMessageHandler(myMessageOutput);
    return dir;
}

} // namespace bench
