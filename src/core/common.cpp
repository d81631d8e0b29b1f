#include "core/common.h"

#include "core/jsonreader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QVariantMap>

#include <array>
#include <limits>
#include <vector>

namespace {

qint32 clampToInt(qint64 value)
{
    if (value > std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    if (value < std::numeric_limits<qint32>::min())
        return std::numeric_limits<qint32>::min();
    return static_cast<qint32>(value);
}

/// Milliseconds from start to now; negative for a start in the future.
qint64 elapsedSince(quint64 start, qint64 now)
{
    const quint64 nowMs = static_cast<quint64>(qMax<qint64>(now, 0));
    if (start <= nowMs)
        return static_cast<qint64>(nowMs - start);
    const quint64 ahead = start - nowMs;
    return ahead > quint64(std::numeric_limits<qint32>::max()) ? std::numeric_limits<qint32>::min()
                                                               : -static_cast<qint64>(ahead);
}

/// "durationMs": a period longer than the int range is kept as the longest one it can hold;
/// anything toInt() cannot read (and that is not such a long period) reads as 0.
qint64 readDuration(const QString &text)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (ok)
        return value < std::numeric_limits<qint32>::min() ? 0 : value;
    static const QRegularExpression digitsOnly(QStringLiteral("^\\s*\\+?[0-9]+\\s*$"));
    return digitsOnly.match(text).hasMatch() ? std::numeric_limits<qint64>::max() : 0;
}

/// The video server's refusal inside a JSON reply: "error" as a non-zero decimal string.
std::optional<QString> refusalOf(const QJsonObject &top)
{
    if (top.value(QStringLiteral("error")).toString().toInt(nullptr, 10) == 0)
        return std::nullopt;
    return top.value(QStringLiteral("errorString")).toString();
}

/// A "received_at" as QDateTime::fromString reads it with Qt::ISODate. The form servers write (UTC or a
/// fixed offset, whole seconds or milliseconds) is built directly, at a tenth of the cost; anything else
/// goes to fromString.
QDateTime readReceivedAt(const QString &text)
{
    const int length = text.size();
    const QChar *c = text.constData();
    auto number = [c](int at, int digits) {
        int value = 0;
        for (int i = at; i < at + digits; ++i) {
            const ushort unit = c[i].unicode();
            if (unit < '0' || unit > '9')
                return -1;
            value = value * 10 + (unit - '0');
        }
        return value;
    };
    if (length < 20 || c[4] != QLatin1Char('-') || c[7] != QLatin1Char('-') || c[10] != QLatin1Char('T')
        || c[13] != QLatin1Char(':') || c[16] != QLatin1Char(':'))
        return QDateTime::fromString(text, Qt::ISODate);
    int at = 19;
    int ms = 0;
    if (c[at] == QLatin1Char('.') && length >= 24) {
        ms = number(20, 3);
        at = 23;
    }
    int offsetSeconds = 0;
    bool utc = false;
    if (at + 1 == length && c[at] == QLatin1Char('Z')) {
        utc = true;
    } else if (at + 6 == length && (c[at] == QLatin1Char('+') || c[at] == QLatin1Char('-'))
        && c[at + 3] == QLatin1Char(':')) {
        const int hours = number(at + 1, 2);
        const int minutes = number(at + 4, 2);
        if (hours < 0 || hours > 14 || minutes < 0 || minutes > 59)
            return QDateTime::fromString(text, Qt::ISODate);
        offsetSeconds = (c[at] == QLatin1Char('-') ? -1 : 1) * (hours * 3600 + minutes * 60);
    } else {
        return QDateTime::fromString(text, Qt::ISODate);
    }
    const int year = number(0, 4);
    const int month = number(5, 2);
    const int day = number(8, 2);
    const int hour = number(11, 2);
    const int minute = number(14, 2);
    const int second = number(17, 2);
    // A sign in the year ("-001") reads as -1 here, which is a valid year: left to fromString.
    if (year < 1 || ms < 0 || !QDate::isValid(year, month, day) || !QTime::isValid(hour, minute, second, ms))
        return QDateTime::fromString(text, Qt::ISODate);
    const QDate date(year, month, day);
    const QTime time(hour, minute, second, ms);
    return utc ? QDateTime(date, time, Qt::UTC) : QDateTime(date, time, Qt::OffsetFromUTC, offsetSeconds);
}

/// The last few values of one key, by their bytes in the reply: a till, its cameras, the payment, the
/// cashier and often the total repeat from one transaction to the next, and are then shared rather than decoded and
/// allocated again (which, with freeing them, was most of the time of a big reply).
template <class Value> class RecentValues
{
public:
    /// The value whose bytes come next, consumed; null when it is none of the recent ones.
    const Value *take(JsonReader &json) const
    {
        for (const Entry &entry : m_entries) {
            if (json.skipRepeat(entry.bytes, entry.length))
                return &entry.value;
        }
        return nullptr;
    }
    /// The value just read, from start to where the reader is now.
    void remember(const JsonReader &json, const char *start, const Value &value)
    {
        if (!json.ok())
            return;
        Entry entry { start, int(json.position() - start), value };
        if (m_entries.size() < Capacity) {
            m_entries.push_back(std::move(entry));
        } else {
            m_entries[m_next] = std::move(entry);
            m_next = (m_next + 1) % Capacity;
        }
    }

private:
    static constexpr size_t Capacity = 8;
    struct Entry {
        const char *bytes;
        int length;
        Value value;
    };
    std::vector<Entry> m_entries;
    size_t m_next = 0;
};

struct Device {
    QString tillId;
    QString tillName;
    QList<StreamData> streams;
};

struct Recent {
    RecentValues<Device> devices;
    RecentValues<QString> totals;
    RecentValues<QString> payments;
    RecentValues<QString> cashiers;
};

/// A scalar that repeats (see RecentValues).
QString readRepeatingScalar(JsonReader &json, RecentValues<QString> &recent)
{
    if (const QString *known = recent.take(json))
        return *known;
    const char *start = json.valueStart();
    const QString text = json.readScalarText();
    recent.remember(json, start, text);
    return text;
}

/// Which of names the key of the member just read is; -1 for none.
template <size_t N> int fieldOf(const JsonReader &json, const std::array<QLatin1String, N> &names)
{
    for (size_t i = 0; i < N; ++i) {
        if (json.keyIs(names[i]))
            return int(i);
    }
    return -1;
}

/// Reads an object: read(field, json) for each member whose key is names[field], the rest skipped. A key
/// given twice counts the last time, as QJsonObject keeps it; where QJsonObject's own choice can differ
/// (see JsonObjectKeys) the object is read again, after clear(), each key from the member it keeps.
template <size_t N, class Read, class Clear>
void readObject(JsonReader &json, const std::array<QLatin1String, N> &names, Read read, Clear clear)
{
    const char *start = json.valueStart();
    json.enterObject();
    int members = 0;
    bool plain = true;
    bool repeated = false;
    unsigned seen = 0;
    while (json.nextMember()) {
        ++members;
        plain = plain && json.keyIsPlain();
        const int field = fieldOf(json, names);
        if (field < 0) {
            json.skipValue();
            continue;
        }
        repeated = repeated || (seen & (1u << field));
        seen |= 1u << field;
        read(field, json);
    }
    // Up to 16 members QJsonObject's sort is an insertion sort, which keeps repeats in order.
    if (!json.ok() || (plain && (!repeated || members <= 16)))
        return;
    const JsonObjectKeys keys(start, json.position());
    std::array<int, N> kept;
    for (size_t i = 0; i < N; ++i)
        kept[i] = keys.memberFor(names[i]);
    clear();
    JsonReader again(start, json.position());
    again.enterObject();
    for (int member = 0; again.nextMember(); ++member) {
        const int field = fieldOf(again, names);
        if (field >= 0 && kept[size_t(field)] == member)
            read(field, again);
        else
            again.skipValue();
    }
}

/// One camera of a till: an element of "streams" that is not an object reads as an empty one.
StreamData readStream(JsonReader &json)
{
    StreamData stream;
    if (json.peek() != JsonReader::Kind::Object) {
        json.skipValue();
        return stream;
    }
    static const std::array<QLatin1String, 2> names { QLatin1String("nx_id"), QLatin1String("name") };
    readObject(
        json, names,
        [&stream](int field, JsonReader &from) { (field == 0 ? stream.id : stream.name) = from.readString(); },
        [&stream] { stream = StreamData(); });
    return stream;
}

/// A transaction's "device": the till, and the cameras that watch it.
void readDevice(JsonReader &json, Device &device)
{
    if (json.peek() != JsonReader::Kind::Object) {
        json.skipValue();
        return;
    }
    enum { Streams, Id, Name };
    static const std::array<QLatin1String, 3> names { QLatin1String("streams"), QLatin1String("id"),
        QLatin1String("name") };
    auto read = [&device](int field, JsonReader &from) {
        if (field == Id) {
            device.tillId = from.readScalarText();
        } else if (field == Name) {
            device.tillName = from.readString();
        } else if (from.peek() != JsonReader::Kind::Array) {
            device.streams.clear();
            from.skipValue();
        } else {
            QList<StreamData> streams;
            from.enterArray();
            while (from.nextElement())
                streams.append(readStream(from));
            device.streams = streams;
        }
    };
    readObject(json, names, read, [&device] { device = Device(); });
}

void readTransaction(JsonReader &json, PosData &record, Recent &recent)
{
    enum { Text, ReceivedAt, DeviceKey, Total, Payment, Cashier };
    static const std::array<QLatin1String, 6> names { QLatin1String("text"), QLatin1String("received_at"),
        QLatin1String("device"), QLatin1String("total"), QLatin1String("payment"), QLatin1String("cashier") };
    auto read = [&record, &recent](int field, JsonReader &from) {
        switch (field) {
        case Text:
            record.content = from.readString();
            break;
        case ReceivedAt:
            record.receivedAtText = from.readString();
            break;
        case DeviceKey: {
            const Device *known = recent.devices.take(from);
            Device read;
            if (!known) {
                const char *start = from.valueStart();
                readDevice(from, read);
                recent.devices.remember(from, start, read);
            }
            const Device &device = known ? *known : read;
            record.tillId = device.tillId;
            record.tillName = device.tillName;
            record.streams = device.streams;
            break;
        }
        case Total:
            record.total = readRepeatingScalar(from, recent.totals);
            break;
        case Payment:
            record.payment = readRepeatingScalar(from, recent.payments);
            break;
        default:
            record.cashier = readRepeatingScalar(from, recent.cashiers);
        }
    };
    readObject(json, names, read, [&record] { record = PosData(); });
    record.createdAt = readReceivedAt(record.receivedAtText);
}

} // namespace

ServerTime parseServerTime(const QByteArray &body)
{
    const QJsonObject top = QJsonDocument::fromJson(body).object();
    ServerTime result;
    result.refusal = refusalOf(top);
    if (!result.refusal) {
        const QJsonObject reply = top.value(QStringLiteral("reply")).toObject();
        result.offsetMs = reply.value(QStringLiteral("timeZoneOffset")).toString().toInt();
        bool isNumber = false;
        const qint64 utcMs = reply.value(QStringLiteral("utcTime")).toString().toLongLong(&isNumber);
        if (isNumber)
            result.utcMs = utcMs;
    }
    return result;
}

QList<StreamData> parseCameras(const QByteArray &body)
{
    const QJsonArray cameras = QJsonDocument::fromJson(body).array();
    QList<StreamData> rows;
    rows.reserve(cameras.size());
    for (const QJsonValue &camera : cameras) {
        const QJsonObject object = camera.toObject();
        rows.append({ object.value(QStringLiteral("id")).toString(), object.value(QStringLiteral("name")).toString() });
    }
    return rows;
}

Periods parsePeriods(const QByteArray &body, qint64 nowMs)
{
    const QJsonObject top = QJsonDocument::fromJson(body).object();
    Periods result;
    result.refusal = refusalOf(top);
    if (result.refusal)
        return result;
    const QJsonArray replies = top.value(QStringLiteral("reply")).toArray();
    for (const QJsonValue &element : replies) {
        const QJsonArray periods = element.toObject().value(QStringLiteral("periods")).toArray();
        for (const QJsonValue &periodValue : periods) {
            const QJsonObject period = periodValue.toObject();
            RecordingData row;
            row.start = period.value(QStringLiteral("startTimeMs")).toString().toULongLong(nullptr, 10);
            qint64 duration = readDuration(period.value(QStringLiteral("durationMs")).toString());
            if (duration == -1)
                duration = elapsedSince(row.start, nowMs); // still recording: the period runs up to now
            row.duration = clampToInt(duration);
            result.rows.append(row);
        }
    }
    return result;
}

QList<PosData> parsePosResult(QByteArray body, QString streamId)
{
    JsonReader json(body.constData(), body.constData() + body.size());
    if (json.peek() != JsonReader::Kind::Array)
        return {}; // an envelope object or a scalar holds no transactions we know of

    QList<PosData> result;
    Recent recent;
    json.enterArray();
    while (json.nextElement()) {
        result.append(PosData());
        PosData &record = result.last();
        if (json.peek() == JsonReader::Kind::Object)
            readTransaction(json, record, recent);
        else
            json.skipValue(); // read as an empty object
        bool keep = streamId.isEmpty();
        for (int i = 0; i < record.streams.size() && !keep; ++i)
            keep = record.streams.at(i).id == streamId;
        if (!keep)
            result.removeLast();
    }
    // Never a part of a reply: what was read so far goes when the rest turns out not to be JSON.
    if (!json.finish())
        return {};
    return result;
}

QVariantList streamMaps(const QList<StreamData> &streams)
{
    QVariantList maps;
    maps.reserve(streams.size());
    for (const StreamData &stream : streams)
        maps << QVariantMap { { QStringLiteral("strmId"), stream.id }, { QStringLiteral("strmName"), stream.name } };
    return maps;
}
