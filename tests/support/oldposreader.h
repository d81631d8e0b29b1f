#pragma once
// The POS reply reader as it was, on QJsonDocument: a tenth of the speed, but Qt's own idea of JSON. The
// tests and the fuzz target compare the fast reader with it. Header only, so that the fuzz target, which
// links nothing of the tests, can use it too.
#include "core/common.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>

namespace oldreader {

/// A string as it is, a number as the shortest text that gives its double back; else empty.
inline QString scalarText(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 17);
    return QString();
}

inline QList<PosData> parsePosResult(const QByteArray &body, const QString &streamId)
{
    const QJsonArray transactions = QJsonDocument::fromJson(body).array();
    QList<PosData> result;
    for (const QJsonValue &element : transactions) {
        const QJsonObject transaction = element.toObject();
        PosData record;
        record.content = transaction.value(QStringLiteral("text")).toString();
        record.receivedAtText = transaction.value(QStringLiteral("received_at")).toString();
        record.createdAt = QDateTime::fromString(record.receivedAtText, Qt::ISODate);
        record.total = scalarText(transaction.value(QStringLiteral("total")));
        record.payment = scalarText(transaction.value(QStringLiteral("payment")));
        record.cashier = scalarText(transaction.value(QStringLiteral("cashier")));
        const QJsonObject device = transaction.value(QStringLiteral("device")).toObject();
        record.tillId = scalarText(device.value(QStringLiteral("id")));
        record.tillName = device.value(QStringLiteral("name")).toString();
        bool keep = streamId.isEmpty();
        for (const QJsonValue &streamValue : device.value(QStringLiteral("streams")).toArray()) {
            const QJsonObject stream = streamValue.toObject();
            StreamData data;
            data.id = stream.value(QStringLiteral("nx_id")).toString();
            data.name = stream.value(QStringLiteral("name")).toString();
            if (data.id == streamId)
                keep = true;
            record.streams.append(data);
        }
        if (keep)
            result.append(record);
    }
    return result;
}

/// Whether a value read by the fast reader is the one the old reader read: the same text, or, for a
/// number, text that reads as the same double.
inline bool sameScalar(const QString &fast, const QString &old)
{
    if (fast == old)
        return true;
    bool fastIsNumber = false;
    bool oldIsNumber = false;
    const double a = fast.toDouble(&fastIsNumber);
    const double b = old.toDouble(&oldIsNumber);
    return fastIsNumber && oldIsNumber && a == b;
}

/// Every visible trait of a date-time: validity, instant, kind of zone and offset.
inline QString describeTime(const QDateTime &time)
{
    if (!time.isValid())
        return QStringLiteral("invalid");
    return QStringLiteral("%1 spec %2 offset %3")
        .arg(time.toMSecsSinceEpoch())
        .arg(int(time.timeSpec()))
        .arg(time.offsetFromUtc());
}

/// Empty when the two readings are the same, else where they first differ.
inline QString difference(const QList<PosData> &fast, const QList<PosData> &old)
{
    if (fast.size() != old.size())
        return QStringLiteral("%1 records, the old reader %2").arg(fast.size()).arg(old.size());
    for (int i = 0; i < fast.size(); ++i) {
        const PosData &a = fast.at(i);
        const PosData &b = old.at(i);
        QStringList wrong;
        if (a.content != b.content)
            wrong << QStringLiteral("text");
        if (a.receivedAtText != b.receivedAtText)
            wrong << QStringLiteral("received_at");
        if (describeTime(a.createdAt) != describeTime(b.createdAt))
            wrong << describeTime(a.createdAt) + QStringLiteral(" against ") + describeTime(b.createdAt);
        if (!sameScalar(a.tillId, b.tillId) || a.tillName != b.tillName)
            wrong << QStringLiteral("till");
        if (!sameScalar(a.total, b.total) || !sameScalar(a.payment, b.payment) || !sameScalar(a.cashier, b.cashier))
            wrong << QStringLiteral("total, payment or cashier");
        bool sameStreams = a.streams.size() == b.streams.size();
        for (int s = 0; sameStreams && s < a.streams.size(); ++s)
            sameStreams = a.streams.at(s).id == b.streams.at(s).id && a.streams.at(s).name == b.streams.at(s).name;
        if (!sameStreams)
            wrong << QStringLiteral("streams");
        if (!wrong.isEmpty())
            return QStringLiteral("record %1: %2").arg(i).arg(wrong.join(QStringLiteral(", ")));
    }
    return QString();
}

} // namespace oldreader
