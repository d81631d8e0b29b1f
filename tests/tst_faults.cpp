#include "app/startup.h"
#include "core/appstate.h"
#include "core/logfile.h"
#include "core/utils.h"
#include "export/merger.h"
#include "net/request.h"
#include "net/vmsclient.h"
#include "pos/posdownloader.h"
#include "pos/possearching.h"
#include "simdata.h"
#include "simprocess.h"
#include "testserver.h"
#include "testutil.h"
#include "vms/apicall.h"
#include "vms/recordingslist.h"
#include "vms/streamslist.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool RunsUnderAddressSanitizer = true;
#else
constexpr bool RunsUnderAddressSanitizer = false;
#endif

// The simulated site of every test: two days of data up to this moment, site time UTC.
const QString Now = QStringLiteral("2025-11-05T15:00:00Z");
const QStringList SiteArguments { "--seed", "7", "--days", "2", "--now", Now, "--tz-offset-ms", "0" };
const QDate Day(2025, 11, 4);

simdata::Site expectedSite()
{
    simdata::Config config;
    config.seed = 7;
    config.days = 2;
    config.nowMs = QDateTime::fromString(Now, Qt::ISODate).toMSecsSinceEpoch();
    return simdata::Site::generate(config);
}

/// Every request a page can start, one per client object.
enum class Client { Login, Timezone, Download, Cameras, Periods, Search, Window };

QString pathOf(Client client)
{
    switch (client) {
    case Client::Login:
        return "/api/statistics";
    case Client::Timezone:
        return "/api/getTime";
    case Client::Download:
        return "/hls/*";
    case Client::Cameras:
        return "/ec2/getCamerasEx";
    case Client::Periods:
        return "/ec2/recordedTimePeriods";
    case Client::Search:
    case Client::Window:
        return "/poses/";
    }
    return QString();
}

const char *nameOf(Client client)
{
    static const char *const names[] = { "login", "server time", "clip download", "camera list", "recorded periods",
        "POS search", "POS window download" };
    return names[int(client)];
}

/// What the operator is left with once a request has ended: the texts the page would show in its
/// message box, what the object announced as done, and whether its busy flag came down.
struct Outcome {
    QStringList errors;
    QStringList done;
    bool ended = false;
    bool stillBusy = false;
    int rows = -1;
    qint64 elapsedMs = 0;
};

/// What a request asks for: a camera and a day of the simulated site.
struct Target {
    QString cameraId = QStringLiteral("{00000000-0000-0000-0000-000000000000}");
    QString searchText = QStringLiteral("SALT");
};

/// A path no test scripts: the servers answer it at once, whatever they do to the others.
const QString LaterPath = QStringLiteral("/later");

/// Asks base for LaterPath on a connection of its own and waits for the answer, whatever it is: a
/// stray second report of a request that had already ended would be in by then.
bool waitForALaterReply(const QString &base)
{
    QNetworkAccessManager manager;
    const std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(base + LaterPath))));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    return finished.wait(30000);
}

/// Starts the request of one client as its page does and runs the event loop until it has ended
/// (or the time is up), then until a later reply from the same server, so that a second, stray
/// report would be seen too.
Outcome run(Client client, const Target &target = {}, int timeoutMs = 30000)
{
    Outcome out;
    std::unique_ptr<QObject> object;
    std::function<bool()> ended;
    std::function<bool()> busy = [] { return false; };
    std::function<int()> rows;
    const auto onError = [&out](const QString &message) { out.errors << message; };

    switch (client) {
    case Client::Login:
    case Client::Timezone:
    case Client::Download: {
        auto *api = new ApiCall;
        object.reset(api);
        QObject::connect(api, &ApiCall::errorOccured, onError);
        QObject::connect(api, &ApiCall::loggedIn, [&out] { out.done << "loggedIn"; });
        QObject::connect(api, &ApiCall::timezoneReceived, [&out] { out.done << "timezoneReceived"; });
        QObject::connect(
            api, &ApiCall::downloadComplete, [&out](const QString &path) { out.done << "complete:" + path; });
        if (client == Client::Login) {
            api->testLogin();
            busy = [api] { return api->isLoggingIn(); };
        } else if (client == Client::Timezone) {
            api->fetchTimezone();
        } else {
            api->download(target.cameraId, QDateTime(Day, QTime(10, 0), Qt::UTC).toSecsSinceEpoch(), 4);
            busy = [api] { return api->isDownloading(); };
        }
        break;
    }
    case Client::Cameras: {
        auto *cameras = new StreamsList;
        object.reset(cameras);
        QObject::connect(cameras, &StreamsList::errorOccured, onError);
        QObject::connect(cameras, &StreamsList::modelReset, [&out] { out.done << "reset"; });
        cameras->loadStreams();
        busy = [cameras] { return cameras->isLoading(); };
        rows = [cameras] { return cameras->rowCount(); };
        break;
    }
    case Client::Periods: {
        auto *periods = new RecordingsList;
        object.reset(periods);
        QObject::connect(periods, &RecordingsList::errorOccured, onError);
        QObject::connect(periods, &RecordingsList::loadingFinished, [&out] { out.done << "loadingFinished"; });
        periods->loadRecordingsOfDay(target.cameraId, Day);
        rows = [periods] { return periods->count(); };
        break;
    }
    case Client::Search: {
        auto *search = new PosSearching;
        object.reset(search);
        QObject::connect(search, &PosSearching::errorOccured, onError);
        QObject::connect(search, &PosSearching::modelReset, [&out] { out.done << "reset"; });
        search->searchByContent(target.searchText);
        busy = [search] { return search->isLoading(); };
        rows = [search] { return search->rowCount(); };
        break;
    }
    case Client::Window: {
        auto *window = new PosDownloader;
        object.reset(window);
        QObject::connect(window, &PosDownloader::errorOccured, onError);
        QObject::connect(window, &PosDownloader::posDownloaded, [&out] { out.done << "posDownloaded"; });
        const QDateTime at(Day, QTime(12, 0), Qt::UTC);
        window->downloadByISODate(at.addSecs(-90), at.addSecs(90), target.cameraId);
        break;
    }
    }
    ended = [&out, &busy] { return !busy() && (!out.errors.isEmpty() || !out.done.isEmpty()); };

    QElapsedTimer timer;
    timer.start();
    while (!ended() && timer.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    out.elapsedMs = timer.elapsed();
    const bool toPos = client == Client::Search || client == Client::Window;
    out.ended = ended() && waitForALaterReply(toPos ? AppState::get()->posBase() : AppState::get()->base());
    out.stillBusy = busy();
    if (rows)
        out.rows = rows();
    return out;
}

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

/// Starts the count of peak resident memory afresh from the present use.
void resetPeakResident()
{
    writeFile("/proc/self/clear_refs", "5");
}

/// Peak resident memory of this process since the last reset, in bytes.
qint64 peakResidentBytes()
{
    const QList<QByteArray> lines = readFile("/proc/self/status").split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

/// This process's children that run the given program.
QList<pid_t> childrenNamed(const QByteArray &name)
{
    QList<pid_t> found;
    QDirIterator it("/proc", QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString dir = it.next();
        bool isPid = false;
        const pid_t pid = pid_t(it.fileName().toInt(&isPid));
        if (!isPid)
            continue;
        // "pid (comm) state ppid ..."; comm may hold blanks, so read from the last parenthesis.
        const QByteArray stat = readFile(dir + "/stat");
        const int open = stat.indexOf('(');
        const int close = stat.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> rest = stat.mid(close + 2).split(' ');
        if (stat.mid(open + 1, close - open - 1) == name && rest.value(1).toInt() == getpid())
            found << pid;
    }
    return found;
}

} // namespace

Q_DECLARE_METATYPE(Client)

/// The program against servers and disks that misbehave: every request of every client meets HTTP
/// errors, silence, cut and garbled bodies and a huge reply; the export meets a missing or killed FFmpeg;
/// the working directory refuses the files. After each, the object is idle again, the operator got the
/// message the page shows, and nothing claims a file complete that is not.
class TestFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void httpErrorOnEveryRequest_data();
    void httpErrorOnEveryRequest();
    void silentServerOnEveryRequest_data();
    void silentServerOnEveryRequest();
    void randomBytesOnEveryReader_data();
    void randomBytesOnEveryReader();
    void hugeReply_data();
    void hugeReply();

    void clipCutMidBody_data();
    void clipCutMidBody();
    void unwritableWorkingDirectory_data();
    void unwritableWorkingDirectory();
    void ffmpegMissing();
    void ffmpegKilledMidExport();

    void searchTextCannotAddQueryItems_data();
    void searchTextCannotAddQueryItems();

private:
    /// Points the settings at the simulator.
    void useServers(const SimProcess &sim);
    /// The camera list of the simulated site, with the one that records around the clock.
    QString continuousCamera() const;

    AppState m_state;
    Utils m_utils;
    simdata::Site m_site;
};

void TestFaults::initTestCase()
{
    SimProcess::beforeStop() = closeServerConnections;
    qputenv("TZ", "UTC");
    tzset();
    m_site = expectedSite();
    QVERIFY(!m_site.cameras().isEmpty());
    connectVideoUrls(m_utils, VmsClient::shared());
}

void TestFaults::init()
{
    m_state.setUser("admin");
    m_state.setPassword("Pelmo4826");
    Request::setTransferTimeoutMs(60000);
}

void TestFaults::cleanup()
{
    Request::setTransferTimeoutMs(60000);
}

void TestFaults::useServers(const SimProcess &sim)
{
    m_state.setBase(sim.vmsBase());
    m_state.setPosBase(sim.posBase());
}

QString TestFaults::continuousCamera() const
{
    for (const simdata::Camera &camera : m_site.cameras()) {
        if (camera.continuous)
            return camera.id;
    }
    return m_site.cameras().constFirst().id;
}

void TestFaults::httpErrorOnEveryRequest_data()
{
    QTest::addColumn<Client>("client");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    for (const Client client : { Client::Login, Client::Timezone, Client::Download, Client::Cameras, Client::Periods,
             Client::Search, Client::Window }) {
        // A 401 refuses the request outright: there is no challenge to answer.
        const QString refused = client == Client::Login ? "Invalid credentials" : "requires authentication";
        QTest::addRow("%s, 401", nameOf(client)) << client << 401 << refused;
        QTest::addRow("%s, 404", nameOf(client)) << client << 404 << "Not Found";
        QTest::addRow("%s, 500", nameOf(client)) << client << 500 << "Internal Server Error";
    }
}

void TestFaults::httpErrorOnEveryRequest()
{
    QFETCH(Client, client);
    QFETCH(int, status);
    QFETCH(QString, message);
    WorkDir dir;
    SimProcess sim;
    QVERIFY(
        sim.start(SiteArguments + QStringList { "--fail", QStringLiteral("%1=%2").arg(pathOf(client)).arg(status) }));
    useServers(sim);
    Target target;
    target.cameraId = continuousCamera();

    const Outcome out = run(client, target);
    QVERIFY2(out.ended, "the request never ended");
    QVERIFY(!out.stillBusy);
    QCOMPARE(out.errors.size(), 1);
    QVERIFY2(out.errors.constFirst().contains(message), qPrintable(out.errors.constFirst()));
    QVERIFY2(out.done.isEmpty(), qPrintable(out.done.join(", ")));
    QVERIFY(!out.errors.constFirst().contains(m_state.password()));
    if (client == Client::Cameras || client == Client::Search || client == Client::Periods)
        QCOMPARE(out.rows, 0);
    if (client == Client::Download)
        QVERIFY(!m_state.currentFile());
    // The subtitle script is written only from a good reply.
    QVERIFY(!QFile::exists("sub.ass"));
}

void TestFaults::silentServerOnEveryRequest_data()
{
    QTest::addColumn<Client>("client");
    for (const Client client : { Client::Login, Client::Timezone, Client::Download, Client::Cameras, Client::Periods,
             Client::Search, Client::Window }) {
        QTest::newRow(nameOf(client)) << client;
    }
}

void TestFaults::silentServerOnEveryRequest()
{
    QFETCH(Client, client);
    WorkDir dir;
    SimProcess sim;
    QVERIFY(sim.start(SiteArguments + QStringList { "--stall", pathOf(client) }));
    useServers(sim);
    Request::setTransferTimeoutMs(1000);
    // The window keeps answering while the server says nothing.
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(50);

    const Outcome out = run(client);
    QVERIFY2(out.ended, "the request never ended");
    QVERIFY(!out.stillBusy);
    QVERIFY2(out.elapsedMs >= 900 && out.elapsedMs < 10000, qPrintable(QString::number(out.elapsedMs)));
    QVERIFY2(ticks >= int(out.elapsedMs / 50 / 2), qPrintable(QStringLiteral("%1 ticks").arg(ticks)));
    QCOMPARE(out.errors.size(), 1);
    QVERIFY2(out.errors.constFirst().contains("did not answer in time"), qPrintable(out.errors.constFirst()));
    QVERIFY(out.done.isEmpty());
    QVERIFY(!QFile::exists("sub.ass"));
    if (client == Client::Download) {
        QVERIFY(!m_state.currentFile());
        QCOMPARE(QFileInfo("download.mkv").size(), 0);
    }
}

void TestFaults::randomBytesOnEveryReader_data()
{
    QTest::addColumn<Client>("client");
    QTest::addColumn<QStringList>("done");
    QTest::newRow("login") << Client::Login << QStringList { "loggedIn" };
    QTest::newRow("server time") << Client::Timezone << QStringList { "timezoneReceived" };
    QTest::newRow("clip download") << Client::Download << QStringList { "complete:download.mkv" };
    QTest::newRow("camera list") << Client::Cameras << QStringList { "reset" };
    QTest::newRow("recorded periods") << Client::Periods << QStringList { "loadingFinished" };
    QTest::newRow("POS search") << Client::Search << QStringList { "reset" };
    QTest::newRow("POS window download") << Client::Window << QStringList { "posDownloaded" };
}

void TestFaults::randomBytesOnEveryReader()
{
    QFETCH(Client, client);
    QFETCH(QStringList, done);
    WorkDir dir;
    TestServer server;
    TestServer::Reply reply;
    reply.body = randomBytes(256 * 1024, 42);
    reply.contentType = "application/json";
    server.setDefault(reply);
    m_state.setBase(server.base());
    m_state.setPosBase(server.base());
    m_state.setTimezoneOffsetMS(12345);

    // A body that cannot be read is no error: the lists come out empty and the script holds no receipt.
    const Outcome out = run(client);
    QVERIFY(out.ended);
    QVERIFY(!out.stillBusy);
    QCOMPARE(out.errors, QStringList());
    QCOMPARE(out.done, done);
    if (out.rows >= 0)
        QCOMPARE(out.rows, 0);
    if (client == Client::Timezone)
        QCOMPARE(m_state.timezoneOffsetMS(), 0);
    if (client == Client::Download)
        QVERIFY(readFile("download.mkv") == reply.body);
    if (client == Client::Window)
        QCOMPARE(QString::fromUtf8(readFile("sub.ass")), _convertToAss(QDateTime::currentDateTimeUtc(), {}));
}

void TestFaults::hugeReply_data()
{
    QTest::addColumn<Client>("client");
    QTest::newRow("POS search, from the simulator") << Client::Search;
    QTest::newRow("camera list, from a scripted server") << Client::Cameras;
}

void TestFaults::hugeReply()
{
    QFETCH(Client, client);
    WorkDir dir;
    // Under AddressSanitizer, which checks the same code for memory errors, a tenth of it keeps the run short.
    const int target = (RunsUnderAddressSanitizer ? 10 : 100) * 1024 * 1024;
    // Distinct times, so that the order of the rows can be checked.
    const QDateTime first(Day, QTime(0, 0), Qt::UTC);
    QByteArray body;
    body.reserve(target + 4096);
    body += '[';
    int count = 0;
    while (body.size() < target) {
        if (count > 0)
            body += ',';
        if (client == Client::Search) {
            body += R"({"text":"SALT & PEPPER CRISPS\n1.99\nNO )" + QByteArray::number(count) + R"(","received_at":")"
                + first.addSecs(count).toString(Qt::ISODate).toLatin1()
                + R"(","device":{"name":"Till 1","streams":[{"nx_id":"{c0}","name":"Till 1 Overhead"}]}})";
        } else {
            body += R"({"id":"{00000000-0000-0000-0000-)" + QByteArray::number(count).rightJustified(12, '0')
                + R"(}","name":"Camera )" + QByteArray::number(count) + R"(","vendor":"Sim","status":"Online"})";
        }
        ++count;
    }
    body += ']';

    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TestServer> server;
    if (client == Client::Search) {
        QVERIFY(writeFile("receipts.json", body));
        body.clear();
        sim = std::make_unique<SimProcess>();
        QVERIFY(sim->start(SiteArguments + QStringList { "--receipts-file", "receipts.json" }, 120000));
        useServers(*sim);
    } else {
        server = std::make_unique<TestServer>();
        TestServer::Reply reply;
        reply.body = body;
        body.clear();
        server->setDefault(reply);
        server->route(LaterPath.toStdString(), TestServer::Reply());
        m_state.setBase(server->base());
    }

    resetPeakResident();
    const qint64 peakBefore = peakResidentBytes();
    Target what;
    what.searchText = "salt & pepper";
    const Outcome out = run(client, what, 240000);
    const qint64 peakAfter = peakResidentBytes();
    qInfo("%d records of about %d MB: peak resident memory %.0f MB before, %.0f MB after, in %.1f s", count,
        target / (1024 * 1024), peakBefore / 1048576.0, peakAfter / 1048576.0, out.elapsedMs / 1000.0);
    QVERIFY(out.ended);
    QVERIFY(!out.stillBusy);
    QCOMPARE(out.errors, QStringList());
    // The design reads every element: a large answer is an answer like any other.
    QCOMPARE(out.rows, count);
    // A parser that copied the body a few times over would show here; the reply, its text and the rows
    // together take a few hundred MB. (Under AddressSanitizer every allocation is padded and freed
    // memory is held back: there the figure is only reported.)
    if (!RunsUnderAddressSanitizer)
        QVERIFY2(peakAfter - peakBefore < qint64(1500) * 1024 * 1024, qPrintable(QString::number(peakAfter)));
}

void TestFaults::clipCutMidBody_data()
{
    QTest::addColumn<bool>("withLength");
    // The simulator renders clips as it streams them, in chunks, with no length announced ...
    QTest::newRow("rendered clip, no length") << false;
    // ... and serves a clip file with its length.
    QTest::newRow("clip file with its length") << true;
}

void TestFaults::clipCutMidBody()
{
    QFETCH(bool, withLength);
    WorkDir dir;
    QStringList arguments = SiteArguments + QStringList { "--cut-clip-after", "60000" };
    if (withLength) {
        QVERIFY(writeFile("served.mkv", randomBytes(400 * 1024, 7)));
        arguments << "--clip-file" << dir.filePath("served.mkv");
    }
    SimProcess sim;
    QVERIFY(sim.start(arguments));
    useServers(sim);
    Target target;
    target.cameraId = continuousCamera();

    const Outcome out = run(Client::Download, target, 60000);
    QVERIFY(out.ended);
    QVERIFY(!out.stillBusy);
    QVERIFY2(out.done.isEmpty(), "a cut clip was reported complete");
    QCOMPARE(out.errors.size(), 1);
    QVERIFY(!m_state.currentFile());
    // What arrived stays on disk for what it is worth, and is shorter than the whole.
    const qint64 kept = QFileInfo("download.mkv").size();
    QVERIFY2(kept > 0 && kept <= 60000, qPrintable(QString::number(kept)));
}

void TestFaults::unwritableWorkingDirectory_data()
{
    QTest::addColumn<bool>("fullDisk");
    // Tests run as root, for whom permission bits do not stop a write; what does stop one is a directory
    // where a file should be (the file cannot be opened) or a link to /dev/full (every write fails as on
    // a full disk).
    QTest::newRow("directories in the way") << false;
    QTest::newRow("full disk") << true;
}

void TestFaults::unwritableWorkingDirectory()
{
    QFETCH(bool, fullDisk);
    QVERIFY(!QStandardPaths::findExecutable("ffmpeg").isEmpty());
    WorkDir dir;
    for (const char *name : { "logs.txt", "download.mkv", "sub.ass", "export.mp4" }) {
        if (fullDisk)
            QVERIFY(QFile::link("/dev/full", name));
        else
            QVERIFY(QDir().mkdir(name));
    }
    // For a run that is not root, take the write permission too.
    QVERIFY(chmod(QFile::encodeName(dir.path()).constData(), 0555) == 0);
    const auto restore = qScopeGuard([&dir] { chmod(QFile::encodeName(dir.path()).constData(), 0755); });
    SimProcess sim;
    QVERIFY(sim.start(SiteArguments));
    useServers(sim);
    Target target;
    target.cameraId = continuousCamera();

    // The log: messages are lost, the program goes on.
    const QtMessageHandler previous = qInstallMessageHandler(myMessageOutput);
    qDebug("a message for a log that cannot be written");
    qInstallMessageHandler(previous);

    const Outcome download = run(Client::Download, target, 60000);
    QVERIFY(download.ended);
    QVERIFY(!download.stillBusy);
    QCOMPARE(download.done, QStringList());
    QCOMPARE(download.errors.size(), 1);
    QVERIFY2(download.errors.constFirst().contains(fullDisk ? "Writing \"download.mkv\" failed" : "Can't open file"),
        qPrintable(download.errors.constFirst()));

    const Outcome window = run(Client::Window, target);
    QVERIFY(window.ended);
    QCOMPARE(window.done, QStringList());
    QCOMPARE(window.errors.size(), 1);
    QVERIFY2(
        window.errors.constFirst().contains("Can't write the subtitle file"), qPrintable(window.errors.constFirst()));

    // FFmpeg cannot write the export either: a failure, never a finished export alone.
    Merger merger;
    QStringList events;
    connect(&merger, &Merger::errorOccured, [&events](const QString &m) { events << "error:" + m; });
    connect(&merger, &Merger::finished, [&events] { events << "finished"; });
    merger.setFilePath("export.mp4");
    const QDateTime from(Day, QTime(12, 0), Qt::UTC);
    merger.merge(m_utils.getVideoUrl(target.cameraId, from, from.addSecs(2)), "sub.ass");
    QTRY_VERIFY_WITH_TIMEOUT(events.contains("finished"), 60000);
    QCOMPARE(events.size(), 2);
    QVERIFY2(events.constFirst().startsWith("error:FFmpeg ended with exit code"), qPrintable(events.constFirst()));
    QVERIFY(QFileInfo("export.mp4").isSymLink() || QFileInfo("export.mp4").isDir());
    QVERIFY(!events.constFirst().contains(m_state.password()));
}

void TestFaults::ffmpegMissing()
{
    WorkDir dir;
    const QByteArray path = qgetenv("PATH");
    const auto restore = qScopeGuard([&path] { qputenv("PATH", path); });
    QVERIFY(QDir().mkdir("empty"));
    qputenv("PATH", QFile::encodeName(dir.filePath("empty")));
    SimProcess sim;
    QVERIFY(sim.start(SiteArguments));
    useServers(sim);

    // The whole export as the page chains it: the window's receipts, then the merge.
    const Outcome window = run(Client::Window);
    QCOMPARE(window.done, QStringList { "posDownloaded" });
    Merger merger;
    QStringList events;
    connect(&merger, &Merger::started, [&events] { events << "started"; });
    connect(&merger, &Merger::errorOccured, [&events](const QString &m) { events << "error:" + m; });
    connect(&merger, &Merger::finished, [&events] { events << "finished"; });
    merger.setFilePath("export.mp4");
    const QDateTime from(Day, QTime(12, 0), Qt::UTC);
    merger.merge(m_utils.getVideoUrl(continuousCamera(), from, from.addSecs(180)), "sub.ass");
    QTRY_VERIFY(!events.isEmpty());
    QVERIFY(waitForAnotherProcessToEnd());
    QCOMPARE(events, QStringList { "error:0" });
    QVERIFY(!QFile::exists("export.mp4"));
}

void TestFaults::ffmpegKilledMidExport()
{
    QVERIFY(!QStandardPaths::findExecutable("ffmpeg").isEmpty());
    WorkDir dir;
    SimProcess sim;
    QVERIFY(sim.start(SiteArguments));
    useServers(sim);
    QVERIFY(writeFile("sub.ass", _convertToAss(QDateTime::currentDateTimeUtc(), {}).toUtf8()));

    Merger merger;
    QStringList events;
    connect(&merger, &Merger::started, [&events] { events << "started"; });
    connect(&merger, &Merger::frameProcessed, [&events](const QString &) {
        if (!events.contains("frame"))
            events << "frame";
    });
    connect(&merger, &Merger::errorOccured, [&events](const QString &m) { events << "error:" + m; });
    connect(&merger, &Merger::finished, [&events] { events << "finished"; });
    merger.setFilePath(dir.filePath("export.mp4"));
    // Ten minutes of video: far more than the run gets to before it is killed.
    const QDateTime from(Day, QTime(12, 0), Qt::UTC);
    merger.merge(m_utils.getVideoUrl(continuousCamera(), from, from.addSecs(600)), "sub.ass");
    QTRY_VERIFY_WITH_TIMEOUT(events.contains("frame"), 60000);
    const QList<pid_t> ffmpeg = childrenNamed("ffmpeg");
    QCOMPARE(ffmpeg.size(), 1);
    QVERIFY(::kill(ffmpeg.constFirst(), SIGKILL) == 0);

    QTRY_VERIFY_WITH_TIMEOUT(events.contains("finished"), 20000);
    QVERIFY(waitForAnotherProcessToEnd());
    QCOMPARE(events, QStringList({ "started", "frame", "error:1", "finished" }));
    // What FFmpeg left is no playable file, and nothing said otherwise.
    QProcess probe;
    probe.start("ffprobe", { "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", "export.mp4" });
    QVERIFY(probe.waitForFinished(30000));
    QVERIFY2(probe.exitCode() != 0 || !QFile::exists("export.mp4"), probe.readAllStandardOutput().constData());
}

void TestFaults::searchTextCannotAddQueryItems_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("ampersand in the text") << "SALT & PEPPER";
    QTest::newRow("a query item after an ampersand") << "x&received_at__range_after=2000-01-01T00:00:00.000Z";
    QTest::newRow("a fragment") << "CRISPS#received_at__range_after=2000";
}

void TestFaults::searchTextCannotAddQueryItems()
{
    QFETCH(QString, text);
    SimProcess sim;
    QVERIFY(sim.start(SiteArguments));
    useServers(sim);

    // The simulator's answer to a pure text search, from the data it holds.
    int expected = 0;
    for (const simdata::Receipt &receipt : m_site.receipts())
        expected += receipt.text.contains(text, Qt::CaseInsensitive) ? 1 : 0;
    Target target;
    target.searchText = text;
    const Outcome out = run(Client::Search, target);
    QVERIFY(out.ended);
    QCOMPARE(out.errors, QStringList());
    QCOMPARE(out.rows, expected);
    if (text == "SALT & PEPPER")
        QVERIFY2(expected > 0, "the site holds receipts with SALT & PEPPER");
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
