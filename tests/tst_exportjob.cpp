#include "core/appstate.h"
#include "core/sha256.h"
#include "export/exportcontroller.h"
#include "net/request.h"
#include "net/vmsclient.h"
#include "pos/posdownloader.h"
#include "testserver.h"
#include "testutil.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QRandomGenerator>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <sys/types.h>

namespace {

const QString Password = QStringLiteral("S3cret@pw:x");
const QString Camera = QStringLiteral("{cam-1}");
const QDateTime ReceiptAt(QDate(2021, 6, 1), QTime(10, 0, 0), Qt::UTC);

/// A stand-in FFmpeg: writes its arguments, one a line, to "args.txt" in the test's working directory
/// (STANDIN_DIR: FFmpeg itself runs in the folder of its inputs), and its process id to "pid.txt", then
/// runs the given shell lines with $out the output file.
const char kStandInHead[] = "#!/bin/sh\n"
                            "cd \"$STANDIN_DIR\"\n"
                            "for a in \"$@\"; do printf '%s\\n' \"$a\"; out=\"$a\"; done > args.txt\n"
                            "echo $$ > pid.txt\n";
/// Before kWorks in the queue's tests: a line in "log.txt" as each run starts and, for an output whose
/// name holds "hold", waits until the test creates "go".
const char kLogged[] = "echo \"start $out\" >> log.txt\n"
                       "case \"$out\" in *hold*) while [ ! -e go ]; do sleep 0.05; done;; esac\n";

/// FFmpeg's banner, the clip's length and frame rate, one progress line half way through the clip (its
/// "time=" ahead, as the receipts track puts it), and a review copy.
const char kWorks[] = "printf 'ffmpeg version 9.9-test Copyright\\n' >&2\n"
                      "printf '  Duration: 00:03:00.00, start: 0.000000, bitrate: 4012 kb/s\\n' >&2\n"
                      "printf '  Stream #0:0: Video: h264 (High), yuv420p, 1920x1080, 25 fps, 25 tbr, 1k tbn\\n' >&2\n"
                      "printf 'frame= 2250 fps= 50 q=28.0 size= 2048kB time=00:02:42.00 bitrate= 1.0kbits/s\\r' >&2\n"
                      "printf 'review copy' > \"$out\"\n";

QByteArray transaction(const QString &text, const QString &receivedAt, const QStringList &cameras)
{
    QJsonArray streams;
    for (const QString &camera : cameras)
        streams.append(QJsonObject { { "nx_id", camera }, { "name", "Camera " + camera } });
    return QJsonDocument(QJsonObject { { "text", text }, { "received_at", receivedAt },
                             { "device", QJsonObject { { "streams", streams } } } })
        .toJson(QJsonDocument::Compact);
}

bool processGone(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == -1 && errno == ESRCH;
}

std::string clipPath()
{
    return "/hls/" + Camera.toStdString() + ".mkv";
}

QString sha256Of(const QString &path)
{
    return Sha256::ofBytes(readFile(path));
}

} // namespace

/// The till's camera under two names: exports of the second hold in their encoding (see kLogged).
const StreamData First { Camera, QStringLiteral("Till 1") };
const StreamData Hold { Camera, QStringLiteral("Till 1 hold") };
const StreamData Second { QStringLiteral("{cam-2}"), QStringLiteral("Till 2") };

/// One export as a job: the package it leaves, and what is left when it is cancelled, fails or is refused;
/// jobs in the queue: their order, one at a time, their names, cancel and retry.
class TestExportJob : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void packageWholeAndNoPasswordInArguments();
    void verifyNamesWhatChanged_data();
    void verifyNamesWhatChanged();
    void cancelInEachPhase_data();
    void cancelInEachPhase();
    void failuresSaidAndNothingLeft_data();
    void failuresSaidAndNothingLeft();
    void unexportableRefused();
    void queueRunsInOrderPastFailures();
    void cancelWaitingRunningAll_data();
    void cancelWaitingRunningAll();
    void retryWaitsBehindTheWaiting();
    void uniqueNamesOnClashes_data();
    void uniqueNamesOnClashes();
    void noStaleSignalReachesTheNext();
    void nextExportUsesTheAccountOfTheSettings();
    void suggestedFileIsSafe_data();
    void suggestedFileIsSafe();
    void textTrackAndChaptersAsPrinted();
    void fetchedClipCopiedOnlyWhenItChecksOut_data();
    void fetchedClipCopiedOnlyWhenItChecksOut();
    void explicitWindowHasNoChosenReceipt();

private:
    void installStandIn(const QByteArray &body);
    ExportOrder order(const QString &name = QStringLiteral("out/Till 1.mp4")) const;
    /// Runs an export to its end.
    ExportJob *run(ExportController &controller, const ExportOrder &order);
    /// The files of the package directory, apart from what the test put there.
    QStringList packageFiles() const;
    /// The outputs named in "log.txt" by the stand-in, as they started, by file name.
    QStringList startedRuns() const;
    /// Receipts ten minutes apart from ReceiptAt on, on the till of Camera.
    QList<PosData> receipts(int count) const;
    /// The requests for clips that the video server answered.
    int clipFetches() const;

    ScopedTimeZone m_zone { "Europe/Berlin" };
    AppState m_state;
    QByteArray m_path;
    std::unique_ptr<QTemporaryDir> m_bin;
    std::unique_ptr<WorkDir> m_work;
    std::unique_ptr<TestServer> m_pos;
    std::unique_ptr<TestServer> m_vms;
    QByteArray m_clip;
};

void TestExportJob::initTestCase()
{
    m_path = qgetenv("PATH");
    m_clip = QByteArray(300 * 1024, Qt::Uninitialized);
    QRandomGenerator(9).fillRange(reinterpret_cast<quint32 *>(m_clip.data()), m_clip.size() / 4);
}

void TestExportJob::init()
{
    m_bin = std::make_unique<QTemporaryDir>();
    m_work = std::make_unique<WorkDir>();
    QVERIFY(QDir().mkdir("out"));
    m_pos = std::make_unique<TestServer>();
    m_vms = std::make_unique<TestServer>();
    m_vms->requireAuth(httpauth::Scheme::Digest, "admin", Password.toStdString());
    TestServer::Reply receipts;
    receipts.body = "[" + transaction("MILK {PROMO}\nTOTAL 1.00", "2021-06-01T12:00:30.250+02:00", { Camera }) + ","
        + transaction("OTHER TILL", "2021-06-01T10:00:40Z", { "{cam-2}" }) + ","
        + transaction("COFFEE\n\nTOTAL 2.00", "2021-06-01T10:01:00Z", { "{cam-2}", Camera }) + "]";
    m_pos->route("/poses/", receipts);
    TestServer::Reply clip;
    clip.body = m_clip;
    clip.contentType = "video/x-matroska";
    m_vms->route(clipPath(), clip);
    m_state.setPosBase(m_pos->base());
    m_state.setBase(m_vms->base());
    m_state.setUser("admin");
    m_state.setPassword(Password);
    m_state.setVmsClockOffsetMs(-1500);
    Request::setTransferTimeoutMs(60000);
    qputenv("STANDIN_DIR", QDir::currentPath().toLocal8Bit());
    installStandIn(kWorks);
}

void TestExportJob::cleanup()
{
    qputenv("PATH", m_path);
    m_pos.reset();
    m_vms.reset();
    m_work.reset();
    m_bin.reset();
}

void TestExportJob::installStandIn(const QByteArray &body)
{
    QVERIFY(::installStandIn(m_bin->path(), "ffmpeg", kStandInHead + body, m_path));
}

ExportOrder TestExportJob::order(const QString &name) const
{
    ExportOrder order;
    order.receipt.createdAt = ReceiptAt;
    order.receipt.content = "COFFEE\n\nTOTAL 2.00";
    order.camera = { Camera, "Till 1 Overhead" };
    order.videoPath = m_work->filePath(name);
    return order;
}

ExportJob *TestExportJob::run(ExportController &controller, const ExportOrder &order)
{
    QSignalSpy ended(&controller, &ExportController::jobEnded);
    if (!controller.start(order))
        return nullptr;
    // A job refused at its start ends at once.
    if (ended.isEmpty() && !ended.wait(20000))
        qWarning("the export did not end");
    return controller.job();
}

QStringList TestExportJob::packageFiles() const
{
    return QDir(m_work->filePath("out")).entryList(QDir::Files | QDir::NoDotAndDotDot);
}

QStringList TestExportJob::startedRuns() const
{
    QStringList runs;
    for (const QByteArray &line : readFile("log.txt").split('\n')) {
        if (line.startsWith("start "))
            runs << QFileInfo(QString::fromUtf8(line.mid(6))).fileName();
    }
    return runs;
}

QList<PosData> TestExportJob::receipts(int count) const
{
    QList<PosData> list;
    for (int i = 0; i < count; ++i) {
        PosData receipt;
        receipt.createdAt = ReceiptAt.addSecs(600 * i);
        receipt.content = QStringLiteral("RECEIPT %1").arg(i);
        receipt.streams = { Hold };
        list << receipt;
    }
    return list;
}

int TestExportJob::clipFetches() const
{
    const auto requests = m_vms->requests();
    return int(std::count_if(requests.cbegin(), requests.cend(),
        [](const TestServer::Recorded &r) { return r.path.rfind("/hls/", 0) == 0 && !r.authorization.empty(); }));
}

void TestExportJob::packageWholeAndNoPasswordInArguments()
{
    ExportController controller;
    ExportJob *job = run(controller, order());
    QVERIFY(job);
    QCOMPARE(job->state(), ExportJob::Done);
    QVERIFY(!controller.isBusy() && !job->isRunning());
    const PackagePaths paths = job->paths();
    QCOMPARE(job->message(), "Export finished: " + paths.video);
    QCOMPARE(packageFiles(),
        QStringList({ "Till 1.ass", "Till 1.manifest.json", "Till 1.mp4", "Till 1.original.mkv", "Till 1.sha256" }));
    QCOMPARE(readFile(paths.original), m_clip);
    QCOMPARE(readFile(paths.script), readFile("sub.ass"));

    // The clip was asked for with the account answered to the challenge, never in the URL or to FFmpeg.
    const auto requests = m_vms->requests();
    const auto clipRequest = std::find_if(requests.rbegin(), requests.rend(),
        [](const TestServer::Recorded &r) { return r.path.rfind("/hls/", 0) == 0 && !r.authorization.empty(); });
    QVERIFY(clipRequest != requests.rend());
    QCOMPARE(clipRequest->params.find("pos")->second, std::to_string(ReceiptAt.toMSecsSinceEpoch() - 90000));
    QCOMPARE(clipRequest->params.find("duration")->second, std::string("180"));
    QCOMPARE(clipRequest->params.find("hi")->second, std::string("0"));
    const QStringList arguments = QString::fromUtf8(readFile("args.txt")).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(arguments, job->ffmpegArguments());
    QCOMPARE(arguments.at(arguments.indexOf("-i") + 1), paths.original);
    QVERIFY(arguments.contains("ass=sub.ass") && arguments.contains("mov_text"));
    for (const QString &argument : arguments)
        QVERIFY2(!argument.contains("S3cret") && !argument.contains("admin"), qPrintable(argument));

    // The manifest.
    const QJsonObject manifest = QJsonDocument::fromJson(readFile(paths.manifest)).object();
    QCOMPARE(manifest["program"]["version"].toString(), QString(TILLMARK_VERSION));
    QCOMPARE(manifest["ffmpeg"]["version"].toString(), "ffmpeg version 9.9-test Copyright");
    QCOMPARE(manifest["ffmpeg"]["arguments"].toVariant().toStringList(), arguments);
    QCOMPARE(manifest["servers"]["vms"].toString(), m_vms->base());
    QCOMPARE(manifest["servers"]["pos"].toString(), m_pos->base());
    QCOMPARE(manifest["camera"]["id"].toString(), Camera);
    QCOMPARE(manifest["camera"]["name"].toString(), "Till 1 Overhead");
    QCOMPARE(manifest["window"]["startUtc"].toString(), "2021-06-01T09:58:30.000Z");
    QCOMPARE(manifest["window"]["endLocal"].toString(), "2021-06-01T12:01:30.000+02:00");
    QCOMPARE(manifest["clocks"]["vmsClockOffsetMs"].toDouble(), -1500.0);
    QVERIFY(QDateTime::fromString(manifest["clocks"]["localClockAtExport"].toString(), Qt::ISODate).isValid());
    QVERIFY(manifest["clipRequest"].toString().startsWith(m_vms->base() + "/hls/"));
    QCOMPARE(manifest["quality"]["stream"].toString(), "hi=0");
    QCOMPARE(manifest["encoder"].toVariant().toStringList(), ExportJob::encoderArguments());
    // Every receipt of the camera in the window, its time as the server wrote it and its whole text.
    const QJsonArray receipts = manifest["receipts"].toArray();
    QCOMPARE(receipts.size(), 2);
    QCOMPARE(receipts[0]["receivedAt"].toString(), "2021-06-01T12:00:30.250+02:00");
    QCOMPARE(receipts[0]["text"].toString(), "MILK {PROMO}\nTOTAL 1.00");
    QCOMPARE(receipts[1]["cameras"].toArray().size(), 2);
    for (const QJsonValue &file : manifest["files"].toArray())
        QCOMPARE(file["sha256"].toString(), sha256Of(m_work->filePath("out/" + file["name"].toString())));

    // The checksums as sha256sum reads them.
    QProcess check;
    check.setWorkingDirectory(m_work->filePath("out"));
    check.start("sha256sum", { "-c", "Till 1.sha256" });
    QVERIFY(check.waitForFinished(10000));
    const QByteArray said = check.readAllStandardOutput() + check.readAllStandardError();
    QVERIFY2(check.exitCode() == 0, said.constData());
    QCOMPARE(said.count(": OK\n"), 4);
}

void TestExportJob::verifyNamesWhatChanged_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("picked");
    QTest::addColumn<QStringList>("named");
    QTest::newRow("intact") << ""
                            << "sha256" << QStringList();
    QTest::newRow("a byte of the video flipped") << "flip:mp4"
                                                 << "sha256" << QStringList { "Changed: Till 1.mp4" };
    QTest::newRow("the script gone") << "remove:ass"
                                     << "manifest.json" << QStringList { "Missing: Till 1.ass" };
    QTest::newRow("the clip grown, checksums gone")
        << "append:original.mkv,remove:sha256"
        << "manifest.json" << QStringList { "Missing: Till 1.sha256", "Changed: Till 1.original.mkv" };
}

void TestExportJob::verifyNamesWhatChanged()
{
    QFETCH(QString, damage);
    QFETCH(QString, picked);
    QFETCH(QStringList, named);
    ExportController controller;
    QCOMPARE(run(controller, order())->state(), ExportJob::Done);
    for (const QString &step : damage.split(',', Qt::SkipEmptyParts)) {
        const QString file = m_work->filePath("out/Till 1." + step.section(':', 1));
        QByteArray bytes = readFile(file);
        if (step.startsWith("flip"))
            bytes[bytes.size() / 2] = char(bytes.at(bytes.size() / 2) ^ 1);
        QVERIFY(step.startsWith("remove") ? QFile::remove(file)
                                          : writeFile(file, bytes + (step.startsWith("append") ? "x" : "")));
    }
    QSignalSpy verified(&controller, &ExportController::verified);
    controller.verify(QUrl::fromLocalFile(m_work->filePath("out/Till 1." + picked)).toString());
    QVERIFY(controller.isVerifying());
    QVERIFY(verified.wait(10000));
    QVERIFY(!controller.isVerifying());
    const QString report = verified.at(0).at(1).toString();
    QCOMPARE(verified.at(0).at(0).toBool(), named.isEmpty());
    QCOMPARE(report.startsWith("Intact"), named.isEmpty());
    for (const QString &line : named)
        QVERIFY2(report.contains(line), qPrintable(report));
    // Only what was damaged is named.
    QCOMPARE(report.count("Till 1."), named.isEmpty() ? 4 : named.size());
}

void TestExportJob::cancelInEachPhase_data()
{
    QTest::addColumn<ExportJob::State>("phase");
    QTest::newRow("receipts") << ExportJob::Receipts;
    QTest::newRow("clip") << ExportJob::Clip;
    QTest::newRow("encoding") << ExportJob::Encoding;
}

void TestExportJob::cancelInEachPhase()
{
    QFETCH(ExportJob::State, phase);
    TestServer::Reply stalled;
    stalled.stall = phase == ExportJob::Receipts;
    stalled.stallAfter = phase == ExportJob::Clip ? 100 * 1024 : -1;
    stalled.body = m_clip;
    if (phase == ExportJob::Receipts)
        m_pos->route("/poses/", stalled);
    else
        m_vms->route(clipPath(), stalled);
    // Encoding: FFmpeg has begun the file and works on.
    installStandIn(QByteArray(kWorks) + "exec sleep 30\n");

    ExportController controller;
    QSignalSpy busy(&controller, &ExportController::isBusyChanged);
    QVERIFY(controller.start(order()));
    const QPointer<ExportJob> job = controller.job();
    QTRY_COMPARE(job->state(), phase);
    const PackagePaths paths = job->paths();
    if (phase == ExportJob::Clip)
        QTRY_VERIFY(QFileInfo(paths.original).size() > 0);
    if (phase == ExportJob::Encoding) {
        QTRY_VERIFY(QFileInfo(paths.video).size() > 0);
        // Half of the clip's 4,500 frames.
        QTRY_COMPARE(job->percent(), 50);
        QCOMPARE(job->frame(), "2250");
    }
    QVERIFY(controller.isBusy() && job->isRunning());

    QSignalSpy ended(job, &ExportJob::ended);
    controller.cancel();
    QCOMPARE(ended.count(), 1);
    QCOMPARE(job->state(), ExportJob::Cancelled);
    QCOMPARE(job->message(), "Export cancelled");
    QVERIFY(!controller.isBusy() && !job->isRunning());
    QVERIFY(!busy.isEmpty());
    QCOMPARE(packageFiles(), QStringList());
    if (phase == ExportJob::Encoding)
        QVERIFY(processGone(readFile("pid.txt").trimmed().toLongLong()));
    else
        QVERIFY(!QFile::exists("args.txt"));

    // What the servers send afterwards reaches no one: the stalled answer ends, the next export runs.
    m_pos->releaseStalled();
    m_vms->releaseStalled();
    m_pos->route("/poses/", TestServer::Reply { 200, "[]" });
    m_vms->route(clipPath(), TestServer::Reply { 200, m_clip });
    installStandIn(kWorks);
    QCOMPARE(run(controller, order("out/next.mp4"))->state(), ExportJob::Done);
    QVERIFY(!job || job->state() == ExportJob::Cancelled); // the controller lets go of an ended job
    QCOMPARE(ended.count(), 1);
    QVERIFY(!QFile::exists(paths.video));
}

void TestExportJob::failuresSaidAndNothingLeft_data()
{
    QTest::addColumn<QByteArray>("standIn");
    QTest::addColumn<QString>("message");
    QTest::newRow("FFmpeg missing") << QByteArray() << "FFmpeg could not be started: is it installed and on PATH? (0)";
    QTest::newRow("FFmpeg killed") << QByteArray(kWorks) + "kill -KILL $$\n"
                                   << "FFmpeg crashed or was killed (1); the video is incomplete.";
    QTest::newRow("FFmpeg refuses") << QByteArray("printf 'sub.ass: Invalid data\\n' >&2\nexit 1\n")
                                    << "FFmpeg ended with exit code 1: sub.ass: Invalid data";
    QTest::newRow("video server stalls mid-clip")
        << QByteArray(kWorks) << "The clip could not be fetched: The server did not answer in time";
    QTest::newRow("POS server refuses") << QByteArray(kWorks) << "The receipts could not be fetched: ";
}

void TestExportJob::failuresSaidAndNothingLeft()
{
    QFETCH(QByteArray, standIn);
    QFETCH(QString, message);
    const QString what = QTest::currentDataTag();
    if (standIn.isEmpty()) {
        QVERIFY(QFile::remove(m_bin->filePath("ffmpeg")));
        qputenv("PATH", QFile::encodeName(m_bin->path()));
    } else {
        installStandIn(standIn);
    }
    if (what.contains("stalls")) {
        Request::setTransferTimeoutMs(1000);
        TestServer::Reply stalled { 200, m_clip };
        stalled.stallAfter = 64 * 1024;
        m_vms->route(clipPath(), stalled);
    }
    if (what.contains("POS"))
        m_pos->route("/poses/", TestServer::Reply { 500, "broken" });

    ExportController controller;
    ExportJob *job = run(controller, order());
    QVERIFY(job);
    QCOMPARE(job->state(), ExportJob::Failed);
    QVERIFY2(job->message().startsWith(message), qPrintable(job->message()));
    QVERIFY(!controller.isBusy());
    QCOMPARE(packageFiles(), QStringList());
    // A missing FFmpeg is found before the servers are asked anything.
    if (standIn.isEmpty())
        QCOMPARE(m_pos->requestCount() + m_vms->requestCount(), size_t(0));
}

void TestExportJob::unexportableRefused()
{
    ExportController controller;
    QSignalSpy refused(&controller, &ExportController::refused);
    ExportOrder noCamera = order();
    noCamera.camera = {};
    QVERIFY(!controller.start(noCamera));
    QCOMPARE(refused.at(0).at(0).toString(), "This receipt names no camera, so there is no video to export.");
    QCOMPARE(controller.queue()->rowCount(), 0);
    QCOMPARE(controller.refusalFor(QDateTime(), { QVariantMap { { "strmId", Camera } } }),
        "This receipt has no valid time, so there is no window to export.");
    QCOMPARE(controller.refusalFor(ReceiptAt, {}), "This receipt names no camera, so there is no video to export.");

    // In a batch the others go ahead, and those left out are named.
    QList<PosData> batch = receipts(2);
    batch[0].streams.clear();
    batch[1].createdAt = QDateTime();
    batch << receipts(1);
    QCOMPARE(controller.startBatch(batch, std::nullopt, false, m_work->filePath("out")), 1);
    QCOMPARE(refused.at(1).at(0).toString(),
        "Left out: This receipt names no camera, so there is no video to export. This receipt has no valid time, so "
        "there is no window to export.");
    QCOMPARE(controller.startBatch(batch, std::nullopt, false, m_work->filePath("nowhere")), 0);
    QVERIFY(refused.at(2).at(0).toString().startsWith("The folder \"" + m_work->filePath("nowhere")));
    QCOMPARE(controller.queue()->rowCount(), 1);
    controller.cancelAll();
}

void TestExportJob::queueRunsInOrderPastFailures()
{
    installStandIn(QByteArray(kLogged) + kWorks);
    // The second camera's clip is refused: its exports fail, and the others still run.
    m_vms->route("/hls/{cam-2}.mkv", TestServer::Reply { 404, "no such camera" });
    ExportController controller;
    ExportQueue *queue = controller.queue();
    QAbstractItemModelTester tester(queue);
    // At no moment do two jobs run.
    int mostRunning = 0;
    connect(queue, &QAbstractItemModel::dataChanged, this, [&] {
        int running = 0;
        for (int row = 0; row < queue->rowCount(); ++row)
            running += queue->jobAt(row)->isRunning() ? 1 : 0;
        mostRunning = std::max(mostRunning, running);
    });
    QSignalSpy ended(queue, &ExportQueue::jobEnded);
    QSignalSpy drained(queue, &ExportQueue::drained);
    QSignalSpy background(&controller, &ExportController::backgroundEnded);
    // The counts as told: once the last job has ended, none waits or runs.
    QList<int> toldPending;
    connect(queue, &ExportQueue::countsChanged, this, [&] { toldPending << queue->pendingCount(); });
    QCOMPARE(controller.startBatch(receipts(3), QList<StreamData> { First, Second }, true, m_work->filePath("out")), 6);
    QCOMPARE(queue->rowCount(), 6);
    QCOMPARE(queue->pendingCount(), 6);
    QVERIFY(controller.isBusy());
    // A transfer only while a job runs: the queue holds many jobs that wait or have ended.
    auto transfersOf = [queue](int row) { return queue->jobAt(row)->findChildren<FileDownload *>().size(); };
    QCOMPARE(transfersOf(0), 1);
    QCOMPARE(transfersOf(5), 0);
    QVERIFY(drained.wait(30000));
    QCOMPARE(drained.count(), 1);
    QCOMPARE(ended.count(), 6);
    QCOMPARE(mostRunning, 1);
    QCOMPARE(toldPending.last(), 0);
    for (int row = 0; row < 6; ++row)
        QTRY_COMPARE(transfersOf(row), 0);
    QVERIFY(!controller.isBusy());
    QCOMPARE(controller.job(), nullptr);

    // Receipt by receipt, each from both cameras; the names say camera and window.
    const QStringList names { "Till 1-20210601_115830-20210601_120130.mp4",
        "Till 2-20210601_115830-20210601_120130.mp4", "Till 1-20210601_120830-20210601_121130.mp4",
        "Till 2-20210601_120830-20210601_121130.mp4", "Till 1-20210601_121830-20210601_122130.mp4",
        "Till 2-20210601_121830-20210601_122130.mp4" };
    QString batchId;
    for (int row = 0; row < 6; ++row) {
        const ExportJob *job = queue->jobAt(row);
        QCOMPARE(QFileInfo(job->videoPath()).fileName(), names.at(row));
        QCOMPARE(queue->data(queue->index(row), ExportQueue::StateRole).toInt(),
            int(row % 2 ? ExportJob::Failed : ExportJob::Done));
        QCOMPARE(ended.at(row).at(0).value<ExportJob *>(), job);
        if (row % 2)
            continue;
        const QJsonObject manifest = QJsonDocument::fromJson(readFile(job->paths().manifest)).object();
        batchId = row == 0 ? manifest["batch"]["id"].toString() : batchId;
        QCOMPARE(manifest["batch"]["id"].toString(), batchId);
        QCOMPARE(manifest["batch"]["size"].toInt(), 6);
        QCOMPARE(manifest["batch"]["place"].toInt(), row + 1);
        QCOMPARE(manifest["quality"]["stream"].toString(), "hi=1");
    }
    QVERIFY(!batchId.isEmpty());
    QCOMPARE(startedRuns(), QStringList({ names.at(0), names.at(2), names.at(4) }));
    QCOMPARE(queue->doneCount(), 3);
    QCOMPARE(queue->failedCount(), 3);
    QCOMPARE(queue->data(queue->index(1), ExportQueue::StateTextRole).toString(), "failed");
    QVERIFY(queue->data(queue->index(1), ExportQueue::MessageRole).toString().contains("Not Found"));
    // Nobody followed them: how they went is said once the queue is empty, failures by name.
    QCOMPARE(background.count(), 1);
    const QString summary = background.at(0).at(0).toString();
    QVERIFY2(summary.startsWith("Exports ended: 3 finished, 3 failed, 0 cancelled.\nFailed: Till 2, 2021-06-01 "
                                "11:58:30 to 12:01:30: The clip could not be fetched: "),
        qPrintable(summary));
    QCOMPARE(summary.count("Failed: Till 2"), 3);
    // The receipt exported is known as such.
    QCOMPARE(controller.exportsOf(ReceiptAt, "RECEIPT 0"), QStringList { queue->jobAt(0)->videoPath() });
    QCOMPARE(controller.exportsOf(ReceiptAt, "RECEIPT 1"), QStringList());
}

void TestExportJob::cancelWaitingRunningAll_data()
{
    QTest::addColumn<QString>("cancelled");
    QTest::addColumn<QStringList>("states");
    QTest::addColumn<QStringList>("started");
    QTest::newRow("waiting") << "1" << QStringList { "Done", "Cancelled", "Done" } << QStringList { "0", "2" };
    QTest::newRow("running") << "0" << QStringList { "Cancelled", "Done", "Done" } << QStringList { "0", "1", "2" };
    QTest::newRow("all") << "all" << QStringList { "Cancelled", "Cancelled", "Cancelled" } << QStringList { "0" };
}

void TestExportJob::cancelWaitingRunningAll()
{
    QFETCH(QString, cancelled);
    QFETCH(QStringList, states);
    QFETCH(QStringList, started);
    installStandIn(QByteArray(kLogged) + kWorks);
    ExportController controller;
    ExportQueue *queue = controller.queue();
    // The first holds in its encoding; the second too, once it runs.
    QCOMPARE(controller.startBatch(receipts(2), QList<StreamData> { Hold }, false, m_work->filePath("out")), 2);
    ExportOrder third = order("out/third.mp4");
    third.camera = Second;
    QVERIFY(controller.start(third));
    QCOMPARE(controller.job(), nullptr); // it waits: nobody follows it
    QTRY_COMPARE(startedRuns().size(), 1);
    QCOMPARE(queue->jobAt(0)->state(), ExportJob::Encoding);
    QCOMPARE(queue->jobAt(1)->state(), ExportJob::Waiting);
    const qint64 firstPid = readFile("pid.txt").trimmed().toLongLong();

    QSignalSpy drained(queue, &ExportQueue::drained);
    if (cancelled == "all") {
        controller.cancelAll();
        QCOMPARE(drained.count(), 1);
    } else {
        queue->cancel(cancelled.toInt());
        QCOMPARE(queue->jobAt(cancelled.toInt())->state(), ExportJob::Cancelled);
        QCOMPARE(queue->jobAt(cancelled.toInt())->message(), "Export cancelled");
        // The first still holds, or the second now does: let them go.
        QVERIFY(writeFile("go", "go"));
        QVERIFY(drained.wait(30000));
    }
    QStringList seen;
    for (int row = 0; row < 3; ++row)
        seen << QMetaEnum::fromType<ExportJob::State>().valueToKey(queue->jobAt(row)->state());
    QCOMPARE(seen, states);
    QCOMPARE(queue->pendingCount(), 0);
    QVERIFY(processGone(firstPid));
    QStringList names;
    for (const QString &row : started)
        names << QFileInfo(queue->jobAt(row.toInt())->videoPath()).fileName();
    QCOMPARE(startedRuns(), names);
    // Only the finished exports left files, whole packages of five.
    QStringList expected;
    for (int row = 0; row < 3; ++row) {
        if (queue->jobAt(row)->state() != ExportJob::Done)
            continue;
        const PackagePaths &paths = queue->jobAt(row)->paths();
        for (const QString &file : QStringList { paths.checksums } + paths.covered())
            expected << QFileInfo(file).fileName();
    }
    expected.sort(Qt::CaseInsensitive);
    QCOMPARE(packageFiles(), expected);
}

void TestExportJob::retryWaitsBehindTheWaiting()
{
    installStandIn(QByteArray(kLogged) + kWorks);
    m_vms->route("/hls/{cam-2}.mkv", TestServer::Reply { 404, "not yet" });
    ExportController controller;
    ExportQueue *queue = controller.queue();
    const QString out = m_work->filePath("out");
    QCOMPARE(controller.startBatch(receipts(1), QList<StreamData> { Second }, false, out), 1);
    QTRY_COMPARE(queue->jobAt(0)->state(), ExportJob::Failed);
    QCOMPARE(controller.startBatch(receipts(2), QList<StreamData> { Hold }, false, out), 2);
    QTRY_COMPARE(queue->jobAt(1)->state(), ExportJob::Encoding);

    // The failed one again, with the server mended: behind the one that already waits.
    m_vms->route("/hls/{cam-2}.mkv", TestServer::Reply { 200, m_clip });
    const QPointer<ExportJob> failed = queue->jobAt(0);
    QSignalSpy rowChanged(queue, &QAbstractItemModel::dataChanged);
    queue->retry(0);
    QCOMPARE(queue->rowCount(), 3);
    ExportJob *again = queue->jobAt(0);
    QVERIFY(again != failed);
    QCOMPARE(again->state(), ExportJob::Waiting);
    QCOMPARE(again->videoPath(), failed->videoPath());
    QCOMPARE(again->order().batch.id, failed->order().batch.id);
    QVERIFY(!rowChanged.isEmpty() && rowChanged.at(0).at(0).toModelIndex().row() == 0);
    QCOMPARE(queue->data(queue->index(0), ExportQueue::StateTextRole).toString(), "waiting");
    QCOMPARE(queue->pendingCount(), 3);

    QSignalSpy drained(queue, &ExportQueue::drained);
    QVERIFY(writeFile("go", "go"));
    QVERIFY(drained.wait(30000));
    QCOMPARE(startedRuns(),
        QStringList({ "Till 1 hold-20210601_115830-20210601_120130.mp4",
            "Till 1 hold-20210601_120830-20210601_121130.mp4", "Till 2-20210601_115830-20210601_120130.mp4" }));
    QCOMPARE(queue->doneCount(), 3);
    QVERIFY(!failed); // the queue let go of the job it replaced
    // A finished export is not run again.
    queue->retry(0);
    QCOMPARE(queue->jobAt(0), again);
    QCOMPARE(queue->pendingCount(), 0);
}

void TestExportJob::uniqueNamesOnClashes_data()
{
    QTest::addColumn<QStringList>("onDisk");
    QTest::addColumn<bool>("chosen");
    QTest::addColumn<int>("copies");
    QTest::addColumn<QStringList>("names");
    const QString name = QStringLiteral("Till 1 hold-20210601_115830-20210601_120130");
    QTest::newRow("the same window twice") << QStringList() << false << 2 << QStringList { name, name + " (2)" };
    QTest::newRow("a file of an earlier package on disk")
        << QStringList { name + ".sha256", name + " (2).original.mkv" } << false << 1 << QStringList { name + " (3)" };
    QTest::newRow("chosen name already queued") << QStringList() << true << 2 << QStringList { "mine", "mine (2)" };
    // The save dialog asked before the video was replaced; the remains of a package without it were not asked about.
    QTest::newRow("chosen video on disk")
        << QStringList { "mine.mp4", "mine.ass" } << true << 1 << QStringList { "mine" };
    QTest::newRow("chosen name, only its script on disk")
        << QStringList { "mine.ass" } << true << 1 << QStringList { "mine (2)" };
}

void TestExportJob::uniqueNamesOnClashes()
{
    QFETCH(QStringList, onDisk);
    QFETCH(bool, chosen);
    QFETCH(int, copies);
    QFETCH(QStringList, names);
    for (const QString &file : onDisk)
        QVERIFY(writeFile(m_work->filePath("out/" + file), "earlier"));
    installStandIn(QByteArray(kLogged) + kWorks);
    ExportController controller;
    ExportQueue *queue = controller.queue();
    // Keeps the others waiting until the end.
    QVERIFY(controller.start(order("out/blocker hold.mp4")));
    for (int i = 0; i < copies; ++i) {
        ExportOrder mine = order("out/mine.mp4");
        mine.camera = Hold;
        QVERIFY(chosen
                ? controller.start(mine)
                : controller.startBatch(receipts(1), QList<StreamData> { Hold }, false, m_work->filePath("out")) == 1);
    }
    QStringList seen;
    for (int row = 1; row < queue->rowCount(); ++row)
        seen << QFileInfo(queue->jobAt(row)->videoPath()).completeBaseName();
    QCOMPARE(seen, names);

    // A name that was free when asked for but taken by the time its job starts: the next counter.
    QVERIFY(controller.startBatch(receipts(2).mid(1), QList<StreamData> { Hold }, false, m_work->filePath("out")));
    const QString later = "Till 1 hold-20210601_120830-20210601_121130";
    QCOMPARE(QFileInfo(queue->jobAt(copies + 1)->videoPath()).completeBaseName(), later);
    QVERIFY(writeFile(m_work->filePath("out/" + later + ".mp4"), "someone else's"));
    QSignalSpy drained(queue, &ExportQueue::drained);
    QVERIFY(writeFile("go", "go"));
    QVERIFY(drained.wait(30000));
    QCOMPARE(QFileInfo(queue->jobAt(copies + 1)->videoPath()).completeBaseName(), later + " (2)");
    QCOMPARE(readFile(m_work->filePath("out/" + later + ".mp4")), QByteArray("someone else's"));
    // Nothing written before was replaced, but the package whose video the save dialog asked about.
    for (const QString &file : onDisk) {
        if (!names.contains(file.section('.', 0, 0)))
            QCOMPARE(readFile(m_work->filePath("out/" + file)), QByteArray("earlier"));
    }
    QCOMPARE(queue->doneCount(), queue->rowCount());
}

void TestExportJob::nextExportUsesTheAccountOfTheSettings()
{
    // The exports share their network access; what it remembers of one login must not serve the next.
    m_vms->requireAuth(httpauth::Scheme::Basic, "admin", Password.toStdString());
    ExportController controller;
    ExportJob *job = run(controller, order("out/first.mp4"));
    QVERIFY(job && job->state() == ExportJob::Done);
    const size_t before = m_vms->requestCount();
    m_vms->requireAuth(httpauth::Scheme::Basic, "clerk", "N3w:pass");
    m_state.setUser("clerk");
    m_state.setPassword("N3w:pass");
    job = run(controller, order("out/second.mp4"));
    QVERIFY(job);
    QCOMPARE(job->state(), ExportJob::Done);
    const std::string oldAccount = "Basic " + QByteArray("admin:" + Password.toUtf8()).toBase64().toStdString();
    const auto requests = m_vms->requests();
    QVERIFY(requests.size() > before);
    for (size_t i = before; i < requests.size(); ++i)
        QVERIFY2(requests[i].authorization != oldAccount, requests[i].target.c_str());
}

void TestExportJob::noStaleSignalReachesTheNext()
{
    installStandIn(QByteArray(kLogged) + kWorks);
    // The first job's clip stalls half way; it is cancelled there, and its server lets go later.
    TestServer::Reply stalled { 200, m_clip };
    stalled.stallAfter = 100 * 1024;
    m_vms->route(clipPath(), stalled);
    m_vms->route("/hls/{cam-2}.mkv", TestServer::Reply { 200, m_clip });
    ExportController controller;
    ExportQueue *queue = controller.queue();
    ExportOrder first = order("out/first.mp4");
    QVERIFY(controller.start(first));
    ExportOrder second = order("out/second hold.mp4");
    second.camera = Second;
    QVERIFY(controller.start(second));
    ExportJob *firstJob = queue->jobAt(0);
    ExportJob *secondJob = queue->jobAt(1);
    QCOMPARE(controller.job(), firstJob);
    QTRY_VERIFY(QFileInfo(firstJob->paths().original).size() > 0);

    QSignalSpy firstChanged(firstJob, &ExportJob::stateChanged);
    QSignalSpy firstProgress(firstJob, &ExportJob::progressChanged);
    QSignalSpy followedEnded(&controller, &ExportController::jobEnded);
    QSignalSpy background(&controller, &ExportController::backgroundEnded);
    queue->cancel(0);
    QCOMPARE(followedEnded.count(), 1);
    QTRY_COMPARE(secondJob->state(), ExportJob::Encoding);
    QSignalSpy rows(queue, &QAbstractItemModel::dataChanged);
    m_vms->releaseStalled();
    QSignalSpy secondEnded(secondJob, &ExportJob::ended);
    QVERIFY(writeFile("go", "go"));
    QVERIFY(secondEnded.wait(30000));

    // By the time the second has ended, the first has heard nothing more, and nor has its row.
    QCOMPARE(firstChanged.count(), 1);
    QCOMPARE(firstProgress.count(), 0);
    QCOMPARE(firstJob->state(), ExportJob::Cancelled);
    for (const QList<QVariant> &change : rows)
        QCOMPARE(change.at(0).toModelIndex().row(), 1);
    QCOMPARE(secondJob->state(), ExportJob::Done);
    QCOMPARE(secondJob->percent(), 100);
    // The page followed only the first; the second is reported as one of the background's.
    QCOMPARE(followedEnded.count(), 1);
    QCOMPARE(background.count(), 1);
    QCOMPARE(background.at(0).at(0).toString(), "Exports ended: 1 finished, 0 failed, 0 cancelled.");
    QCOMPARE(packageFiles(),
        QStringList({ "second hold.ass", "second hold.manifest.json", "second hold.mp4", "second hold.original.mkv",
            "second hold.sha256" }));
    QCOMPARE(readFile(secondJob->paths().original), m_clip);
}

void TestExportJob::suggestedFileIsSafe_data()
{
    QTest::addColumn<QString>("camera");
    QTest::addColumn<bool>("videosFolder");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain, in Videos") << "Entrance" << true << "Entrance-20210601_115830-20210601_120130";
    QTest::newRow("marks of Windows paths, no Videos")
        << "Till 1/2: \"east\" <*?|\\>" << false << "Till 1_2_ _east_ ______-20210601_115830-20210601_120130";
    QTest::newRow("control characters") << QString("A\tB\x01") << true << "A_B_-20210601_115830-20210601_120130";
}

void TestExportJob::suggestedFileIsSafe()
{
    QFETCH(QString, camera);
    QFETCH(bool, videosFolder);
    QFETCH(QString, name);
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(m_work->path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_work->filePath("config")));
    if (videosFolder)
        QVERIFY(QDir().mkdir("Videos"));
    ExportController controller;
    const QDateTime local = ReceiptAt.toLocalTime();
    const QString suggested = controller.suggestedFile(camera, local.addSecs(-90), local.addSecs(90));
    qputenv("HOME", home);
    qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(suggested, QUrl::fromLocalFile(m_work->filePath(videosFolder ? "Videos/" + name : name)).toString());
}

void TestExportJob::textTrackAndChaptersAsPrinted()
{
    // What FFmpeg makes of the text track and the chapters: the receipts' own text, nothing taken for
    // markup, no entry cut short by an empty line.
    qputenv("PATH", m_path);
    if (QStandardPaths::findExecutable("ffmpeg").isEmpty())
        QSKIP("needs FFmpeg");
    const QDateTime start = ReceiptAt.addSecs(-90);
    QList<PosData> receipts;
    const QStringList texts { "A {PROMO} B\n\n   \nC:\\NEW <b>x</b> {\\b1}y{\\b0} {Y:i}\n--> 1 = 2; #3",
        "SECOND = 2; #3 \\ x\r\nTOTAL", "SAME TIME" };
    for (int i = 0; i < texts.size(); ++i) {
        PosData receipt;
        receipt.content = texts.at(i);
        receipt.createdAt = start.addSecs(i == 0 ? 30 : 60);
        receipts << receipt;
    }
    QVERIFY(writeFile("track.srt", receiptsTrack(start, 180000, receipts)));
    QVERIFY(writeFile("chapters.txt", receiptChapters(start, 180000, receipts)));
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
        { "-v", "error", "-y", "-f", "lavfi", "-i", "color=s=64x36:d=180", "-f", "srt", "-i", "track.srt", "-f",
            "ffmetadata", "-i", "chapters.txt", "-map", "0:v", "-map", "1:0", "-map_chapters", "2", "-c:v", "libx264",
            "-preset", "ultrafast", "-c:s", "mov_text", "out.mp4" });
    QVERIFY(ffmpeg.waitForFinished(60000));
    QVERIFY2(ffmpeg.exitCode() == 0, ffmpeg.readAllStandardError().constData());

    // A mov_text sample is a 16-bit length and the text; the word joiners are all that was added.
    ffmpeg.start("ffmpeg", { "-v", "error", "-i", "out.mp4", "-map", "0:s", "-c", "copy", "-f", "data", "-" });
    QVERIFY(ffmpeg.waitForFinished(60000));
    const QByteArray samples = ffmpeg.readAllStandardOutput();
    QStringList shown;
    for (int at = 0; at + 2 <= samples.size();) {
        const int length = (uchar(samples.at(at)) << 8) | uchar(samples.at(at + 1));
        // (Empty samples fill the gaps between entries.)
        if (length > 0)
            shown << QString::fromUtf8(samples.mid(at + 2, length)).remove(QChar(0x2060)).replace(QChar(0xA0), "");
        at += 2 + length;
        while (at + 8 <= samples.size() && samples.mid(at + 4, 4) == "styl")
            at += (uchar(samples.at(at + 2)) << 8) | uchar(samples.at(at + 3));
    }
    QCOMPARE(
        shown, QStringList({ QString(texts.at(0)).replace("   ", ""), "SECOND = 2; #3 \\ x\nTOTAL\n\nSAME TIME" }));

    QProcess probe;
    probe.start("ffprobe",
        { "-v", "error", "-show_entries", "chapter=start_time:chapter_tags=title", "-of", "json", "out.mp4" });
    QVERIFY(probe.waitForFinished(60000));
    QStringList chapters;
    for (const QJsonValue &chapter : QJsonDocument::fromJson(probe.readAllStandardOutput())["chapters"].toArray())
        chapters << chapter["start_time"].toString().left(6) + " " + chapter["tags"]["title"].toString();
    const QString first = start.addSecs(30).toLocalTime().toString("HH:mm:ss");
    const QString second = start.addSecs(60).toLocalTime().toString("HH:mm:ss");
    QCOMPARE(chapters,
        QStringList({ "0.0000 Start of the clip", "30.000 " + first + " A {PROMO} B",
            "60.000 " + second + " SECOND = 2; #3 \\ x | " + second + " SAME TIME" }));
}

void TestExportJob::fetchedClipCopiedOnlyWhenItChecksOut_data()
{
    QTest::addColumn<QString>("offered");
    QTest::addColumn<bool>("copied");
    QTest::addColumn<bool>("noted");
    QTest::newRow("the same request, whole") << "same" << true << false;
    QTest::newRow("changed after it was hashed") << "changed" << false << true;
    QTest::newRow("gone") << "gone" << false << true;
    QTest::newRow("another window") << "other" << false << false;
}

void TestExportJob::fetchedClipCopiedOnlyWhenItChecksOut()
{
    QFETCH(QString, offered);
    QFETCH(bool, copied);
    QFETCH(bool, noted);
    // What the player holds: the server's bytes, hashed as they arrived.
    const QString playerFile = m_work->filePath("tillmark-clip-test.mkv");
    QByteArray held = m_clip;
    if (offered == "changed")
        held[held.size() / 2] = char(held.at(held.size() / 2) ^ 1);
    if (offered != "gone")
        QVERIFY(writeFile(playerFile, held));
    const qint64 startMs = ReceiptAt.toMSecsSinceEpoch() - 90000 + (offered == "other" ? 1000 : 0);
    ExportController controller;
    controller.offerFetchedClip(
        { VmsClient::shared()->clipUrl(Camera, startMs, 180, false), playerFile, Sha256::ofBytes(m_clip), QString() });

    ExportJob *job = run(controller, order());
    QVERIFY(job);
    QCOMPARE(job->state(), ExportJob::Done);
    // Either way the original is the server's clip, and the package checks out.
    QCOMPARE(readFile(job->paths().original), m_clip);
    QCOMPARE(clipFetches(), copied ? 0 : 1);
    const QJsonObject manifest = QJsonDocument::fromJson(readFile(job->paths().manifest)).object();
    const QJsonObject source = manifest["originalSource"].toObject();
    QCOMPARE(source["kind"].toString(), copied ? QString("player") : QString("server"));
    QCOMPARE(source.contains("playerClipNotUsed") && !source["playerClipNotUsed"].isNull(), noted);
    QCOMPARE(manifest["files"][0]["sha256"].toString(), Sha256::ofBytes(m_clip));
    QProcess check;
    check.setWorkingDirectory(m_work->filePath("out"));
    check.start("sha256sum", { "-c", "Till 1.sha256" });
    QVERIFY(check.waitForFinished(10000));
    QCOMPARE(check.exitCode(), 0);
    // The player's file is the player's: the export took a copy.
    QCOMPARE(QFile::exists(playerFile), offered != "gone");
}

void TestExportJob::explicitWindowHasNoChosenReceipt()
{
    ExportController controller;
    const QDateTime from = ReceiptAt.addSecs(-120);
    const QDateTime to = ReceiptAt.addSecs(60);
    QSignalSpy refused(&controller, &ExportController::refused);
    QVERIFY(!controller.exportWindow(Camera, "Till 1 Overhead", to, from, true, m_work->filePath("out/none.mp4")));
    QCOMPARE(refused.count(), 1);

    QSignalSpy ended(&controller, &ExportController::jobEnded);
    QVERIFY(controller.exportWindow(Camera, "Till 1 Overhead", from, to, true, m_work->filePath("out/window.mp4")));
    QVERIFY(ended.wait(20000));
    ExportJob *job = controller.job();
    QCOMPARE(job->state(), ExportJob::Done);
    QCOMPARE(controller.queue()->get(0).value("receiptTime").toDateTime(), from);

    // The window asked for, from both servers; every receipt of the camera in it, none chosen.
    const auto clip = m_vms->requests().back();
    QCOMPARE(clip.params.find("pos")->second, std::to_string(from.toMSecsSinceEpoch()));
    QCOMPARE(clip.params.find("duration")->second, std::string("180"));
    QCOMPARE(clip.params.find("hi")->second, std::string("1"));
    QCOMPARE(m_pos->requests().back().params.find("received_at__range_after")->second,
        from.toString(Qt::ISODateWithMs).toStdString());
    const QJsonObject manifest = QJsonDocument::fromJson(readFile(job->paths().manifest)).object();
    QVERIFY(manifest["chosenReceipt"].isNull());
    QCOMPARE(manifest["window"]["startUtc"].toString(), from.toString(Qt::ISODateWithMs));
    QCOMPARE(manifest["receipts"].toArray().size(), 2);
}

QTEST_GUILESS_MAIN(TestExportJob)
#include "tst_exportjob.moc"
