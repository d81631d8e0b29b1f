#include "core/appstate.h"
#include "net/request.h"
#include "testserver.h"
#include "vms/streamslist.h"

#include <QAbstractItemModelTester>
#include <QTcpServer>
#include <QtTest>

#include <algorithm>

#include <memory>

using Scheme = httpauth::Scheme;
Q_DECLARE_METATYPE(httpauth::Scheme)

namespace {

const std::string kPath = "/ec2/getCamerasEx";

TestServer::Reply json(const QByteArray &body, int delayMs = 0)
{
    TestServer::Reply reply;
    reply.body = body;
    reply.delayMs = delayMs;
    return reply;
}

/// The rows as "id|name", for comparing a whole list at once.
QStringList rowsOf(const StreamsList &list)
{
    QStringList rows;
    for (int i = 0; i < list.rowCount(); ++i) {
        const QModelIndex index = list.index(i);
        rows << list.data(index, StreamsList::IdRole).toString() + "|"
                + list.data(index, StreamsList::NameRole).toString();
    }
    return rows;
}

} // namespace

/// The camera list: every reply shape the server may send, failures, overlapping loads and the
/// loading flag, against a real HTTP server.
class TestStreamsList : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void roles();
    void outOfRangeRowsAreEmpty();

    void replyShapes_data();
    void replyShapes();
    void getGivesBothFieldsOfTheRow();
    void requestForm();

    void transferFailureKeepsRows_data();
    void transferFailureKeepsRows();

    void challengeAnswered_data();
    void challengeAnswered();
    void rejectedCredentials();

    void loadingFlagCountsOverlappingLoads();

private:
    /// Loads once and waits until the list is idle again.
    void loadAndWait(StreamsList &list);
    void record(StreamsList &list);

    AppState m_state;
    std::unique_ptr<TestServer> m_server;
    QStringList m_events;
};

void TestStreamsList::init()
{
    m_server = std::make_unique<TestServer>();
    m_state.setBase(m_server->base());
    m_state.setUser("admin");
    m_state.setPassword("Pelmo4826");
    m_events.clear();
    Request::setTransferTimeoutMs(60000);
}

void TestStreamsList::cleanup()
{
    m_server.reset();
}

void TestStreamsList::loadAndWait(StreamsList &list)
{
    list.loadStreams();
    QVERIFY(list.isLoading());
    QTRY_VERIFY_WITH_TIMEOUT(!list.isLoading(), 10000);
}

void TestStreamsList::record(StreamsList &list)
{
    connect(&list, &StreamsList::errorOccured, this, [this](const QString &m) { m_events << "error:" + m; });
    connect(&list, &StreamsList::modelReset, this, [this] { m_events << "reset"; });
    connect(&list, &StreamsList::isLoadingChanged, this,
        [this, &list] { m_events << QString("loading=%1").arg(list.isLoading()); });
}

void TestStreamsList::roles()
{
    StreamsList list;
    const QHash<int, QByteArray> roles = list.roleNames();
    QCOMPARE(roles.size(), 2);
    QCOMPARE(roles.value(257), QByteArray("strmName"));
    QCOMPARE(roles.value(258), QByteArray("strmId"));
    QCOMPARE(list.columnCount(), 1);
    QCOMPARE(list.rowCount(), 0);
    QVERIFY(!list.isLoading());
}

void TestStreamsList::outOfRangeRowsAreEmpty()
{
    m_server->route(kPath, json(R"([{"id":"a","name":"A"}])"));
    StreamsList list;
    loadAndWait(list);
    QCOMPARE(list.rowCount(), 1);
    for (int row : { -1, 1, 1000 }) {
        QCOMPARE(list.get(row), QVariantMap());
        const QVariant value = list.data(list.index(0).sibling(row, 0), StreamsList::NameRole);
        QCOMPARE(value.userType(), int(QMetaType::QString));
        QCOMPARE(value.toString(), QString());
    }
    const QVariant display = list.data(list.index(0), Qt::DisplayRole);
    QVERIFY(display.isValid());
    QCOMPARE(display.userType(), int(QMetaType::QString));
    QCOMPARE(display.toString(), QString());
}

void TestStreamsList::replyShapes_data()
{
    // How each shape reads is the reader's (tst_common); here, that any of them replaces the rows.
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("two cameras in order")
        << QByteArray(R"([{"id":"{b2}","name":"Till 2"},{"id":"{a1}","name":"Door"}])")
        << QStringList { "{b2}|Till 2", "{a1}|Door" };
    QTest::newRow("empty array") << QByteArray("[]") << QStringList();
    QTest::newRow("not JSON") << QByteArray("<html>Service unavailable</html>") << QStringList();
}

void TestStreamsList::replyShapes()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, rows);
    StreamsList list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    // Earlier rows must go, whatever the new body holds.
    m_server->route(kPath, json(R"([{"id":"old","name":"Old"}])"));
    loadAndWait(list);
    QCOMPARE(rowsOf(list), QStringList { "old|Old" });

    m_server->route(kPath, json(body));
    record(list);
    loadAndWait(list);
    QCOMPARE(rowsOf(list), rows);
    QCOMPARE(m_events, QStringList({ "loading=1", "reset", "loading=0" }));
}

void TestStreamsList::getGivesBothFieldsOfTheRow()
{
    m_server->route(kPath, json(R"([{"id":"{1}","name":"First"},{"id":"{2}","name":"Second"}])"));
    StreamsList list;
    loadAndWait(list);
    const QVariantMap second = list.get(1);
    QCOMPARE(second, QVariantMap({ { "strmId", QString("{2}") }, { "strmName", QString("Second") } }));
    QCOMPARE(second.value("strmId").userType(), int(QMetaType::QString));
    QCOMPARE(list.data(list.index(0), 257), QVariant(QString("First")));
    QCOMPARE(list.data(list.index(0), 258), QVariant(QString("{1}")));
}

void TestStreamsList::requestForm()
{
    m_server->route(kPath, json("[]"));
    StreamsList list;
    loadAndWait(list);
    const auto requests = m_server->requests();
    QCOMPARE(requests.size(), size_t(1));
    QCOMPARE(requests.front().method, std::string("GET"));
    QCOMPARE(requests.front().target, kPath);
}

void TestStreamsList::transferFailureKeepsRows_data()
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

void TestStreamsList::transferFailureKeepsRows()
{
    QFETCH(int, status);
    QFETCH(bool, stall);
    QFETCH(bool, refused);
    QFETCH(QString, expected);
    m_server->route(kPath, json(R"([{"id":"a","name":"A"},{"id":"b","name":"B"}])"));
    StreamsList list;
    loadAndWait(list);
    QCOMPARE(list.rowCount(), 2);

    TestServer::Reply failing = json(R"([{"id":"c","name":"C"}])");
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
    QSignalSpy resets(&list, &StreamsList::modelReset);
    loadAndWait(list);
    QCOMPARE(m_events.size(), 3);
    QCOMPARE(m_events.at(0), QString("loading=1"));
    QVERIFY2(m_events.at(1).startsWith("error:") && m_events.at(1).contains(expected, Qt::CaseInsensitive),
        qPrintable(m_events.at(1)));
    QCOMPARE(m_events.at(2), QString("loading=0"));
    QCOMPARE(resets.count(), 0);
    QCOMPARE(rowsOf(list), QStringList({ "a|A", "b|B" }));
}

void TestStreamsList::challengeAnswered_data()
{
    QTest::addColumn<Scheme>("scheme");
    QTest::newRow("basic") << Scheme::Basic;
    QTest::newRow("digest") << Scheme::Digest;
}

void TestStreamsList::challengeAnswered()
{
    QFETCH(Scheme, scheme);
    m_server->requireAuth(scheme, "operator", "s3cr:t@");
    m_server->route(kPath, json(R"([{"id":"a","name":"A"}])"));
    m_state.setUser("operator");
    m_state.setPassword("s3cr:t@");
    StreamsList list;
    record(list);
    loadAndWait(list);
    QCOMPARE(m_events, QStringList({ "loading=1", "reset", "loading=0" }));
    QCOMPARE(rowsOf(list), QStringList { "a|A" });
    // The cameras were fetched with the account (over plain HTTP the client also asks once more without
    // it, to see which scheme the server wants).
    const auto requests = m_server->requests();
    QVERIFY(std::any_of(requests.cbegin(), requests.cend(),
        [](const TestServer::Recorded &request) { return request.path == kPath && !request.authorization.empty(); }));
}

void TestStreamsList::rejectedCredentials()
{
    m_server->requireAuth(Scheme::Basic, "admin", "right");
    m_state.setPassword("wrong");
    StreamsList list;
    record(list);
    loadAndWait(list);
    QCOMPARE(m_events.size(), 3);
    QVERIFY(m_events.at(1).startsWith("error:"));
    QCOMPARE(list.rowCount(), 0);
}

void TestStreamsList::loadingFlagCountsOverlappingLoads()
{
    // The first request is answered late, the second at once.
    m_server->route(kPath, json(R"([{"id":"slow","name":"Slow"}])", 700));
    StreamsList list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy loading(&list, &StreamsList::isLoadingChanged);
    QSignalSpy resets(&list, &StreamsList::modelReset);
    list.loadStreams();
    QTRY_COMPARE(m_server->requestCount(), size_t(1));
    m_server->route(kPath, json(R"([{"id":"fast","name":"Fast"}])"));
    list.loadStreams();

    QTRY_COMPARE_WITH_TIMEOUT(resets.count(), 1, 10000);
    QCOMPARE(rowsOf(list), QStringList { "fast|Fast" });
    QVERIFY2(list.isLoading(), "one load is still running");
    QCOMPARE(loading.count(), 1);

    QTRY_VERIFY_WITH_TIMEOUT(!list.isLoading(), 10000);
    QCOMPARE(loading.count(), 2);
    QCOMPARE(resets.count(), 2);
    // Loads are not told apart: the reply that arrives last decides the rows.
    QCOMPARE(rowsOf(list), QStringList { "slow|Slow" });
}

QTEST_GUILESS_MAIN(TestStreamsList)
#include "tst_streamslist.moc"
