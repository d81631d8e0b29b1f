#include "common.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

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
        record.createdAt = QDateTime::fromString(transaction.value(receivedKey).toString(), Qt::ISODate);
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
