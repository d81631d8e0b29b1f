#include "core/common.h"

#include "testutil.h"

#include <QtTest>

namespace {

/// One record as text: content | received time with its zone | id:name of each camera.
QString describe(const PosData &record)
{
    QStringList streams;
    for (const StreamData &stream : record.streams)
        streams << stream.id + ':' + stream.name;
    const QString time = record.createdAt.isValid() ? record.createdAt.toString(Qt::ISODateWithMs) : "invalid";
    return record.content + '|' + time + '|' + streams.join(',');
}

QStringList describeAll(const QList<PosData> &records)
{
    QStringList result;
    for (const PosData &record : records)
        result << describe(record);
    return result;
}

/// A server-time reading as "refused:<text>" or "offset:<ms>".
QString describe(const ServerTime &time)
{
    return time.refusal ? "refused:" + *time.refusal : "offset:" + QString::number(time.offsetMs);
}

/// A recorded-periods reading: "refused:<text>" first if refused, then "start/duration" a period.
QStringList describe(const Periods &periods)
{
    QStringList result;
    if (periods.refusal)
        result << "refused:" + *periods.refusal;
    for (const RecordingData &row : periods.rows)
        result << QString::number(row.start) + "/" + QString::number(row.duration);
    return result;
}

/// The moment a period still being recorded runs up to, in the tables below.
const qint64 Now = Q_INT64_C(1700000000000);

} // namespace

/// The readers of the servers' replies: server time, cameras, recorded periods, and POS records with
/// and without a camera filter.
class TestCommon : public QObject
{
    Q_OBJECT
private slots:
    void serverTime_data();
    void serverTime();
    void cameras_data();
    void cameras();
    void periods_data();
    void periods();

    void bodyShapes_data();
    void bodyShapes();
    void cameraFilter_data();
    void cameraFilter();
    void zonesKeptAsWritten();
    void localTimeWithoutSuffix();
    void emptyRecordDefaults();

private:
    /// Two hours ahead of UTC in June, so that local and UTC readings differ.
    ScopedTimeZone m_zone { "Europe/Berlin" };
};

void TestCommon::serverTime_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    QTest::newRow("string offset") << QByteArray(R"({"error":"0","reply":{"timeZoneOffset":"10800000"}})")
                                   << "offset:10800000";
    QTest::newRow("negative") << QByteArray(R"({"error":"0","reply":{"timeZoneOffset":"-18000000"}})")
                              << "offset:-18000000";
    QTest::newRow("json number") << QByteArray(R"({"error":"0","reply":{"timeZoneOffset":10800000}})") << "offset:0";
    QTest::newRow("no error key") << QByteArray(R"({"reply":{"timeZoneOffset":"3600000"}})") << "offset:3600000";
    QTest::newRow("server refuses") << QByteArray(R"({"error":"2","errorString":"No such thing"})")
                                    << "refused:No such thing";
    QTest::newRow("refusal without text")
        << QByteArray(R"({"error":"1","reply":{"timeZoneOffset":"5"}})") << "refused:";
    QTest::newRow("error as JSON number is not a refusal")
        << QByteArray(R"({"error":1,"errorString":"x","reply":{"timeZoneOffset":"5"}})") << "offset:5";
    QTest::newRow("plain text") << QByteArray("hello") << "offset:0";
    QTest::newRow("empty") << QByteArray() << "offset:0";
    QTest::newRow("array") << QByteArray("[1,2]") << "offset:0";
    QTest::newRow("reply not object") << QByteArray(R"({"error":"0","reply":"x"})") << "offset:0";
    QTest::newRow("out of range") << QByteArray(R"({"reply":{"timeZoneOffset":"99999999999"}})") << "offset:0";
    QTest::newRow("not decimal") << QByteArray(R"({"reply":{"timeZoneOffset":"0x10"}})") << "offset:0";
}

void TestCommon::serverTime()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    QCOMPARE(describe(parseServerTime(body)), expected);
}

void TestCommon::cameras_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("rows"); ///< "id|name"

    QTest::newRow("two cameras in order")
        << QByteArray(R"([{"id":"{b2}","name":"Till 2"},{"id":"{a1}","name":"Door"}])")
        << QStringList { "{b2}|Till 2", "{a1}|Door" };
    QTest::newRow("other keys ignored") << QByteArray(
        R"([{"id":"x","name":"X","status":"Online","parentId":"{0}","url":"rtsp://x"}])")
                                        << QStringList { "x|X" };
    QTest::newRow("empty array") << QByteArray("[]") << QStringList();
    QTest::newRow("object instead of array") << QByteArray(R"({"id":"x","name":"X"})") << QStringList();
    QTest::newRow("not JSON") << QByteArray("<html>Service unavailable</html>") << QStringList();
    QTest::newRow("empty body") << QByteArray() << QStringList();
    QTest::newRow("JSON numbers read as empty")
        << QByteArray(R"([{"id":17,"name":3.5},{"id":true,"name":null}])") << QStringList { "|", "|" };
    QTest::newRow("missing keys") << QByteArray(R"([{"name":"No id"},{"id":"no-name"},{}])")
                                  << QStringList { "|No id", "no-name|", "|" };
    QTest::newRow("element not an object")
        << QByteArray(R"(["cam", 5, [1], {"id":"k","name":"K"}])") << QStringList { "|", "|", "|", "k|K" };
    QTest::newRow("repeated ids all kept")
        << QByteArray(R"([{"id":"d","name":"One"},{"id":"d","name":"Two"}])") << QStringList { "d|One", "d|Two" };
    QTest::newRow("non-ASCII names") << QByteArray("[{\"id\":\"c\",\"name\":\"Kasse \xc3\xa4\\u00df\"}]")
                                     << QStringList { QString::fromUtf8("c|Kasse \xc3\xa4\xc3\x9f") };
}

void TestCommon::cameras()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, rows);
    QStringList actual;
    for (const StreamData &camera : parseCameras(body))
        actual << camera.id + "|" + camera.name;
    QCOMPARE(actual, rows);
}

void TestCommon::periods_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("one period") << periodsBody({ { "1620050400000", "60000" } })
                                << QStringList { "1620050400000/60000" };
    QTest::newRow("two elements, two periods each") << QByteArray(R"({"error":"0","reply":[
               {"guid":"a","periods":[{"startTimeMs":"400","durationMs":"40"},{"startTimeMs":"300","durationMs":"30"}]},
               {"guid":"b","periods":[{"startTimeMs":"200","durationMs":"20"},{"startTimeMs":"100","durationMs":"10"}]}]})")
                                                    << QStringList { "400/40", "300/30", "200/20", "100/10" };
    QTest::newRow("server order kept, overlaps kept")
        << periodsBody({ { "100", "50" }, { "500", "10" }, { "120", "1000" } })
        << QStringList { "100/50", "500/10", "120/1000" };
    QTest::newRow("empty periods everywhere")
        << QByteArray(R"({"error":"0","reply":[{"periods":[]},{"periods":[]}]})") << QStringList();
    QTest::newRow("empty reply") << QByteArray(R"({"error":"0","reply":[]})") << QStringList();
    QTest::newRow("no reply key") << QByteArray(R"({"error":"0"})") << QStringList();
    QTest::newRow("not JSON") << QByteArray("Bad Gateway") << QStringList();
    QTest::newRow("array at top level") << QByteArray(R"([{"periods":[{"startTimeMs":"1","durationMs":"1"}]}])")
                                        << QStringList();
    QTest::newRow("reply is an object") << QByteArray(R"({"error":"0","reply":{"periods":[]}})") << QStringList();
    QTest::newRow("numbers as JSON numbers")
        << QByteArray(R"({"error":"0","reply":[{"periods":[{"startTimeMs":1620050400000,"durationMs":60000}]}]})")
        << QStringList { "0/0" };
    QTest::newRow("error as JSON number is not a refusal")
        << QByteArray(R"({"error":1,"errorString":"x","reply":[{"periods":[{"startTimeMs":"7","durationMs":"8"}]}]})")
        << QStringList { "7/8" };
    QTest::newRow("missing fields") << QByteArray(R"({"error":"0","reply":[{"periods":[
               {"durationMs":"5"},{"startTimeMs":"9"},{}]}]})")
                                    << QStringList { "0/5", "9/0", "0/0" };
    QTest::newRow("period not an object")
        << QByteArray(R"({"error":"0","reply":[{"periods":["x",3,{"startTimeMs":"1","durationMs":"2"}]}]})")
        << QStringList { "0/0", "0/0", "1/2" };
    QTest::newRow("element not an object") << QByteArray(R"({"error":"0","reply":[5,{"periods":[
               {"startTimeMs":"1","durationMs":"2"}]}]})")
                                           << QStringList { "1/2" };
    QTest::newRow("not decimal numbers") << periodsBody({ { "0x10", "1e3" }, { "12abc", "7.5" }, { "-5", "" } })
                                         << QStringList { "0/0", "0/0", "0/0" };
    // A period longer than the int range keeps the longest duration the field can hold.
    QTest::newRow("duration beyond int range")
        << periodsBody({ { "1", "2147483648" }, { "2", "99999999999" }, { "3", "99999999999999999999999" } })
        << QStringList { "1/2147483647", "2/2147483647", "3/2147483647" };
    QTest::newRow("int max exactly") << periodsBody({ { "1", "2147483647" } }) << QStringList { "1/2147483647" };
    QTest::newRow("negative durations other than -1")
        << periodsBody({ { "1", "-2" }, { "2", "-2147483648" }, { "3", "-2147483649" }, { "4", "-0" } })
        << QStringList { "1/-2", "2/-2147483648", "3/0", "4/0" };
    QTest::newRow("start beyond unsigned range")
        << periodsBody({ { "18446744073709551616", "5" } }) << QStringList { "0/5" };
    QTest::newRow("error \"0\" with text ignored") << QByteArray(
        R"({"error":"0","errorString":"ignored","reply":[{"periods":[{"startTimeMs":"5","durationMs":"6"}]}]})")
                                                   << QStringList { "5/6" };
    QTest::newRow("refusal carries no periods") << QByteArray(
        R"({"error":"1","errorString":"Camera not found","reply":[{"periods":[{"startTimeMs":"5","durationMs":"6"}]}]})")
                                                << QStringList { "refused:Camera not found" };
    QTest::newRow("refusal without text") << QByteArray(R"({"error":"3"})") << QStringList { "refused:" };

    // Still recording (-1): the period runs up to now.
    const auto recording = [](qint64 start) {
        return periodsBody({ { QByteArray::number(start), "-1" }, { "1000", "60000" } });
    };
    QTest::newRow("recording since ten minutes")
        << recording(Now - 600000) << QStringList { QString("%1/600000").arg(Now - 600000), "1000/60000" };
    QTest::newRow("recording since thirty days")
        << recording(Now - Q_INT64_C(30) * 24 * 3600 * 1000)
        << QStringList { QString("%1/2147483647").arg(Now - Q_INT64_C(30) * 24 * 3600 * 1000), "1000/60000" };
    QTest::newRow("recording from five seconds ahead")
        << recording(Now + 5000) << QStringList { QString("%1/-5000").arg(Now + 5000), "1000/60000" };
    QTest::newRow("recording from far ahead")
        << recording(Now + Q_INT64_C(30) * 24 * 3600 * 1000)
        << QStringList { QString("%1/-2147483648").arg(Now + Q_INT64_C(30) * 24 * 3600 * 1000), "1000/60000" };
}

void TestCommon::periods()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, expected);
    QCOMPARE(describe(parsePeriods(body, Now)), expected);
}

void TestCommon::bodyShapes_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("expected");

    const QByteArray one = R"({"text":"MILK","received_at":"2021-06-01T10:20:30Z",
        "device":{"streams":[{"nx_id":"c1","name":"Till"}]}})";

    QTest::newRow("empty array") << QByteArray("[]") << QStringList();
    QTest::newRow("empty body") << QByteArray() << QStringList();
    QTest::newRow("not JSON") << QByteArray("<html><body>502 Bad Gateway</body></html>") << QStringList();
    QTest::newRow("truncated array") << QByteArray("[" + one) << QStringList();
    QTest::newRow("object envelope") << QByteArray(R"({"count":1,"results":[)" + one + "]}") << QStringList();
    QTest::newRow("scalar") << QByteArray("42") << QStringList();
    QTest::newRow("one transaction") << QByteArray("[" + one + "]")
                                     << QStringList { "MILK|2021-06-01T10:20:30.000Z|c1:Till" };
    QTest::newRow("empty object element") << QByteArray("[{}]") << QStringList { "|invalid|" };
    QTest::newRow("element not an object")
        << QByteArray(R"([7, "x", null])") << QStringList { "|invalid|", "|invalid|", "|invalid|" };
    QTest::newRow("other keys ignored") << QByteArray(
        R"([{"id":5,"total":"3.20","text":"A","received_at":"2021-06-01T10:20:30Z","device":
            {"id":2,"name":"Till 2","serial":"X","streams":[{"id":21,"nx_id":"c","name":"n","extra":1}]}}])")
                                        << QStringList { "A|2021-06-01T10:20:30.000Z|c:n" };
    QTest::newRow("numeric nx_id reads empty") << QByteArray(R"([{"text":"A","device":{"streams":[{"nx_id":5,
        "name":"Cam"}]}}])") << QStringList { "A|invalid|:Cam" };
    QTest::newRow("mistyped values read empty")
        << QByteArray(R"([{"text":12,"received_at":1622542830,"device":{"streams":[{"nx_id":["x"],"name":{}}]}}])")
        << QStringList { "|invalid|:" };
    QTest::newRow("device not an object")
        << QByteArray(R"([{"text":"A","device":"till 1"}])") << QStringList { "A|invalid|" };
    QTest::newRow("streams not an array")
        << QByteArray(R"([{"text":"A","device":{"streams":{"nx_id":"c"}}}])") << QStringList { "A|invalid|" };
    QTest::newRow("stream not an object")
        << QByteArray(R"([{"text":"A","device":{"streams":["c1"]}}])") << QStringList { "A|invalid|:" };
    QTest::newRow("malformed time") << QByteArray(R"([{"text":"A","received_at":"yesterday noon"}])")
                                    << QStringList { "A|invalid|" };
    QTest::newRow("line feeds and CR kept") << QByteArray(R"([{"text":"MILK\r\nBREAD\n\nTOTAL 3.20 \u20ac"}])")
                                            << QStringList { "MILK\r\nBREAD\n\nTOTAL 3.20 \u20ac|invalid|" };
    QTest::newRow("fraction of a second")
        << QByteArray(R"([{"text":"A","received_at":"2021-06-01T10:20:30.123+07:00"}])")
        << QStringList { "A|2021-06-01T10:20:30.123+07:00|" };
    QTest::newRow("reply order kept, not sorted")
        << QByteArray(R"([{"text":"10","received_at":"2021-06-01T10:00:00Z"},
            {"text":"12","received_at":"2021-06-01T12:00:00Z"},{"text":"11","received_at":"2021-06-01T11:00:00Z"}])")
        << QStringList { "10|2021-06-01T10:00:00.000Z|", "12|2021-06-01T12:00:00.000Z|",
               "11|2021-06-01T11:00:00.000Z|" };
}

void TestCommon::bodyShapes()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, expected);
    QCOMPARE(describeAll(parsePosResult(body, QString())), expected);
}

void TestCommon::cameraFilter_data()
{
    QTest::addColumn<QString>("streamId");
    QTest::addColumn<QStringList>("expected");

    // Transaction 1 is seen by A and B, 2 by C only, 3 by no camera, 4 by a camera with a numeric id.
    QTest::newRow("no filter keeps all") << QString()
                                         << QStringList { "one|invalid|A:Cam A,B:Cam B", "two|invalid|C:Cam C",
                                                "three|invalid|", "four|invalid|:Cam N" };
    QTest::newRow("B keeps both cameras of its transaction") << "B" << QStringList { "one|invalid|A:Cam A,B:Cam B" };
    QTest::newRow("A") << "A" << QStringList { "one|invalid|A:Cam A,B:Cam B" };
    QTest::newRow("C") << "C" << QStringList { "two|invalid|C:Cam C" };
    QTest::newRow("letter case differs") << "b" << QStringList();
    QTest::newRow("part of an id") << "Ca" << QStringList();
    QTest::newRow("id with blank") << "B " << QStringList();
    QTest::newRow("number of a numeric id") << "5" << QStringList();
    QTest::newRow("unknown camera") << "Z" << QStringList();
}

void TestCommon::cameraFilter()
{
    QFETCH(QString, streamId);
    QFETCH(QStringList, expected);
    const QByteArray body = R"([
        {"text":"one","device":{"streams":[{"nx_id":"A","name":"Cam A"},{"nx_id":"B","name":"Cam B"}]}},
        {"text":"two","device":{"streams":[{"nx_id":"C","name":"Cam C"}]}},
        {"text":"three","device":{"streams":[]}},
        {"text":"four","device":{"streams":[{"nx_id":5,"name":"Cam N"}]}}
    ])";
    QCOMPARE(describeAll(parsePosResult(body, streamId)), expected);
}

void TestCommon::zonesKeptAsWritten()
{
    const QList<PosData> records = parsePosResult(R"([{"received_at":"2021-06-01T10:20:30+07:00"},
        {"received_at":"2021-06-01T03:20:30Z"}])",
        QString());
    QCOMPARE(records.size(), 2);
    const QDateTime ahead = records.at(0).createdAt;
    const QDateTime utc = records.at(1).createdAt;
    QVERIFY(ahead.isValid());
    QVERIFY(utc.isValid());
    QCOMPARE(ahead, utc);
    QVERIFY(!(ahead < utc) && !(utc < ahead));
    QCOMPARE(ahead.timeSpec(), Qt::OffsetFromUTC);
    QCOMPARE(ahead.offsetFromUtc(), 7 * 3600);
    QCOMPARE(ahead.time(), QTime(10, 20, 30));
    QCOMPARE(utc.timeSpec(), Qt::UTC);
    QCOMPARE(utc.time(), QTime(3, 20, 30));
}

void TestCommon::localTimeWithoutSuffix()
{
    const QList<PosData> records = parsePosResult(R"([{"received_at":"2021-06-01T10:20:30"}])", QString());
    QCOMPARE(records.size(), 1);
    const QDateTime local = records.at(0).createdAt;
    QCOMPARE(local.timeSpec(), Qt::LocalTime);
    QCOMPARE(local.time(), QTime(10, 20, 30));
    // Berlin is two hours ahead of UTC in summer.
    QCOMPARE(local.toUTC(), QDateTime(QDate(2021, 6, 1), QTime(8, 20, 30), Qt::UTC));
}

void TestCommon::emptyRecordDefaults()
{
    const PosData record;
    QVERIFY(record.content.isEmpty());
    QVERIFY(!record.createdAt.isValid());
    QVERIFY(record.streams.isEmpty());
    const QList<PosData> parsed = parsePosResult("[{}]", QString());
    QCOMPARE(parsed.size(), 1);
    QVERIFY(parsed.at(0).content.isEmpty());
    QVERIFY(!parsed.at(0).createdAt.isValid());
    QVERIFY(parsed.at(0).streams.isEmpty());
    QVERIFY(parsePosResult("[{}]", "A").isEmpty());
}

QTEST_GUILESS_MAIN(TestCommon)
#include "tst_common.moc"
