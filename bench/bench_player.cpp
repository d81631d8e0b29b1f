// The review player. Open to the first frame drawn of a 180 s 1080p window from the simulated servers (the
// clip fetched and hashed by the program, read by mpv while it arrives), beside FFmpeg fetching the same URL
// and decoding its first frame in the same run; frames dropped over a minute of playback at 1x of a 720p and
// a 1080p clip, drawn in software in a 1280x720 item; resident memory before opening, while playing and after
// closing; processor time while paused.
//
//   bench_player [--rounds N] [--dir DIR] [--clip FILE] [--clip720 FILE] [--seconds S]
//
// Without --clip and --clip720 the clips are made once with FFmpeg and kept in DIR for later runs.

#include "benchutil.h"
#include "net/vmsclient.h"
#include "player/videoplayer.h"
#include "simdata.h"
#include "simprocess.h"

#include <QAuthenticator>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QNetworkReply>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

const QString Now = QStringLiteral("2025-11-05T15:00:00Z");
const QString User = QStringLiteral("admin");
const QString Password = QStringLiteral("Pelmo4826");
const QSize ItemSize(1280, 720);

/// Runs the event loop until done() holds or timeoutMs have passed; whether it held.
bool waitFor(const std::function<bool()> &done, int timeoutMs, QObject *sender = nullptr, const char *signal = nullptr)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(1);
    if (sender && signal)
        QObject::connect(sender, signal, &loop, SLOT(quit()));
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

/// Runs the event loop for ms, as a viewer watches.
void watch(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

/// FFmpeg fetching url and decoding its first frame (from start seconds): the wall-clock milliseconds.
double ffmpegFirstFrame(const QString &url, double start, bool *ok)
{
    QProcess ffmpeg;
    QStringList arguments { "-v", "error", "-nostdin" };
    if (start > 0)
        arguments << "-ss" << QString::number(start);
    arguments << "-i" << url << "-frames:v"
              << "1"
              << "-f"
              << "null"
              << "-";
    QElapsedTimer timer;
    timer.start();
    ffmpeg.start(Merger::programName(), arguments);
    *ok = ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
    if (!*ok)
        std::fprintf(stderr, "FFmpeg failed: %s\n", ffmpeg.readAllStandardError().constData());
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    // Software rendering off-screen: what the player must manage without a graphics card.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The review player's start, playback, memory and idle cost."));
    parser.addHelpOption();
    const QCommandLineOption rounds(
        QStringLiteral("rounds"), QStringLiteral("Opens per start position."), QStringLiteral("n"), "3");
    const QCommandLineOption where(QStringLiteral("dir"),
        QStringLiteral("Where the clips are made and kept, and the fetched clips go."), QStringLiteral("dir"), "/tmp");
    const QCommandLineOption clipOption(
        QStringLiteral("clip"), QStringLiteral("A 180 s 1080p clip the video server serves."), QStringLiteral("file"));
    const QCommandLineOption clip720Option(
        QStringLiteral("clip720"), QStringLiteral("A 720p clip of a minute or more."), QStringLiteral("file"));
    const QCommandLineOption secondsOption(
        QStringLiteral("seconds"), QStringLiteral("Seconds of playback per clip."), QStringLiteral("s"), "60");
    parser.addOptions({ rounds, where, clipOption, clip720Option, secondsOption });
    parser.process(app);
    const int roundCount = std::max(1, parser.value(rounds).toInt());
    const int seconds = std::max(5, parser.value(secondsOption).toInt());
    if (QStandardPaths::findExecutable(Merger::programName()).isEmpty()) {
        std::fprintf(stderr, "%s is needed for the clips and the comparison\n", qPrintable(Merger::programName()));
        return 1;
    }
    const QDir dir(parser.value(where));
    const QString clip
        = parser.isSet(clipOption) ? parser.value(clipOption) : dir.absoluteFilePath("tillmark-bench-1080p-180s.mkv");
    const QString clip720 = parser.isSet(clip720Option) ? parser.value(clip720Option)
                                                        : dir.absoluteFilePath("tillmark-bench-720p-70s.mkv");
    if (!QFileInfo::exists(clip) && (parser.isSet(clipOption) || !bench::makeTestClip(clip, "1920x1080", 180, 4000)))
        return 1;
    if (!QFileInfo::exists(clip720)
        && (parser.isSet(clip720Option) || !bench::makeTestClip(clip720, "1280x720", 70, 2500))) {
        return 1;
    }

    simdata::Config config;
    config.seed = 5;
    config.days = 1;
    config.nowMs = *simdata::parseIsoDateTime(Now);
    config.tzOffsetMs = 3600000;
    const simdata::Camera camera = simdata::Site::generate(config).cameras().at(0);
    SimProcess sim;
    if (!sim.start({ "--seed", "5", "--days", "1", "--now", Now, "--tz-offset-ms", "3600000", "--clip-file", clip })) {
        std::fprintf(stderr, "the simulated servers did not start\n");
        return 1;
    }
    const QString request = QStringLiteral("/hls/%1.mkv?pos=%2&duration=180&hi=1")
                                .arg(camera.id, QString::number(config.nowMs - 3600000));
    const QString url = sim.vmsBase() + request;
    const QString withAccount
        = QStringLiteral("http://%1:%2@127.0.0.1:%3%4").arg(User, Password).arg(sim.vmsPort()).arg(request);

    VmsClient client;
    client.setBase(sim.vmsBase());
    client.setAccount(User, Password);
    QQuickWindow window;
    window.resize(ItemSize);
    auto *player = new VideoPlayer(window.contentItem());
    player->setSize(ItemSize);
    player->setClient(&client);
    player->setClipDirectory(dir.absolutePath());
    window.show();
    watch(500);
    const qint64 rssBefore = bench::statusKiB("VmRSS");
    const qint64 anonBefore = bench::statusKiB("RssAnon");
    const qint64 fileBefore = bench::statusKiB("RssFile");

    std::printf("open to the first frame drawn: %s (%.1f MB) from the simulated video server, %dx%d item, software\n",
        qPrintable(QFileInfo(clip).fileName()), QFileInfo(clip).size() / 1e6, ItemSize.width(), ItemSize.height());
    std::printf("%-6s %6s %12s %12s %7s\n", "round", "start", "player ms", "FFmpeg ms", "ratio");
    bool allOk = true;
    double startPlayer = 0;
    double startFfmpeg = 0;
    for (const double start : { 0.0, 85.0 }) {
        QList<double> playerMs;
        QList<double> ffmpegMs;
        for (int round = 1; round <= roundCount; ++round) {
            QElapsedTimer timer;
            timer.start();
            player->open(url, start, false);
            const bool drawn = waitFor([player] { return player->frameDrawn() || !player->errorText().isEmpty(); },
                30000, player, SIGNAL(frameDrawnChanged()));
            const double ms = timer.nsecsElapsed() / 1e6;
            if (!drawn || !player->errorText().isEmpty()) {
                std::fprintf(stderr, "no frame: %s\n", qPrintable(player->errorText()));
                allOk = false;
            }
            // Until the clip is whole, so that its transfer does not run beside FFmpeg's.
            waitFor([player] { return !player->clipPath().isEmpty(); }, 30000);
            player->close();
            bool ok = false;
            const double theirs = ffmpegFirstFrame(withAccount, start, &ok);
            allOk = allOk && ok;
            playerMs << ms;
            ffmpegMs << theirs;
            std::printf("%-6d %6.0f %12.0f %12.0f %7.2f\n", round, start, ms, theirs, ms / theirs);
            std::fflush(stdout);
        }
        if (start == 0) {
            startPlayer = median(playerMs);
            startFfmpeg = median(ffmpegMs);
        } else {
            std::printf("from 85 s (a receipt's window, 5 s before the receipt): player %.0f ms, FFmpeg %.0f ms "
                        "(medians)\n",
                median(playerMs), median(ffmpegMs));
        }
    }
    const bool startMet = startPlayer <= 1.5 * startFfmpeg && startPlayer <= 1000;
    std::printf("from the start: player %.0f ms, FFmpeg %.0f ms, %.2fx (medians; target: at most 1.5x and 1000 ms): "
                "%s\n",
        startPlayer, startFfmpeg, startPlayer / startFfmpeg, startMet ? "met" : "MISSED");
    sim.stop();
    // The first opens read the decoder's code in and set up what lives as long as the process (FFmpeg's
    // tables, the fonts' configuration): the level after them is the one a closed player should come back to.
    watch(1000);
    const qint64 rssWarm = bench::statusKiB("VmRSS");

    std::printf("\n%d s of playback at 1x in the %dx%d item, software rendering\n", seconds, ItemSize.width(),
        ItemSize.height());
    std::printf("%-8s %8s %10s %9s %13s\n", "clip", "dropped", "frames", "cpu s", "resident MB");
    qint64 rssPlaying = 0;
    int dropped720 = -1;
    for (const auto &run : { qMakePair(QStringLiteral("720p"), clip720), qMakePair(QStringLiteral("1080p"), clip) }) {
        int frames = 0;
        const QMetaObject::Connection counting
            = QObject::connect(player, &VideoPlayer::frameShown, [&frames] { ++frames; });
        player->openFile(run.second, 0, false);
        if (!waitFor([player] { return player->frameDrawn(); }, 30000, player, SIGNAL(frameDrawnChanged()))) {
            std::fprintf(stderr, "%s: no frame: %s\n", qPrintable(run.first), qPrintable(player->errorText()));
            allOk = false;
        }
        frames = 0;
        const double cpuBefore = bench::cpuNow();
        watch(seconds * 1000);
        const double cpu = bench::cpuNow() - cpuBefore;
        rssPlaying = std::max(rssPlaying, bench::statusKiB("VmRSS"));
        QObject::disconnect(counting);
        std::printf("%-8s %8d %10d %9.1f %13.1f\n", qPrintable(run.first), player->framesDropped(), frames, cpu,
            bench::statusKiB("VmRSS") / 1024.0);
        if (run.first == QLatin1String("720p"))
            dropped720 = player->framesDropped();
        if (run.first == QLatin1String("1080p")) {
            // Paused: nothing should run.
            player->setPaused(true);
            waitFor([player] { return player->paused(); }, 5000);
            watch(500);
            const double pausedBefore = bench::cpuNow();
            watch(10000);
            const double pausedCpu = bench::cpuNow() - pausedBefore;
            std::printf("paused for 10 s: %.3f s of processor time (target: none): %s\n", pausedCpu,
                pausedCpu < 0.05 ? "met" : "MISSED");
        }
        player->close();
    }
    std::printf("dropped at 720p: %d (target: none): %s\n", dropped720, dropped720 == 0 ? "met" : "MISSED");

    watch(1000);
    const qint64 rssAfter = bench::statusKiB("VmRSS");
    // Opened and closed again and again: what stays must not add up.
    std::printf("resident MB after each of 5 more opens of the 1080p clip (3 s played, closed):");
    for (int cycle = 0; cycle < 5; ++cycle) {
        player->openFile(clip, 30.0 * cycle, false);
        waitFor([player] { return player->frameDrawn(); }, 30000, player, SIGNAL(frameDrawnChanged()));
        watch(3000);
        player->close();
        watch(500);
        std::printf(" %.1f", bench::statusKiB("VmRSS") / 1024.0);
    }
    std::printf("\n");
    const double grew = (rssAfter - rssWarm) / 1024.0;
    std::printf("resident memory: before opening %.1f MB, while playing %.1f MB, after closing %.1f MB; %.1f MB above "
                "the level before these two clips were opened, %.1f MB (target: at most 5 MB): %s\n",
        rssWarm / 1024.0, rssPlaying / 1024.0, rssAfter / 1024.0, grew, rssWarm / 1024.0, grew <= 5 ? "met" : "MISSED");
    std::printf("  before the process's first open: %.1f MB, %.1f MB below the level after (what the first open reads "
                "in and sets up for good)\n",
        rssBefore / 1024.0, (rssAfter - rssBefore) / 1024.0);
    std::printf("  of which heap and other anonymous memory: %.1f MB before, %.1f MB after; mapped files (program and "
                "library code read in): %.1f MB before, %.1f MB after\n",
        anonBefore / 1024.0, bench::statusKiB("RssAnon") / 1024.0, fileBefore / 1024.0,
        bench::statusKiB("RssFile") / 1024.0);
    return allOk ? 0 : 1;
}
