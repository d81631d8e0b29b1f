#pragma once
#include "streamslist.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

/// One point-of-sale transaction as the POS server reports it.
struct PosData {
    QString content;
    /// Keeps the zone or offset the server wrote; invalid when it gave none that can be read.
    QDateTime createdAt;
    QList<StreamData> streams;
};

/// Reads a POS server reply. With a non-empty streamId only the transactions seen by that camera
/// are kept (with all their cameras). A body that is not a JSON array gives no records.
QList<PosData> parsePosResult(QByteArray body, QString streamId);
