#include "net/posclient.h"
#include "core/appstate.h"
#include "net/request.h"
#include "pos/posdownloader.h"
#include "testserver.h"
#include "testutil.h"

#include <QtTest>

#include <algorithm>
#include <memory>
#include <random>

namespace {

const QByteArray kHeader
    = "\n"
      "[Script Info]\n"
      "Title: Ostrel Tillmark\n"
      "ScriptType: v4.00+\n"
      "WrapStyle: 0\n"
      "ScaledBorderAndShadow: yes\n"
      "YCbCr Matrix: None\n"
      "\n"
      "[V4+ Styles]\n"
      "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, "
      "Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, "
      "Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
      "Style: Default,Arial,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,"
      "1,1,7,10,10,10,1\n"
      "\n"
      "[Events]\n"
      "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

/// The conversion exactly as described, step by step, walking every pair for every event. Slow, and
/// kept that way: the program's version must give the same text.
namespace reference {

QString formatTime(qint64 ms)
{
    const qint64 hours = ms / 3600000;
    const qint64 minutes = ms / 60000 - 60 * hours;
    const qint64 seconds = ms / 1000 - 60 * (ms / 60000);
    return QString("%1:%2:%3.00")
        .arg(hours, 2, 10, QChar('0'))
        .arg(minutes, 2, 10, QChar('0'))
        .arg(seconds, 2, 10, QChar('0'));
}

/// A receipt line as the script holds it: "{" and "}" escaped with a backslash, a word joiner after
/// every backslash of the receipt, control characters as spaces.
QString escaped(const QString &line)
{
    QString out;
    for (const QChar c : line) {
        if (c == '\\')
            out += QString("\\") + QChar(0x2060);
        else if (c == '{' || c == '}')
            out += QString("\\") + c;
        else if (c.category() == QChar::Other_Control)
            out += ' ';
        else
            out += c;
    }
    return out;
}

QList<LinePair> linePairs(const QDateTime &start, const QList<PosData> &records)
{
    QList<LinePair> pairs;
    qint64 previousEnd = 0;
    for (const PosData &record : records) {
        const qint64 off = start.msecsTo(record.createdAt);
        const QStringList pieces = record.content.split('\n');
        const qint64 base = off >= previousEnd ? off : previousEnd;
        for (int i = 0; i < pieces.size(); ++i)
            pairs.append({ off, base + 3000 + 1000 * i, i == 0 ? 3000 : 1000, pieces.at(i).trimmed() });
        previousEnd = pairs.last().endMs;
    }
    std::stable_sort(
        pairs.begin(), pairs.end(), [](const LinePair &a, const LinePair &b) { return a.endMs < b.endMs; });
    return pairs;
}

QString convert(const QDateTime &start, const QList<PosData> &records)
{
    const QList<LinePair> pairs = linePairs(start, records);
    QSet<qint64> pointSet;
    for (const LinePair &pair : pairs) {
        pointSet.insert(pair.startMs);
        pointSet.insert(pair.endMs);
    }
    QList<qint64> points = pointSet.values();
    std::sort(points.begin(), points.end());

    QString script = QString::fromUtf8(kHeader);
    for (int k = 1; k < points.size(); ++k) {
        const qint64 t = points.at(k - 1);
        QString text;
        int counter = 1;
        for (const LinePair &pair : pairs) {
            if (pair.startMs <= t && t < pair.endMs) {
                text += escaped(pair.text) + "\\N";
                if (counter > 10)
                    break;
                ++counter;
            }
        }
        script += QString("Dialogue: 0,%1,%2,Default,,0,0,0,,%3\n")
                      .arg(formatTime(t))
                      .arg(formatTime(points.at(k)))
                      .arg(text);
    }
    return script;
}

} // namespace reference

const QDateTime kStart(QDate(2021, 6, 1), QTime(9, 58, 30), Qt::UTC);

PosData receipt(const QString &content, qint64 msAfterStart)
{
    PosData data;
    data.content = content;
    data.createdAt = kStart.addMSecs(msAfterStart);
    return data;
}

QString dialogue(const QString &from, const QString &to, const QString &text)
{
    return "Dialogue: 0," + from + "," + to + ",Default,,0,0,0,," + text + "\n";
}

/// Where two scripts first part, for a readable failure.
QString firstDifference(const QString &actual, const QString &expected)
{
    const QStringList a = actual.split('\n');
    const QStringList e = expected.split('\n');
    for (int i = 0; i < std::max(a.size(), e.size()); ++i) {
        const QString left = i < a.size() ? a.at(i) : "<end>";
        const QString right = i < e.size() ? e.at(i) : "<end>";
        if (left != right)
            return QString("line %1:\n  actual   %2\n  expected %3").arg(i + 1).arg(left, right);
    }
    return QString();
}

QByteArray transaction(const QString &text, const QString &receivedAt, const QStringList &cameras)
{
    QJsonArray streams;
    for (const QString &camera : cameras)
        streams.append(QJsonObject { { "nx_id", camera }, { "name", "Camera " + camera } });
    return QJsonDocument(QJsonObject { { "text", text }, { "received_at", receivedAt },
                             { "device", QJsonObject { { "name", "Till 1" }, { "streams", streams } } } })
        .toJson(QJsonDocument::Compact);
}

/// Records made to catch the conversion out: list order apart from time order, bursts, equal and
/// invalid times, times before the start, long and empty receipts, CRLF, blanks and markup.
QList<PosData> randomRecords(std::mt19937 &rng, int maxRecords, int maxLines)
{
    auto pick = [&rng](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    const QStringList words { "MILK", "BREAD 1.20", "", " \tpadded\t ", "{\\b1}bold{\\b0}", "back\\slash", "50% %1",
        "K\u00e4se \u20ac", "   ", "TOTAL EUR 13.37", "A {PROMO} B\\N", QString("bell\x07\x7f\u0085 x") };
    QList<PosData> records;
    const int count = pick(0, maxRecords);
    qint64 at = pick(-5000, 20000);
    for (int r = 0; r < count; ++r) {
        QStringList lines;
        const int lineCount = pick(0, 9) == 0 ? pick(12, maxLines) : pick(1, std::min(maxLines, 6));
        for (int l = 0; l < lineCount; ++l)
            lines << words.at(pick(0, words.size() - 1));
        PosData data;
        data.content = lines.join(pick(0, 3) == 0 ? "\r\n" : "\n");
        switch (pick(0, 5)) {
        case 0: // anywhere, so list order and time order differ
            at = pick(-10000, 240000);
            break;
        case 1: // the same moment as the one before
            break;
        case 2: // within a second of it
            at += pick(1, 999);
            break;
        default: // a little later, as most receipts come
            at += pick(0, 8) * 1000 + pick(0, 3) * 250;
            break;
        }
        const int zone = pick(0, 9);
        if (zone == 0)
            data.createdAt = QDateTime();
        else if (zone == 1)
            data.createdAt = kStart.addMSecs(at).toOffsetFromUtc(7 * 3600);
        else
            data.createdAt = kStart.addMSecs(at);
        records << data;
    }
    return records;
}

} // namespace

/// Compares two scripts and, when they differ, names the first line that does.
#define COMPARE_SCRIPT(actual, expected)                                                                               \
    do {                                                                                                               \
        const QString actualScript = (actual);                                                                         \
        const QString expectedScript = (expected);                                                                     \
        QVERIFY2(actualScript == expectedScript, qPrintable(firstDifference(actualScript, expectedScript)));           \
    } while (false)

/// The subtitle script of a list of receipts, and the download of a time window's receipts into "sub.ass".
class TestPosDownloader : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void formatTime_data();
    void formatTime();

    void emptyScriptIsHeaderAlone();
    void workedExample();
    void oneRecordOneEvent();
    void fifteenLinesScroll();
    void listOrderDecidesQueue();
    void trimmingAndEmptyLines();
    void emptyTextIsOneLine();
    void equalStampsAndGaps();
    void linesDrawnAsPrinted_data();
    void linesDrawnAsPrinted();
    void invalidTimesCountAsStart();
    void timesComparedAcrossZones();
    void debugLinePerPair();
    void memberConversionIsTheSame();
    void matchesReferenceOnRandomRecords_data();
    void matchesReferenceOnRandomRecords();

    void windowRequestInUtc();
    void urlKeepsDoubleSlash();
    void cameraFilter_data();
    void cameraFilter();
    void writesScriptExactly();
    void httpErrorWritesNothing_data();
    void httpErrorWritesNothing();
    void unwritableScript_data();
    void unwritableScript();
    void twoDownloadsInFlight();

private:
    void watch(PosDownloader &downloader);
    /// Asks for the same window again and waits for what that brings. The server answers it as it
    /// answered the first, after the first: what the first request still had to report is in by then.
    bool downloadAgain(PosDownloader &downloader, const QDateTime &from, const QDateTime &to);

    /// Two hours ahead of UTC in June, so that local and UTC readings differ.
    ScopedTimeZone m_zone { "Europe/Berlin" };
    AppState m_state;
    std::unique_ptr<TestServer> m_server;
    QStringList m_events;
};

void TestPosDownloader::init()
{
    m_server = std::make_unique<TestServer>();
    m_state.setPosBase(m_server->base());
    m_events.clear();
    Request::setTransferTimeoutMs(60000);
}

void TestPosDownloader::cleanup()
{
    m_server.reset();
}

bool TestPosDownloader::downloadAgain(PosDownloader &downloader, const QDateTime &from, const QDateTime &to)
{
    const int before = m_events.size();
    downloader.downloadByISODate(from, to, "");
    return QTest::qWaitFor([this, before] { return m_events.size() > before; }, 10000);
}

void TestPosDownloader::watch(PosDownloader &downloader)
{
    connect(&downloader, &PosDownloader::posDownloaded, this, [this] { m_events << "downloaded"; });
    connect(&downloader, &PosDownloader::errorOccured, this, [this](const QString &m) { m_events << "error:" + m; });
}

void TestPosDownloader::formatTime_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << qint64(0) << "00:00:00.00";
    QTest::newRow("under a second dropped") << qint64(999) << "00:00:00.00";
    QTest::newRow("ninety and a half seconds") << qint64(90500) << "00:01:30.00";
    QTest::newRow("hour, minutes, 3.999 s") << qint64(3723999) << "01:02:03.00";
    QTest::newRow("last second of a minute") << qint64(59999) << "00:00:59.00";
    QTest::newRow("last second of an hour") << qint64(3599999) << "00:59:59.00";
    QTest::newRow("ten hours") << qint64(36000000) << "10:00:00.00";
    QTest::newRow("100 hours") << qint64(360000000) << "100:00:00.00";
    QTest::newRow("100 hours and a bit") << qint64(360000000 + 61000) << "100:01:01.00";
}

void TestPosDownloader::formatTime()
{
    QFETCH(qint64, ms);
    QFETCH(QString, expected);
    QCOMPARE(_formatTime(ms), expected);
    QCOMPARE(reference::formatTime(ms), expected);
}

void TestPosDownloader::emptyScriptIsHeaderAlone()
{
    const QString script = _convertToAss(kStart, {});
    QCOMPARE(script.toUtf8(), kHeader);
    QVERIFY(script.startsWith('\n'));
    QCOMPARE(script.count('\n'), 14);
    QVERIFY(script.endsWith("Effect, Text\n"));
    QVERIFY(!script.contains('\r'));
}

void TestPosDownloader::workedExample()
{
    DebugCapture capture;
    const QString script = _convertToAss(kStart, { receipt("MILK\nBREAD", 10000), receipt("TOTAL", 12000) });
    COMPARE_SCRIPT(script,
        QString::fromUtf8(kHeader) + dialogue("00:00:10.00", "00:00:12.00", "MILK\\NBREAD\\N")
            + dialogue("00:00:12.00", "00:00:13.00", "MILK\\NBREAD\\NTOTAL\\N")
            + dialogue("00:00:13.00", "00:00:14.00", "BREAD\\NTOTAL\\N")
            + dialogue("00:00:14.00", "00:00:17.00", "TOTAL\\N"));
}

void TestPosDownloader::oneRecordOneEvent()
{
    DebugCapture capture;
    COMPARE_SCRIPT(_convertToAss(kStart, { receipt("TOTAL", 5000) }),
        QString::fromUtf8(kHeader) + dialogue("00:00:05.00", "00:00:08.00", "TOTAL\\N"));
}

void TestPosDownloader::fifteenLinesScroll()
{
    QStringList lines;
    for (int i = 1; i <= 15; ++i)
        lines << QString("L%1").arg(i);
    DebugCapture capture;
    const QString script = _convertToAss(kStart, { receipt(lines.join('\n'), 0) });
    QCOMPARE(script,
        QString::fromUtf8(kHeader)
            + dialogue("00:00:00.00", "00:00:03.00", "L1\\NL2\\NL3\\NL4\\NL5\\NL6\\NL7\\NL8\\NL9\\NL10\\NL11\\N")
            + dialogue("00:00:03.00", "00:00:04.00", "L2\\NL3\\NL4\\NL5\\NL6\\NL7\\NL8\\NL9\\NL10\\NL11\\NL12\\N")
            + dialogue("00:00:04.00", "00:00:05.00", "L3\\NL4\\NL5\\NL6\\NL7\\NL8\\NL9\\NL10\\NL11\\NL12\\NL13\\N")
            + dialogue("00:00:05.00", "00:00:06.00", "L4\\NL5\\NL6\\NL7\\NL8\\NL9\\NL10\\NL11\\NL12\\NL13\\NL14\\N")
            + dialogue("00:00:06.00", "00:00:07.00", "L5\\NL6\\NL7\\NL8\\NL9\\NL10\\NL11\\NL12\\NL13\\NL14\\NL15\\N")
            + dialogue("00:00:07.00", "00:00:08.00", "L6\\NL7\\NL8\\NL9\\NL10\\NL11\\NL12\\NL13\\NL14\\NL15\\N")
            + dialogue("00:00:08.00", "00:00:09.00", "L7\\NL8\\NL9\\NL10\\NL11\\NL12\\NL13\\NL14\\NL15\\N")
            + dialogue("00:00:09.00", "00:00:10.00", "L8\\NL9\\NL10\\NL11\\NL12\\NL13\\NL14\\NL15\\N")
            + dialogue("00:00:10.00", "00:00:11.00", "L9\\NL10\\NL11\\NL12\\NL13\\NL14\\NL15\\N")
            + dialogue("00:00:11.00", "00:00:12.00", "L10\\NL11\\NL12\\NL13\\NL14\\NL15\\N")
            + dialogue("00:00:12.00", "00:00:13.00", "L11\\NL12\\NL13\\NL14\\NL15\\N")
            + dialogue("00:00:13.00", "00:00:14.00", "L12\\NL13\\NL14\\NL15\\N")
            + dialogue("00:00:14.00", "00:00:15.00", "L13\\NL14\\NL15\\N")
            + dialogue("00:00:15.00", "00:00:16.00", "L14\\NL15\\N")
            + dialogue("00:00:16.00", "00:00:17.00", "L15\\N"));
}

void TestPosDownloader::listOrderDecidesQueue()
{
    DebugCapture capture;
    // B comes first in the list though A was received earlier: A's lines wait for B's end.
    const QString script = _convertToAss(kStart, { receipt("B1", 5000), receipt("A1\nA2", 2000) });
    COMPARE_SCRIPT(script,
        QString::fromUtf8(kHeader) + dialogue("00:00:02.00", "00:00:05.00", "A1\\NA2\\N")
            + dialogue("00:00:05.00", "00:00:08.00", "B1\\NA1\\NA2\\N")
            + dialogue("00:00:08.00", "00:00:11.00", "A1\\NA2\\N") + dialogue("00:00:11.00", "00:00:12.00", "A2\\N"));
}

void TestPosDownloader::trimmingAndEmptyLines()
{
    DebugCapture capture;
    const QString script = _convertToAss(kStart, { receipt(" \tMILK \r\n\tBREAD\t\r\n\r\n  EGGS\r\n  ", 0) });
    COMPARE_SCRIPT(script,
        QString::fromUtf8(kHeader) + dialogue("00:00:00.00", "00:00:03.00", "MILK\\NBREAD\\N\\NEGGS\\N\\N")
            + dialogue("00:00:03.00", "00:00:04.00", "BREAD\\N\\NEGGS\\N\\N")
            + dialogue("00:00:04.00", "00:00:05.00", "\\NEGGS\\N\\N")
            + dialogue("00:00:05.00", "00:00:06.00", "EGGS\\N\\N") + dialogue("00:00:06.00", "00:00:07.00", "\\N"));
}

void TestPosDownloader::emptyTextIsOneLine()
{
    DebugCapture capture;
    COMPARE_SCRIPT(_convertToAss(kStart, { receipt(QString(), 1000), receipt("X", 1000) }),
        QString::fromUtf8(kHeader) + dialogue("00:00:01.00", "00:00:04.00", "\\NX\\N")
            + dialogue("00:00:04.00", "00:00:07.00", "X\\N"));
}

void TestPosDownloader::equalStampsAndGaps()
{
    DebugCapture capture;
    // X leaves at 3.0 s, Y arrives at 3.5 s: that half second is an event of its own with no text
    // and, the hundredths being dropped, equal stamps. Z comes a minute later after an empty gap.
    const QString script = _convertToAss(kStart, { receipt("X", 0), receipt("Y", 3500), receipt("Z", 70000) });
    COMPARE_SCRIPT(script,
        QString::fromUtf8(kHeader) + dialogue("00:00:00.00", "00:00:03.00", "X\\N")
            + dialogue("00:00:03.00", "00:00:03.00", "") + dialogue("00:00:03.00", "00:00:06.00", "Y\\N")
            + dialogue("00:00:06.00", "00:01:10.00", "") + dialogue("00:01:10.00", "00:01:13.00", "Z\\N"));
}

void TestPosDownloader::linesDrawnAsPrinted_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("inScript");
    const QString joiner(QChar(0x2060));
    // Without the escapes the renderer draws "{PROMO}" as nothing and breaks "C:\NEW" across two lines.
    QTest::newRow("braces") << "A {PROMO} B"
                            << "A \\{PROMO\\} B";
    QTest::newRow("override block") << "{\\an8}{\\b1}50% OFF{\\b0}"
                                    << "\\{\\" + joiner + "an8\\}\\{\\" + joiner + "b1\\}50% OFF\\{\\" + joiner
            + "b0\\}";
    QTest::newRow("backslash before N") << "C:\\NEW"
                                        << "C:\\" + joiner + "NEW";
    QTest::newRow("escaped brace in the receipt") << "\\{x"
                                                  << "\\" + joiner + "\\{x";
    QTest::newRow("control characters") << QString("A\x01"
                                                   "B\x1b[0mC\x7f")
                                        << "A B [0mC ";
    QTest::newRow("placeholders stay") << "%1 %2 50%"
                                       << "%1 %2 50%";
    QTest::newRow("word joiner of its own") << "a" + joiner + "b"
                                            << "a" + joiner + "b";
}

void TestPosDownloader::linesDrawnAsPrinted()
{
    QFETCH(QString, line);
    QFETCH(QString, inScript);
    DebugCapture capture;
    COMPARE_SCRIPT(_convertToAss(kStart, { receipt(line + "\nTOTAL", 0) }),
        QString::fromUtf8(kHeader) + dialogue("00:00:00.00", "00:00:03.00", inScript + "\\NTOTAL\\N")
            + dialogue("00:00:03.00", "00:00:04.00", "TOTAL\\N"));
}

void TestPosDownloader::invalidTimesCountAsStart()
{
    DebugCapture capture;
    PosData undated;
    undated.content = "U";
    COMPARE_SCRIPT(_convertToAss(kStart, { undated, receipt("V", 1000) }),
        QString::fromUtf8(kHeader) + dialogue("00:00:00.00", "00:00:01.00", "U\\N")
            + dialogue("00:00:01.00", "00:00:03.00", "U\\NV\\N") + dialogue("00:00:03.00", "00:00:06.00", "V\\N"));
    // Without a start every record is at time 0.
    COMPARE_SCRIPT(_convertToAss(QDateTime(), { undated, receipt("V", 1000) }),
        QString::fromUtf8(kHeader) + dialogue("00:00:00.00", "00:00:03.00", "U\\NV\\N")
            + dialogue("00:00:03.00", "00:00:06.00", "V\\N"));
}

void TestPosDownloader::timesComparedAcrossZones()
{
    DebugCapture capture;
    PosData bangkok = receipt("B", 2000);
    bangkok.createdAt = bangkok.createdAt.toOffsetFromUtc(7 * 3600);
    const QDateTime localStart = kStart.toLocalTime();
    QCOMPARE(localStart.timeSpec(), Qt::LocalTime);
    COMPARE_SCRIPT(_convertToAss(localStart, { bangkok }),
        QString::fromUtf8(kHeader) + dialogue("00:00:02.00", "00:00:05.00", "B\\N"));
}

void TestPosDownloader::debugLinePerPair()
{
    DebugCapture capture;
    _convertToAss(kStart, { receipt("MILK\nBREAD", 10000), receipt("TOTAL", 12000) });
    QCOMPARE(capture.messages(),
        QStringList({ "10000 - 13000 : \"MILK\"  ( 3000 )", "10000 - 14000 : \"BREAD\"  ( 1000 )",
            "12000 - 17000 : \"TOTAL\"  ( 3000 )" }));
}

void TestPosDownloader::memberConversionIsTheSame()
{
    DebugCapture capture;
    const QList<PosData> records { receipt("A\nB", 1000), receipt("C", 1500) };
    PosDownloader downloader;
    QCOMPARE(downloader.convertToASS(kStart, records), _convertToAss(kStart, records));
}

void TestPosDownloader::matchesReferenceOnRandomRecords_data()
{
    QTest::addColumn<int>("firstSeed");
    QTest::addColumn<int>("cases");
    QTest::addColumn<int>("maxRecords");
    QTest::addColumn<int>("maxLines");
    QTest::newRow("few records") << 1 << 600 << 4 << 15;
    QTest::newRow("some records") << 1000 << 300 << 25 << 20;
    QTest::newRow("long receipts") << 2000 << 60 << 12 << 60;
    QTest::newRow("many records") << 3000 << 6 << 300 << 14;
}

void TestPosDownloader::matchesReferenceOnRandomRecords()
{
    QFETCH(int, firstSeed);
    QFETCH(int, cases);
    QFETCH(int, maxRecords);
    QFETCH(int, maxLines);
    DebugCapture capture;
    int events = 0;
    for (int seed = firstSeed; seed < firstSeed + cases; ++seed) {
        std::mt19937 rng { uint(seed) };
        const QList<PosData> records = randomRecords(rng, maxRecords, maxLines);
        const QDateTime start = seed % 50 == 0 ? QDateTime() : kStart;
        const int logged = capture.messages().size();
        const QString actual = _convertToAss(start, records);
        const int pairs = reference::linePairs(start, records).size();
        QCOMPARE(capture.messages().size() - logged, pairs);
        const QString expected = reference::convert(start, records);
        QVERIFY2(
            actual == expected, qPrintable(QString("seed %1, %2").arg(seed).arg(firstDifference(actual, expected))));
        events += actual.count("\nDialogue: ");
    }
    // The generated lists must give the conversion something to do.
    QVERIFY(events > cases);
}

void TestPosDownloader::windowRequestInUtc()
{
    m_server->setDefault({});
    DebugCapture capture;
    PosDownloader downloader;
    watch(downloader);
    WorkDir dir;
    const QDateTime from(QDate(2021, 6, 1), QTime(10, 0, 0, 250), Qt::LocalTime);
    downloader.downloadByISODate(from, from.addSecs(180), "cam");
    QTRY_COMPARE(m_events.size(), 1);
    const TestServer::Recorded request = m_server->requests().front();
    QCOMPARE(QString::fromStdString(request.target),
        QString("/poses/?received_at__range_after=2021-06-01T08:00:00.250Z"
                "&received_at__range_before=2021-06-01T08:03:00.250Z"));
    QCOMPARE(request.params.size(), size_t(2));
    QCOMPARE(request.params.find("received_at__range_after")->second, std::string("2021-06-01T08:00:00.250Z"));
    QCOMPARE(request.params.find("received_at__range_before")->second, std::string("2021-06-01T08:03:00.250Z"));
    QVERIFY(request.authorization.empty());
    QCOMPARE(capture.messages().mid(0, 2),
        QStringList({ "Download from \"2021-06-01T10:00:00\" to \"2021-06-01T10:03:00\"",
            "\"" + m_server->base()
                + "/poses/?received_at__range_after=2021-06-01T08:00:00.250Z"
                  "&received_at__range_before=2021-06-01T08:03:00.250Z\"" }));
}

void TestPosDownloader::urlKeepsDoubleSlash()
{
    const QDateTime from(QDate(2021, 6, 1), QTime(7, 58, 30), Qt::UTC);
    QCOMPARE(PosClient::windowUrlOn("http://pos.local/", from, from.addSecs(180)),
        QString("http://pos.local//poses/?received_at__range_after=2021-06-01T07:58:30.000Z"
                "&received_at__range_before=2021-06-01T08:01:30.000Z"));
    // A zone of its own is converted too.
    QCOMPARE(PosClient::windowUrlOn("b", from.toOffsetFromUtc(-5 * 3600), from.addMSecs(7).toLocalTime()),
        QString("b/poses/?received_at__range_after=2021-06-01T07:58:30.000Z"
                "&received_at__range_before=2021-06-01T07:58:30.007Z"));
}

void TestPosDownloader::cameraFilter_data()
{
    QTest::addColumn<QString>("streamId");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("camera B") << "B" << QStringList({ "SEEN BY B", "SEEN BY A AND B" });
    QTest::newRow("camera A") << "A" << QStringList({ "SEEN BY A", "SEEN BY A AND B" });
    QTest::newRow("no camera id keeps all") << "" << QStringList({ "SEEN BY A", "SEEN BY B", "SEEN BY A AND B" });
    QTest::newRow("unknown camera") << "Z" << QStringList();
}

void TestPosDownloader::cameraFilter()
{
    QFETCH(QString, streamId);
    QFETCH(QStringList, shown);
    TestServer::Reply reply;
    reply.body = "[" + transaction("SEEN BY A", "2021-06-01T10:00:10+02:00", { "A" }) + ","
        + transaction("SEEN BY B", "2021-06-01T08:00:20Z", { "B" }) + ","
        + transaction("SEEN BY A AND B", "2021-06-01T08:00:40Z", { "A", "B" }) + "]";
    m_server->setDefault(reply);
    WorkDir dir;
    DebugCapture capture;
    PosDownloader downloader;
    watch(downloader);
    downloader.downloadByISODate(QDateTime(QDate(2021, 6, 1), QTime(10, 0), Qt::LocalTime),
        QDateTime(QDate(2021, 6, 1), QTime(10, 3), Qt::LocalTime), streamId);
    QTRY_COMPARE(m_events, QStringList({ "downloaded" }));
    const QString script = QString::fromUtf8(readFile("sub.ass"));
    QVERIFY(script.startsWith(QString::fromUtf8(kHeader)));
    for (const QString &text : QStringList { "SEEN BY A", "SEEN BY B", "SEEN BY A AND B" })
        QCOMPARE(script.contains(QString(",,%1\\N").arg(text)), shown.contains(text));
    // Timed from the window's start, which is 08:00:00 UTC.
    if (shown.contains("SEEN BY A AND B"))
        QVERIFY(script.contains("Dialogue: 0,00:00:40.00,"));
}

void TestPosDownloader::writesScriptExactly()
{
    TestServer::Reply reply;
    reply.body = "[" + transaction("K\u00e4se 2,99 \u20ac\nTOTAL", "2021-06-01T08:01:30.400Z", { "cam" }) + "]";
    m_server->setDefault(reply);
    WorkDir dir;
    QVERIFY(writeFile("sub.ass", QByteArray(100000, 'x')));
    DebugCapture capture;
    PosDownloader downloader;
    watch(downloader);
    const QDateTime from(QDate(2021, 6, 1), QTime(8, 0), Qt::UTC);
    downloader.downloadByISODate(from, from.addSecs(180), "cam");
    QTRY_COMPARE(m_events, QStringList({ "downloaded" }));
    const QByteArray expected = kHeader
        + QString(dialogue("00:01:30.00", "00:01:33.00", "K\u00e4se 2,99 \u20ac\\NTOTAL\\N")
            + dialogue("00:01:33.00", "00:01:34.00", "TOTAL\\N"))
              .toUtf8();
    QCOMPARE(readFile("sub.ass"), expected);
    QVERIFY(!readFile("sub.ass").startsWith("\xEF\xBB\xBF"));
}

void TestPosDownloader::httpErrorWritesNothing_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("earlierScript");
    QTest::newRow("404, no file before") << 404 << false;
    QTest::newRow("500, earlier script kept") << 500 << true;
}

void TestPosDownloader::httpErrorWritesNothing()
{
    QFETCH(int, status);
    QFETCH(bool, earlierScript);
    TestServer::Reply reply;
    reply.status = status;
    reply.body = "[" + transaction("X", "2021-06-01T08:00:00Z", {}) + "]";
    m_server->setDefault(reply);
    WorkDir dir;
    if (earlierScript)
        QVERIFY(writeFile("sub.ass", "earlier"));
    PosDownloader downloader;
    watch(downloader);
    DebugCapture capture;
    const QDateTime from = QDateTime::currentDateTime();
    downloader.downloadByISODate(from, from.addSecs(180), "");
    QTRY_COMPARE(m_events.size(), 1);
    QVERIFY(m_events.at(0).startsWith("error:"));
    QVERIFY(m_events.at(0).size() > 6);
    QVERIFY(downloadAgain(downloader, from, from.addSecs(180)));
    QCOMPARE(m_events, QStringList({ m_events.at(0), m_events.at(0) }));
    QCOMPARE(QFile::exists("sub.ass"), earlierScript);
    if (earlierScript)
        QCOMPARE(readFile("sub.ass"), QByteArray("earlier"));
}

void TestPosDownloader::unwritableScript_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("directory named sub.ass") << "directory";
    QTest::newRow("link to a full device") << "full";
}

void TestPosDownloader::unwritableScript()
{
    QFETCH(QString, kind);
    TestServer::Reply reply;
    // Large enough not to fit in any write buffer.
    QString longReceipt;
    for (int i = 0; i < 2000; ++i)
        longReceipt += QString("LINE %1 OF A VERY LONG RECEIPT\n").arg(i);
    reply.body = "[" + transaction(longReceipt, "2021-06-01T08:00:05Z", {}) + "]";
    m_server->setDefault(reply);
    WorkDir dir;
    if (kind == "directory") {
        QVERIFY(QDir().mkdir("sub.ass"));
    } else {
        if (!QFileInfo::exists("/dev/full"))
            QSKIP("This system has no /dev/full");
        QVERIFY(QFile::link("/dev/full", "sub.ass"));
    }
    PosDownloader downloader;
    watch(downloader);
    DebugCapture capture;
    const QDateTime from(QDate(2021, 6, 1), QTime(8, 0), Qt::UTC);
    downloader.downloadByISODate(from, from.addSecs(180), "");
    QTRY_COMPARE(m_events.size(), 1);
    QVERIFY(downloadAgain(downloader, from, from.addSecs(180)));
    QCOMPARE(m_events, QStringList({ m_events.at(0), m_events.at(0) }));
    const QString message = m_events.at(0);
    QVERIFY2(message.startsWith("error:") && message.contains("sub.ass"), qPrintable(message));
    QVERIFY(!m_events.contains("downloaded"));
    // The device is still the device, not replaced by a regular file.
    if (kind == "full")
        QVERIFY(QFileInfo("sub.ass").isSymLink());
}

void TestPosDownloader::twoDownloadsInFlight()
{
    TestServer::Reply slow;
    slow.body = "[" + transaction("SLOW", "2021-06-01T08:00:01Z", {}) + "]";
    slow.delayMs = 400;
    TestServer::Reply fast;
    fast.body = "[" + transaction("FAST", "2021-06-01T08:00:01Z", {}) + "]";
    m_server->route("/slow/poses/", slow);
    m_server->route("/fast/poses/", fast);
    WorkDir dir;
    DebugCapture capture;
    PosDownloader downloader;
    watch(downloader);
    const QDateTime from(QDate(2021, 6, 1), QTime(8, 0), Qt::UTC);
    m_state.setPosBase(m_server->base() + "/slow");
    downloader.downloadByISODate(from, from.addSecs(180), "");
    m_state.setPosBase(m_server->base() + "/fast");
    downloader.downloadByISODate(from, from.addSecs(180), "");
    QTRY_COMPARE(m_events, QStringList({ "downloaded" }));
    QVERIFY(QString::fromUtf8(readFile("sub.ass")).contains(",FAST\\N"));
    QTRY_COMPARE(m_events, QStringList({ "downloaded", "downloaded" }));
    const QString last = QString::fromUtf8(readFile("sub.ass"));
    QVERIFY(last.contains(",SLOW\\N"));
    QVERIFY(!last.contains("FAST"));
}

QTEST_GUILESS_MAIN(TestPosDownloader)
#include "tst_posdownloader.moc"
