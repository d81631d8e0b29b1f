// The whole export as the search page chains it (POS window download and subtitle script, clip URL,
// FFmpeg merge) against the same FFmpeg command run by hand on the same clip URL and script, on the
// simulated servers. Three minutes of clip, as the page exports them.
//
//   bench_export [--rounds N] [--dir DIR]

#include "appstate.h"
#include "logfile.h"
#include "merger.h"
#include "posdownloader.h"
#include "simdata.h"
#include "simprocess.h"
#include "utils.h"

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
#include <cstdio>
#include <limits>

namespace {

const QString Now = QStringLiteral("2025-11-05T15:00:00Z");
const quint64 Seed = 5;
const int Days = 1;

struct Timing {
    double posMs = 0; ///< from the request to "sub.ass" written
    double totalMs = 0; ///< from the request to FFmpeg's end
    bool ok = false;
};

/// One export as the page runs it, into output; "sub.ass" lands in the working directory.
Timing exportOnce(const QString &cameraId, const QDateTime &from, const QDateTime &to, const QString &output)
{
    PosDownloader downloader;
    Merger merger;
    merger.setFilePath(output);
    QEventLoop loop;
    QElapsedTimer timer;
    Timing timing;
    QString error;
    QObject::connect(&downloader, &PosDownloader::posDownloaded, &loop, [&] {
        timing.posMs = timer.nsecsElapsed() / 1e6;
        merger.merge(Utils::get()->getVideoUrl(cameraId, from, to), QStringLiteral("sub.ass"));
    });
    QObject::connect(&downloader, &PosDownloader::errorOccured, &loop, [&](const QString &message) {
        error = message;
        loop.quit();
    });
    QObject::connect(&merger, &Merger::errorOccured, &loop, [&](const QString &message) { error = message; });
    QObject::connect(&merger, &Merger::finished, &loop, &QEventLoop::quit);
    timer.start();
    downloader.downloadByISODate(from, to, cameraId);
    loop.exec();
    timing.totalMs = timer.nsecsElapsed() / 1e6;
    timing.ok = error.isEmpty() && QFileInfo(output).size() > 0;
    if (!error.isEmpty())
        std::fprintf(stderr, "export failed: %s\n", qPrintable(error));
    return timing;
}

/// The merge alone, typed by hand: the same program, arguments and working directory.
double ffmpegByHand(const QString &url, const QString &output, bool *ok)
{
    QProcess ffmpeg;
    QElapsedTimer timer;
    timer.start();
    ffmpeg.start(Merger::programName(), { "-y", "-i", url, "-vf", "ass=sub.ass", output });
    *ok = ffmpeg.waitForFinished(30 * 60 * 1000) && ffmpeg.exitStatus() == QProcess::NormalExit
        && ffmpeg.exitCode() == 0 && QFileInfo(output).size() > 0;
    const double ms = timer.nsecsElapsed() / 1e6;
    if (!*ok)
        std::fprintf(stderr, "FFmpeg by hand failed: %s\n", ffmpeg.readAllStandardError().right(2000).constData());
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The whole export against the same FFmpeg command run by hand, on the simulated servers."));
    parser.addHelpOption();
    const QCommandLineOption rounds(
        QStringLiteral("rounds"), QStringLiteral("Exports per way."), QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption where(QStringLiteral("dir"), QStringLiteral("Where the videos go (they are deleted)."),
        QStringLiteral("dir"), QStringLiteral("/tmp"));
    parser.addOptions({ rounds, where });
    parser.process(app);
    const int roundCount = std::max(1, parser.value(rounds).toInt());
    if (QStandardPaths::findExecutable(Merger::programName()).isEmpty()) {
        std::fprintf(stderr, "%s is needed for the export\n", qPrintable(Merger::programName()));
        return 1;
    }

    QTemporaryDir dir(QDir(parser.value(where)).filePath(QStringLiteral("tillmark-bench-XXXXXX")));
    if (!dir.isValid() || !QDir::setCurrent(dir.path())) {
        std::fprintf(stderr, "cannot work in a directory of %s\n", qPrintable(parser.value(where)));
        return 1;
    }

    // Diagnostics go to "logs.txt" in the working directory, as in the program.
    qInstallMessageHandler(myMessageOutput);

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
    const QString cameraId = site.cameras().at(site.tills().at(0).cameras.at(0)).id;
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(receiptMs, Qt::UTC);
    const QDateTime from = at.addSecs(-90);
    const QDateTime to = at.addSecs(90);

    SimProcess sim;
    if (!sim.start({ "--seed", QString::number(Seed), "--days", QString::number(Days), "--now", Now, "--tz-offset-ms",
            QString::number(config.tzOffsetMs) })) {
        std::fprintf(stderr, "the simulated servers did not start\n");
        return 1;
    }
    AppState state;
    Utils utils;
    state.setPosBase(sim.posBase());
    state.setBase(sim.vmsBase());
    const QString url = utils.getVideoUrl(cameraId, from, to);

    std::printf("export of %s around %s, %d round(s)\n", qPrintable(cameraId), qPrintable(at.toString(Qt::ISODate)),
        roundCount);
    std::printf("%-6s %12s %14s %12s %14s\n", "round", "export s", "of it POS ms", "by hand s", "export/hand");
    // Alternate the two ways so that neither always runs second; keep the best of each.
    double bestExport = std::numeric_limits<double>::max();
    double bestHand = std::numeric_limits<double>::max();
    bool allOk = true;
    for (int round = 1; round <= roundCount; ++round) {
        const Timing run = exportOnce(cameraId, from, to, dir.filePath(QStringLiteral("export.mp4")));
        bool handOk = false;
        const double hand = ffmpegByHand(url, dir.filePath(QStringLiteral("by-hand.mp4")), &handOk);
        allOk = allOk && run.ok && handOk;
        std::printf("%-6d %12.2f %14.1f %12.2f %14.3f\n", round, run.totalMs / 1000, run.posMs, hand / 1000,
            run.totalMs / hand);
        std::fflush(stdout);
        bestExport = std::min(bestExport, run.totalMs);
        bestHand = std::min(bestHand, hand);
        QFile::remove(dir.filePath(QStringLiteral("export.mp4")));
        QFile::remove(dir.filePath(QStringLiteral("by-hand.mp4")));
    }
    sim.stop();
    QDir::setCurrent(QDir::tempPath());

    const double ratio = bestExport / bestHand;
    std::printf("best: export %.2f s, by hand %.2f s; ratio %.3f (target: at most 1.05): %s\n", bestExport / 1000,
        bestHand / 1000, ratio, ratio <= 1.05 ? "met" : "MISSED");
    return allOk ? 0 : 1;
}
