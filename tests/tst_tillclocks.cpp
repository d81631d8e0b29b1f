#include "core/appstate.h"
#include "player/playerreceipts.h"
#include "pos/receiptmarks.h"
#include "pos/tillclocks.h"
#include "testserver.h"
#include "testutil.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

PosData record(const QString &tillId, const QString &tillName, const QString &receivedAt)
{
    PosData made;
    made.content = QStringLiteral("RECEIPT OF ") + tillName;
    made.receivedAtText = receivedAt;
    made.createdAt = QDateTime::fromString(receivedAt, Qt::ISODateWithMs);
    made.tillId = tillId;
    made.tillName = tillName;
    made.streams = { { QStringLiteral("{cam}"), QStringLiteral("Camera") } };
    made.total = QStringLiteral("1.00");
    return made;
}

/// Every field, so that "the very same record" means the same to the last one.
QString fields(const PosData &r)
{
    QStringList streams;
    for (const StreamData &stream : r.streams)
        streams << stream.id + '/' + stream.name;
    return QStringList { r.content, r.createdAt.toString(Qt::ISODateWithMs), QString::number(r.createdAt.timeSpec()),
        QString::number(r.createdAt.offsetFromUtc()), streams.join(','), r.receivedAtText, r.tillId, r.tillName,
        r.total, r.payment, r.cashier, QString::number(r.tillClockOffsetMs) }
        .join('|');
}

QJsonObject transaction(const QString &text, const QString &receivedAt, int till)
{
    return { { "text", text }, { "received_at", receivedAt },
        { "device",
            QJsonObject { { "id", till }, { "name", QStringLiteral("Till %1").arg(till) },
                { "streams", QJsonArray { QJsonObject { { "nx_id", "{cam}" }, { "name", "Camera" } } } } } } };
}

} // namespace

/// Each till's clock offset: receipts moved onto the video's clock and back, the request that still finds
/// every receipt of a window, the tills met and their offsets kept, and the timeline's marks that follow.
class TestTillClocks : public QObject
{
    Q_OBJECT
private slots:
    void movedOntoTheVideosClock();
    void noOffsetIsTheVerySameRecord();
    void requestReachesAsFarAsTheClocks();
    void windowKeepsWhatTheVideoShows();
    void tillsMetInOrderAndKept();
    void offsetsRefusedBeyondADay_data();
    void offsetsRefusedBeyondADay();
    void marksFollowTheOffsets();
    void playerSetsTheClockFromTheFrame();

private:
    QStringList texts(const ReceiptMarks &marks) const;

    ScopedTimeZone m_zone { "Europe/Berlin" };
};

void TestTillClocks::movedOntoTheVideosClock()
{
    const QList<PosData> served { record("1", "Till 1", "2021-06-01T12:00:00+02:00"),
        record("2", "Till 2", "2021-06-01T10:00:20.250Z"), record("", "Back office", "2021-06-01T10:05:00Z") };
    TillOffsets offsets;
    offsets.set(TillOffsets::keyOf("2", "Till 2"), 20000);
    offsets.set(TillOffsets::keyOf("", "Back office"), -3500);

    const QList<PosData> moved = onVideoClock(served, offsets);
    QCOMPARE(fields(moved.at(0)), fields(served.at(0)));
    // Earlier by the offset, in the zone the server wrote; what the server wrote stays, and so does the rest.
    QCOMPARE(moved.at(1).createdAt.toString(Qt::ISODateWithMs), "2021-06-01T10:00:00.250Z");
    QCOMPARE(moved.at(1).tillClockOffsetMs, 20000);
    QCOMPARE(moved.at(1).receivedAtText, "2021-06-01T10:00:20.250Z");
    QCOMPARE(moved.at(2).createdAt.toString(Qt::ISODateWithMs), "2021-06-01T10:05:03.500Z");
    QCOMPARE(moved.at(2).tillClockOffsetMs, -3500);
    PosData expected = served.at(1);
    expected.createdAt = moved.at(1).createdAt;
    expected.tillClockOffsetMs = 20000;
    QCOMPARE(fields(moved.at(1)), fields(expected));

    // Another offset later moves them from the server's time, not from where they were.
    TillOffsets later;
    later.set(TillOffsets::keyOf("2", "Till 2"), 30000);
    const QList<PosData> again = onVideoClock(moved, later);
    QCOMPARE(again.at(1).createdAt.toString(Qt::ISODateWithMs), "2021-06-01T09:59:50.250Z");
    QCOMPARE(again.at(1).tillClockOffsetMs, 30000);
    // None at all: every record back as the server sent it.
    const QList<PosData> back = onVideoClock(again, TillOffsets());
    for (int i = 0; i < served.size(); ++i)
        QCOMPARE(fields(back.at(i)), fields(served.at(i)));
}

void TestTillClocks::noOffsetIsTheVerySameRecord()
{
    const QList<PosData> served { record("1", "Till 1", "2021-06-01T12:00:00+02:00"),
        record("2", "Till 2", "2021-06-01T10:00:20.250Z"), record("3", "Till 3", "no time") };
    TillOffsets another;
    another.set(TillOffsets::keyOf("9", "Till 9"), 45000);
    for (const TillOffsets &offsets : { TillOffsets(), another }) {
        const QList<PosData> moved = onVideoClock(served, offsets);
        QCOMPARE(moved.size(), served.size());
        for (int i = 0; i < served.size(); ++i) {
            QCOMPARE(fields(moved.at(i)), fields(served.at(i)));
            // Not even a copy of the text was made.
            QVERIFY(moved.at(i).content.constData() == served.at(i).content.constData());
        }
    }
}

void TestTillClocks::requestReachesAsFarAsTheClocks()
{
    const QDateTime from(QDate(2021, 6, 1), QTime(9, 58, 30), Qt::UTC);
    const QDateTime to = from.addSecs(180);
    TillOffsets offsets;
    QCOMPARE(offsets.requestFrom(from), from);
    QCOMPARE(offsets.requestTo(to), to);
    // A fast till's receipts of the window were written later, a slow one's earlier.
    offsets.set(TillOffsets::keyOf("2", "Till 2"), 20000);
    QCOMPARE(offsets.requestFrom(from), from);
    QCOMPARE(offsets.requestTo(to), to.addSecs(20));
    offsets.set(TillOffsets::keyOf("3", "Till 3"), -5000);
    offsets.set(TillOffsets::keyOf("4", "Till 4"), 7000);
    QCOMPARE(offsets.requestFrom(from), from.addSecs(-5));
    QCOMPARE(offsets.requestTo(to), to.addSecs(20));
    offsets.set(TillOffsets::keyOf("2", "Till 2"), 0);
    QCOMPARE(offsets.requestTo(to), to.addSecs(7));
}

void TestTillClocks::windowKeepsWhatTheVideoShows()
{
    const QDateTime from(QDate(2021, 6, 1), QTime(9, 58, 30), Qt::UTC);
    const QDateTime to = from.addSecs(180);
    const QList<PosData> served { record("2", "Till 2", "2021-06-01T09:58:40Z"), // on the video 09:58:20: before
        record("2", "Till 2", "2021-06-01T10:01:45Z"), // 10:01:25: inside, though written after the window
        record("1", "Till 1", "2021-06-01T10:01:40Z"), // after
        record("1", "Till 1", "2021-06-01T09:58:30Z"), // on the first moment
        record("1", "Till 1", "unreadable") };
    TillOffsets offsets;
    offsets.set(TillOffsets::keyOf("2", "Till 2"), 20000);
    QStringList kept;
    for (const PosData &r : windowOnVideoClock(served, offsets, from, to))
        kept << r.receivedAtText;
    QCOMPARE(kept, QStringList({ "2021-06-01T10:01:45Z", "2021-06-01T09:58:30Z", "unreadable" }));
    // Without offsets the request was the window itself: whatever the server sent stays.
    QCOMPARE(windowOnVideoClock(served, TillOffsets(), from, to).size(), served.size());
}

void TestTillClocks::tillsMetInOrderAndKept()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("tillmark.ini"), QSettings::IniFormat);
    TillClocks clocks;
    QAbstractItemModelTester tester(&clocks, QAbstractItemModelTester::FailureReportingMode::QtTest);
    clocks.useSettings(&settings);
    QCOMPARE(clocks.count(), 0);
    QSignalSpy counted(&clocks, &TillClocks::countChanged);
    QSignalSpy moved(&clocks, &TillClocks::offsetsChanged);

    clocks.meet({ record("10", "Till 10", "x"), record("2", "Till 2", "x"), record("2", "Till 2", "x"),
        record("", "", "x"), record("", "back office", "x") });
    clocks.meet({ record("1", "Till 1", "x"), record("2", "Till 2", "x") });
    QCOMPARE(counted.size(), 2);
    QStringList names;
    for (int row = 0; row < clocks.count(); ++row)
        names << clocks.get(row).value("tillName").toString();
    QCOMPARE(names, QStringList({ "back office", "Till 1", "Till 2", "Till 10" }));
    QVERIFY(moved.isEmpty());

    QVERIFY(clocks.setOffsetSecs(clocks.rowOf("2", "Till 2"), 20));
    QVERIFY(clocks.setOffsetSecs(clocks.rowOf("2", "Till 2"), 20)); // the same: no change to tell
    QVERIFY(clocks.setOffsetSecs(clocks.rowOf("", "back office"), -3.25));
    QCOMPARE(moved.size(), 2);
    QCOMPARE(clocks.get(clocks.rowOf("2", "Till 2")).value("offsetText").toString(), "20");
    QCOMPARE(clocks.get(clocks.rowOf("", "back office")).value("offsetText").toString(), "-3.25");
    // By id: a till renamed keeps its offset; one of the same name on another device has none.
    QCOMPARE(clocks.offsets().of(record("2", "Till 2 (renamed)", "x")), 20000);
    QCOMPARE(clocks.offsets().of(record("7", "Till 2", "x")), 0);
    QCOMPARE(clocks.offsets().of(record("", "back office", "x")), -3250);
    // The player's way: a till not met before.
    QVERIFY(clocks.setOffsetMs("11", "Till 11", 1500));
    QCOMPARE(clocks.count(), 5);

    // What a new run reads.
    settings.sync();
    QSettings reread(dir.filePath("tillmark.ini"), QSettings::IniFormat);
    TillClocks next;
    next.useSettings(&reread);
    QCOMPARE(next.count(), 5);
    QCOMPARE(next.offsets(), clocks.offsets());
    QCOMPARE(next.get(4).value("tillName").toString(), "Till 11");
    QCOMPARE(next.get(4).value("offsetMs").toDouble(), 1500.0);
}

void TestTillClocks::offsetsRefusedBeyondADay_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<qint64>("ms");
    QTest::newRow("a day ahead") << 86400.0 << true << qint64(86400000);
    QTest::newRow("a day behind") << -86400.0 << true << qint64(-86400000);
    QTest::newRow("beyond") << 86400.5 << false << qint64(0);
    QTest::newRow("to the millisecond") << 0.0014 << true << qint64(1);
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << false << qint64(0);
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << false << qint64(0);
}

void TestTillClocks::offsetsRefusedBeyondADay()
{
    QFETCH(double, seconds);
    QFETCH(bool, taken);
    QFETCH(qint64, ms);
    TillClocks clocks;
    clocks.meet({ record("1", "Till 1", "x") });
    QSignalSpy moved(&clocks, &TillClocks::offsetsChanged);
    QCOMPARE(clocks.setOffsetSecs(0, seconds), taken);
    QCOMPARE(clocks.offsets().ofKey(TillOffsets::keyOf("1", "Till 1")), ms);
    QCOMPARE(moved.size(), ms != 0 ? 1 : 0);
    QVERIFY(!clocks.setOffsetSecs(1, 5)); // no such row
}

void TestTillClocks::marksFollowTheOffsets()
{
    TestServer server;
    AppState state;
    state.setPosBase(server.base());
    TestServer::Reply reply;
    // Till 2 runs 20 s fast: its receipt written just after midnight happened on the 1st by the cameras.
    reply.body = QJsonDocument(QJsonArray { transaction("NOON", "2021-06-01T12:00:00+02:00", 1),
                                   transaction("LAST OF THE DAY", "2021-06-02T00:00:10+02:00", 2),
                                   transaction("FIRST OF THE DAY", "2021-06-01T00:00:10+02:00", 2) })
                     .toJson(QJsonDocument::Compact);
    server.route("/poses/", reply);
    TillClocks clocks;
    clocks.meet({ record("2", "Till 2", "x") });
    ReceiptMarks marks;
    marks.setTillClocks(&clocks);
    const QDate day(2021, 6, 1);

    marks.loadDay("{cam}", day);
    QTRY_VERIFY(!marks.isLoading());
    // No offset: the request of the day, and the receipts of its times.
    QCOMPARE(QString::fromStdString(server.requests().back().target),
        "/poses/?received_at__range_after=2021-05-31T22:00:00.000Z&received_at__range_before=2021-06-01T21:59:59.999Z");
    QCOMPARE(texts(marks), QStringList({ "FIRST OF THE DAY", "NOON" }));

    // The offset set: the day is asked for again, reaching 20 s further, and the marks stand where the video
    // shows them: the first receipt happened the day before, the last one on this day.
    QVERIFY(clocks.setOffsetSecs(0, 20));
    QTRY_COMPARE(server.requestCount(), size_t(2));
    QTRY_VERIFY(!marks.isLoading());
    QCOMPARE(QString::fromStdString(server.requests().back().target),
        "/poses/?received_at__range_after=2021-05-31T22:00:00.000Z&received_at__range_before=2021-06-01T22:00:19.999Z");
    QCOMPARE(texts(marks), QStringList({ "NOON", "LAST OF THE DAY" }));
    QCOMPARE(marks.get(1).value("markCreatedAt").toDateTime().toString(Qt::ISODate), "2021-06-01T23:59:50+02:00");
    QCOMPARE(marks.get(1).value("markTimeMS").toLongLong(), 1622584790000); // 2021-06-01T21:59:50Z
    QCOMPARE(marks.get(1).value("markTillClockOffsetMs").toDouble(), 20000.0);
    QCOMPARE(marks.get(0).value("markTillClockOffsetMs").toDouble(), 0.0);
}

QStringList TestTillClocks::texts(const ReceiptMarks &marks) const
{
    QStringList all;
    for (int row = 0; row < marks.count(); ++row)
        all << marks.get(row).value("markContent").toString();
    return all;
}

/// "Till's clock: here" in the player: the receipt chosen happens in the frame shown, so its till's offset
/// is the time the till sent less that frame's time, however the receipt had been moved before.
void TestTillClocks::playerSetsTheClockFromTheFrame()
{
    TillClocks clocks;
    PlayerReceipts pane;
    pane.setTillClocks(&clocks);
    const QDateTime start = QDateTime::fromString("2025-11-04T10:00:00.000Z", Qt::ISODateWithMs);
    // Sent 100 s into the clip by the till's clock; the frame at 80 s shows it.
    pane.setReceipts({ record("2", "Till 2", "2025-11-04T10:01:40.000Z") }, start);
    QCOMPARE(pane.setTillClockHere(0, 80), QString("Till 2's clock runs 20 s ahead of the cameras"));
    QCOMPARE(clocks.offsets().of(record("2", "Till 2", "2025-11-04T10:01:40.000Z")), 20000);

    // Shown already moved by those 20 s, the receipt is set again from the time the till sent.
    pane.setReceipts(onVideoClock({ record("2", "Till 2", "2025-11-04T10:01:40.000Z") }, clocks.offsets()), start);
    QCOMPARE(pane.setTillClockHere(0, 102.5), QString("Till 2's clock runs 2.5 s behind the cameras"));
    QCOMPARE(clocks.offsets().of(record("2", "Till 2", "")), -2500);

    // A frame a day away from the receipt sets nothing.
    QCOMPARE(pane.setTillClockHere(0, 100 + 2 * 86400), QString());
    QCOMPARE(clocks.offsets().of(record("2", "Till 2", "")), -2500);
}

QTEST_GUILESS_MAIN(TestTillClocks)
#include "tst_tillclocks.moc"
