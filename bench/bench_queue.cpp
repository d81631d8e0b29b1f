// Twenty exports queued back to back, as "Export selected…" queues them, against the same twenty FFmpeg
// commands run by hand one after the other on each package's own original and script with the same
// encoder settings; and this process's resident memory after each job, so that what a job leaves behind
// would show as growth from one job to the next. The simulated servers serve a small clip file, so that
// the run takes a few minutes.
//
//   bench_queue [--jobs N] [--size WxH] [--dir DIR]

#include "benchutil.h"
#include "core/appstate.h"
#include "core/logfile.h"
#include "export/exportcontroller.h"
#include "simdata.h"
#include "simoptions.h"
#include "simprocess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

const QString Now = QStringLiteral("2025-11-05T15:00:00Z");
const qint64 SiteOffsetMs = 3600000;
const quint64 Seed = 5;
const int Days = 1;
/// The limit on the growth of resident memory from the second job to the last.
const double GrowthLimitMb = 5;

/// 180 s of the test picture with sensor-like noise at size, H.264.
bool makeClip(const QString &path, const QString &size)
{
    QProcess ffmpeg;
    ffmpeg.start(Merger::programName(),
        { "-v", "error", "-y", "-f", "lavfi", "-i",
            QStringLiteral("testsrc2=s=%1:r=25:d=180,noise=alls=6:allf=t").arg(size), "-c:v", "libx264", "-preset",
            "veryfast", "-g", "50", "-pix_fmt", "yuv420p", path });
    return ffmpeg.waitForFinished(30 * 60 * 1000) && ffmpeg.exitStatus() == QProcess::NormalExit
        && ffmpeg.exitCode() == 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Queued exports back to back against the same FFmpeg commands run by hand."));
    parser.addHelpOption();
    const QCommandLineOption jobsOption(
        QStringLiteral("jobs"), QStringLiteral("Exports queued."), QStringLiteral("n"), QStringLiteral("20"));
    const QCommandLineOption sizeOption(QStringLiteral("size"), QStringLiteral("The served clip's picture size."),
        QStringLiteral("WxH"), QStringLiteral("320x180"));
    const QCommandLineOption where(QStringLiteral("dir"), QStringLiteral("Where the videos go (they are deleted)."),
        QStringLiteral("dir"), QStringLiteral("/tmp"));
    parser.addOptions({ jobsOption, sizeOption, where });
    parser.process(app);
    const int jobs = std::max(2, parser.value(jobsOption).toInt());
    if (QStandardPaths::findExecutable(Merger::programName()).isEmpty()) {
        std::fprintf(stderr, "%s is needed for the export\n", qPrintable(Merger::programName()));
        return 1;
    }
    const std::unique_ptr<QTemporaryDir> work = bench::workIn(parser.value(where));
    if (!work)
        return 1;
    const QTemporaryDir &dir = *work;
    const QString clip = dir.filePath(QStringLiteral("served.mkv"));
    if (!makeClip(clip, parser.value(sizeOption))) {
        std::fprintf(stderr, "the clip could not be made\n");
        return 1;
    }

    // The latest receipts whose windows have passed by the reference time, from one camera.
    const simdata::Config config = siteConfig(Seed, Days, Now, SiteOffsetMs);
    const simdata::Site site = simdata::Site::generate(config);
    QList<qint64> times;
    for (const simdata::Receipt &receipt : site.receipts()) {
        if (receipt.receivedAtMs && *receipt.receivedAtMs + 90000 < config.nowMs)
            times << *receipt.receivedAtMs;
    }
    std::sort(times.begin(), times.end(), std::greater<>());
    if (times.size() < jobs) {
        std::fprintf(stderr, "only %d receipts\n", int(times.size()));
        return 1;
    }
    QList<PosData> receipts;
    for (int job = 0; job < jobs; ++job) {
        PosData receipt;
        receipt.content = QStringLiteral("RECEIPT %1").arg(job);
        receipt.createdAt = QDateTime::fromMSecsSinceEpoch(times.at(job), Qt::UTC);
        receipts << receipt;
    }
    const simdata::Camera &camera = site.cameras().at(site.tills().at(0).cameras.at(0));

    SimProcess sim;
    if (!sim.start(siteArguments(config) + QStringList { "--clip-file", clip })) {
        std::fprintf(stderr, "the simulated servers did not start\n");
        return 1;
    }
    AppState state;
    state.setPosBase(sim.posBase());
    state.setBase(sim.vmsBase());

    std::printf("%d exports from %s of a 180 s %s clip (%.1f MB); encoder %s\n", jobs, qPrintable(camera.name),
        qPrintable(parser.value(sizeOption)), QFileInfo(clip).size() / 1e6,
        qPrintable(ExportJob::encoderArguments().join(' ')));

    // Queued: the resident memory after each job has ended, read from the event loop once what the job
    // let go of has been deleted.
    ExportController controller;
    ExportQueue *queue = controller.queue();
    QList<qint64> residentKiB;
    QEventLoop loop;
    QObject::connect(queue, &ExportQueue::jobEnded, &loop, [&] {
        QTimer::singleShot(0, &loop, [&] {
            residentKiB << bench::statusKiB("VmRSS");
            if (residentKiB.size() == jobs)
                loop.quit();
        });
    });
    const double cpuBefore = bench::cpuNow();
    QElapsedTimer timer;
    timer.start();
    if (controller.startBatch(receipts, QList<StreamData> { { camera.id, camera.name } }, false, dir.path()) != jobs) {
        std::fprintf(stderr, "the exports were not all queued\n");
        return 1;
    }
    loop.exec();
    const double queuedMs = timer.nsecsElapsed() / 1e6;
    const double queuedCpu = bench::cpuNow() - cpuBefore;
    bool allOk = queue->doneCount() == jobs;
    if (!allOk)
        std::fprintf(stderr, "%d of %d exports finished\n", queue->doneCount(), jobs);

    // By hand: each package's original and script, the same encoder settings.
    double handMs = 0;
    double handCpu = 0;
    for (int job = 0; job < jobs && allOk; ++job) {
        const PackagePaths &paths = queue->jobAt(job)->paths();
        QFile::remove(QStringLiteral("hand.ass"));
        bool ok = QFile::copy(paths.script, QStringLiteral("hand.ass"));
        double cpu = 0;
        handMs += bench::ffmpegByHand(paths.original, QStringLiteral("hand.ass"), ExportJob::encoderArguments(),
            dir.filePath(QStringLiteral("by-hand.mp4")), 180, &ok, &cpu);
        handCpu += cpu;
        allOk = allOk && ok;
    }
    sim.stop();

    std::printf("%-5s %12s\n", "job", "VmRSS MB");
    for (int job = 0; job < residentKiB.size(); ++job)
        std::printf("%-5d %12.1f\n", job + 1, residentKiB.at(job) / 1024.0);
    const double ratio = queuedMs / handMs;
    std::printf("queued: %.2f s (processor %.1f s); by hand, summed: %.2f s (processor %.1f s)\n", queuedMs / 1000,
        queuedCpu, handMs / 1000, handCpu);
    std::printf("ratio %.3f (target: at most 1.10): %s; processor time ratio %.3f\n", ratio,
        ratio <= 1.10 ? "met" : "MISSED", queuedCpu / handCpu);
    const double growthMb = residentKiB.size() == jobs ? (residentKiB.last() - residentKiB.at(1)) / 1024.0 : 1e9;
    std::printf("VmRSS after job 2: %.1f MB, after job %d: %.1f MB, growth %.2f MB (limit %.1f MB): %s\n",
        residentKiB.value(1) / 1024.0, jobs, residentKiB.value(jobs - 1) / 1024.0, growthMb, GrowthLimitMb,
        growthMb <= GrowthLimitMb ? "met" : "MISSED");
    // Growth that stops (the allocator's first use of each new thread's arena) or keeps on (a leak).
    if (residentKiB.size() == jobs)
        std::printf("VmRSS growth in the second half, job %d to job %d: %.2f MB\n", jobs / 2, jobs,
            (residentKiB.last() - residentKiB.at(jobs / 2 - 1)) / 1024.0);
    QDir::setCurrent(QDir::tempPath());
    return allOk ? 0 : 1;
}
