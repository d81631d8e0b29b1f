#include "simdata.h"
#include "simoptions.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

#include <algorithm>
#include <cmath>

using namespace simdata;

namespace {

constexpr qint64 Minute = 60 * 1000;
constexpr qint64 Hour = 60 * Minute;
constexpr qint64 Day = 24 * Hour;

qint64 utc(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

Config config(quint64 seed = 1, qint64 tzOffsetMs = Hour, int days = 7, qint64 nowMs = utc("2026-12-07T10:00:00Z"))
{
    Config c;
    c.seed = seed;
    c.days = days;
    c.nowMs = nowMs;
    c.tzOffsetMs = tzOffsetMs;
    return c;
}

/// Minutes since local midnight at the site.
qint64 siteMinuteOfDay(qint64 utcMs, qint64 tzOffsetMs)
{
    const qint64 local = utcMs + tzOffsetMs;
    return ((local % Day) + Day) % Day / Minute;
}

QJsonObject json(const Receipt &receipt)
{
    return QJsonDocument::fromJson(receipt.json).object();
}

} // namespace

class TestSimData : public QObject
{
    Q_OBJECT
private slots:
    void sameConfigurationSameSite();
    void daysDoNotChangeAsTimeGoesOn();
    void cameras();
    void periods_data();
    void periods();
    void periodsOverlapping();
    void receipts_data();
    void receipts();
    void tillsAndTheirCameras();
    void exceptionsAmongTheSales();
    void tillTwoClockRunsFast();
    void select();
    void loadReceipts_data();
    void loadReceipts();
    void isoDateTimes_data();
    void isoDateTimes();
    void options_data();
    void options();
};

void TestSimData::sameConfigurationSameSite()
{
    const Site a = Site::generate(config(7));
    const Site b = Site::generate(config(7));
    const Site other = Site::generate(config(8));
    QCOMPARE(a.serverId(), b.serverId());
    QCOMPARE(a.cameras().size(), b.cameras().size());
    for (int i = 0; i < a.cameras().size(); ++i) {
        QCOMPARE(a.cameras().at(i).id, b.cameras().at(i).id);
        QCOMPARE(a.periods(i).size(), b.periods(i).size());
        for (int p = 0; p < a.periods(i).size(); ++p) {
            QCOMPARE(a.periods(i).at(p).startMs, b.periods(i).at(p).startMs);
            QCOMPARE(a.periods(i).at(p).durationMs, b.periods(i).at(p).durationMs);
        }
        QVERIFY(a.cameras().at(i).id != other.cameras().at(i).id);
    }
    QCOMPARE(a.receipts().size(), b.receipts().size());
    for (int i = 0; i < a.receipts().size(); ++i)
        QCOMPARE(a.receipts().at(i).json, b.receipts().at(i).json);
    QVERIFY(a.receipts().first().json != other.receipts().first().json);
}

void TestSimData::daysDoNotChangeAsTimeGoesOn()
{
    // A test that runs an hour later, or with more days, still finds yesterday as it was.
    const Site earlier = Site::generate(config(3, Hour, 7, utc("2026-12-07T10:00:00Z")));
    const Site later = Site::generate(config(3, Hour, 9, utc("2026-12-07T11:00:00Z")));
    const qint64 from = utc("2026-12-05T23:00:00Z");
    const qint64 to = utc("2026-12-06T22:59:59.999Z");
    ReceiptQuery day;
    day.receivedFromMs = from;
    day.receivedToMs = to;
    const QVector<int> a = earlier.select(day);
    const QVector<int> b = later.select(day);
    QVERIFY(a.size() > 50);
    QCOMPARE(a.size(), b.size());
    for (int i = 0; i < a.size(); ++i)
        QCOMPARE(earlier.receipts().at(a.at(i)).json, later.receipts().at(b.at(i)).json);
    for (int camera = 0; camera < earlier.cameras().size(); ++camera) {
        const auto pa = earlier.periodsOverlapping(camera, from + Hour, to - Hour, 0, false);
        const auto pb = later.periodsOverlapping(camera, from + Hour, to - Hour, 0, false);
        QCOMPARE(pa.size(), pb.size());
        for (int i = 0; i < pa.size(); ++i)
            QCOMPARE(pa.at(i).startMs, pb.at(i).startMs);
    }
}

void TestSimData::cameras()
{
    const Site site = Site::generate(config());
    static const QRegularExpression guid(
        QStringLiteral("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$"));
    QVERIFY(site.cameras().size() >= 4 && site.cameras().size() <= 6);
    QVERIFY(guid.match(site.serverId()).hasMatch());
    QSet<QString> ids;
    QSet<QString> names;
    for (const Camera &camera : site.cameras()) {
        QVERIFY2(guid.match(camera.id).hasMatch(), qPrintable(camera.id));
        QVERIFY(!camera.name.isEmpty());
        ids.insert(camera.id);
        names.insert(camera.name);
    }
    QCOMPARE(ids.size(), site.cameras().size());
    QCOMPARE(names.size(), site.cameras().size());

    // Clients may send the id without braces or in capitals.
    const QString id = site.cameras().at(2).id;
    QCOMPARE(site.cameraIndex(id), 2);
    QCOMPARE(site.cameraIndex(id.toUpper()), 2);
    QCOMPARE(site.cameraIndex(id.mid(1, id.size() - 2)), 2);
    QCOMPARE(site.cameraIndex(QStringLiteral("{00000000-0000-0000-0000-000000000000}")), -1);
    QCOMPARE(site.cameraIndex(QString()), -1);
}

void TestSimData::periods_data()
{
    QTest::addColumn<quint64>("seed");
    QTest::addColumn<qint64>("tzOffsetMs");
    QTest::addColumn<int>("days");
    QTest::newRow("seed 1, UTC+1, a week") << quint64(1) << Hour << 7;
    QTest::newRow("seed 2, UTC-5, a week") << quint64(2) << -5 * Hour << 7;
    QTest::newRow("seed 3, UTC+5:30, one day") << quint64(3) << 5 * Hour + 30 * Minute << 1;
    QTest::newRow("seed 4, UTC+14, a month") << quint64(4) << 14 * Hour << 30;
}

void TestSimData::periods()
{
    QFETCH(quint64, seed);
    QFETCH(qint64, tzOffsetMs);
    QFETCH(int, days);
    const Config c = config(seed, tzOffsetMs, days);
    const Site site = Site::generate(c);
    const qint64 windowStart = c.nowMs - days * Day;
    for (int camera = 0; camera < site.cameras().size(); ++camera) {
        const QVector<Period> &periods = site.periods(camera);
        const QString name = site.cameras().at(camera).name;
        QVERIFY2(periods.size() >= 2, qPrintable(name));
        qint64 longest = 0;
        qint64 openRecorded = 0;
        qint64 closedRecorded = 0;
        for (int i = 0; i < periods.size(); ++i) {
            const Period &p = periods.at(i);
            const bool last = i == periods.size() - 1;
            QVERIFY(p.startMs >= windowStart);
            QVERIFY(p.startMs <= c.nowMs);
            QCOMPARE(p.durationMs == -1, last); // only the latest is still recording
            if (!last) {
                QVERIFY(p.durationMs > 0);
                // Gaps between periods: recording that touched the next one would have been one period.
                QVERIFY2(p.startMs + p.durationMs < periods.at(i + 1).startMs, qPrintable(name));
                longest = std::max(longest, p.durationMs);
                const qint64 minute = siteMinuteOfDay(p.startMs, tzOffsetMs);
                (minute >= 9 * 60 && minute < 20 * 60 ? openRecorded : closedRecorded) += p.durationMs;
            }
        }
        if (days >= 7) {
            QVERIFY2(longest >= 30 * Minute, qPrintable(name));
            if (!site.cameras().at(camera).continuous) // motion: the shop's hours show in the archive
                QVERIFY2(openRecorded > closedRecorded, qPrintable(name));
        }
    }
}

void TestSimData::periodsOverlapping()
{
    const Config c = config(5);
    const Site site = Site::generate(c);
    const QVector<Period> &all = site.periods(0);
    const Period &p = all.at(all.size() / 2);
    const qint64 end = p.startMs + p.durationMs;
    const qint64 present = c.nowMs + 5 * Minute;

    // A window that only touches the period's first or last millisecond still finds it.
    auto starts = [&](qint64 from, qint64 to, bool newestFirst) {
        QVector<qint64> out;
        for (const Period &q : site.periodsOverlapping(0, from, to, present, newestFirst))
            out.append(q.startMs);
        return out;
    };
    QVERIFY(starts(p.startMs - Minute, p.startMs, false).contains(p.startMs));
    QVERIFY(starts(end - 1, end + Minute, false).contains(p.startMs));
    QVERIFY(!starts(end, end, false).contains(p.startMs));
    QVERIFY(!starts(p.startMs - Minute, p.startMs - 1, false).contains(p.startMs));

    const QVector<qint64> ascending = starts(c.nowMs - 2 * Day, c.nowMs, false);
    QVector<qint64> descending = starts(c.nowMs - 2 * Day, c.nowMs, true);
    QVERIFY(ascending.size() > 3);
    QVERIFY(std::is_sorted(ascending.begin(), ascending.end()));
    std::reverse(descending.begin(), descending.end());
    QCOMPARE(descending, ascending);

    // The running period reaches the present moment, not only the reference time.
    const QVector<Period> running = site.periodsOverlapping(0, c.nowMs + Minute, c.nowMs + 2 * Minute, present, true);
    QCOMPARE(running.size(), 1);
    QCOMPARE(running.first().durationMs, qint64(-1));
    QVERIFY(site.periodsOverlapping(0, present + 1, present + Hour, present, true).isEmpty());
}

void TestSimData::receipts_data()
{
    QTest::addColumn<quint64>("seed");
    QTest::addColumn<qint64>("tzOffsetMs");
    QTest::newRow("seed 1, UTC+1") << quint64(1) << Hour;
    QTest::newRow("seed 9, UTC-8") << quint64(9) << -8 * Hour;
}

void TestSimData::receipts()
{
    QFETCH(quint64, seed);
    QFETCH(qint64, tzOffsetMs);
    const Config c = config(seed, tzOffsetMs);
    const Site site = Site::generate(c);
    static const QRegularExpression utcMs(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));

    QVERIFY(site.receipts().size() > 500);
    int longOnes = 0;
    int nonAscii = 0;
    int ampersand = 0;
    QSet<double> ids;
    QHash<int, QVector<qint64>> timesByTill;
    qint64 previous = 0;
    for (const Receipt &receipt : site.receipts()) {
        const QJsonObject object = json(receipt);
        QCOMPARE(object.value(QStringLiteral("text")).toString(), receipt.text);
        const QString receivedAt = object.value(QStringLiteral("received_at")).toString();
        QVERIFY2(utcMs.match(receivedAt).hasMatch(), qPrintable(receivedAt));
        QVERIFY(receipt.receivedAtMs);
        QCOMPARE(*receipt.receivedAtMs, utc(receivedAt.toLatin1().constData()));
        QVERIFY(*receipt.receivedAtMs >= previous); // served oldest first
        QVERIFY(*receipt.receivedAtMs >= c.nowMs - c.days * Day && *receipt.receivedAtMs <= c.nowMs);
        previous = *receipt.receivedAtMs;

        // Opening hours in site time, 08:00 to 21:00 at the widest.
        const qint64 minute = siteMinuteOfDay(*receipt.receivedAtMs, tzOffsetMs);
        QVERIFY2(minute >= 8 * 60 && minute <= 21 * 60, qPrintable(receivedAt));

        const int lines = receipt.text.count(QLatin1Char('\n')) + 1;
        longOnes += lines >= 30;
        nonAscii += std::any_of(receipt.text.begin(), receipt.text.end(), [](QChar ch) { return ch.unicode() > 127; });
        ampersand += receipt.text.contains(QLatin1Char('&'));
        ids.insert(object.value(QStringLiteral("id")).toDouble());
        timesByTill[object.value(QStringLiteral("device")).toObject().value(QStringLiteral("id")).toInt()].append(
            *receipt.receivedAtMs);
    }
    QCOMPARE(ids.size(), site.receipts().size());
    QVERIFY(longOnes > 0);
    QVERIFY(nonAscii > 0 && nonAscii < site.receipts().size());
    QVERIFY(ampersand > 0 && ampersand < site.receipts().size());

    // Every few minutes per till while open: the typical gap is a few minutes, never under one.
    QCOMPARE(timesByTill.size(), 2);
    for (const QVector<qint64> &times : qAsConst(timesByTill)) {
        QVector<qint64> gaps;
        for (int i = 1; i < times.size(); ++i) {
            if (times.at(i) - times.at(i - 1) < 4 * Hour) // same opening day
                gaps.append(times.at(i) - times.at(i - 1));
        }
        std::sort(gaps.begin(), gaps.end());
        QVERIFY(gaps.first() >= Minute - 2000);
        const qint64 median = gaps.at(gaps.size() / 2);
        QVERIFY(median >= 2 * Minute && median <= 10 * Minute);
    }
}

void TestSimData::tillsAndTheirCameras()
{
    const Site site = Site::generate(config());
    QCOMPARE(site.tills().size(), 2);
    QSet<QString> cameraIds;
    for (const Camera &camera : site.cameras())
        cameraIds.insert(camera.id);
    QSet<QString> tillNames;
    for (const Receipt &receipt : site.receipts()) {
        const QJsonObject device = json(receipt).value(QStringLiteral("device")).toObject();
        const QJsonArray streams = device.value(QStringLiteral("streams")).toArray();
        tillNames.insert(device.value(QStringLiteral("name")).toString());
        QVERIFY(streams.size() == 1 || streams.size() == 2);
        for (const QJsonValue &stream : streams) {
            const QString id = stream.toObject().value(QStringLiteral("nx_id")).toString();
            QVERIFY2(cameraIds.contains(id), qPrintable(id)); // exactly as the video server lists it
            const int index = site.cameraIndex(id);
            QCOMPARE(stream.toObject().value(QStringLiteral("name")).toString(), site.cameras().at(index).name);
        }
    }
    QCOMPARE(tillNames, (QSet<QString> { QStringLiteral("Till 1"), QStringLiteral("Till 2") }));
}

void TestSimData::exceptionsAmongTheSales()
{
    const Config c = config(1, Hour, 7);
    const Site site = Site::generate(c);
    static const QRegularExpression amountAtTheEnd(
        QStringLiteral("\\d\\.\\d\\d-?$"), QRegularExpression::MultilineOption);
    static const QRegularExpression exceptionWords(
        QStringLiteral("REFUND|VOID|CANCELLED|NO SALE|DRAWER|DISCOUNT|OVERRIDE"));
    QHash<int, QHash<int, int>> byTill; // till -> kind -> receipts
    int largeCashRefunds = 0;
    for (const Receipt &receipt : site.receipts()) {
        const QJsonObject object = json(receipt);
        const QString total = object.value(QStringLiteral("total")).toString();
        const QString text = receipt.text;
        // Every kind keeps the heading, with the receipt's number on the fourth line.
        QVERIFY2(text.section(QLatin1Char('\n'), 3, 3).contains(QStringLiteral("No. ")), qPrintable(text));
        QCOMPARE(object.value(QStringLiteral("cashier")).toString().isEmpty(), false);
        QCOMPARE(object.contains(QStringLiteral("payment")),
            receipt.kind != ReceiptKind::Void && receipt.kind != ReceiptKind::NoSale);
        QCOMPARE(object.value(QStringLiteral("payment")).toString() == QLatin1String("cash"), receipt.cash);
        switch (receipt.kind) {
        case ReceiptKind::Refund:
            QVERIFY2(text.contains(QStringLiteral("*** REFUND ***")), qPrintable(text));
            QVERIFY(receipt.totalCents < 0);
            largeCashRefunds += receipt.cash && receipt.totalCents <= -5000;
            break;
        case ReceiptKind::Void:
            QVERIFY2(
                text.contains(QStringLiteral("VOID")) || text.contains(QStringLiteral("CANCELLED")), qPrintable(text));
            QCOMPARE(total, QStringLiteral("0.00"));
            break;
        case ReceiptKind::NoSale:
            QVERIFY2(
                text.contains(QStringLiteral("NO SALE")) && !amountAtTheEnd.match(text).hasMatch(), qPrintable(text));
            QVERIFY(!object.contains(QStringLiteral("total")));
            break;
        case ReceiptKind::Discount:
            QVERIFY2(text.contains(QStringLiteral("DISCOUNT")), qPrintable(text));
            break;
        case ReceiptKind::PriceOverride:
            QVERIFY2(text.contains(QStringLiteral("PRICE OVERRIDE")), qPrintable(text));
            break;
        case ReceiptKind::Sale:
            QVERIFY2(!exceptionWords.match(text).hasMatch(), qPrintable(text));
            QVERIFY(receipt.totalCents > 0);
            break;
        case ReceiptKind::Unknown:
            QFAIL("a generated receipt of no kind");
        }
        if (receipt.kind != ReceiptKind::NoSale) {
            const int money = int(std::round(total.toDouble() * 100));
            QCOMPARE(money, int(receipt.totalCents));
        }
        ++byTill[receipt.till][int(receipt.kind)];
    }
    // A few a day per till (a week and a bit of opening days), among many more sales.
    QCOMPARE(byTill.size(), 2);
    for (int till = 0; till < 2; ++till) {
        const QHash<int, int> &kinds = byTill.value(till);
        for (const ReceiptKind kind : { ReceiptKind::Refund, ReceiptKind::Void, ReceiptKind::NoSale }) {
            const int count = kinds.value(int(kind));
            QVERIFY2(count >= 7 && count <= 60,
                qPrintable(QStringLiteral("till %1 kind %2: %3").arg(till).arg(int(kind)).arg(count)));
        }
        QVERIFY(kinds.value(int(ReceiptKind::Discount)) + kinds.value(int(ReceiptKind::PriceOverride)) >= 3);
        QVERIFY(kinds.value(int(ReceiptKind::Sale)) > 20 * kinds.value(int(ReceiptKind::Refund)));
    }
    QVERIFY(largeCashRefunds >= 2);
}

void TestSimData::tillTwoClockRunsFast()
{
    const Config c = config(4, -5 * Hour, 3);
    const Site site = Site::generate(c);
    QCOMPARE(site.tills().at(0).clockAheadMs, qint64(0));
    QCOMPARE(site.tills().at(1).clockAheadMs, qint64(20000));
    int seen[2] = { 0, 0 };
    for (const Receipt &receipt : site.receipts()) {
        QVERIFY(receipt.siteMs && (receipt.till == 0 || receipt.till == 1));
        const qint64 ahead = site.tills().at(receipt.till).clockAheadMs;
        // Received shortly after the till's clock says it printed; the till's clock is the site's plus ahead.
        const qint64 lag = *receipt.receivedAtMs - *receipt.siteMs - ahead;
        QVERIFY2(lag >= 150 && lag <= 1800, qPrintable(QString::number(lag)));
        const QJsonObject object = json(receipt);
        QCOMPARE(parseIsoDateTime(object.value(QStringLiteral("created_at")).toString()), *receipt.siteMs + ahead);
        const QString printed = QDateTime::fromMSecsSinceEpoch(*receipt.siteMs + ahead + c.tzOffsetMs, Qt::UTC)
                                    .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
        QVERIFY2(receipt.text.section(QLatin1Char('\n'), 4, 4).startsWith(printed), qPrintable(receipt.text));
        ++seen[receipt.till];
    }
    QVERIFY(seen[0] > 100 && seen[1] > 100);
}

void TestSimData::select()
{
    const Site site = Site::generate(config(2));
    auto search = [&](const QString &text) {
        ReceiptQuery query;
        query.textContains = text;
        return site.select(query);
    };
    // Case folding with umlauts and accents, and a decomposed "Ä" from a client that does not compose.
    const QVector<int> apples = search(QStringLiteral("äpfel"));
    QVERIFY(!apples.isEmpty());
    QCOMPARE(search(QStringLiteral("ÄPFEL")), apples);
    QCOMPARE(search(QStringLiteral("A\u0308pfel")), apples);
    int expected = 0;
    for (const Receipt &r : site.receipts())
        expected += r.text.contains(QStringLiteral("Äpfel"));
    QCOMPARE(apples.size(), expected);
    QVERIFY(!search(QStringLiteral("ŻUBRÓWKA")).isEmpty());
    QVERIFY(!search(QStringLiteral("salt & pepper")).isEmpty());
    QCOMPARE(search(QString()).size(), site.receipts().size());
    QVERIFY(search(QStringLiteral("no such article")).isEmpty());

    // Both bounds inclusive, to the millisecond.
    const int middle = site.receipts().size() / 2;
    const qint64 t = *site.receipts().at(middle).receivedAtMs;
    ReceiptQuery exact;
    exact.receivedFromMs = t;
    exact.receivedToMs = t;
    QCOMPARE(site.select(exact), QVector<int> { middle });
    exact.receivedFromMs = t + 1;
    exact.receivedToMs = t + Minute;
    QVERIFY(!site.select(exact).contains(middle));
    ReceiptQuery before;
    before.receivedToMs = t - 1;
    QCOMPARE(site.select(before).size(), middle);

    ReceiptQuery both;
    both.textContains = QStringLiteral("äpfel");
    both.receivedFromMs = t;
    const QVector<int> later = site.select(both);
    QVERIFY(!later.isEmpty());
    for (int i : later)
        QVERIFY(i >= middle && apples.contains(i));

    const QJsonArray served = QJsonDocument::fromJson(site.receiptsJson(later)).array();
    QCOMPARE(served.size(), later.size());
    QCOMPARE(
        served.first().toObject().value(QStringLiteral("text")).toString(), site.receipts().at(later.first()).text);
}

void TestSimData::loadReceipts_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("loads");
    QTest::newRow("not JSON") << QByteArray("[{\"text\": ") << false;
    QTest::newRow("an object") << QByteArray("{\"results\": []}") << false;
    QTest::newRow("a number among the transactions") << QByteArray("[{\"text\": \"a\"}, 3]") << false;
    QTest::newRow("empty array") << QByteArray("[]") << true;
    QTest::newRow("transactions") << QByteArray(R"([
        {"id": 2, "text": "SECOND\nline", "received_at": "2026-12-07T10:00:00.000Z", "device": {"streams": []}},
        {"id": 1, "text": "first Äpfel", "received_at": "2026-12-07T09:00:00.000+01:00"},
        {"id": 3, "text": "no time", "received_at": "yesterday"}])")
                                  << true;
}

void TestSimData::loadReceipts()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, loads);
    Site site = Site::generate(config());
    const int generated = site.receipts().size();
    QString error;
    QCOMPARE(site.loadReceipts(file, &error), loads);
    if (!loads) {
        QVERIFY(!error.isEmpty());
        QCOMPARE(site.receipts().size(), generated); // a bad file changes nothing
        return;
    }
    const QJsonArray array = QJsonDocument::fromJson(file).array();
    QCOMPARE(site.receipts().size(), array.size());
    const QJsonArray served = QJsonDocument::fromJson(site.receiptsJson(site.select({}))).array();
    QCOMPARE(served, array); // file order, every key kept
    if (array.isEmpty())
        return;

    ReceiptQuery search;
    search.textContains = QStringLiteral("ÄPFEL");
    QCOMPARE(site.select(search), QVector<int> { 1 });
    ReceiptQuery window; // 08:00Z to 10:00Z: both timed ones, not the one without a readable time
    window.receivedFromMs = utc("2026-12-07T08:00:00Z");
    window.receivedToMs = utc("2026-12-07T10:00:00Z");
    QCOMPARE(site.select(window), (QVector<int> { 0, 1 }));
}

void TestSimData::isoDateTimes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("expected"); // -1: not a date-time
    const qint64 t = utc("2026-12-07T10:15:30.123Z");
    QTest::newRow("UTC with ms") << QStringLiteral("2026-12-07T10:15:30.123Z") << t;
    QTest::newRow("offset") << QStringLiteral("2026-12-07T11:15:30.123+01:00") << t;
    QTest::newRow("no zone is UTC") << QStringLiteral("2026-12-07T10:15:30.123") << t;
    QTest::newRow("no ms") << QStringLiteral("2026-12-07T10:15:30Z") << t - 123;
    QTest::newRow("month 13") << QStringLiteral("2026-13-07T10:15:30.123Z") << qint64(-1);
    QTest::newRow("words") << QStringLiteral("yesterday") << qint64(-1);
    QTest::newRow("empty") << QString() << qint64(-1);
    QTest::newRow("trailing junk") << QStringLiteral("2026-12-07T10:15:30.123Zjunk") << qint64(-1);
}

void TestSimData::isoDateTimes()
{
    QFETCH(QString, text);
    QFETCH(qint64, expected);
    const auto parsed = parseIsoDateTime(text);
    QCOMPARE(parsed.has_value(), expected != -1);
    if (parsed)
        QCOMPARE(*parsed, expected);
    if (parsed && text.endsWith(QLatin1Char('Z')))
        QCOMPARE(parseIsoDateTime(formatUtc(*parsed)), parsed);
}

void TestSimData::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("valid");
    QTest::newRow("defaults") << QStringList() << true;
    QTest::newRow("all set") << QStringList { "--vms-port=0", "--pos-port=0", "--auth=BASIC", "--seed=42", "--days=3",
        "--now=2026-12-07T10:00:00Z", "--tz-offset-ms=-18000000", "--fail=/hls/*=503", "--fail=/poses/=500",
        "--delay=/poses/=250", "--delay-ms=10", "--stall=/api/getTime", "--cut-clip-after=1000" }
                             << true;
    QTest::newRow("unknown option") << QStringList { "--bogus" } << false;
    QTest::newRow("stray argument") << QStringList { "serve" } << false;
    QTest::newRow("port too big") << QStringList { "--vms-port=70000" } << false;
    QTest::newRow("port not a number") << QStringList { "--pos-port=http" } << false;
    QTest::newRow("no days") << QStringList { "--days=0" } << false;
    QTest::newRow("scheme") << QStringList { "--auth=ntlm" } << false;
    QTest::newRow("now") << QStringList { "--now=tomorrow" } << false;
    QTest::newRow("zone beyond +14 h") << QStringList { "--tz-offset-ms=54000000" } << false;
    QTest::newRow("fail without status") << QStringList { "--fail=/poses/" } << false;
    QTest::newRow("fail with status 99") << QStringList { "--fail=/poses/=99" } << false;
    QTest::newRow("fail without slash") << QStringList { "--fail=poses=500" } << false;
    QTest::newRow("negative delay") << QStringList { "--delay-ms=-5" } << false;
    QTest::newRow("cut at minus one") << QStringList { "--cut-clip-after=-1" } << false;
}

void TestSimData::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, valid);
    SimOptions options;
    QString message;
    const qint64 current = utc("2026-06-01T12:00:00Z");
    const ParseResult result
        = parseSimOptions(QStringList { QStringLiteral("tillmark-sim") } + arguments, current, &options, &message);
    QCOMPARE(result, valid ? ParseResult::Run : ParseResult::Error);
    if (!valid) {
        QVERIFY(!message.isEmpty());
        return;
    }
    if (arguments.isEmpty()) {
        // What the login page offers must work as it stands.
        QCOMPARE(options.vmsPort, 7001);
        QCOMPARE(options.posPort, 8000);
        QCOMPARE(options.account.user, std::string("admin"));
        QCOMPARE(options.account.password, std::string("Pelmo4826"));
        QVERIFY(options.scheme == httpauth::Scheme::Digest);
        QCOMPARE(options.data.seed, quint64(1));
        QCOMPARE(options.data.days, 7);
        QCOMPARE(options.data.nowMs, current);
        QVERIFY(options.failures.empty() && options.stalls.empty() && options.cutClipAfter == -1);
        return;
    }
    QCOMPARE(options.vmsPort, 0);
    QVERIFY(options.scheme == httpauth::Scheme::Basic);
    QCOMPARE(options.data.seed, quint64(42));
    QCOMPARE(options.data.nowMs, utc("2026-12-07T10:00:00Z"));
    QCOMPARE(options.data.tzOffsetMs, qint64(-18000000));
    QCOMPARE(options.failures.size(), size_t(2));
    QVERIFY(options.failures.at(0).pattern.matches("/hls/{abc}.mkv"));
    QVERIFY(!options.failures.at(0).pattern.matches("/hl"));
    QCOMPARE(options.failures.at(0).value, 503);
    QVERIFY(options.failures.at(1).pattern.matches("/poses/"));
    QVERIFY(!options.failures.at(1).pattern.matches("/poses"));
    QCOMPARE(options.delays.at(0).value, 250);
    QCOMPARE(options.delayMs, 10);
    QVERIFY(options.stalls.at(0).matches("/api/getTime"));
    QCOMPARE(options.cutClipAfter, 1000LL);
}

QTEST_GUILESS_MAIN(TestSimData)
#include "tst_simdata.moc"
