#include "core/common.h"
#include "core/jsonreader.h"

#include "oldposreader.h"
#include "testutil.h"

#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

#include <ctime>

namespace {

/// Bodies shaped like POS replies, with what a careless or hostile server might send: every escape,
/// unicode in all its widths, unpaired surrogates, control characters, numbers from the ordinary to the
/// unreadable, mistyped and repeated keys, keys written with escapes, nesting up to and past the limit,
/// and now and then a byte broken, dropped or added.
class BodyGenerator
{
public:
    explicit BodyGenerator(quint32 seed)
        : m_rng(seed)
    {
        for (int i = 0; i < 4; ++i)
            m_devices << device(2);
    }

    QByteArray body()
    {
        QByteArray transactions = "[" + blanks();
        const int count = pick(9);
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                transactions += "," + blanks();
            transactions += chance(88) ? transaction() : value(1);
            transactions += blanks();
        }
        transactions += "]";
        QByteArray out;
        if (chance(5))
            out += "\xef\xbb\xbf";
        out += blanks();
        if (chance(4))
            out += "{\"results\":" + transactions + "}";
        else if (chance(2))
            out += value(0);
        else
            out += transactions;
        out += blanks();
        return chance(30) ? mutate(out) : out;
    }

private:
    int pick(int n) { return int(m_rng.bounded(n)); }
    bool chance(int percent) { return pick(100) < percent; }
    bool rarely() { return pick(1000) < 3; }
    template <class T> const T &oneOf(const QList<T> &items) { return items.at(pick(items.size())); }

    QByteArray blanks()
    {
        static const QList<QByteArray> some { " ", "\n", "\r\n", "\t", "  \n  " };
        return chance(80) ? QByteArray() : oneOf(some);
    }

    QByteArray ascii(int length)
    {
        static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,:;-+#*%$&'()";
        QByteArray out;
        for (int i = 0; i < length; ++i)
            out += letters[pick(int(sizeof(letters)) - 1)];
        return out;
    }

    /// String content: runs of plain text of every length around the 8- and 16-byte blocks, with escapes,
    /// multi-byte characters and control characters between them; rarely something that is not allowed.
    QByteArray stringContent()
    {
        static const QList<QByteArray> pieces { "\\n", "\\\"", "\\\\", "\\/", "\\b\\f\\r\\t", "\\u00e9", "\\u00E9",
            "\\ud83d\\ude00", "\\ud83d", "\\ude00", "\\ud83dx", "\\u0000", "\\q", "\\x", "\\'", "\\\x01", "\xc3\xa9",
            "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xef\xbf\xbe", "\xf4\x8f\xbf\xbf", "\x01", "\t", "\n",
            QByteArray(1, '\0'), "\x7f", "\xc2\x80", "\xed\x9f\xbf", "\xee\x80\x80", "\\\xa9", "\\\xff", "\\\xc3x",
            "\xef\xbb\xbf", "\\ufeff" };
        static const QList<QByteArray> wrong { "\xc3\x28", "\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xc0\xaf",
            "\xe0\x80\xaf", "\xf5\x80\x80\x80", "\xff", "\\u12", "\\u00g9", "\\\xc3\xa9", "\xe2\x82" };
        QByteArray out = chance(3) ? QByteArray("\xef\xbb\xbf") : QByteArray(); // a byte order mark first
        for (int i = pick(6); i > 0; --i) {
            out += ascii(pick(40));
            out += rarely() ? oneOf(wrong) : oneOf(pieces);
        }
        return out + ascii(pick(20));
    }

    QByteArray string(const QByteArray &content) { return "\"" + content + "\""; }

    QByteArray number()
    {
        static const QList<QByteArray> good { "0", "-0", "1", "12", "-7", "1.5", "23.10", "1.", "-1.", ".5", "-.5",
            "1e5", "1E+5", "1e-5", "1.e5", "0e400", "0e-400", "4.9e-324", "1e308", "1.7976931348623157e308",
            "123456789012345678901234567890", "9223372036854775808", "-9223372036854775809", "1.0",
            "0.1234567890123456789", QByteArray(300, '9'), "0." + QByteArray(299, '0') + "1" };
        static const QList<QByteArray> bad { "1e400", "-1e400", "1e-400", "2e-324", "1.7976931348623159e308",
            QByteArray(400, '9'), "0." + QByteArray(400, '0') + "1", "01", "00", "-", "+1", ".", "1e", "1e+", "--1",
            ".e1", "0x10", "NaN", "Infinity", "1.5e3.2" };
        return rarely() ? oneOf(bad) : oneOf(good);
    }

    QByteArray literal()
    {
        static const QList<QByteArray> good { "true", "false", "null" };
        static const QList<QByteArray> bad { "True", "nul", "truex", "nulll" };
        return rarely() ? oneOf(bad) : oneOf(good);
    }

    /// Any value; depth is how many containers hold it.
    QByteArray value(int depth)
    {
        switch (pick(depth > 6 ? 3 : 5)) {
        case 0:
            return string(stringContent());
        case 1:
            return number();
        case 2:
            return literal();
        case 3: {
            QByteArray out = "[" + blanks();
            for (int i = pick(4); i > 0; --i)
                out += value(depth + 1) + blanks() + (i > 1 ? "," : "") + blanks();
            return out + "]";
        }
        default: {
            QByteArray out = "{" + blanks();
            for (int i = pick(4); i > 0; --i)
                out += key(ascii(pick(6))) + value(depth + 1) + blanks() + (i > 1 ? "," : "") + blanks();
            return out + "}";
        }
        }
    }

    /// Arrays nested around the limit of 1024 containers, counted from the top.
    QByteArray deep(int depth)
    {
        const int total = 1018 + pick(9);
        const int inner = std::max(1, total - depth);
        return QByteArray(inner, '[') + QByteArray(inner, ']');
    }

    /// A member's key and colon; now and then with a letter escaped, which still names the same key.
    QByteArray key(const QByteArray &name)
    {
        QByteArray written = name;
        if (!name.isEmpty() && chance(5)) {
            const int at = pick(name.size());
            written = name.left(at) + QByteArray("\\u00")
                + QByteArray::number(uchar(name.at(at)), 16).rightJustified(2, '0') + name.mid(at + 1);
        }
        return string(written) + blanks() + ":" + blanks();
    }

    QByteArray receivedAt()
    {
        static const QList<QByteArray> zones { "Z", "Z", "Z", "+07:00", "-00:00", "+00:00", "+14:00", "+15:00",
            "-05:30", "", "z", "+0700", "+07" };
        static const QList<QByteArray> fractions { "", "", ".123", ".5", ".123456", ".", ".12" };
        static const QList<QByteArray> odd { "", "yesterday", "2021-02-30T10:00:00Z", "2021-06-01T24:00:00Z",
            "2021-06-01 10:20:30Z", "2021-06-01t10:20:30Z", "0000-01-01T00:00:00Z", "2021-06-01T10:20:60Z",
            "2021-06-01T10:20Z", "20210601T102030Z", " 2021-06-01T10:20:30Z", "2021-06-01T10:20:30.123Z ",
            "-001-12-07T10:01:38.086Z", "0001-01-01T00:00:00+14:00", "9999-12-31T23:59:59.999-01:00" };
        if (chance(10))
            return string(oneOf(odd));
        const QByteArray date = QStringLiteral("%1-%2-%3T%4:%5:%6")
                                    .arg(1990 + pick(60))
                                    .arg(1 + pick(12), 2, 10, QLatin1Char('0'))
                                    .arg(1 + pick(31), 2, 10, QLatin1Char('0'))
                                    .arg(pick(24), 2, 10, QLatin1Char('0'))
                                    .arg(pick(60), 2, 10, QLatin1Char('0'))
                                    .arg(pick(60), 2, 10, QLatin1Char('0'))
                                    .toLatin1();
        return string(date + oneOf(fractions) + oneOf(zones));
    }

    QByteArray idOrName(const QList<QByteArray> &names)
    {
        if (chance(85))
            return string(oneOf(names));
        return chance(50) ? number() : value(4);
    }

    QByteArray stream()
    {
        static const QList<QByteArray> ids { "{cam-a}", "{cam-b}", "{cam-c}", "CAM-A", "" };
        static const QList<QByteArray> names { "Till 1 Overhead", "Entrance", "Caf\xc3\xa9 \\u00e9" };
        QList<QByteArray> members;
        members << key("nx_id") + idOrName(ids) << key("name") + idOrName(names) << key("id") + number();
        if (chance(10))
            members << key("nx_id") + idOrName(ids); // given twice
        return object(members, { "nx_id", "name" });
    }

    QByteArray device(int depth)
    {
        static const QList<QByteArray> tills { "Till 1", "Till 2", "T\\u00e4ll" };
        QList<QByteArray> members;
        members << key("id") + (chance(70) ? number() : idOrName(tills)) << key("name") + idOrName(tills)
                << key("serial") + string(ascii(8));
        QByteArray streams = "[" + blanks();
        for (int i = pick(4); i > 0; --i)
            streams += (chance(90) ? stream() : value(depth + 2)) + blanks() + (i > 1 ? "," : "") + blanks();
        members << key("streams") + (chance(93) ? streams + "]" : value(depth + 1));
        if (chance(5))
            members << key("streams") + value(depth + 1);
        if (chance(3))
            members << key("extra") + deep(depth + 1);
        return object(members, { "id", "name", "streams" });
    }

    QByteArray transaction()
    {
        static const QList<QByteArray> payments { "cash", "card", "CASH" };
        QList<QByteArray> members;
        members << key("text") + (chance(95) ? string(stringContent()) : value(2)) << key("received_at") + receivedAt()
                << key("device")
                + (chance(60)        ? oneOf(m_devices)
                        : chance(90) ? device(2)
                                     : value(2));
        if (chance(70))
            members << key("total") + (chance(50) ? string(number()) : number());
        if (chance(70))
            members << key("payment") + (chance(90) ? string(oneOf(payments)) : value(2));
        if (chance(70))
            members << key("cashier") + (chance(50) ? string(ascii(5)) : chance(80) ? number() : value(2));
        members << key("id") + number() << key("number") + string(ascii(10));
        if (chance(10))
            members << key("text") + value(2);
        if (chance(5))
            members << key("device") + device(2);
        if (chance(2))
            members << key("deep") + deep(2);
        return object(members, { "text", "received_at", "total", "payment", "cashier" });
    }

    /// An object of these members in random order; now and then with many more, so that QJsonObject's
    /// sort is no longer stable, with keys beyond ASCII written with and without escapes, and with the
    /// keys that are read (readKeys) given again.
    QByteArray object(QList<QByteArray> members, const QList<QByteArray> &readKeys = {})
    {
        static const QList<QByteArray> keys { "a", "b", "zz", "\xc3\xa9", "\\u00e9", "\xef\xbd\x81", "\\uff41",
            "\xf0\x9f\x98\x80", "\\ud83d\\ude00", "\\ud800", "\\udfff", "\\uffff", "\xef\xbf\xbf", "x\\u0000", "\\\xa9",
            "te\\u0078t", "\\u0064evice", "n\\u0061me", "nx\\u005fid", "\xee\x80\x80", "\\ue000" };
        if (chance(20)) {
            for (int i = 5 + pick(20); i > 0; --i)
                members << string(oneOf(keys)) + ":" + QByteArray::number(pick(1000));
            for (int i = pick(4); i > 0 && !readKeys.isEmpty(); --i)
                members << key(oneOf(readKeys)) + (chance(50) ? string(ascii(6)) : QByteArray::number(pick(1000)));
        }
        for (int i = members.size() - 1; i > 0; --i)
            members.swapItemsAt(i, pick(i + 1));
        QByteArray out = "{" + blanks();
        for (int i = 0; i < members.size(); ++i)
            out += (i > 0 ? "," + blanks() : QByteArray()) + members.at(i) + blanks();
        return out + "}";
    }

    QByteArray mutate(QByteArray body)
    {
        static const QByteArray bytes = QByteArray("\"\\,]}{[: \x80x0", 13) + QByteArray(1, '\0');
        const int at = body.isEmpty() ? 0 : pick(body.size());
        switch (pick(5)) {
        case 0:
            return body.left(at);
        case 1:
            return body.remove(at, 1);
        case 2:
            return body.insert(at, bytes.at(pick(bytes.size())));
        case 3:
            if (!body.isEmpty())
                body[at] = bytes.at(pick(bytes.size()));
            return body;
        default:
            return body + (chance(50) ? "x" : "]");
        }
    }

    QRandomGenerator m_rng;
    QList<QByteArray> m_devices;
};

/// The body with anything unprintable escaped, for a failure message.
QString shown(const QByteArray &body)
{
    QString out;
    for (const char c : body.left(3000)) {
        const uchar u = uchar(c);
        out += u >= 0x20 && u < 0x7f ? QString(QLatin1Char(c)) : QStringLiteral("<%1>").arg(u, 2, 16, QLatin1Char('0'));
    }
    return out;
}

/// Where the fast reader and the old one read the body differently, for no filter, for a camera of the
/// reply and for one of none; empty when they agree.
QString compareReaders(const QByteArray &body)
{
    const QList<PosData> all = oldreader::parsePosResult(body, QString());
    QStringList filters { QString(), QStringLiteral("{nobody}") };
    for (const PosData &record : all) {
        if (!record.streams.isEmpty()) {
            filters << record.streams.constLast().id;
            break;
        }
    }
    for (const QString &filter : filters) {
        const QString difference
            = oldreader::difference(parsePosResult(body, filter), oldreader::parsePosResult(body, filter));
        if (!difference.isEmpty())
            return QStringLiteral("filter '%1': %2\nbody: %3").arg(filter, difference, shown(body));
    }
    return QString();
}

QByteArray deepArray(int depth, const QByteArray &inside = QByteArray())
{
    return QByteArray(depth, '[') + inside + QByteArray(depth, ']');
}

} // namespace

/// The POS reply reader against the QJsonDocument reader it replaced, and the values only it reads.
class TestJsonReader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void sameAsTheOldReaderOnGeneratedBodies();
    void sameAsTheOldReaderOnTheFuzzCorpus();
    void edges_data();
    void edges();
    void structuredFieldsAsWritten_data();
    void structuredFieldsAsWritten();
    void repeatedDevicesAndValues();
};

void TestJsonReader::initTestCase()
{
    // Times without a zone are the machine's.
    qputenv("TZ", "Europe/Berlin");
    tzset();
}

namespace {
#if defined(__SANITIZE_ADDRESS__)
// Under the sanitizers each body costs a hundred times more (most of it in the kernel, mapping and
// unmapping the large buffers); the ordinary build compares them all.
constexpr int GeneratedBodies = 500;
#else
constexpr int GeneratedBodies = 4000;
#endif
} // namespace

void TestJsonReader::sameAsTheOldReaderOnGeneratedBodies()
{
    BodyGenerator generator(20260607);
    int withRecords = 0;
    int refused = 0;
    for (int i = 0; i < GeneratedBodies; ++i) {
        const QByteArray body = generator.body();
        const QString difference = compareReaders(body);
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("body %1, %2").arg(i).arg(difference)));
        if (!oldreader::parsePosResult(body, QString()).isEmpty())
            ++withRecords;
        else if (QJsonDocument::fromJson(body).isNull())
            ++refused;
    }
    // Both kinds in good number, or the comparison proves little.
    QVERIFY2(withRecords > GeneratedBodies / 2 && refused > GeneratedBodies * 3 / 20,
        qPrintable(QStringLiteral("%1 %2").arg(withRecords).arg(refused)));
}

void TestJsonReader::sameAsTheOldReaderOnTheFuzzCorpus()
{
    const QDir corpus(QStringLiteral(TILLMARK_SOURCE_DIR "/fuzz/corpus/posresult"));
    const QStringList files = corpus.entryList(QDir::Files);
    QVERIFY(!files.isEmpty());
    for (const QString &name : files) {
        const QByteArray body = readFile(corpus.filePath(name));
        QVERIFY(!body.isEmpty());
        // The file, and the file cut short at every byte: never a part of the records.
        for (int length = body.size(); length >= 0; --length) {
            const QString difference = compareReaders(body.left(length));
            QVERIFY2(difference.isEmpty(), qPrintable(name + QStringLiteral(" cut at %1: ").arg(length) + difference));
        }
    }
}

void TestJsonReader::edges_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("records"); // -1: refused as not JSON

    const QByteArray one = R"({"text":"a"})";
    QTest::newRow("empty") << QByteArray() << -1;
    QTest::newRow("blanks only") << QByteArray(" \n") << -1;
    QTest::newRow("byte order mark, then blanks") << "\xef\xbb\xbf [" + one + "]" << 1;
    QTest::newRow("blank before the byte order mark") << " \xef\xbb\xbf[" + one + "]" << -1;
    QTest::newRow("form feed is no blank") << "[\f" + one + "]" << -1;
    QTest::newRow("garbage after the array") << "[" + one + "] x" << -1;
    QTest::newRow("a second array") << "[" + one + "][]" << -1;
    QTest::newRow("a NUL after the array") << "[" + one + "]" + QByteArray(1, '\0') << -1;
    QTest::newRow("trailing comma") << "[" + one + ",]" << -1;
    QTest::newRow("comma in an empty object") << QByteArray("[{,}]") << -1;
    QTest::newRow("cut inside a string") << QByteArray(R"([{"text":"ab)") << -1;
    QTest::newRow("backslash at the end of a string") << QByteArray(R"([{"text":"ab\"}])") << -1;
    QTest::newRow("an object: no transactions") << "{\"results\":[" + one + "]}" << 0;
    QTest::newRow("elements that are not objects") << QByteArray(R"([1, "x", null, [], true])") << 5;

    QTest::newRow("1024 containers") << deepArray(1023, one) << 1;
    QTest::newRow("1025 containers") << deepArray(1024, one) << -1;
    QTest::newRow("1024 containers beside a transaction") << "[" + one + "," + deepArray(1023) + "]" << 2;
    QTest::newRow("1025 containers beside a transaction") << "[" + one + "," + deepArray(1024) + "]" << -1;
    QTest::newRow("deep inside the device") << "[{\"device\":{\"x\":" + deepArray(1021) + "},\"text\":\"a\"}]" << 1;
    QTest::newRow("too deep inside the device")
        << "[{\"device\":{\"x\":" + deepArray(1022) + "},\"text\":\"a\"}]" << -1;

    QTest::newRow("loose numbers QJsonDocument takes") << QByteArray(R"([{"n":[1., .5, -.5, 1.e5, -0, 0e400]}])") << 1;
    QTest::newRow("huge integer") << "[{\"n\":" + QByteArray(300, '9') + "}]" << 1;
    QTest::newRow("integer beyond a double") << "[{\"n\":" + QByteArray(400, '9') + "}]" << -1;
    QTest::newRow("overflow") << QByteArray(R"([{"n":1e400}])") << -1;
    QTest::newRow("underflow") << QByteArray(R"([{"n":1e-400}])") << -1;
    QTest::newRow("smallest subnormal") << QByteArray(R"([{"n":4.9e-324}])") << 1;
    QTest::newRow("leading zero") << QByteArray(R"([{"n":01}])") << -1;
    QTest::newRow("plus sign") << QByteArray(R"([{"n":+1}])") << -1;
    QTest::newRow("exponent without digits") << QByteArray(R"([{"n":1e}])") << -1;

    QTest::newRow("raw control characters and NUL in a string")
        << QByteArray("[{\"text\":\"a\tb\x01") + QByteArray(1, '\0') + "c\"}]" << 1;
    QTest::newRow("unknown escape stands for the letter") << QByteArray(R"([{"text":"\q\x\'"}])") << 1;
    QTest::newRow("escape before a multi-byte character") << QByteArray("[{\"text\":\"\\\xc3\xa9\"}]") << -1;
    QTest::newRow("escape before a byte above 0x7f") << QByteArray("[{\"text\":\"\\\xa9x\\\xff\"}]") << 1;
    QTest::newRow("surrogate pair") << QByteArray(R"([{"text":"\ud83d\ude00"}])") << 1;
    QTest::newRow("byte order marks in strings")
        << QByteArray("[{\"text\":\"\xef\xbb\xbf\xef\xbb\xbf"
                      "a\",\"\xef\xbb\xbftext\":\"b\",\"device\":{\"name\":\"\xef\xbb\xbf\\n\"}}]")
        << 1;
    QTest::newRow("unpaired surrogates") << QByteArray(R"([{"text":"\ude00\ud83d\ud83dx"}])") << 1;
    QTest::newRow("short \\u") << QByteArray(R"([{"text":"\u00"}])") << -1;
    QTest::newRow("\\u with a letter beyond f") << QByteArray(R"([{"text":"\u00g9"}])") << -1;
    QTest::newRow("four-byte UTF-8") << QByteArray("[{\"text\":\"\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf\"}]") << 1;
    QTest::newRow("noncharacters") << QByteArray("[{\"text\":\"\xef\xbf\xbe\xef\xbf\xbf\"}]") << 1;
    QTest::newRow("overlong UTF-8") << QByteArray("[{\"text\":\"\xc0\xaf\"}]") << -1;
    QTest::newRow("overlong three-byte") << QByteArray("[{\"text\":\"\xe0\x80\xaf\"}]") << -1;
    QTest::newRow("encoded surrogate") << QByteArray("[{\"text\":\"\xed\xa0\x80\"}]") << -1;
    QTest::newRow("beyond U+10FFFF") << QByteArray("[{\"text\":\"\xf4\x90\x80\x80\"}]") << -1;
    QTest::newRow("lone continuation byte") << QByteArray("[{\"text\":\"abcdefghijklmnopq\x80\"}]") << -1;
    QTest::newRow("cut multi-byte character") << QByteArray("[{\"text\":\"\xe2\x82\"}]") << -1;
    QTest::newRow("bad UTF-8 in an unread key") << QByteArray("[{\"\xff\":1}]") << -1;
    QTest::newRow("bad UTF-8 in an unread value") << QByteArray("[{\"other\":\"\xff\"}]") << -1;

    QTest::newRow("duplicate key: the last counts") << QByteArray(R"([{"text":"first","text":"last"}])") << 1;
    QTest::newRow("duplicate key, last mistyped") << QByteArray(R"([{"text":"first","text":5}])") << 1;
    // Among more than 16 members QJsonObject's sort is not stable: here it keeps the first "text".
    QTest::newRow("duplicate key among 17 members")
        << QByteArray(R"([{"o1":0,"l2":0,"m1":0,"text":"first","t2":0,"r0":0,"n1":0,"n1":0,"o1":0,"h1":0,"w2":0,)"
                      R"("m0":0,"v2":0,"k2":0,"text":"last","o0":0,"w0":0}])")
        << 1;
    QTest::newRow("escaped key") << QByteArray(R"([{"te\u0078t":"escaped key"}])") << 1;
    QTest::newRow("key is not a string") << QByteArray(R"([{1:2}])") << -1;
    QTest::newRow("missing colon") << QByteArray(R"([{"text" "a"}])") << -1;
    QTest::newRow("missing value") << QByteArray(R"([{"text":}])") << -1;
    QTest::newRow("two values without a comma") << QByteArray(R"([{"text":"a"} {"text":"b"}])") << -1;
    QTest::newRow("literal run on") << QByteArray(R"([{"x":truex}])") << -1;
}

void TestJsonReader::edges()
{
    QFETCH(QByteArray, body);
    QFETCH(int, records);
    QCOMPARE(QJsonDocument::fromJson(body).isNull(), records == -1); // what Qt itself says of the body
    QCOMPARE(parsePosResult(body, QString()).size(), std::max(records, 0));
    const QString difference = compareReaders(body);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestJsonReader::structuredFieldsAsWritten_data()
{
    QTest::addColumn<QByteArray>("transaction");
    QTest::addColumn<QStringList>("expected"); // till id, till name, total, payment, cashier

    QTest::newRow("as the simulator writes them")
        << QByteArray(R"({"total":"-12.50","payment":"cash","cashier":"Søren","device":{"id":2,"name":"Till 2"}})")
        << QStringList { "2", "Till 2", "-12.50", "cash", "Søren" };
    QTest::newRow("numbers keep their digits")
        << QByteArray(R"({"total":23.10,"cashier":7,"device":{"id":"T-01","name":"Front"}})")
        << QStringList { "T-01", "Front", "23.10", "", "7" };
    QTest::newRow("absent") << QByteArray(R"({"text":"NO SALE"})") << QStringList { "", "", "", "", "" };
    QTest::newRow("mistyped") << QByteArray(
        R"({"total":null,"payment":["cash"],"cashier":{},"device":{"id":true,"name":3}})")
                              << QStringList { "", "", "", "", "" };
    QTest::newRow("device not an object")
        << QByteArray(R"({"device":"Till 1","total":"1.00"})") << QStringList { "", "", "1.00", "", "" };
    QTest::newRow("the last device counts")
        << QByteArray(R"({"device":{"id":1,"name":"Till 1"},"device":{"name":"Till 2"}})")
        << QStringList { "", "Till 2", "", "", "" };
}

void TestJsonReader::structuredFieldsAsWritten()
{
    QFETCH(QByteArray, transaction);
    QFETCH(QStringList, expected);
    const QList<PosData> records = parsePosResult("[" + transaction + "]", QString());
    QCOMPARE(records.size(), 1);
    const PosData &record = records.constFirst();
    QCOMPARE((QStringList { record.tillId, record.tillName, record.total, record.payment, record.cashier }), expected);
}

void TestJsonReader::repeatedDevicesAndValues()
{
    // Values the reader shares between transactions when their bytes repeat: a value that merely begins
    // like an earlier one ("1" and "12", a device that goes on) must be read afresh.
    const QByteArray body = R"([
        {"cashier":1,"payment":"cash","device":{"id":1,"name":"Till 1","streams":[{"nx_id":"a","name":"A"}]}},
        {"cashier":12,"payment":"cash","device":{"id":1,"name":"Till 1","streams":[{"nx_id":"a","name":"A"}]}},
        {"cashier":1.5,"payment":"card","device":{"id":1,"name":"Till 1","streams":[{"nx_id":"a","name":"A"}],"x":1}},
        {"cashier":1e2,"payment":"cash","device":{"id":1,"name":"Till 1","streams":[{"nx_id":"b","name":"B"}]}},
        {"cashier":"1","payment":"cash","device":{"id":1,"name":"Till 1","streams":[{"nx_id":"a","name":"A"}]}},
        {"cashier":1 ,"payment":"cash","device":{"id":1,"name":"Till 1","streams":[{"nx_id":"a","name":"A"}]}}])";
    const QList<PosData> records = parsePosResult(body, QString());
    QStringList seen;
    for (const PosData &record : records)
        seen << record.cashier + '/' + record.payment + '/' + record.streams.value(0).id;
    QCOMPARE(seen, (QStringList { "1/cash/a", "12/cash/a", "1.5/card/a", "1e2/cash/b", "1/cash/a", "1/cash/a" }));
    QCOMPARE(parsePosResult(body, QStringLiteral("b")).size(), 1);
    QVERIFY(compareReaders(body).isEmpty());
    // A repeated device followed by a broken rest is still no reply at all.
    QVERIFY(parsePosResult(body.left(body.size() - 2) + "x]", QString()).isEmpty());
}

QTEST_GUILESS_MAIN(TestJsonReader)
#include "tst_jsonreader.moc"
