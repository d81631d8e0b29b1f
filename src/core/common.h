#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariantList>

#include <optional>

/// One camera of the video server: the id later requests name it by, and its display name.
struct StreamData {
    QString id;
    QString name;
};

/// One recorded period of a camera.
struct RecordingData {
    quint64 start = 0; ///< milliseconds since the epoch
    qint32 duration = 0; ///< milliseconds, at most 2147483647
};

/// One point-of-sale transaction as the POS server reports it.
struct PosData {
    QString content;
    /// Keeps the zone or offset the server wrote; invalid when it gave none that can be read.
    QDateTime createdAt;
    QList<StreamData> streams;
    /// "received_at" exactly as the server wrote it, for the record an export keeps.
    QString receivedAtText;
    /// The till that printed it: the device's "id" (a number as written) and "name".
    QString tillId;
    QString tillName;
    /// What some servers add beside the text, as they wrote it (a number as written); empty when absent.
    /// The text is the one thing every server sends, so nothing may depend on these alone.
    QString total;
    QString payment;
    QString cashier;
    /// How far the till's clock was taken to run ahead of the cameras' when createdAt was moved onto the
    /// video's clock (see tillclocks.h); 0 for a record as the server wrote it.
    qint64 tillClockOffsetMs = 0;
};

/// Cameras as the pages take them: maps with "strmId" and "strmName".
QVariantList streamMaps(const QList<StreamData> &streams);

/// What a server-time reply says: the server's refusal, or its offset from UTC.
struct ServerTime {
    /// Set when the server refused; its text, possibly empty.
    std::optional<QString> refusal;
    int offsetMs = 0;
    /// The server's own clock, in milliseconds since the epoch, when it says ("utcTime").
    std::optional<qint64> utcMs;
};

/// What a recorded-periods reply says: the server's refusal, or the periods.
struct Periods {
    std::optional<QString> refusal;
    QList<RecordingData> rows;
};

/// Reads a "/api/getTime" body. Anything unreadable reads as an offset of 0.
ServerTime parseServerTime(const QByteArray &body);

/// Reads a "/ec2/getCamerasEx" body: one camera a row, in the reply's order; anything but a JSON
/// array gives no rows.
QList<StreamData> parseCameras(const QByteArray &body);

/// Reads a "/ec2/recordedTimePeriods" body. A period still being recorded (duration -1) runs up
/// to nowMs; a period longer than the int range keeps the longest duration it can hold.
Periods parsePeriods(const QByteArray &body, qint64 nowMs);

/// Reads a POS server reply. With a non-empty streamId only the transactions seen by that camera
/// are kept (with all their cameras). A body that is not a JSON array, or not JSON at all, gives no
/// records; a missing or mistyped value reads as empty. Reads straight from the bytes (a week of a busy
/// store is some hundred megabytes), accepts exactly the JSON that QJsonDocument accepts and, where a
/// key is given twice, takes the value that QJsonObject keeps.
QList<PosData> parsePosResult(QByteArray body, QString streamId);
