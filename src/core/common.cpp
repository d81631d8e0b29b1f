#include "core/common.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>

#include <limits>

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
    const QJsonArray transactions = QJsonDocument::fromJson(body).array();
    const QString textKey = QStringLiteral("text");
    const QString receivedKey = QStringLiteral("received_at");
    const QString deviceKey = QStringLiteral("device");
    const QString streamsKey = QStringLiteral("streams");
    const QString idKey = QStringLiteral("nx_id");
    const QString nameKey = QStringLiteral("name");

    QList<PosData> result;
    result.reserve(transactions.size());
    for (const QJsonValue &element : transactions) {
        const QJsonObject transaction = element.toObject();
        PosData record;
        record.content = transaction.value(textKey).toString();
        record.receivedAtText = transaction.value(receivedKey).toString();
        record.createdAt = QDateTime::fromString(record.receivedAtText, Qt::ISODate);
        const QJsonArray streams = transaction.value(deviceKey).toObject().value(streamsKey).toArray();
        bool keep = streamId.isEmpty();
        record.streams.reserve(streams.size());
        for (const QJsonValue &streamValue : streams) {
            const QJsonObject stream = streamValue.toObject();
            StreamData data;
            data.id = stream.value(idKey).toString();
            data.name = stream.value(nameKey).toString();
            if (data.id == streamId)
                keep = true;
            record.streams.append(data);
        }
        if (keep)
            result.append(record);
    }
    return result;
}
