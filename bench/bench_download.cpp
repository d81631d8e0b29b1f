// Clip download throughput and memory: ApiCall against curl on the same simulated server, for a clip of
// 100 MiB and one of 1 GiB. Each ApiCall download runs in a child process of its own, so that the child's
// peak resident memory (VmHWM) belongs to that one download.
//
// With --hashed: the export's fetch of the original clip instead (FileDownload, SHA-256 of the bytes as
// they are written) against curl piped into "openssl dgst -sha256".
// With --https: the simulator serves HTTPS with its own self-signed certificate, which the program's
// children trust by its pin, and curl is run with -k; the target is then curl's own speed.
//
//   bench_download [--rounds N] [--dir DIR] [--hashed] [--https]

#include "benchutil.h"
#include "app/startup.h"
#include "core/appstate.h"
#include "core/sha256.h"
#include "net/filedownload.h"
#include "net/certificatetrust.h"
#include "net/request.h"
#include "net/vmsclient.h"
#include "simprocess.h"
#include "vms/apicall.h"
#include "vms/streamslist.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const char *const User = "admin";
const char *const Password = "Pelmo4826";
constexpr qint64 MiB = 1024 * 1024;

/// Bytes that no transport can shrink, quickly: xorshift64.
bool writeClip(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(int(MiB), Qt::Uninitialized);
    quint64 state = 0x9E3779B97F4A7C15ULL;
    for (qint64 written = 0; written < size; written += block.size()) {
        auto *words = reinterpret_cast<quint64 *>(block.data());
        for (int i = 0; i < block.size() / 8; ++i) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            words[i] = state;
        }
        const qint64 part = std::min<qint64>(block.size(), size - written);
        if (file.write(block.constData(), part) != part)
            return false;
    }
    return true;
}

/// The child: one ApiCall download (or, hashed, the export's fetch) into "download.mkv" in the working
/// directory. Prints "bytes milliseconds peakKiB startKiB digest" on success.
int runChild(const QString &base, bool hashed, const QString &fingerprint)
{
    // Over HTTPS: the simulator's certificate pinned, as the operator would have trusted it, in settings of
    // the child's own.
    QTemporaryDir home;
    QSettings settings(home.filePath(QStringLiteral("bench.ini")), QSettings::IniFormat);
    CertificateTrust trust(settings);
    if (!fingerprint.isEmpty()) {
        const QUrl url(base);
        TlsTrust::Pins(settings).pin(url.host(), url.port(), fingerprint);
    }
    VmsClient::shared()->setTrust(&trust);
    AppState state;
    state.setBase(base);
    state.setUser(QString::fromLatin1(User));
    state.setPassword(QString::fromLatin1(Password));

    // The camera id the clip path needs, from the server's own list.
    StreamsList streams;
    QEventLoop loop;
    QObject::connect(&streams, &StreamsList::isLoadingChanged, &loop, [&] {
        if (!streams.isLoading())
            loop.quit();
    });
    streams.loadStreams();
    loop.exec();
    const QString camera = streams.get(0).value(QStringLiteral("strmId")).toString();
    if (camera.isEmpty()) {
        std::fprintf(stderr, "no camera from %s\n", qPrintable(base));
        return 2;
    }

    ApiCall api;
    QString error;
    QObject::connect(&api, &ApiCall::errorOccured, [&](const QString &message) { error = message; });
    QObject::connect(&api, &ApiCall::isDownloadingChanged, &loop, [&] {
        if (!api.isDownloading())
            loop.quit();
    });
    FileDownload fetch;
    fetch.setHashing(true);
    QObject::connect(&fetch, &FileDownload::failed, [&](const QString &message) { error = message; });
    QObject::connect(&fetch, &FileDownload::failed, &loop, &QEventLoop::quit);
    QObject::connect(&fetch, &FileDownload::succeeded, &loop, &QEventLoop::quit);
    const qint64 startKiB = bench::statusKiB("VmHWM");
    QElapsedTimer timer;
    timer.start();
    if (hashed) {
        // The export's fetch: through the video server's client, as the export job does.
        VmsClient &vms = *VmsClient::shared();
        fetch.start(vms,
            base
                + QStringLiteral("/hls/%1.mkv?pos=0&duration=60&hi=0")
                      .arg(QString::fromLatin1(QUrl::toPercentEncoding(camera))),
            QStringLiteral("download.mkv"));
    } else {
        api.download(camera, 0, 60);
    }
    loop.exec();
    const qint64 ms = timer.elapsed();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "download failed: %s\n", qPrintable(error));
        return 3;
    }
    std::printf("%lld %lld %lld %lld %s\n", QFileInfo(QStringLiteral("download.mkv")).size(), ms,
        bench::statusKiB("VmHWM"), startKiB, hashed ? qPrintable(fetch.sha256()) : "-");
    return 0;
}

struct Run {
    double mibPerSecond = 0;
    qint64 peakKiB = 0;
    qint64 startKiB = 0;
    QString digest;
    bool ok = false;
};

Run apiCallRun(const QString &program, const QString &base, const QString &fingerprint, const QString &workDir,
    qint64 size, bool hashed)
{
    QProcess child;
    child.setWorkingDirectory(workDir);
    child.start(program, { hashed ? QStringLiteral("--child-hashed") : QStringLiteral("--child"), base, fingerprint });
    Run run;
    if (!child.waitForFinished(30 * 60 * 1000) || child.exitCode() != 0) {
        std::fprintf(stderr, "ApiCall child failed: %s\n", child.readAllStandardError().constData());
        return run;
    }
    const QStringList fields = QString::fromLatin1(child.readAllStandardOutput()).split(QLatin1Char(' '));
    QFile::remove(QDir(workDir).filePath(QStringLiteral("download.mkv")));
    if (fields.size() != 5 || fields.at(0).toLongLong() != size) {
        std::fprintf(stderr, "ApiCall child wrote an unexpected size: %s\n", qPrintable(fields.join(' ')));
        return run;
    }
    run.mibPerSecond = double(size) / MiB / (fields.at(1).toDouble() / 1000.0);
    run.peakKiB = fields.at(2).toLongLong();
    run.startKiB = fields.at(3).toLongLong();
    run.digest = fields.at(4).trimmed();
    run.ok = true;
    return run;
}

double median(QVector<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

/// curl piped into OpenSSL's SHA-256, the reference for the export's fetch.
Run curlHashRun(const QString &url, qint64 size)
{
    QProcess shell;
    QElapsedTimer timer;
    timer.start();
    shell.start(QStringLiteral("sh"),
        { "-c",
            QStringLiteral("curl -s -k --digest -u '%1:%2' '%3' | openssl dgst -sha256").arg(User, Password, url) });
    Run run;
    if (!shell.waitForFinished(30 * 60 * 1000) || shell.exitCode() != 0) {
        std::fprintf(stderr, "curl | openssl failed: %s\n", shell.readAllStandardError().constData());
        return run;
    }
    run.mibPerSecond = double(size) / MiB / (timer.nsecsElapsed() / 1e9);
    run.digest = QString::fromLatin1(shell.readAllStandardOutput()).section(QLatin1Char('='), -1).trimmed();
    run.ok = run.digest.size() == 64;
    return run;
}

/// curl with the same credentials, writing to a file as the program does.
Run curlRun(const QString &url, const QString &workDir, qint64 size)
{
    const QString out = QDir(workDir).filePath(QStringLiteral("curl.bin"));
    QProcess curl;
    curl.start(QStringLiteral("curl"),
        { "-s", "-k", "--digest", "-u", QStringLiteral("%1:%2").arg(User, Password), "-o", out, "-w",
            "%{size_download} %{time_total}", url });
    Run run;
    if (!curl.waitForFinished(30 * 60 * 1000) || curl.exitCode() != 0) {
        std::fprintf(stderr, "curl failed: %s\n", curl.readAllStandardError().constData());
        return run;
    }
    const QStringList fields = QString::fromLatin1(curl.readAllStandardOutput()).split(QLatin1Char(' '));
    QFile::remove(out);
    if (fields.size() != 2 || fields.at(0).toLongLong() != size) {
        std::fprintf(stderr, "curl got an unexpected size: %s\n", qPrintable(fields.join(' ')));
        return run;
    }
    run.mibPerSecond = double(size) / MiB / fields.at(1).toDouble();
    run.ok = true;
    return run;
}

/// The camera id in the first entry of the camera list, read with curl so that the parent needs no client.
QString firstCamera(const QString &base)
{
    QProcess curl;
    curl.start(QStringLiteral("curl"),
        { "-s", "-k", "--digest", "-u", QStringLiteral("%1:%2").arg(User, Password),
            base + QStringLiteral("/ec2/getCamerasEx") });
    curl.waitForFinished(30000);
    const QRegularExpression id(QStringLiteral("\"id\"\\s*:\\s*\"([^\"]+)\""));
    return id.match(QString::fromUtf8(curl.readAllStandardOutput())).captured(1);
}

} // namespace

int main(int argc, char *argv[])
{
    prepareProcess(); // as the program does
    QCoreApplication app(argc, argv);
    if (app.arguments().size() == 4 && app.arguments().at(1).startsWith(QLatin1String("--child")))
        return runChild(
            app.arguments().at(2), app.arguments().at(1) == QLatin1String("--child-hashed"), app.arguments().at(3));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Clip download throughput and peak memory, ApiCall against curl."));
    parser.addHelpOption();
    const QCommandLineOption rounds(QStringLiteral("rounds"), QStringLiteral("Downloads per size and client."),
        QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption where(QStringLiteral("dir"), QStringLiteral("Where the clips go (they are deleted)."),
        QStringLiteral("dir"), QStringLiteral("/tmp"));
    const QCommandLineOption hashedOption(QStringLiteral("hashed"),
        QStringLiteral("The export's fetch and SHA-256 of the original clip, against curl | openssl dgst -sha256."));
    const QCommandLineOption httpsOption(
        QStringLiteral("https"), QStringLiteral("Over HTTPS (the simulator's own certificate), against curl -k."));
    parser.addOptions({ rounds, where, hashedOption, httpsOption });
    parser.process(app);
    const bool hashed = parser.isSet(hashedOption);
    const bool https = parser.isSet(httpsOption);
    const int roundCount = std::max(1, parser.value(rounds).toInt());
    if (QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty()) {
        std::fprintf(stderr, "curl is needed for the reference figures\n");
        return 1;
    }

    QTemporaryDir dir(QDir(parser.value(where)).filePath(QStringLiteral("tillmark-bench-XXXXXX")));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a directory in %s\n", qPrintable(parser.value(where)));
        return 1;
    }

    if (hashed)
        std::printf("SHA-256 by %s\n", Sha256::implementation());
    if (https) {
        // The simulator keeps its certificate in the data folder: the benchmark's own, not the user's.
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
        std::printf("over HTTPS (%s)\n", QSslSocket::sslLibraryVersionString().toLatin1().constData());
    }
    std::printf("%-8s %14s %14s %7s %7s %16s %16s\n", "clip", hashed ? "fetch+hash MiB/s" : "ApiCall MiB/s",
        hashed ? "curl|openssl" : "curl MiB/s", "ratio", "paired", "child VmHWM", "VmHWM at start");
    QVector<qint64> peaks;
    QVector<double> ratios;
    QVector<double> pairMedians;
    bool allOk = true;
    for (const qint64 size : { 100 * MiB, 1024 * MiB }) {
        const QString clip = dir.filePath(QStringLiteral("clip.bin"));
        if (!writeClip(clip, size)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(clip));
            return 1;
        }
        SimProcess sim;
        const QStringList simArguments { "--days", "1", "--clip-file", clip };
        if (!(https ? sim.startTls(simArguments) : sim.start(simArguments))) {
            std::fprintf(stderr, "the simulated servers did not start\n");
            return 1;
        }
        const QString url = sim.vmsBase()
            + QStringLiteral("/hls/%1.mkv?pos=0&duration=60&hi=1")
                  .arg(QString::fromLatin1(QUrl::toPercentEncoding(firstCamera(sim.vmsBase()))));

        // Alternate the two clients so that neither always runs on a warmer cache; keep the best of each,
        // and the ratio of each round's pair: on a shared machine one lucky round makes a best, while the
        // median of the pairs follows what the two clients do under the same conditions.
        Run best;
        Run bestCurl;
        QVector<double> pairRatios;
        for (int round = 0; round < roundCount; ++round) {
            const Run api = apiCallRun(
                app.applicationFilePath(), sim.vmsBase(), sim.certificateFingerprint(), dir.path(), size, hashed);
            const Run reference = hashed ? curlHashRun(url, size) : curlRun(url, dir.path(), size);
            allOk = allOk && api.ok && reference.ok;
            if (hashed && api.digest != reference.digest) {
                std::fprintf(stderr, "the digests differ: %s against %s\n", qPrintable(api.digest),
                    qPrintable(reference.digest));
                allOk = false;
            }
            if (api.mibPerSecond > best.mibPerSecond)
                best = api;
            best.peakKiB = std::max(best.peakKiB, api.peakKiB);
            if (reference.mibPerSecond > bestCurl.mibPerSecond)
                bestCurl = reference;
            if (api.ok && reference.ok)
                pairRatios.append(api.mibPerSecond / reference.mibPerSecond);
        }
        sim.stop();
        QFile::remove(clip);

        const double ratio = bestCurl.mibPerSecond > 0 ? best.mibPerSecond / bestCurl.mibPerSecond : 0;
        const double pairMedian = median(pairRatios);
        std::printf("%-8s %14.1f %14.1f %7.2f %7.2f %12.1f MiB %12.1f MiB\n", size == 100 * MiB ? "100 MiB" : "1 GiB",
            best.mibPerSecond, bestCurl.mibPerSecond, ratio, pairMedian, best.peakKiB / 1024.0, best.startKiB / 1024.0);
        std::fflush(stdout);
        peaks.append(best.peakKiB);
        ratios.append(ratio);
        pairMedians.append(pairMedian);
    }
    const double growth = (peaks.at(1) - peaks.at(0)) / 1024.0;
    std::printf("peak memory, 1 GiB clip against 100 MiB clip: %+.1f MiB (target: within 16 MiB): %s\n", growth,
        std::abs(growth) <= 16 ? "met" : "MISSED");
    const double worst = *std::min_element(ratios.cbegin(), ratios.cend());
    const double worstPaired = *std::min_element(pairMedians.cbegin(), pairMedians.cend());
    const double target = hashed || https ? 1.0 : 0.9;
    std::printf("throughput, worst ratio to the reference: best against best %.2f, median of the rounds' pairs "
                "%.2f (target: at least %.2f): %s\n",
        worst, worstPaired, target, worst >= target && worstPaired >= target ? "met" : "MISSED");
    return allOk ? 0 : 1;
}
