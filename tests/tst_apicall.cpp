#include "core/appstate.h"
#include "net/request.h"
#include "testserver.h"
#include "testutil.h"
#include "vms/apicall.h"

#include <QtTest>

#include <memory>
#include <random>

using Scheme = httpauth::Scheme;
Q_DECLARE_METATYPE(httpauth::Scheme)

/// The video server client: login test, server time and clip download, against a real HTTP server.
class TestApiCall : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void loginAccepted_data();
    void loginAccepted();
    void loginRejected_data();
    void loginRejected();
    void changedPasswordIsSentOnNextTry();
    void loginFailures_data();
    void loginFailures();
    void silentServerEndsWithError();

    void serverTime_data();
    void serverTime();
    void serverTimeTransferFailure();

    void downloadWritesBodyExactly_data();
    void downloadWritesBodyExactly();
    void downloadRequestForm();
    void downloadHttpErrorLeavesNoCompletion();
    void downloadCannotOpenFile();
    void downloadTruncatesEarlierFile();
    void downloadStopsWhenWriteFails();
    void downloadWhileRunningIsRefused();
    void downloadCutMidBody_data();
    void downloadCutMidBody();
    void slowSteadyDownloadIsNoStall();

private:
    /// Records every signal of the object, in order, as text.
    void record(ApiCall &api);

    AppState m_state;
    std::unique_ptr<TestServer> m_server;
    QStringList m_events;
};

void TestApiCall::init()
{
    m_server = std::make_unique<TestServer>();
    m_state.setBase(m_server->base());
    m_state.setUser("admin");
    m_state.setPassword("Pelmo4826");
    m_state.setTimezoneOffsetMS(0);
    m_events.clear();
    Request::setTransferTimeoutMs(60000);
}

void TestApiCall::cleanup()
{
    m_server.reset();
}

void TestApiCall::record(ApiCall &api)
{
    connect(&api, &ApiCall::errorOccured, this, [this](const QString &m) { m_events << "error:" + m; });
    connect(&api, &ApiCall::loggedIn, this, [this] { m_events << "loggedIn"; });
    connect(&api, &ApiCall::timezoneReceived, this, [this] { m_events << "timezone"; });
    connect(&api, &ApiCall::downloadComplete, this, [this](const QString &p) { m_events << "complete:" + p; });
    connect(&api, &ApiCall::authRequired, this, [this] { m_events << "auth"; });
    connect(&api, &ApiCall::isLoggingInChanged, this,
        [this, &api] { m_events << QString("loggingIn=%1").arg(api.isLoggingIn()); });
    connect(&api, &ApiCall::isDownloadingChanged, this,
        [this, &api] { m_events << QString("downloading=%1").arg(api.isDownloading()); });
}

void TestApiCall::loginAccepted_data()
{
    QTest::addColumn<Scheme>("scheme");
    QTest::newRow("basic") << Scheme::Basic;
    QTest::newRow("digest") << Scheme::Digest;
}

void TestApiCall::loginAccepted()
{
    QFETCH(Scheme, scheme);
    m_server->requireAuth(scheme, "admin", "Pelmo4826");
    ApiCall api;
    record(api);
    QSignalSpy done(&api, &ApiCall::isLoggingInChanged);
    api.testLogin();
    QVERIFY(api.isLoggingIn());
    QVERIFY(done.wait(10000));
    QVERIFY(!api.isLoggingIn());
    QCOMPARE(m_events, QStringList({ "loggingIn=1", "auth", "loggedIn", "loggingIn=0" }));
    QCOMPARE(m_server->requests().back().path, std::string("/api/statistics"));
}

void TestApiCall::loginRejected_data()
{
    loginAccepted_data();
}

void TestApiCall::loginRejected()
{
    QFETCH(Scheme, scheme);
    m_server->requireAuth(scheme, "admin", "other");
    ApiCall api;
    record(api);
    QSignalSpy done(&api, &ApiCall::isLoggingInChanged);
    api.testLogin();
    QVERIFY(done.wait(10000));
    QTRY_COMPARE(m_events.last(), QString("loggingIn=0"));
    QCOMPARE(m_events.filter("error:").size(), 1);
    QCOMPARE(m_events.filter("error:").first(), QString("error:Invalid credentials"));
    QVERIFY(!m_events.contains("loggedIn"));
    QVERIFY(m_events.indexOf("error:Invalid credentials") < m_events.indexOf("loggingIn=0"));
}

void TestApiCall::changedPasswordIsSentOnNextTry()
{
    m_server->requireAuth(Scheme::Basic, "admin", "right");
    m_state.setPassword("wrong");
    ApiCall api;
    record(api);
    QSignalSpy done(&api, &ApiCall::isLoggingInChanged);
    api.testLogin();
    QVERIFY(done.wait(10000));
    QVERIFY(m_events.contains("error:Invalid credentials"));

    m_events.clear();
    m_state.setPassword("right");
    api.testLogin();
    QVERIFY(done.wait(10000));
    QTRY_VERIFY(!api.isLoggingIn());
    QVERIFY(m_events.contains("loggedIn"));
    const std::string last = m_server->requests().back().authorization;
    QCOMPARE(QByteArray::fromBase64(QByteArray::fromStdString(last.substr(6))), QByteArray("admin:right"));
}

void TestApiCall::loginFailures_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expected");
    QTest::newRow("refused") << 0 << "Connection refused";
    QTest::newRow("404") << 404 << "Not Found";
    QTest::newRow("500") << 500 << "Internal Server Error";
}

void TestApiCall::loginFailures()
{
    QFETCH(int, status);
    QFETCH(QString, expected);
    if (status == 0) {
        const QString base = m_server->base();
        m_server.reset(); // nothing listens on that port any more
        m_state.setBase(base);
    } else {
        TestServer::Reply reply;
        reply.status = status;
        m_server->route("/api/statistics", reply);
    }
    ApiCall api;
    record(api);
    QSignalSpy errors(&api, &ApiCall::errorOccured);
    api.testLogin();
    QTRY_VERIFY_WITH_TIMEOUT(!api.isLoggingIn(), 10000);
    QCOMPARE(errors.count(), 1);
    const QString message = errors.first().first().toString();
    QVERIFY2(message.contains(expected), qPrintable(message));
    QVERIFY(!m_events.contains("loggedIn"));
}

void TestApiCall::silentServerEndsWithError()
{
    Request::setTransferTimeoutMs(400);
    TestServer::Reply stall;
    stall.stall = true;
    m_server->setDefault(stall);
    ApiCall api;
    record(api);
    api.testLogin();
    api.fetchTimezone();
    QTRY_VERIFY_WITH_TIMEOUT(m_events.filter("error:").size() == 2, 10000);
    QVERIFY(!api.isLoggingIn());
    for (const QString &e : m_events.filter("error:"))
        QVERIFY2(e.contains("did not answer in time"), qPrintable(e));
    QVERIFY(!m_events.contains("timezone"));
}

void TestApiCall::serverTime_data()
{
    // How each body reads is the reader's (tst_common); here, what the object does with the reading.
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QStringList>("events");
    const QStringList plain { "timezone" };
    QTest::newRow("offset stored") << QByteArray(R"({"error":"0","reply":{"timeZoneOffset":"10800000"}})") << 10800000
                                   << plain;
    QTest::newRow("server refuses, offset kept") << QByteArray(R"({"error":"2","errorString":"No such thing"})") << 777
                                                 << QStringList({ "error:No such thing", "timezone" });
    QTest::newRow("unreadable body stores 0") << QByteArray("hello") << 0 << plain;
}

void TestApiCall::serverTime()
{
    QFETCH(QByteArray, body);
    QFETCH(int, offset);
    QFETCH(QStringList, events);
    m_state.setTimezoneOffsetMS(777);
    TestServer::Reply reply;
    reply.body = body;
    m_server->route("/api/getTime", reply);
    ApiCall api;
    record(api);
    QSignalSpy received(&api, &ApiCall::timezoneReceived);
    api.fetchTimezone();
    QVERIFY(received.wait(10000));
    QCOMPARE(m_events, events);
    QCOMPARE(m_state.timezoneOffsetMS(), offset);
}

void TestApiCall::serverTimeTransferFailure()
{
    m_state.setTimezoneOffsetMS(5);
    TestServer::Reply reply;
    reply.status = 500;
    m_server->route("/api/getTime", reply);
    ApiCall api;
    record(api);
    QSignalSpy errors(&api, &ApiCall::errorOccured);
    api.fetchTimezone();
    QVERIFY(errors.wait(10000));
    // A later answer on the same connection to the server: a stray report of the failed request, or
    // an offset taken from it, would be in by then.
    QSignalSpy loggedIn(&api, &ApiCall::loggedIn);
    api.testLogin();
    QVERIFY(loggedIn.wait(10000));
    QCOMPARE(m_events.size(), 4);
    QVERIFY2(m_events.at(0).startsWith("error:"), qPrintable(m_events.at(0)));
    QCOMPARE(m_events.mid(1), QStringList({ "loggingIn=1", "loggedIn", "loggingIn=0" }));
    QCOMPARE(m_state.timezoneOffsetMS(), 5);
}

static QByteArray randomBytes(int size)
{
    std::mt19937 random(size);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random());
    return bytes;
}

void TestApiCall::downloadWritesBodyExactly_data()
{
    QTest::addColumn<bool>("withoutLength");
    QTest::newRow("with length") << false;
    QTest::newRow("without length") << true;
}

void TestApiCall::downloadWritesBodyExactly()
{
    QFETCH(bool, withoutLength);
    WorkDir dir;
    TestServer::Reply reply;
    reply.body = randomBytes(3 * 1024 * 1024 + 17);
    reply.withoutLength = withoutLength;
    reply.contentType = "video/x-matroska";
    m_server->setDefault(reply);
    ApiCall api;
    record(api);
    QSignalSpy progress(&api, &ApiCall::downloadProgress);
    QSignalSpy complete(&api, &ApiCall::downloadComplete);
    api.download("{cam}", 1617235200, 60);
    QVERIFY(api.isDownloading());
    QTRY_VERIFY_WITH_TIMEOUT(!api.isDownloading(), 20000);
    QCOMPARE(complete.count(), 1);
    QCOMPARE(complete.first().first().toString(), QString("download.mkv"));
    QCOMPARE(m_events.last(), QString("downloading=0"));
    QVERIFY(m_events.indexOf("complete:download.mkv") < m_events.indexOf("downloading=0"));
    QCOMPARE(readFile("download.mkv"), reply.body);
    QCOMPARE(m_state.currentFile(), nullptr);
    QVERIFY(progress.count() >= 1);
    for (const auto &args : progress)
        QCOMPARE(args.at(1).toLongLong(), withoutLength ? -1 : qlonglong(reply.body.size()));
    if (!withoutLength)
        QCOMPARE(progress.last().at(0).toLongLong(), qlonglong(reply.body.size()));
}

void TestApiCall::downloadRequestForm()
{
    WorkDir dir;
    ApiCall api;
    api.download("{8c1f-x}", 1617235200, 60);
    QTRY_VERIFY_WITH_TIMEOUT(!api.isDownloading(), 10000);
    api.downloadByDatetime("{8c1f-x}", QDateTime(QDate(2021, 4, 1), QTime(0, 0), Qt::UTC), 60);
    QTRY_VERIFY_WITH_TIMEOUT(!api.isDownloading(), 10000);
    const auto requests = m_server->requests();
    QCOMPARE(requests.size(), size_t(2));
    for (const auto &r : requests) {
        QCOMPARE(r.path, std::string("/hls/{8c1f-x}.mkv"));
        QCOMPARE(r.params.find("pos")->second, std::string("1617235200000"));
        QCOMPARE(r.params.find("duration")->second, std::string("60"));
        QCOMPARE(r.params.find("hi")->second, std::string("1"));
    }
}

void TestApiCall::downloadHttpErrorLeavesNoCompletion()
{
    WorkDir dir;
    TestServer::Reply reply;
    reply.status = 404;
    reply.body = "no such camera";
    m_server->setDefault(reply);
    ApiCall api;
    record(api);
    api.download("nope", 1, 60);
    QTRY_VERIFY_WITH_TIMEOUT(!api.isDownloading(), 10000);
    QCOMPARE(m_events.filter("complete:").size(), 0);
    QCOMPARE(m_events.filter("error:").size(), 1);
    QVERIFY(m_events.filter("error:").first().contains("Not Found"));
    QCOMPARE(m_state.currentFile(), nullptr);
}

void TestApiCall::downloadCannotOpenFile()
{
    WorkDir dir;
    QVERIFY(QDir().mkdir("download.mkv"));
    ApiCall api;
    record(api);
    api.download("cam", 1, 60);
    QCOMPARE(m_events, QStringList({ "error:Can't open file for writing" }));
    QVERIFY(!api.isDownloading());
    // The server's log after a later request: the clip was never asked for.
    QSignalSpy received(&api, &ApiCall::timezoneReceived);
    api.fetchTimezone();
    QVERIFY(received.wait(10000));
    const auto requests = m_server->requests();
    QCOMPARE(requests.size(), size_t(1));
    QCOMPARE(requests.front().path, std::string("/api/getTime"));
}

void TestApiCall::downloadTruncatesEarlierFile()
{
    WorkDir dir;
    QVERIFY(writeFile("download.mkv", QByteArray(100000, 'x')));
    TestServer::Reply reply;
    reply.body = "short clip";
    m_server->setDefault(reply);
    ApiCall api;
    api.download("cam", 1, 60);
    QTRY_VERIFY_WITH_TIMEOUT(!api.isDownloading(), 10000);
    QCOMPARE(readFile("download.mkv"), QByteArray("short clip"));
}

void TestApiCall::downloadStopsWhenWriteFails()
{
#ifdef Q_OS_LINUX
    WorkDir dir;
    // Every write to /dev/full fails as on a full disk.
    QVERIFY(QFile::link("/dev/full", "download.mkv"));
    TestServer::Reply reply;
    reply.body = randomBytes(8 * 1024 * 1024);
    reply.withoutLength = true;
    m_server->setDefault(reply);
    ApiCall api;
    record(api);
    api.download("cam", 1, 60);
    QTRY_VERIFY_WITH_TIMEOUT(!api.isDownloading(), 20000);
    QCOMPARE(m_events.filter("complete:").size(), 0);
    const QStringList errors = m_events.filter("error:");
    QCOMPARE(errors.size(), 1);
    QVERIFY2(
        errors.first().contains("download.mkv") && errors.first().contains("incomplete"), qPrintable(errors.first()));
    QCOMPARE(m_events.last(), QString("downloading=0"));
    QCOMPARE(m_state.currentFile(), nullptr);
#else
    QSKIP("needs /dev/full");
#endif
}

void TestApiCall::downloadWhileRunningIsRefused()
{
    WorkDir dir;
    TestServer::Reply reply;
    reply.body = "first clip";
    reply.delayMs = 500;
    m_server->setDefault(reply);
    ApiCall api;
    record(api);
    api.download("first", 1, 60);
    api.download("second", 2, 60);
    QCOMPARE(m_events.filter("error:").size(), 1);
    QVERIFY(m_events.filter("error:").first().contains("already running"));
    QVERIFY(api.isDownloading());
    QTRY_VERIFY_WITH_TIMEOUT(!api.isDownloading(), 10000);
    QCOMPARE(m_events.filter("complete:").size(), 1);
    QCOMPARE(readFile("download.mkv"), QByteArray("first clip"));
    QCOMPARE(m_server->requestCount(), size_t(1));
}

void TestApiCall::downloadCutMidBody_data()
{
    downloadWritesBodyExactly_data();
}

// A connection that drops mid-body must never leave a file that is reported as complete.
void TestApiCall::downloadCutMidBody()
{
    QFETCH(bool, withoutLength);
    WorkDir dir;
    TestServer::Reply reply;
    reply.body = randomBytes(2 * 1024 * 1024);
    reply.cutAfter = 300000;
    reply.withoutLength = withoutLength;
    m_server->setDefault(reply);
    ApiCall api;
    record(api);
    api.download("cam", 1, 60);
    QTRY_VERIFY_WITH_TIMEOUT(!api.isDownloading(), 20000);
    const QString detail = m_events.join(" | ") + QString(" file size %1").arg(readFile("download.mkv").size());
    QVERIFY2(m_events.filter("complete:").isEmpty(), qPrintable(detail));
    QCOMPARE(m_events.filter("error:").size(), 1);
    QVERIFY(readFile("download.mkv").size() < reply.body.size());
}

QTEST_GUILESS_MAIN(TestApiCall)
void TestApiCall::slowSteadyDownloadIsNoStall()
{
    // Ten pauses of a quarter of the limit: the whole transfer takes well over the limit, yet something
    // arrives within every stretch of it.
    WorkDir dir;
    Request::setTransferTimeoutMs(800);
    TestServer::Reply trickle;
    trickle.body = randomBytes(10 * 1024 + 5);
    trickle.chunkSize = 1024;
    trickle.chunkDelayMs = 200;
    trickle.contentType = "video/x-matroska";
    m_server->setDefault(trickle);
    ApiCall api;
    record(api);
    QElapsedTimer took;
    took.start();
    api.download("cam", 1, 60);
    QTRY_VERIFY_WITH_TIMEOUT(!api.isDownloading(), 20000);
    QVERIFY2(m_events.filter("error:").isEmpty(), qPrintable(m_events.join(", ")));
    QVERIFY(took.elapsed() > 800);
    QCOMPARE(readFile("download.mkv"), trickle.body);
}

#include "tst_apicall.moc"
