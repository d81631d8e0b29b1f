// The whole export as the search page starts it (an ExportJob: POS window and script, the original clip
// fetched and hashed, FFmpeg, checksums and manifest) against FFmpeg run by hand on the same clip file and
// script: once with the same encoder settings (the cost of the package) and once with FFmpeg's defaults
// (what the export's encoder settings save). The simulated servers serve a 180 s 1080p clip file. Every
// video made is checked to be three minutes long.
//
//   bench_export [--rounds N] [--dir DIR] [--clip FILE]
//
// Without --clip the clip is made once with FFmpeg (a test picture with noise, as a camera's sensor gives
// it, H.264 at about 4 Mbit/s) and kept in DIR for later runs.

#include "benchutil.h"
#include "core/appstate.h"
#include "core/logfile.h"
#include "export/exportcontroller.h"
#include "export/merger.h"
#include "simdata.h"
#include "simprocess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

const QString Now = QStringLiteral("2025-11-05T15:00:00Z");
const quint64 Seed = 5;
const int Days = 1;
const QString KeptClip = QStringLiteral("tillmark-bench-1080p-180s.mkv");

struct Timing {
    double receiptsMs = 0;
    double clipMs = 0;
    double encodingMs = 0; ///< FFmpeg, and the checksums and manifest after it
    double totalMs = 0;
    double cpuS = 0;
    bool ok = false;
};

/// Whether a video is the whole window long.
bool threeMinutes(const QString &video)
{
    return std::abs(bench::videoSeconds(video) - 180) < 1;
}

/// One export as the page starts it, into output; "sub.ass" lands in the working directory.
Timing exportOnce(const ExportOrder &order)
{
    ExportController controller;
    QEventLoop loop;
    QElapsedTimer timer;
    Timing timing;
    double last = 0;
    QObject::connect(&controller, &ExportController::jobEnded, &loop, &QEventLoop::quit);
    const double cpuBefore = bench::cpuNow();
    timer.start();
    if (!controller.start(order))
        return timing;
    QObject::connect(controller.job(), &ExportJob::stateChanged, [&] {
        const double now = timer.nsecsElapsed() / 1e6;
        const ExportJob::State state = controller.job()->state();
        (state == ExportJob::Clip              ? timing.receiptsMs
                : state == ExportJob::Encoding ? timing.clipMs
                                               : timing.encodingMs)
            = now - last;
        last = now;
    });
    loop.exec();
    timing.totalMs = timer.nsecsElapsed() / 1e6;
    timing.cpuS = bench::cpuNow() - cpuBefore;
    // The queue names the video afresh where an earlier round's package files are still there.
    timing.ok = controller.job()->state() == ExportJob::Done && threeMinutes(controller.job()->videoPath());
    if (!timing.ok)
        std::fprintf(stderr, "export failed: %s\n", qPrintable(controller.job()->message()));
    return timing;
}

/// FFmpeg typed by hand on the clip and the script the export wrote: the same program and working
/// directory, with these encoder options. (It reads the file: read from the simulator, a slow encoder
/// stops reading for longer than the simulator waits, which ends the transfer and the video early.)
double ffmpegByHand(const QString &clip, const QStringList &encoder, const QString &output, bool *ok, double *cpuS)
{
    return bench::ffmpegByHand(clip, QStringLiteral("sub.ass"), encoder, output, 180, ok, cpuS);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The whole export against FFmpeg run by hand, on a 180 s 1080p clip from the simulated servers."));
    parser.addHelpOption();
    const QCommandLineOption rounds(
        QStringLiteral("rounds"), QStringLiteral("Runs per way."), QStringLiteral("n"), QStringLiteral("2"));
    const QCommandLineOption where(QStringLiteral("dir"),
        QStringLiteral("Where the videos go (they are deleted) and the made clip is kept."), QStringLiteral("dir"),
        QStringLiteral("/tmp"));
    const QCommandLineOption clipOption(
        QStringLiteral("clip"), QStringLiteral("The clip the video server serves."), QStringLiteral("file"));
    parser.addOptions({ rounds, where, clipOption });
    parser.process(app);
    const int roundCount = std::max(1, parser.value(rounds).toInt());
    if (QStandardPaths::findExecutable(Merger::programName()).isEmpty()) {
        std::fprintf(stderr, "%s is needed for the export\n", qPrintable(Merger::programName()));
        return 1;
    }
    QString clip = parser.isSet(clipOption) ? QFileInfo(parser.value(clipOption)).absoluteFilePath()
                                            : QDir(parser.value(where)).absoluteFilePath(KeptClip);
    if (!QFileInfo::exists(clip)
        && (parser.isSet(clipOption) || !bench::makeTestClip(clip, QStringLiteral("1920x1080"), 180, 4000))) {
        std::fprintf(stderr, "no clip at %s\n", qPrintable(clip));
        return 1;
    }

    const std::unique_ptr<QTemporaryDir> work = bench::workIn(parser.value(where));
    if (!work)
        return 1;
    const QTemporaryDir &dir = *work;

    // The latest receipt whose three minutes have passed by the reference time, and its first camera.
    simdata::Config config;
    config.seed = Seed;
    config.days = Days;
    config.nowMs = *simdata::parseIsoDateTime(Now);
    config.tzOffsetMs = 3600000;
    const simdata::Site site = simdata::Site::generate(config);
    qint64 receiptMs = std::numeric_limits<qint64>::min();
    for (const simdata::Receipt &receipt : site.receipts()) {
        if (receipt.receivedAtMs && *receipt.receivedAtMs + 90000 < config.nowMs)
            receiptMs = std::max(receiptMs, *receipt.receivedAtMs);
    }
    const simdata::Camera &camera = site.cameras().at(site.tills().at(0).cameras.at(0));
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(receiptMs, Qt::UTC);

    SimProcess sim;
    if (!sim.start({ "--seed", QString::number(Seed), "--days", QString::number(Days), "--now", Now, "--tz-offset-ms",
            QString::number(config.tzOffsetMs), "--clip-file", clip })) {
        std::fprintf(stderr, "the simulated servers did not start\n");
        return 1;
    }
    AppState state;
    state.setPosBase(sim.posBase());
    state.setBase(sim.vmsBase());
    ExportOrder order;
    order.receipt.createdAt = at;
    order.camera = { camera.id, camera.name };
    order.videoPath = dir.filePath(QStringLiteral("export.mp4"));

    std::printf("export of %s around %s from %s (%.1f MB), %d round(s); encoder %s\n", qPrintable(camera.name),
        qPrintable(at.toString(Qt::ISODate)), qPrintable(clip), QFileInfo(clip).size() / 1e6, roundCount,
        qPrintable(ExportJob::encoderArguments().join(' ')));
    std::printf("%-6s %18s %11s %8s %11s %18s %7s %18s\n", "round", "export s (cpu s)", "receipts ms", "clip ms",
        "encoding s", "by hand s (cpu s)", "ratio", "defaults s (cpu s)");
    // Alternate the ways so that none always runs on a warmer cache; keep the best of each.
    double bestExport = std::numeric_limits<double>::max();
    double bestHand = std::numeric_limits<double>::max();
    double bestDefaults = std::numeric_limits<double>::max();
    double exportCpu = std::numeric_limits<double>::max();
    double handCpu = std::numeric_limits<double>::max();
    double defaultsCpu = std::numeric_limits<double>::max();
    bool allOk = true;
    for (int round = 1; round <= roundCount; ++round) {
        const Timing run = exportOnce(order);
        bool handOk = false;
        bool defaultsOk = false;
        double cpuHand = 0;
        double cpuDefaults = 0;
        const double hand = ffmpegByHand(
            clip, ExportJob::encoderArguments(), dir.filePath(QStringLiteral("by-hand.mp4")), &handOk, &cpuHand);
        const double defaults
            = ffmpegByHand(clip, {}, dir.filePath(QStringLiteral("defaults.mp4")), &defaultsOk, &cpuDefaults);
        allOk = allOk && run.ok && handOk && defaultsOk;
        std::printf("%-6d %9.2f (%6.1f) %11.0f %8.0f %11.2f %9.2f (%6.1f) %7.3f %9.2f (%6.1f)\n", round,
            run.totalMs / 1000, run.cpuS, run.receiptsMs, run.clipMs, run.encodingMs / 1000, hand / 1000, cpuHand,
            run.totalMs / hand, defaults / 1000, cpuDefaults);
        std::fflush(stdout);
        bestExport = std::min(bestExport, run.totalMs);
        bestHand = std::min(bestHand, hand);
        bestDefaults = std::min(bestDefaults, defaults);
        exportCpu = std::min(exportCpu, run.cpuS);
        handCpu = std::min(handCpu, cpuHand);
        defaultsCpu = std::min(defaultsCpu, cpuDefaults);
        // The whole package, so that the next round's export takes the same name.
        for (const QString &file : QDir(dir.path()).entryList({ "export*", "*.mp4" }, QDir::Files))
            QFile::remove(dir.filePath(file));
    }
    sim.stop();
    QDir::setCurrent(QDir::tempPath());

    const double ratio = bestExport / bestHand;
    std::printf("best: export %.2f s, same settings by hand %.2f s; ratio %.3f (target: at most 1.10): %s; processor "
                "time %.1f s against %.1f s, ratio %.3f\n",
        bestExport / 1000, bestHand / 1000, ratio, ratio <= 1.10 ? "met" : "MISSED", exportCpu, handCpu,
        exportCpu / handCpu);
    std::printf("180 s window: export %.2f s (target: at most 60 s): %s; FFmpeg's defaults %.2f s, %.2fx the time, "
                "%.2fx the processor time\n",
        bestExport / 1000, bestExport <= 60000 ? "met" : "MISSED", bestDefaults / 1000, bestDefaults / bestExport,
        defaultsCpu / exportCpu);
    return allOk ? 0 : 1;
}
