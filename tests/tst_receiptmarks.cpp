#include "core/appstate.h"
#include "net/request.h"
#include "pos/receiptmarks.h"
#include "testserver.h"
#include "testutil.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

namespace {

const char kPath[] = "/poses/";

/// A receipt seen by the given cameras.
QJsonObject receipt(const QString &text, const QString &receivedAt, const QStringList &cameras)
{
    QJsonArray streams;
    for (const QString &camera : cameras)
        streams.append(QJsonObject { { "nx_id", camera }, { "name", "Camera " + camera } });
    return { { "text", text }, { "received_at", receivedAt }, { "device", QJsonObject { { "streams", streams } } } };
}

TestServer::Reply ok(const QJsonArray &receipts, int delayMs = 0)
{
    TestServer::Reply reply;
    reply.body = QJsonDocument(receipts).toJson(QJsonDocument::Compact);
    reply.delayMs = delayMs;
    return reply;
}

} // namespace

/// The receipts of a camera's day on the timeline: which day is asked for, which receipts become
/// marks, which answer counts, a POS server that fails, and marks that lie too close to tell apart.
class TestReceiptMarks : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void dayBoundsInLocalTime_data();
    void dayBoundsInLocalTime();
    void onlyTheCamerasReceiptsOldestFirst();
    void latestLoadWins();
    void posServerDownSaysSoOnce();

    void clusters_data();
    void clusters();

private:
    bool loadAndWait(ReceiptMarks &marks, const QString &camera, const QDate &day);
    QStringList texts(const ReceiptMarks &marks) const;

    AppState m_state;
    std::unique_ptr<TestServer> m_server;
};

void TestReceiptMarks::init()
{
    m_server = std::make_unique<TestServer>();
    m_state.setPosBase(m_server->base());
}

void TestReceiptMarks::cleanup()
{
    m_server.reset();
}

bool TestReceiptMarks::loadAndWait(ReceiptMarks &marks, const QString &camera, const QDate &day)
{
    marks.loadDay(camera, day);
    return marks.isLoading() && QTest::qWaitFor([&marks] { return !marks.isLoading(); }, 10000);
}

QStringList TestReceiptMarks::texts(const ReceiptMarks &marks) const
{
    QStringList result;
    for (int row = 0; row < marks.rowCount(); ++row)
        result << marks.get(row).value("markContent").toString();
    return result;
}

void TestReceiptMarks::dayBoundsInLocalTime_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("before");
    QTest::newRow("east of UTC") << QByteArray("Asia/Tokyo") << "2026-03-09T15:00:00.000Z"
                                 << "2026-03-10T14:59:59.999Z";
    QTest::newRow("west of UTC") << QByteArray("America/New_York") << "2026-03-10T04:00:00.000Z"
                                 << "2026-03-11T03:59:59.999Z";
    // The day the clock goes forward in Europe has 23 hours.
    QTest::newRow("short day") << QByteArray("Europe/Berlin") << "2026-03-28T23:00:00.000Z"
                               << "2026-03-29T21:59:59.999Z";
}

void TestReceiptMarks::dayBoundsInLocalTime()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, after);
    QFETCH(QString, before);
    ScopedTimeZone scoped(zone);
    const QDate day = QString(QTest::currentDataTag()) == "short day" ? QDate(2026, 3, 29) : QDate(2026, 3, 10);
    // Receipts just inside and just outside the day, as a server that reads the bounds in another zone
    // might send them.
    m_server->route(kPath,
        ok({ receipt("before", QDateTime::fromString(after, Qt::ISODateWithMs).addMSecs(-1).toString(Qt::ISODateWithMs),
                 { "A" }),
            receipt("first", after, { "A" }), receipt("last", before, { "A" }),
            receipt("after", QDateTime::fromString(before, Qt::ISODateWithMs).addMSecs(1).toString(Qt::ISODateWithMs),
                { "A" }) }));
    ReceiptMarks marks;
    QVERIFY(loadAndWait(marks, "A", day));
    const TestServer::Recorded request = m_server->requests().back();
    QCOMPARE(QString::fromStdString(request.params.find("received_at__range_after")->second), after);
    QCOMPARE(QString::fromStdString(request.params.find("received_at__range_before")->second), before);
    QCOMPARE(texts(marks), QStringList({ "first", "last" }));
}

void TestReceiptMarks::onlyTheCamerasReceiptsOldestFirst()
{
    ScopedTimeZone zone("UTC");
    m_server->route(kPath,
        ok({ receipt("B only", "2026-03-10T09:00:00Z", { "B" }),
            receipt("late A", "2026-03-10T12:00:00Z", { "B", "A" }),
            receipt("early A", "2026-03-10T08:00:00+00:00", { "A" }), receipt("no time", "", { "A" }),
            receipt("a", "2026-03-10T10:00:00Z", { "a" }) }));
    ReceiptMarks marks;
    QAbstractItemModelTester tester(&marks, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy counts(&marks, &ReceiptMarks::countChanged);
    QVERIFY(loadAndWait(marks, "A", QDate(2026, 3, 10)));
    QCOMPARE(texts(marks), QStringList({ "early A", "late A" }));
    QCOMPARE(counts.count(), 1);
    const QVariantMap late = marks.get(1);
    QCOMPARE(late.value("markTimeMS").toLongLong(),
        QDateTime(QDate(2026, 3, 10), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch());
    QCOMPARE(late.value("markStreams").toList().size(), 2);
    QCOMPARE(marks.status(), QString());

    // A receipt's first three lines are what its tooltip shows.
    m_server->route(kPath, ok({ receipt("SHOP\nTill 1\nMILK 1.20\nTOTAL 1.20", "2026-03-10T08:00:00Z", { "A" }) }));
    QVERIFY(loadAndWait(marks, "A", QDate(2026, 3, 10)));
    QCOMPARE(marks.get(0).value("markPreview").toString(), QString("SHOP\nTill 1\nMILK 1.20"));
    // A camera without an id has no receipts, though the filter would keep every one for it.
    QVERIFY(loadAndWait(marks, "", QDate(2026, 3, 10)));
    QCOMPARE(marks.count(), 0);
}

void TestReceiptMarks::latestLoadWins()
{
    ScopedTimeZone zone("UTC");
    m_server->route(kPath,
        ok({ receipt("A's", "2026-03-10T08:00:00Z", { "A" }), receipt("B's", "2026-03-11T08:00:00Z", { "B" }) }, 200));
    ReceiptMarks marks;
    QSignalSpy resets(&marks, &ReceiptMarks::modelReset);
    marks.loadDay("A", QDate(2026, 3, 10));
    QTRY_COMPARE(m_server->requestCount(), size_t(1));
    // The operator picks another camera and day before the first answer is in.
    QVERIFY(loadAndWait(marks, "B", QDate(2026, 3, 11)));
    QCOMPARE(texts(marks), QStringList { "B's" });
    QCOMPARE(resets.count(), 1);
    QCOMPARE(m_server->requests().back().params.find("received_at__range_after")->second,
        std::string("2026-03-11T00:00:00.000Z"));
    // The first request was dropped when the second went out, so no answer to it can follow: a third
    // load, answered after it, still finds only its own marks.
    QVERIFY(loadAndWait(marks, "A", QDate(2026, 3, 10)));
    QCOMPARE(texts(marks), QStringList { "A's" });
    QCOMPARE(resets.count(), 2);
}

void TestReceiptMarks::posServerDownSaysSoOnce()
{
    ScopedTimeZone zone("UTC");
    m_server->route(kPath, ok({ receipt("A's", "2026-03-10T08:00:00Z", { "A" }) }));
    ReceiptMarks marks;
    QVERIFY(loadAndWait(marks, "A", QDate(2026, 3, 10)));
    QCOMPARE(marks.count(), 1);

    TestServer::Reply failing;
    failing.status = 503;
    m_server->route(kPath, failing);
    QSignalSpy statuses(&marks, &ReceiptMarks::statusChanged);
    QVERIFY(loadAndWait(marks, "A", QDate(2026, 3, 11)));
    QCOMPARE(statuses.count(), 1);
    QVERIFY2(marks.status().startsWith("Receipts could not be loaded: "), qPrintable(marks.status()));
    // The marks of the day before must not stand for this day's.
    QCOMPARE(marks.count(), 0);
    // The same failure again is not said again.
    QVERIFY(loadAndWait(marks, "A", QDate(2026, 3, 11)));
    QCOMPARE(statuses.count(), 1);

    m_server->route(kPath, ok({ receipt("A's", "2026-03-10T08:00:00Z", { "A" }) }));
    QVERIFY(loadAndWait(marks, "A", QDate(2026, 3, 10)));
    QCOMPARE(marks.status(), QString());
    QCOMPARE(statuses.count(), 2);
    QCOMPARE(marks.count(), 1);
}

void TestReceiptMarks::clusters_data()
{
    QTest::addColumn<QVector<qint64>>("times");
    QTest::addColumn<double>("msPerPixel");
    QTest::addColumn<QString>("expected"); // x:first:count per group

    // Marks every 30 s. Zoomed out (60 s a pixel) they lie half a pixel apart and merge in groups
    // whose first mark is less than 6 px from the others; zoomed in (1 s a pixel) each stands alone.
    const QVector<qint64> every30s { 0, 30000, 60000, 90000, 120000, 150000, 180000, 210000, 240000, 270000, 300000,
        330000, 360000 };
    QTest::newRow("zoomed out") << every30s << 60000.0 << "0:0:12 6:12:1";
    QTest::newRow("zoomed in") << QVector<qint64> { 0, 30000, 60000 } << 1000.0 << "0:0:1 30:1:1 60:2:1";
    // A chain of marks each 4 px after the one before does not grow one group without end.
    QTest::newRow("chain") << QVector<qint64> { 0, 4000, 8000, 12000 } << 1000.0 << "0:0:2 8:2:2";
    // Marks before the view and after its right edge are not drawn.
    QTest::newRow("outside the view") << QVector<qint64> { -5000, 10000, 900000 } << 1000.0 << "10:1:1";
    QTest::newRow("none") << QVector<qint64>() << 1000.0 << "";
}

void TestReceiptMarks::clusters()
{
    QFETCH(QVector<qint64>, times);
    QFETCH(double, msPerPixel);
    QFETCH(QString, expected);
    QStringList groups;
    for (const MarkCluster &group : clusterMarks(times, 0, msPerPixel, 800, 6))
        groups << QString("%1:%2:%3").arg(group.x).arg(group.first).arg(group.count);
    QCOMPARE(groups.join(' '), expected);
}

QTEST_GUILESS_MAIN(TestReceiptMarks)
#include "tst_receiptmarks.moc"
