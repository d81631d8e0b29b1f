#include "core/appstate.h"
#include "core/utils.h"
#include "net/request.h"
#include "testserver.h"
#include "testutil.h"
#include "vms/recordingslist.h"

#include <QAbstractItemModelTester>
#include <QTcpServer>
#include <QtTest>

#include <algorithm>

#include <ctime>
#include <memory>

using Scheme = httpauth::Scheme;
Q_DECLARE_METATYPE(httpauth::Scheme)

namespace {

const std::string kPath = "/ec2/recordedTimePeriods";

TestServer::Reply json(const QByteArray &body, int delayMs = 0)
{
    TestServer::Reply reply;
    reply.body = body;
    reply.delayMs = delayMs;
    return reply;
}

/// The rows as "start/duration".
QStringList rowsOf(const RecordingsList &list)
{
    QStringList rows;
    for (int i = 0; i < list.rowCount(); ++i) {
        const QModelIndex index = list.index(i);
        rows << QString::number(list.data(index, RecordingsList::StartRole).toULongLong()) + "/"
                + QString::number(list.data(index, RecordingsList::DurationRole).toInt());
    }
    return rows;
}

} // namespace

/// The recorded periods of a camera: every reply shape, the request sent, failures, and replies
/// that arrive after the operator has already asked for something else.
class TestRecordingsList : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void roles();
    void outOfRangeRowsAreEmpty();
    void getGivesTypedValues();

    void replyShapes_data();
    void replyShapes();
    void serverRefusalKeepsRows();
    void stillRecording_data();
    void stillRecording();
    void stillRecordingUpToTheLocalClock();
    void eachPeriodIsLogged();

    void dayRequest_data();
    void dayRequest();
    void windowRequest();

    void transferFailureKeepsRows_data();
    void transferFailureKeepsRows();
    void challengeAnswered_data();
    void challengeAnswered();
    void rejectedCredentials();

    void olderReplyIsDropped();
    void olderFailureIsDropped();
    void latestFailureIsReported();
    void sequentialLoadsEachFinish();

private:
    /// Loads the one-row starting set and forgets the events it caused.
    void preload(RecordingsList &list);
    /// Loads and waits for the outcome: loadingFinished or errorOccured.
    void loadAndWait(RecordingsList &list, const QString &id = "{cam}");
    /// Waits until the server has sent its answers to all the earlier loads, then loads three periods
    /// after them: what an earlier answer could still do to the list has been done by then.
    void loadAfterAnswers(RecordingsList &list, size_t answers);
    void record(RecordingsList &list);

    AppState m_state;
    Utils m_utils;
    std::unique_ptr<TestServer> m_server;
    QStringList m_events;
};

void TestRecordingsList::init()
{
    m_server = std::make_unique<TestServer>();
    m_state.setBase(m_server->base());
    m_state.setUser("admin");
    m_state.setPassword("Pelmo4826");
    m_events.clear();
    Request::setTransferTimeoutMs(60000);
}

void TestRecordingsList::cleanup()
{
    m_server.reset();
}

void TestRecordingsList::record(RecordingsList &list)
{
    connect(&list, &RecordingsList::errorOccured, this, [this](const QString &m) { m_events << "error:" + m; });
    connect(&list, &RecordingsList::modelReset, this, [this] { m_events << "reset"; });
    connect(&list, &RecordingsList::countChanged, this,
        [this, &list] { m_events << QString("count=%1").arg(list.count()); });
    connect(&list, &RecordingsList::loadingFinished, this, [this] { m_events << "finished"; });
}

void TestRecordingsList::loadAndWait(RecordingsList &list, const QString &id)
{
    QSignalSpy finished(&list, &RecordingsList::loadingFinished);
    QSignalSpy failed(&list, &RecordingsList::errorOccured);
    list.loadRecording(id, QDateTime::fromMSecsSinceEpoch(0, Qt::UTC), QDateTime::fromMSecsSinceEpoch(1000, Qt::UTC));
    QTRY_VERIFY_WITH_TIMEOUT(finished.count() + failed.count() > 0, 10000);
}

void TestRecordingsList::loadAfterAnswers(RecordingsList &list, size_t answers)
{
    QTRY_COMPARE_WITH_TIMEOUT(m_server->answeredCount(), answers, 10000);
    m_server->route(kPath, json(periodsBody({ { "7", "7" }, { "8", "8" }, { "9", "9" } })));
    loadAndWait(list, "later");
}

void TestRecordingsList::preload(RecordingsList &list)
{
    m_server->route(kPath, json(periodsBody({ { "1000", "2000" } })));
    loadAndWait(list);
    QCOMPARE(rowsOf(list), QStringList { "1000/2000" });
    m_server->reset();
    m_events.clear();
}

void TestRecordingsList::roles()
{
    RecordingsList list;
    const QHash<int, QByteArray> roles = list.roleNames();
    QCOMPARE(roles.size(), 2);
    QCOMPARE(roles.value(257), QByteArray("recStartMS"));
    QCOMPARE(roles.value(258), QByteArray("recDurationMS"));
    QCOMPARE(list.columnCount(), 1);
    QCOMPARE(list.count(), 0);
}

void TestRecordingsList::outOfRangeRowsAreEmpty()
{
    RecordingsList list;
    preload(list);
    for (int row : { -1, 1, 1000 }) {
        QCOMPARE(list.get(row), QVariantMap());
        const QVariant value = list.data(list.index(0).sibling(row, 0), RecordingsList::StartRole);
        QCOMPARE(value.userType(), int(QMetaType::QString));
        QCOMPARE(value.toString(), QString());
    }
    const QVariant display = list.data(list.index(0), Qt::DisplayRole);
    QCOMPARE(display.userType(), int(QMetaType::QString));
    QCOMPARE(display.toString(), QString());
}

void TestRecordingsList::getGivesTypedValues()
{
    m_server->route(kPath, json(periodsBody({ { "1620050400000", "60000" }, { "18446744073709551615", "5" } })));
    RecordingsList list;
    loadAndWait(list);
    QCOMPARE(list.count(), 2);
    const QVariantMap first = list.get(0);
    QCOMPARE(first.keys(), QStringList({ "recDurationMS", "recStartMS" }));
    QCOMPARE(first.value("recStartMS").userType(), int(QMetaType::ULongLong));
    QCOMPARE(first.value("recStartMS").toULongLong(), 1620050400000ull);
    QCOMPARE(first.value("recDurationMS").userType(), int(QMetaType::Int));
    QCOMPARE(first.value("recDurationMS").toInt(), 60000);
    // The whole unsigned range survives.
    QCOMPARE(list.get(1).value("recStartMS").toULongLong(), 18446744073709551615ull);
    QCOMPARE(list.data(list.index(0), 257), first.value("recStartMS"));
    QCOMPARE(list.data(list.index(0), 258), first.value("recDurationMS"));
}

void TestRecordingsList::replyShapes_data()
{
    // How each shape reads is the reader's (tst_common); here, that any of them replaces the rows.
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("one period") << periodsBody({ { "1620050400000", "60000" } })
                                << QStringList { "1620050400000/60000" };
    QTest::newRow("several periods") << periodsBody({ { "400", "40" }, { "300", "30" }, { "200", "20" } })
                                     << QStringList { "400/40", "300/30", "200/20" };
    QTest::newRow("empty reply") << QByteArray(R"({"error":"0","reply":[]})") << QStringList();
    QTest::newRow("not JSON") << QByteArray("Bad Gateway") << QStringList();
}

void TestRecordingsList::replyShapes()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, rows);
    RecordingsList list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    // Earlier rows must go, whatever the new body holds.
    preload(list);
    m_server->route(kPath, json(body));
    record(list);
    loadAndWait(list);
    QCOMPARE(rowsOf(list), rows);
    QCOMPARE(m_events, QStringList({ "reset", QString("count=%1").arg(rows.size()), "finished" }));
}

void TestRecordingsList::serverRefusalKeepsRows()
{
    RecordingsList list;
    preload(list);
    m_server->route(kPath,
        json(
            R"({"error":"1","errorString":"Camera not found","reply":[{"periods":[{"startTimeMs":"5","durationMs":"6"}]}]})"));
    record(list);
    loadAndWait(list);
    // The refusal is reported, the rows stay, and the page still hears that the load is over.
    QCOMPARE(m_events, QStringList({ "error:Camera not found", "count=1", "finished" }));
    QCOMPARE(rowsOf(list), QStringList { "1000/2000" });
}

void TestRecordingsList::stillRecording_data()
{
    QTest::addColumn<qint64>("startAgoMs");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("ten minutes ago") << Q_INT64_C(600000) << Q_INT64_C(600000);
    QTest::newRow("thirty days ago") << Q_INT64_C(30) * 24 * 3600 * 1000 << Q_INT64_C(2147483647);
    QTest::newRow("five seconds ahead") << Q_INT64_C(-5000) << Q_INT64_C(-5000);
}

void TestRecordingsList::stillRecording()
{
    QFETCH(qint64, startAgoMs);
    QFETCH(qint64, expected);
    const qint64 now = Q_INT64_C(1700000000000);
    const QByteArray start = QByteArray::number(now - startAgoMs);
    m_server->route(kPath, json(periodsBody({ { start, "-1" }, { "1000", "60000" } })));
    RecordingsList list;
    list.setClock([now] { return now; });
    loadAndWait(list);
    QCOMPARE(list.count(), 2);
    QCOMPARE(list.get(0).value("recStartMS").toULongLong(), start.toULongLong());
    QCOMPARE(qint64(list.get(0).value("recDurationMS").toInt()), expected);
    QCOMPARE(list.get(1).value("recDurationMS").toInt(), 60000);
}

void TestRecordingsList::stillRecordingUpToTheLocalClock()
{
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    m_server->route(kPath, json(periodsBody({ { QByteArray::number(before - 600000), "-1" } })));
    RecordingsList list;
    loadAndWait(list);
    const qint64 elapsed = QDateTime::currentMSecsSinceEpoch() - before;
    const qint64 duration = list.get(0).value("recDurationMS").toInt();
    QVERIFY2(duration >= 600000 && duration <= 600000 + elapsed,
        qPrintable(QString("%1 is not within %2 ms after 600000").arg(duration).arg(elapsed)));
}

void TestRecordingsList::eachPeriodIsLogged()
{
    ScopedTimeZone tz("UTC");
    m_server->route(kPath, json(periodsBody({ { "1620050706000", "3723004" }, { "0", "-61000" } })));
    RecordingsList list;
    QStringList messages;
    {
        DebugCapture capture;
        loadAndWait(list);
        messages = capture.messages();
    }
    QCOMPARE(messages.size(), 4);
    QVERIFY2(messages.at(0).contains("2021-05-03 14:05:06"), qPrintable(messages.at(0)));
    QCOMPARE(messages.at(1), QString("1 hours 2 minutes 3 seconds"));
    QVERIFY2(messages.at(2).contains("1970-01-01 00:00:00"), qPrintable(messages.at(2)));
    QCOMPARE(messages.at(3), QString("0 hours -1 minutes -1 seconds"));
}

void TestRecordingsList::dayRequest_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("cameraId");
    QTest::addColumn<QString>("startTime");
    QTest::addColumn<QString>("endTime");

    // 21:00 UTC of the day before, and one day less one millisecond later.
    QTest::newRow("three hours ahead") << QByteArray("Etc/GMT-3") << QDate(2021, 5, 3)
                                       << QString("{e3e9a385-7fe0-3ba5-5482-a86cde7faf48}") << QString("1619989200000")
                                       << QString("1620075599999");
    QTest::newRow("Kolkata") << QByteArray("Asia/Kolkata") << QDate(2021, 5, 3) << QString("cam-1")
                             << QString("1619980200000") << QString("1620066599999");
    QTest::newRow("Berlin, 23-hour day") << QByteArray("Europe/Berlin") << QDate(2021, 3, 28) << QString("{a}")
                                         << QString("1616886000000") << QString("1616968799999");
    QTest::newRow("Berlin, 25-hour day") << QByteArray("Europe/Berlin") << QDate(2021, 10, 31) << QString("{a}")
                                         << QString("1635631200000") << QString("1635721199999");
    QTest::newRow("UTC") << QByteArray("UTC") << QDate(2021, 5, 3) << QString("x y") << QString("1620000000000")
                         << QString("1620086399999");
}

void TestRecordingsList::dayRequest()
{
    QFETCH(QByteArray, zone);
    QFETCH(QDate, date);
    QFETCH(QString, cameraId);
    QFETCH(QString, startTime);
    QFETCH(QString, endTime);
    ScopedTimeZone tz(zone);
    m_server->route(kPath, json(periodsBody({})));
    RecordingsList list;
    QSignalSpy finished(&list, &RecordingsList::loadingFinished);
    list.loadRecordingsOfDay(cameraId, date);
    QVERIFY(finished.wait(10000));
    const auto requests = m_server->requests();
    QCOMPARE(requests.size(), size_t(1));
    const TestServer::Recorded &request = requests.front();
    QCOMPARE(request.method, std::string("GET"));
    QCOMPARE(request.path, kPath);
    const std::multimap<std::string, std::string> expected { { "cameraId", cameraId.toStdString() },
        { "startTime", startTime.toStdString() }, { "endTime", endTime.toStdString() }, { "desc", "1" } };
    QCOMPARE(request.params, expected);
    // The order of the query items is part of the request's form.
    const QString target = QString::fromStdString(request.target);
    QVERIFY2(target.startsWith("/ec2/recordedTimePeriods?cameraId="), qPrintable(target));
    QVERIFY2(target.endsWith(QString("&startTime=%1&endTime=%2&desc=1").arg(startTime, endTime)), qPrintable(target));
}

void TestRecordingsList::windowRequest()
{
    m_server->route(kPath, json(periodsBody({})));
    RecordingsList list;
    QSignalSpy finished(&list, &RecordingsList::loadingFinished);
    const QDateTime start(QDate(2021, 5, 3), QTime(14, 0), Qt::OffsetFromUTC, 2 * 3600);
    list.loadRecording("{c}", start, start.toUTC().addSecs(180));
    QVERIFY(finished.wait(10000));
    const auto params = m_server->requests().front().params;
    QCOMPARE(params.find("startTime")->second, std::string("1620043200000"));
    QCOMPARE(params.find("endTime")->second, std::string("1620043380000"));
}

void TestRecordingsList::transferFailureKeepsRows_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("stall");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("expected"); ///< part of the reported text

    QTest::newRow("not found") << 404 << false << false << QString("Not Found");
    QTest::newRow("server error") << 500 << false << false << QString("Internal Server Error");
    QTest::newRow("silent server") << 200 << true << false << QString("did not answer in time");
    QTest::newRow("nothing listening") << 200 << false << true << QString("refused");
}

void TestRecordingsList::transferFailureKeepsRows()
{
    QFETCH(int, status);
    QFETCH(bool, stall);
    QFETCH(bool, refused);
    QFETCH(QString, expected);
    RecordingsList list;
    preload(list);
    TestServer::Reply failing = json(periodsBody({ { "5", "6" } }));
    failing.status = status;
    failing.stall = stall;
    m_server->route(kPath, failing);
    if (stall)
        Request::setTransferTimeoutMs(300);
    if (refused) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        m_state.setBase(QString("http://127.0.0.1:%1").arg(closed.serverPort()));
        closed.close();
    }
    record(list);
    loadAndWait(list);
    QCOMPARE(m_events.size(), 1);
    QVERIFY2(m_events.at(0).startsWith("error:") && m_events.at(0).contains(expected, Qt::CaseInsensitive),
        qPrintable(m_events.at(0)));
    QCOMPARE(rowsOf(list), QStringList { "1000/2000" });
}

void TestRecordingsList::challengeAnswered_data()
{
    QTest::addColumn<Scheme>("scheme");
    QTest::newRow("basic") << Scheme::Basic;
    QTest::newRow("digest") << Scheme::Digest;
}

void TestRecordingsList::challengeAnswered()
{
    QFETCH(Scheme, scheme);
    m_server->requireAuth(scheme, "operator", "p@ss:word");
    m_server->route(kPath, json(periodsBody({ { "5", "6" } })));
    m_state.setUser("operator");
    m_state.setPassword("p@ss:word");
    RecordingsList list;
    record(list);
    // The test server reads the Digest "uri" percent-decoded, so an id that the query escapes
    // ({...}) would fail its check whatever the client does; such ids are covered by dayRequest.
    loadAndWait(list, "cam-1");
    QCOMPARE(m_events, QStringList({ "reset", "count=1", "finished" }));
    QCOMPARE(rowsOf(list), QStringList { "5/6" });
    // The periods were fetched with the account (over plain HTTP the client also asks once more without
    // it, to see which scheme the server wants).
    const auto requests = m_server->requests();
    QVERIFY(std::any_of(requests.cbegin(), requests.cend(),
        [](const TestServer::Recorded &request) { return request.path == kPath && !request.authorization.empty(); }));
}

void TestRecordingsList::rejectedCredentials()
{
    m_server->requireAuth(Scheme::Digest, "admin", "right");
    m_state.setPassword("wrong");
    RecordingsList list;
    record(list);
    loadAndWait(list);
    QCOMPARE(m_events.size(), 1);
    QVERIFY(m_events.at(0).startsWith("error:"));
    QCOMPARE(list.count(), 0);
}

void TestRecordingsList::olderReplyIsDropped()
{
    RecordingsList list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    // The operator picks camera A, the server is slow, and camera B is picked meanwhile.
    m_server->route(kPath, json(periodsBody({ { "111", "1" } }), 600));
    list.loadRecording("A", QDateTime::fromMSecsSinceEpoch(0, Qt::UTC), QDateTime::fromMSecsSinceEpoch(1, Qt::UTC));
    QTRY_COMPARE(m_server->requestCount(), size_t(1));
    m_server->route(kPath, json(periodsBody({ { "222", "2" }, { "223", "3" } })));
    record(list);
    list.loadRecording("B", QDateTime::fromMSecsSinceEpoch(0, Qt::UTC), QDateTime::fromMSecsSinceEpoch(1, Qt::UTC));
    QTRY_COMPARE_WITH_TIMEOUT(m_events.size(), 3, 10000);
    QCOMPARE(rowsOf(list), QStringList({ "222/2", "223/3" }));
    QCOMPARE(m_server->requests().back().params.find("cameraId")->second, std::string("B"));
    // The answer about A comes after the one about B and must change nothing.
    loadAfterAnswers(list, 2);
    QCOMPARE(m_events, QStringList({ "reset", "count=2", "finished", "reset", "count=3", "finished" }));
}

void TestRecordingsList::olderFailureIsDropped()
{
    RecordingsList list;
    TestServer::Reply silent;
    silent.stall = true;
    m_server->route(kPath, silent);
    Request::setTransferTimeoutMs(400);
    list.loadRecording("A", QDateTime::fromMSecsSinceEpoch(0, Qt::UTC), QDateTime::fromMSecsSinceEpoch(1, Qt::UTC));
    QTRY_COMPARE(m_server->requestCount(), size_t(1));
    m_server->route(kPath, json(periodsBody({ { "222", "2" } }), 100));
    record(list);
    list.loadRecording("B", QDateTime::fromMSecsSinceEpoch(0, Qt::UTC), QDateTime::fromMSecsSinceEpoch(1, Qt::UTC));
    QTRY_COMPARE_WITH_TIMEOUT(m_events.size(), 3, 10000);
    QCOMPARE(rowsOf(list), QStringList { "222/2" });
    // A third load, answered well after the first request's limit has passed, without a limit of its
    // own that could run out first: the first one's failure would be in before it.
    Request::setTransferTimeoutMs(60000);
    m_server->route(kPath, json(periodsBody({ { "7", "7" }, { "8", "8" }, { "9", "9" } }), 800));
    loadAndWait(list, "C");
    QCOMPARE(m_events, QStringList({ "reset", "count=1", "finished", "reset", "count=3", "finished" }));
}

void TestRecordingsList::latestFailureIsReported()
{
    RecordingsList list;
    preload(list);
    m_server->route(kPath, json(periodsBody({ { "111", "1" } }), 400));
    list.loadRecording("A", QDateTime::fromMSecsSinceEpoch(0, Qt::UTC), QDateTime::fromMSecsSinceEpoch(1, Qt::UTC));
    QTRY_COMPARE(m_server->requestCount(), size_t(1));
    TestServer::Reply failing;
    failing.status = 500;
    m_server->route(kPath, failing);
    record(list);
    list.loadRecording("B", QDateTime::fromMSecsSinceEpoch(0, Qt::UTC), QDateTime::fromMSecsSinceEpoch(1, Qt::UTC));
    QTRY_COMPARE_WITH_TIMEOUT(m_events.size(), 1, 10000);
    QVERIFY2(m_events.at(0).startsWith("error:"), qPrintable(m_events.at(0)));
    QCOMPARE(rowsOf(list), QStringList { "1000/2000" });
    // The answer about A comes after the failure and must change nothing.
    loadAfterAnswers(list, 2);
    QCOMPARE(m_events.mid(1), QStringList({ "reset", "count=3", "finished" }));
}

void TestRecordingsList::sequentialLoadsEachFinish()
{
    RecordingsList list;
    record(list);
    m_server->route(kPath, json(periodsBody({ { "1", "1" } })));
    loadAndWait(list, "A");
    m_server->route(kPath, json(periodsBody({})));
    loadAndWait(list, "B");
    m_server->route(kPath, json(periodsBody({ { "3", "3" }, { "4", "4" } })));
    loadAndWait(list, "A");
    QCOMPARE(m_events,
        QStringList(
            { "reset", "count=1", "finished", "reset", "count=0", "finished", "reset", "count=2", "finished" }));
    QCOMPARE(m_server->requestCount(), size_t(3));
}

QTEST_GUILESS_MAIN(TestRecordingsList)
#include "tst_recordingslist.moc"
