#include "simdata.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <initializer_list>

namespace simdata {
namespace {

constexpr qint64 Second = 1000;
constexpr qint64 Minute = 60 * Second;
constexpr qint64 Hour = 60 * Minute;
constexpr qint64 Day = 24 * Hour;

constexpr int ReceiptWidth = 32;

// Each kind of data draws from its own stream, so that adding a draw to one cannot shift another.
enum Stream : quint64 { ServerStream = 1, CameraStream, PeriodStream, RunningStream, TillDayStream, ExceptionStream };

quint64 splitmix64(quint64 &state)
{
    quint64 z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

/// A seed for one stream of one thing (a camera, a till and a day...), independent of every other.
quint64 streamSeed(std::initializer_list<quint64> parts)
{
    quint64 state = 0x5eed5eed5eed5eedULL;
    quint64 hash = 0;
    for (quint64 part : parts) {
        state ^= part + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
        hash = splitmix64(state);
    }
    return hash;
}

/// A small generator with a fixed algorithm: std::mt19937 is fixed too, but the standard
/// distributions are not, and the data must be the same wherever the simulator is built.
class Rng
{
public:
    explicit Rng(quint64 seed)
        : m_state(seed)
    {
    }
    quint64 next() { return splitmix64(m_state); }
    /// Uniform in [low, high], both inclusive.
    qint64 between(qint64 low, qint64 high) { return low + qint64(next() % quint64(high - low + 1)); }
    bool chance(double probability) { return double(next() >> 11) / double(1ULL << 53) < probability; }
    template <class T> const T &pick(const T *items, size_t count) { return items[next() % count]; }

private:
    quint64 m_state;
};

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

/// The site's local day number (days since 1970-01-01 in site time) of an instant.
qint64 siteDay(qint64 utcMs, qint64 tzOffsetMs)
{
    return floorDiv(utcMs + tzOffsetMs, Day);
}

struct OpeningHours {
    qint64 open;
    qint64 close; ///< both from local midnight
};

OpeningHours openingHours(qint64 day)
{
    const bool sunday = day + 3 - floorDiv(day + 3, 7) * 7 == 6; // 1970-01-01 was a Thursday (Monday = 0)
    if (sunday)
        return { 10 * Hour, 18 * Hour };
    return { 8 * Hour, 21 * Hour };
}

QString guid(Rng &rng)
{
    const QString hex
        = QStringLiteral("%1%2").arg(rng.next(), 16, 16, QLatin1Char('0')).arg(rng.next(), 16, 16, QLatin1Char('0'));
    return QStringLiteral("{%1-%2-%3-%4-%5}")
        .arg(hex.mid(0, 8), hex.mid(8, 4), hex.mid(12, 4), hex.mid(16, 4), hex.mid(20, 12));
}

struct CameraSpec {
    const char *name;
    const char *vendor;
    const char *model;
    bool continuous;
    /// Motion pattern while the shop is open: period length and gap ranges.
    qint64 busyLength[2];
    qint64 busyGap[2];
};

const CameraSpec cameraSpecs[] = {
    { "Entrance", "Northlight", "NL-D4120", false, { 1 * Minute, 25 * Minute }, { 5 * Second, 6 * Minute } },
    { "Till 1 Overhead", "Vistar", "VX-2143", false, { 2 * Minute, 40 * Minute }, { 5 * Second, 4 * Minute } },
    { "Till 2 Overhead", "Vistar", "VX-2143", false, { 1 * Minute, 30 * Minute }, { 10 * Second, 8 * Minute } },
    { "Stockroom", "Northlight", "NL-T2400", false, { 30 * Second, 8 * Minute }, { 5 * Minute, 60 * Minute } },
    { "Car Park", "Kestrel", "KS-B800", true, { 2 * Hour, 9 * Hour }, { 20 * Second, 4 * Minute } },
};

QVector<Period> dayPeriods(const CameraSpec &spec, Rng &rng, qint64 dayStart, const OpeningHours &hours)
{
    QVector<Period> periods;
    const qint64 dayEnd = dayStart + Day;
    qint64 t = spec.continuous ? dayStart : dayStart + rng.between(0, 20 * Minute);
    while (t < dayEnd) {
        const qint64 local = t - dayStart;
        const bool busy = spec.continuous || (local >= hours.open - 30 * Minute && local < hours.close + 30 * Minute);
        qint64 length;
        qint64 gap;
        if (busy) {
            // Now and then a long stretch of activity: deliveries, a queue at the tills.
            length = !spec.continuous && rng.chance(0.08) ? rng.between(40 * Minute, 2 * Hour)
                                                          : rng.between(spec.busyLength[0], spec.busyLength[1]);
            gap = rng.between(spec.busyGap[0], spec.busyGap[1]);
        } else {
            length = rng.between(20 * Second, 4 * Minute);
            gap = rng.between(15 * Minute, 3 * Hour);
        }
        const qint64 end = std::min(t + length, dayEnd);
        periods.append({ t, end - t });
        t = end + gap;
    }
    return periods;
}

QVector<Period> cameraPeriods(const Config &config, int camera, qint64 windowStart)
{
    const CameraSpec &spec = cameraSpecs[camera];
    QVector<Period> all;
    for (qint64 day = siteDay(windowStart, config.tzOffsetMs); day <= siteDay(config.nowMs, config.tzOffsetMs); ++day) {
        Rng rng(streamSeed({ config.seed, PeriodStream, quint64(camera), quint64(day) }));
        const qint64 dayStart = day * Day - config.tzOffsetMs;
        for (const Period &p : dayPeriods(spec, rng, dayStart, openingHours(day))) {
            // Days are cut at midnight; recording across it is one period.
            if (!all.isEmpty() && all.last().startMs + all.last().durationMs >= p.startMs)
                all.last().durationMs = p.startMs + p.durationMs - all.last().startMs;
            else
                all.append(p);
        }
    }

    QVector<Period> kept;
    for (Period p : all) {
        const qint64 end = p.startMs + p.durationMs;
        if (end <= windowStart || p.startMs > config.nowMs)
            continue;
        if (p.startMs < windowStart) {
            p.durationMs = end - windowStart;
            p.startMs = windowStart;
        }
        kept.append(p);
    }
    // The archive always ends in the recording that is going on now.
    if (!kept.isEmpty() && kept.last().startMs + kept.last().durationMs >= config.nowMs) {
        kept.last().durationMs = -1;
    } else {
        Rng rng(streamSeed({ config.seed, RunningStream, quint64(camera), quint64(config.nowMs) }));
        qint64 start = config.nowMs - rng.between(1 * Minute, 10 * Minute);
        if (!kept.isEmpty())
            start = std::max(start, kept.last().startMs + kept.last().durationMs + Second);
        kept.append({ std::min(start, config.nowMs), -1 });
    }
    return kept;
}

struct Item {
    const char *name;
    int cents;
    int vat; ///< percent
};

const Item catalogue[] = {
    { "Whole milk 1l", 119, 7 },
    { "Sourdough bread", 349, 7 },
    { "Butter 250g", 229, 7 },
    { "Free-range eggs x10", 329, 7 },
    { "Äpfel Elstar 1kg", 249, 7 },
    { "Crème brûlée", 299, 7 },
    { "Żubrówka 0.5l", 1499, 19 },
    { "SALT & PEPPER CRISPS", 189, 7 },
    { "FISH & CHIPS frozen", 449, 7 },
    { "MAC & CHEESE", 279, 7 },
    { "Gruyère 200g", 459, 7 },
    { "Pâté de campagne", 319, 7 },
    { "Smørrebrød rye", 259, 7 },
    { "Jalapeño salsa", 239, 7 },
    { "Café au lait 250ml", 149, 7 },
    { "Łosoś wędzony 100g", 399, 7 },
    { "Müsli crunchy", 329, 7 },
    { "Würstchen x6", 279, 7 },
    { "Crêpes x6", 229, 7 },
    { "Orange juice 1l", 199, 7 },
    { "Tomatoes 500g", 189, 7 },
    { "Cucumber", 69, 7 },
    { "Bananas 1kg", 139, 7 },
    { "Pasta fusilli 500g", 99, 7 },
    { "Olive oil 0.75l", 799, 7 },
    { "Coffee beans 1kg", 1299, 7 },
    { "Dark chocolate 100g", 159, 7 },
    { "Yoghurt natural 500g", 89, 7 },
    { "Mineral water 6x1.5l", 329, 19 },
    { "Red wine Rioja", 699, 19 },
    { "Lager 6-pack", 549, 19 },
    { "Toilet paper x8", 389, 19 },
    { "Dish soap", 149, 19 },
    { "Batteries AA x4", 499, 19 },
    { "Newspaper", 250, 7 },
    { "Chewing gum", 99, 19 },
    { "Carrier bag", 25, 19 },
};

const char *const cashiers[] = { "Anna", "Jonas", "Małgorzata", "Søren", "Chloé" };

QString money(qint64 cents)
{
    const qint64 size = cents < 0 ? -cents : cents;
    return QStringLiteral("%1%2.%3")
        .arg(cents < 0 ? QStringLiteral("-") : QString())
        .arg(size / 100)
        .arg(size % 100, 2, 10, QLatin1Char('0'));
}

/// A receipt line with the amount flush right.
QString receiptLine(const QString &left, const QString &right = QString())
{
    const int spaces = std::max(1, ReceiptWidth - int(left.size()) - int(right.size()));
    return right.isEmpty() ? left : left + QString(spaces, QLatin1Char(' ')) + right;
}

QString centred(const QString &text)
{
    return QString(std::max(0, (ReceiptWidth - int(text.size())) / 2), QLatin1Char(' ')) + text;
}

struct TillSpec {
    const char *name;
    const char *serial;
    int cameras[2]; ///< -1: none
    qint64 gap[2]; ///< time between two customers
    qint64 clockAheadMs;
};

// Till 2's clock runs 20 s fast: the receipts of the till the end-to-end tests export from (Till 1, seen by
// two cameras) stay on the picture's clock.
const TillSpec tillSpecs[] = {
    { "Till 1", "TM-POS-0001", { 1, 0 }, { 1 * Minute, 8 * Minute }, 0 },
    { "Till 2", "TM-POS-0002", { 2, -1 }, { 2 * Minute, 14 * Minute }, 20 * Second },
};

/// The kind of a customer's turn at the till: mostly a sale, a few times a day something to look into.
ReceiptKind drawKind(Rng &rng)
{
    const qint64 draw = rng.between(0, 999);
    if (draw < 25)
        return ReceiptKind::Refund;
    if (draw < 45)
        return ReceiptKind::Void;
    if (draw < 65)
        return ReceiptKind::NoSale;
    if (draw < 77)
        return ReceiptKind::Discount;
    if (draw < 85)
        return ReceiptKind::PriceOverride;
    return ReceiptKind::Sale;
}

struct ReceiptContext {
    const Till &till;
    const QVector<Camera> &cameras;
    qint64 tzOffsetMs;
    qint64 day;
    int sequence;
};

struct Line {
    const Item *item;
    int quantity;
    qint64 unitCents;
    qint64 amount() const { return unitCents * quantity; }
};

/// What a customer brings to the till, as the sale draws it.
struct Basket {
    QString cashier;
    QVector<Line> lines;
    bool cash = false;
};

/// Draws exactly what a sale always drew, in the same order, whatever the receipt then becomes: the
/// sales of a day stay the same when a turn at the till is drawn to be something else.
Basket drawBasket(Rng &rng)
{
    Basket basket;
    basket.cashier = QString::fromUtf8(rng.pick(cashiers, std::size(cashiers)));
    // Mostly a few items; now and then a weekly shop that makes a long receipt.
    const int itemCount = rng.chance(0.07) ? int(rng.between(26, 36)) : int(rng.between(1, 8));
    for (int i = 0; i < itemCount; ++i) {
        const Item &item = rng.pick(catalogue, std::size(catalogue));
        const int quantity = rng.chance(0.25) ? int(rng.between(2, 6)) : 1;
        basket.lines.append({ &item, quantity, item.cents });
    }
    basket.cash = rng.chance(0.35);
    return basket;
}

/// What is brought back: one to three articles, and now and then a crate of something dear (a cash refund
/// of that is what a review looks for first).
QVector<Line> drawReturn(Rng &rng)
{
    QVector<Line> lines;
    if (rng.chance(0.35)) {
        const Item &dear = catalogue[rng.chance(0.5) ? 6 : 25]; // Żubrówka, coffee beans
        lines.append({ &dear, int(rng.between(4, 6)), dear.cents });
        return lines;
    }
    for (int i = int(rng.between(1, 3)); i > 0; --i) {
        const Item &item = rng.pick(catalogue, std::size(catalogue));
        lines.append({ &item, rng.chance(0.2) ? 2 : 1, item.cents });
    }
    return lines;
}

/// The item lines; sign -1 for what is paid back. Adds up the total and the gross by VAT rate.
QStringList itemLines(const QVector<Line> &lines, int sign, qint64 *total, qint64 grossByRate[2])
{
    QStringList out;
    for (const Line &line : lines) {
        const QString name = QString::fromUtf8(line.item->name);
        const qint64 amount = sign * line.amount();
        if (line.quantity == 1) {
            out << receiptLine(name, money(amount));
        } else {
            out << name
                << receiptLine(
                       QStringLiteral("  %1 x %2").arg(line.quantity).arg(money(line.unitCents)), money(amount));
        }
        *total += amount;
        grossByRate[line.item->vat == 7 ? 0 : 1] += amount;
    }
    return out;
}

QStringList vatLines(const qint64 grossByRate[2])
{
    QStringList out;
    const int rates[2] = { 7, 19 };
    for (int r = 0; r < 2; ++r) {
        if (grossByRate[r] != 0) {
            const qint64 size = grossByRate[r] < 0 ? -grossByRate[r] : grossByRate[r];
            const qint64 tax = (size * rates[r] + (100 + rates[r]) / 2) / (100 + rates[r]);
            out << receiptLine(QStringLiteral("incl. VAT %1%").arg(rates[r]), money(grossByRate[r] < 0 ? -tax : tax));
        }
    }
    return out;
}

QStringList paymentLines(bool cash, qint64 total)
{
    if (!cash)
        return { receiptLine(QStringLiteral("CARD"), money(total)) };
    qint64 given = total;
    for (qint64 note : { 500, 1000, 2000, 5000, 10000, 20000, 50000 }) {
        if (note >= total) {
            given = note;
            break;
        }
    }
    return { receiptLine(QStringLiteral("CASH"), money(given)),
        receiptLine(QStringLiteral("CHANGE"), money(given - total)) };
}

/// One turn at the till. rng draws what every sale draws; details draws what makes the receipt a refund,
/// a void, a discount... Its printed time and created_at are the till's clock (printedMs).
Receipt makeReceipt(
    Rng &rng, Rng &details, const ReceiptContext &context, ReceiptKind kind, qint64 printedMs, qint64 receivedMs)
{
    const QDateTime printedLocal = QDateTime::fromMSecsSinceEpoch(printedMs + context.tzOffsetMs, Qt::UTC);
    const QString number = QStringLiteral("%1-%2")
                               .arg(printedLocal.toString(QStringLiteral("yyMMdd")))
                               .arg(context.sequence, 4, 10, QLatin1Char('0'));
    Basket basket = drawBasket(rng);

    QStringList lines;
    lines << centred(QStringLiteral("TILLMARK MARKET")) << centred(QStringLiteral("12 Harbour Street, Kiel"))
          << centred(QStringLiteral("Tel. 0431 555 0182"))
          << receiptLine(context.till.name, QStringLiteral("No. ") + number)
          << receiptLine(printedLocal.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")), basket.cashier)
          << QString(ReceiptWidth, QLatin1Char('-'));

    const QString separator(ReceiptWidth, QLatin1Char('-'));
    const QString thanks = centred(QStringLiteral("Thank you for your visit!"));
    qint64 total = 0;
    qint64 grossByRate[2] = { 0, 0 }; // 7 %, 19 %
    std::optional<qint64> served; // the "total" of the reply
    bool paid = true;
    switch (kind) {
    case ReceiptKind::NoSale:
        lines << centred(QStringLiteral("*** NO SALE ***")) << centred(QStringLiteral("DRAWER OPENED")) << separator;
        paid = false;
        break;
    case ReceiptKind::Refund:
        basket.cash = details.chance(0.5);
        lines << centred(QStringLiteral("*** REFUND ***"));
        lines << itemLines(drawReturn(details), -1, &total, grossByRate);
        lines << separator << receiptLine(QStringLiteral("TOTAL EUR"), money(total))
              << receiptLine(basket.cash ? QStringLiteral("CASH REFUND") : QStringLiteral("CARD REFUND"), money(total))
              << vatLines(grossByRate) << separator << thanks;
        served = total;
        break;
    case ReceiptKind::Void: {
        lines << itemLines(basket.lines, 1, &total, grossByRate);
        const bool cancelled = details.chance(0.5);
        lines << separator << receiptLine(QStringLiteral("SUBTOTAL"), money(total))
              << centred(
                     cancelled ? QStringLiteral("*** SALE CANCELLED ***") : QStringLiteral("*** TRANSACTION VOID ***"))
              << receiptLine(QStringLiteral("TOTAL EUR"), money(0)) << separator;
        served = 0;
        paid = false;
        break;
    }
    case ReceiptKind::PriceOverride: {
        // The first article at a lower price than the catalogue's, by hand.
        Line &first = basket.lines.first();
        const qint64 listed = first.unitCents;
        first.unitCents = std::max<qint64>(1, listed * details.between(30, 90) / 100);
        QStringList items = itemLines(basket.lines, 1, &total, grossByRate);
        const int at = first.quantity == 1 ? 1 : 2;
        items.insert(at, receiptLine(QStringLiteral("  PRICE OVERRIDE"), QStringLiteral("was ") + money(listed)));
        lines << items << separator << receiptLine(QStringLiteral("TOTAL EUR"), money(total));
        break;
    }
    case ReceiptKind::Discount: {
        lines << itemLines(basket.lines, 1, &total, grossByRate);
        const int percent = int(details.between(1, 4)) * 5;
        const qint64 discount = (total * percent + 50) / 100;
        const QString label = details.chance(0.5) ? QStringLiteral("STAFF DISCOUNT") : QStringLiteral("DISCOUNT");
        lines << separator << receiptLine(QStringLiteral("SUBTOTAL"), money(total))
              << receiptLine(QStringLiteral("%1 %2%").arg(label).arg(percent), money(-discount));
        total -= discount;
        lines << receiptLine(QStringLiteral("TOTAL EUR"), money(total));
        break;
    }
    case ReceiptKind::Sale:
    case ReceiptKind::Unknown:
        lines << itemLines(basket.lines, 1, &total, grossByRate) << separator
              << receiptLine(QStringLiteral("TOTAL EUR"), money(total));
        break;
    }
    if (paid && kind != ReceiptKind::Refund) {
        lines << paymentLines(basket.cash, total) << vatLines(grossByRate) << separator << thanks;
        served = total;
    }

    QJsonArray streams;
    for (int camera : context.till.cameras) {
        streams.append(QJsonObject { { QStringLiteral("id"), context.till.id * 10 + camera },
            { QStringLiteral("nx_id"), context.cameras.at(camera).id },
            { QStringLiteral("name"), context.cameras.at(camera).name } });
    }
    const QJsonObject device { { QStringLiteral("id"), context.till.id }, { QStringLiteral("name"), context.till.name },
        { QStringLiteral("serial"), context.till.serial }, { QStringLiteral("streams"), streams } };

    Receipt receipt;
    receipt.text = lines.join(QLatin1Char('\n'));
    receipt.foldedText = foldForSearch(receipt.text);
    receipt.receivedAtMs = receivedMs;
    receipt.kind = kind;
    receipt.totalCents = served.value_or(0);
    receipt.cash = paid && basket.cash;
    QJsonObject object {
        { QStringLiteral("id"), double(context.day * 10000 + context.till.id * 1000 + context.sequence) },
        { QStringLiteral("number"), number },
        { QStringLiteral("text"), receipt.text },
        { QStringLiteral("received_at"), formatUtc(receivedMs) },
        { QStringLiteral("created_at"),
            QDateTime::fromMSecsSinceEpoch(printedMs, Qt::OffsetFromUTC, int(context.tzOffsetMs / Second))
                .toString(Qt::ISODateWithMs) },
        { QStringLiteral("currency"), QStringLiteral("EUR") },
        { QStringLiteral("cashier"), basket.cashier },
        { QStringLiteral("device"), device },
    };
    // A drawer opened for nothing has no total, and only what was paid has a payment.
    if (served)
        object.insert(QStringLiteral("total"), money(*served));
    if (paid)
        object.insert(QStringLiteral("payment"), basket.cash ? QStringLiteral("cash") : QStringLiteral("card"));
    receipt.json = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return receipt;
}

} // namespace

Site Site::generate(const Config &config)
{
    Site site;
    site.m_config = config;
    Rng serverRng(streamSeed({ config.seed, ServerStream }));
    site.m_serverId = guid(serverRng);

    const qint64 windowStart = config.nowMs - config.days * Day;
    for (int i = 0; i < int(std::size(cameraSpecs)); ++i) {
        Rng rng(streamSeed({ config.seed, CameraStream, quint64(i) }));
        Camera camera;
        camera.id = guid(rng);
        camera.name = QString::fromUtf8(cameraSpecs[i].name);
        QStringList mac { QStringLiteral("02"), QStringLiteral("54"), QStringLiteral("4D") }; // locally administered
        for (int b = 0; b < 3; ++b)
            mac << QStringLiteral("%1").arg(int(rng.next() & 0xFF), 2, 16, QLatin1Char('0')).toUpper();
        camera.physicalId = mac.join(QLatin1Char('-'));
        camera.vendor = QString::fromUtf8(cameraSpecs[i].vendor);
        camera.model = QString::fromUtf8(cameraSpecs[i].model);
        camera.logicalId = i + 1;
        camera.continuous = cameraSpecs[i].continuous;
        site.m_cameras.append(camera);
        site.m_periods.append(cameraPeriods(config, i, windowStart));
    }

    for (int i = 0; i < int(std::size(tillSpecs)); ++i) {
        Till till;
        till.id = i + 1;
        till.name = QString::fromUtf8(tillSpecs[i].name);
        till.serial = QString::fromUtf8(tillSpecs[i].serial);
        for (int camera : tillSpecs[i].cameras) {
            if (camera >= 0)
                till.cameras.append(camera);
        }
        till.clockAheadMs = tillSpecs[i].clockAheadMs;
        site.m_tills.append(till);
    }

    struct Timed {
        qint64 receivedMs;
        Receipt receipt;
    };
    std::vector<Timed> timed;
    for (qint64 day = siteDay(windowStart, config.tzOffsetMs); day <= siteDay(config.nowMs, config.tzOffsetMs); ++day) {
        const qint64 dayStart = day * Day - config.tzOffsetMs;
        const OpeningHours hours = openingHours(day);
        for (int i = 0; i < site.m_tills.size(); ++i) {
            // The whole day is drawn even where the window cuts it, so a day looks the same whatever "now" is.
            Rng rng(streamSeed({ config.seed, TillDayStream, quint64(i), quint64(day) }));
            // What makes a turn a refund, a void... draws from a stream of its own: the times and the
            // baskets stay as they were before there were exceptions.
            Rng details(streamSeed({ config.seed, ExceptionStream, quint64(i), quint64(day) }));
            const Till &till = site.m_tills.at(i);
            int sequence = 0;
            for (qint64 t = dayStart + hours.open + rng.between(0, 4 * Minute); t < dayStart + hours.close;
                 t += rng.between(tillSpecs[i].gap[0], tillSpecs[i].gap[1])) {
                const qint64 printed = t + till.clockAheadMs;
                const qint64 received = printed + rng.between(150, 1800);
                const ReceiptContext context { till, site.m_cameras, config.tzOffsetMs, day, ++sequence };
                const ReceiptKind kind = drawKind(details);
                Receipt receipt = makeReceipt(rng, details, context, kind, printed, received);
                receipt.till = i;
                receipt.siteMs = t;
                if (received >= windowStart && received <= config.nowMs)
                    timed.push_back({ received, std::move(receipt) });
            }
        }
    }
    std::stable_sort(
        timed.begin(), timed.end(), [](const Timed &a, const Timed &b) { return a.receivedMs < b.receivedMs; });
    for (Timed &t : timed)
        site.m_receipts.append(std::move(t.receipt));
    return site;
}

bool Site::loadReceipts(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("not JSON: %1 at offset %2").arg(parseError.errorString()).arg(parseError.offset);
        return false;
    }
    if (!document.isArray()) {
        *error = QStringLiteral("expected a JSON array of transactions");
        return false;
    }
    QVector<Receipt> receipts;
    const QJsonArray array = document.array();
    for (int i = 0; i < array.size(); ++i) {
        if (!array.at(i).isObject()) {
            *error = QStringLiteral("element %1 is not an object").arg(i);
            return false;
        }
        const QJsonObject object = array.at(i).toObject();
        Receipt receipt;
        receipt.text = object.value(QStringLiteral("text")).toString();
        receipt.foldedText = foldForSearch(receipt.text);
        receipt.receivedAtMs = parseIsoDateTime(object.value(QStringLiteral("received_at")).toString());
        receipt.json = QJsonDocument(object).toJson(QJsonDocument::Compact);
        receipts.append(receipt);
    }
    m_receipts = receipts;
    return true;
}

int Site::cameraIndex(const QString &id) const
{
    QString wanted = id.trimmed();
    if (!wanted.startsWith(QLatin1Char('{')))
        wanted = QLatin1Char('{') + wanted + QLatin1Char('}');
    for (int i = 0; i < m_cameras.size(); ++i) {
        if (m_cameras.at(i).id.compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QVector<Period> Site::periodsOverlapping(
    int camera, qint64 fromMs, qint64 toMs, qint64 presentMs, bool newestFirst) const
{
    QVector<Period> result;
    for (const Period &p : m_periods.at(camera)) {
        if (p.startMs <= toMs && p.endMs(presentMs) > fromMs)
            result.append(p);
    }
    if (newestFirst)
        std::reverse(result.begin(), result.end());
    return result;
}

QVector<int> Site::select(const ReceiptQuery &query) const
{
    const QString needle = query.textContains ? foldForSearch(*query.textContains) : QString();
    const bool ranged = query.receivedFromMs || query.receivedToMs;
    QVector<int> result;
    for (int i = 0; i < m_receipts.size(); ++i) {
        const Receipt &r = m_receipts.at(i);
        if (query.textContains && !r.foldedText.contains(needle))
            continue;
        if (ranged && !r.receivedAtMs)
            continue;
        if (query.receivedFromMs && *r.receivedAtMs < *query.receivedFromMs)
            continue;
        if (query.receivedToMs && *r.receivedAtMs > *query.receivedToMs)
            continue;
        result.append(i);
    }
    return result;
}

QByteArray Site::receiptsJson(const QVector<int> &indexes) const
{
    QByteArray out;
    out.reserve(indexes.size() * 900 + 2);
    out.append('[');
    for (int i = 0; i < indexes.size(); ++i) {
        if (i > 0)
            out.append(',');
        out.append(m_receipts.at(indexes.at(i)).json);
    }
    out.append(']');
    return out;
}

QString formatUtc(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

std::optional<qint64> parseIsoDateTime(const QString &text)
{
    QDateTime dateTime = QDateTime::fromString(text.trimmed(), Qt::ISODateWithMs);
    if (!dateTime.isValid())
        return std::nullopt;
    if (dateTime.timeSpec() == Qt::LocalTime)
        dateTime.setTimeSpec(Qt::UTC);
    return dateTime.toMSecsSinceEpoch();
}

QString foldForSearch(const QString &text)
{
    return text.toCaseFolded().normalized(QString::NormalizationForm_C);
}

} // namespace simdata
