#include "exceptions/exceptionrules.h"
#include "exceptions/exceptionsearch.h"
#include "net/posclient.h"
#include "pos/tillclocks.h"
#include "testserver.h"
#include "testutil.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

namespace {

const std::string Path = "/poses/";
const std::string After = "received_at__range_after";

QJsonObject transaction(const QString &text, const QString &receivedAt, int till, const QString &total = QString(),
    const QString &payment = QString())
{
    QJsonObject made { { "text", text }, { "received_at", receivedAt },
        { "device",
            QJsonObject { { "id", till }, { "name", QStringLiteral("Till %1").arg(till) },
                { "streams", QJsonArray { QJsonObject { { "nx_id", "{cam}" }, { "name", "Camera" } } } } } } };
    if (!total.isEmpty())
        made.insert("total", total);
    if (!payment.isEmpty())
        made.insert("payment", payment);
    return made;
}

TestServer::Reply answer(const QJsonArray &receipts)
{
    TestServer::Reply reply;
    reply.body = QJsonDocument(receipts).toJson(QJsonDocument::Compact);
    return reply;
}

/// The counts of a chart, as "label count" each.
QStringList bars(const QVariantList &chart)
{
    QStringList all;
    for (const QVariant &bar : chart)
        all << bar.toMap().value("label").toString() + ' ' + bar.toMap().value("count").toString();
    return all;
}

/// The hours of a chart that count anything, as "hour count".
QStringList hours(const QVariantList &chart)
{
    QStringList all = bars(chart);
    all.erase(std::remove_if(all.begin(), all.end(), [](const QString &bar) { return bar.endsWith(" 0"); }), all.end());
    return all;
}

} // namespace

/// The Exceptions tab's search: day by day through the POS client, a day that fails named and the others
/// kept, the rules run here (one that cannot work named, the others run), the counts, and the receipts
/// kept for a change of the rules or of a till's clock.
class TestExceptionSearch : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void dayByDayOneDayFailing();
    void rulesAndClocksChangeWithoutAsking();
    void cancelKeepsTheDaysFetched();
    void rangesRefused_data();
    void rangesRefused();

private:
    /// Monday 2 to Wednesday 4 March 2026, the Tuesday answered with 500.
    void serveThreeDays();
    void runToTheEnd();

    ScopedTimeZone m_zone { "Europe/Berlin" };
    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<PosClient> m_client;
    std::unique_ptr<ExceptionRules> m_rules;
    std::unique_ptr<TillClocks> m_clocks;
    std::unique_ptr<ExceptionSearch> m_search;
};

void TestExceptionSearch::init()
{
    m_server = std::make_unique<TestServer>();
    m_client = std::make_unique<PosClient>();
    m_client->setBase(m_server->base());
    m_rules = std::make_unique<ExceptionRules>();
    m_clocks = std::make_unique<TillClocks>();
    m_search = std::make_unique<ExceptionSearch>();
    m_search->setClient(m_client.get());
    m_search->setRules(m_rules.get());
    m_search->setTillClocks(m_clocks.get());
    // The default rules, and one that cannot work.
    RuleListModel *list = m_rules->list();
    const int bad = list->addRule();
    QVERIFY(list->setField(bad, "name", "Bad"));
    QVERIFY(list->setField(bad, "match", "regex"));
    QVERIFY(list->setField(bad, "pattern", "REFUND("));
}

void TestExceptionSearch::cleanup()
{
    m_search.reset();
    m_client.reset();
    m_server.reset();
}

void TestExceptionSearch::serveThreeDays()
{
    m_server->routeQuery(Path, After, "2026-03-01T23:00:00.000Z",
        answer({ transaction("SALE\nMILK 1.00\nTOTAL 1.00", "2026-03-02T10:15:00+01:00", 1, "1.00", "card"),
            transaction("*** REFUND ***\nMILK -1.00\nTOTAL -1.00\nCASH REFUND", "2026-03-02T10:40:00+01:00", 1, "-1.00",
                "cash"),
            transaction("*** NO SALE ***\nDRAWER OPENED", "2026-03-02T18:05:00+01:00", 2) }));
    TestServer::Reply failing;
    failing.status = 500;
    failing.body = "{\"detail\": \"database is down\"}";
    m_server->routeQuery(Path, After, "2026-03-02T23:00:00.000Z", failing);
    m_server->routeQuery(Path, After, "2026-03-03T23:00:00.000Z",
        answer(
            { transaction("*** TRANSACTION VOID ***\nBREAD 2.00\nTOTAL 0.00", "2026-03-04T09:00:10+01:00", 2, "0.00"),
                transaction("*** REFUND ***\nCRATE OF WINE -64.00\nTOTAL -64.00\nCASH REFUND",
                    "2026-03-04T18:30:00+01:00", 2, "-64.00", "cash") }));
}

void TestExceptionSearch::runToTheEnd()
{
    QVERIFY(m_search->start(QDate(2026, 3, 2), QDate(2026, 3, 4)));
    QTRY_VERIFY_WITH_TIMEOUT(!m_search->isRunning(), 20000);
}

void TestExceptionSearch::dayByDayOneDayFailing()
{
    serveThreeDays();
    QAbstractItemModelTester tester(m_search->flagged(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QStringList progress;
    connect(m_search.get(), &ExceptionSearch::progressChanged, this,
        [&progress, this] { progress << m_search->progressText(); });
    runToTheEnd();

    // One request a day, each from the first to the last moment of the local day, one after the other.
    QStringList asked;
    for (const TestServer::Recorded &request : m_server->requests())
        asked << QString::fromStdString(request.target);
    QCOMPARE(asked,
        QStringList({
            "/poses/"
            "?received_at__range_after=2026-03-01T23:00:00.000Z&received_at__range_before=2026-03-02T22:59:59.999Z",
            "/poses/"
            "?received_at__range_after=2026-03-02T23:00:00.000Z&received_at__range_before=2026-03-03T22:59:59.999Z",
            "/poses/"
            "?received_at__range_after=2026-03-03T23:00:00.000Z&received_at__range_before=2026-03-04T22:59:59.999Z",
        }));
    progress.removeDuplicates();
    QCOMPARE(progress, QStringList({ "day 1 of 3", "day 2 of 3", "day 3 of 3", "" }));
    QVERIFY(!m_search->cancelled());
    QCOMPARE(m_search->dayNumber(), 3);

    // The day that failed, named; the others searched.
    QCOMPARE(m_search->failedDays().size(), 1);
    const QString failed = m_search->failedDays().constFirst();
    QVERIFY2(failed.startsWith("Tuesday 3 March: ") && failed.contains("Internal Server Error"), qPrintable(failed));
    QCOMPARE(m_search->receiptCount(), 5);
    QCOMPARE(m_search->flaggedCount(), 4);

    // The rule that cannot work, named and left out; the others counted.
    QCOMPARE(m_search->ruleProblems().size(), 1);
    QVERIFY2(m_search->ruleProblems().constFirst().startsWith("Bad: the regular expression does not compile"),
        qPrintable(m_search->ruleProblems().constFirst()));
    QCOMPARE(bars(m_search->byRule()),
        QStringList({ "Refund 2", "Void/cancel 1", "No sale 1", "Discount/override 0", "Cash refund over 50 1" }));
    QCOMPARE(bars(m_search->byTill()), QStringList({ "Till 1 1", "Till 2 4" }));
    QCOMPARE(m_search->byHour().size(), 24);
    QCOMPARE(hours(m_search->byHour()), QStringList({ "09 1", "10 1", "18 3" }));

    // The list: oldest first, with the rules, the till and the line that matched.
    const FlaggedReceipts *flagged = m_search->flagged();
    QCOMPARE(flagged->count(), 4);
    QStringList rows;
    for (int row = 0; row < flagged->count(); ++row) {
        const QVariantMap map = flagged->get(row);
        rows << QStringList { map.value("flagCreatedAt").toDateTime().toString(Qt::ISODate),
            map.value("flagRules").toString(), map.value("flagTill").toString(), map.value("flagLine").toString(),
            map.value("flagLineText").toString() }
                    .join(" | ");
    }
    QCOMPARE(rows,
        QStringList({
            "2026-03-02T10:40:00+01:00 | Refund | Till 1 | 0 | *** REFUND ***",
            "2026-03-02T18:05:00+01:00 | No sale | Till 2 | 0 | *** NO SALE ***",
            "2026-03-04T09:00:10+01:00 | Void/cancel | Till 2 | 0 | *** TRANSACTION VOID ***",
            "2026-03-04T18:30:00+01:00 | Refund, Cash refund over 50 | Till 2 | 0 | *** REFUND ***",
        }));
    QCOMPARE(flagged->get(0).value("flagStreams").toList().constFirst().toMap().value("strmId").toString(), "{cam}");
    // The tills met are there to be set.
    QCOMPARE(m_clocks->count(), 2);
}

void TestExceptionSearch::rulesAndClocksChangeWithoutAsking()
{
    serveThreeDays();
    runToTheEnd();
    QSignalSpy results(m_search.get(), &ExceptionSearch::resultsChanged);

    // Till 2 runs 20 s fast: its void of 09:00:10 happened at 08:59:50 by the cameras.
    QVERIFY(m_clocks->setOffsetMs("2", "Till 2", 20000));
    QCOMPARE(hours(m_search->byHour()), QStringList({ "08 1", "10 1", "18 3" }));
    const QVariantMap moved = m_search->flagged()->get(2);
    QCOMPARE(moved.value("flagCreatedAt").toDateTime().toString(Qt::ISODate), "2026-03-04T08:59:50+01:00");
    QCOMPARE(moved.value("flagTillClockOffsetMs").toDouble(), 20000.0);
    QCOMPARE(m_search->flagged()->recordAt(2).receivedAtText, "2026-03-04T09:00:10+01:00");

    // A rule switched off, the bad one mended: counted again from the receipts kept.
    RuleListModel *list = m_rules->list();
    QVERIFY(list->setField(2, "enabled", false));
    QVERIFY(list->setField(5, "pattern", "DRAWER"));
    QVERIFY(m_search->ruleProblems().isEmpty());
    QCOMPARE(bars(m_search->byRule()),
        QStringList({ "Refund 2", "Void/cancel 1", "Discount/override 0", "Cash refund over 50 1", "Bad 1" }));
    QCOMPARE(m_search->flaggedCount(), 4);
    QCOMPARE(m_search->flagged()->get(1).value("flagRules").toString(), "Bad");
    QCOMPARE(m_search->flagged()->get(1).value("flagLineText").toString(), "DRAWER OPENED");
    QCOMPARE(results.size(), 3);
    QCOMPARE(m_server->requestCount(), size_t(3));
}

void TestExceptionSearch::cancelKeepsTheDaysFetched()
{
    serveThreeDays();
    TestServer::Reply stalled;
    stalled.stall = true;
    m_server->routeQuery(Path, After, "2026-03-02T23:00:00.000Z", stalled);
    QVERIFY(m_search->start(QDate(2026, 3, 2), QDate(2026, 3, 4)));
    QTRY_COMPARE(m_server->requestCount(), size_t(2));
    QTRY_COMPARE(m_search->dayNumber(), 2);
    m_search->cancel();
    QVERIFY(!m_search->isRunning());
    QVERIFY(m_search->cancelled());
    QCOMPARE(m_search->progressText(), QString());
    QCOMPARE(m_search->receiptCount(), 3);
    QCOMPARE(m_search->flaggedCount(), 2);
    QVERIFY(m_search->failedDays().isEmpty());

    // The day given up on is not asked for again, nor the next one.
    m_server->releaseStalled();
    QTRY_COMPARE(m_server->answeredCount(), size_t(2));
    QVERIFY(waitForAnotherProcessToEnd());
    QCOMPARE(m_server->requestCount(), size_t(2));
    QCOMPARE(m_search->receiptCount(), 3);
    QVERIFY(m_search->failedDays().isEmpty());

    // A new search starts afresh.
    m_server->routeQuery(Path, After, "2026-03-02T23:00:00.000Z", answer({}));
    runToTheEnd();
    QVERIFY(!m_search->cancelled());
    QCOMPARE(m_search->receiptCount(), 5);
}

void TestExceptionSearch::rangesRefused_data()
{
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<QString>("said");
    QTest::newRow("backwards") << QDate(2026, 3, 4) << QDate(2026, 3, 2)
                               << "The first day must not come after the last.";
    QTest::newRow("no day") << QDate() << QDate(2026, 3, 2) << "The first day must not come after the last.";
    QTest::newRow("32 days") << QDate(2026, 3, 1) << QDate(2026, 4, 1) << "At most 31 days can be searched at once.";
}

void TestExceptionSearch::rangesRefused()
{
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    QFETCH(QString, said);
    QSignalSpy errors(m_search.get(), &ExceptionSearch::errorOccured);
    QVERIFY(!m_search->start(from, to));
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), said);
    QVERIFY(!m_search->isRunning() && !m_search->hasRun());
    // A month is searched.
    QVERIFY(m_search->start(QDate(2026, 3, 1), QDate(2026, 3, 31)));
    QCOMPARE(m_search->dayCount(), 31);
    m_search->cancel();
}

QTEST_GUILESS_MAIN(TestExceptionSearch)
#include "tst_exceptionsearch.moc"
