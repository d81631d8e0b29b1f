#include "common.h"

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

} // namespace

/// Reading POS server replies into records, with and without a camera filter.
class TestCommon : public QObject
{
    Q_OBJECT
private slots:

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
