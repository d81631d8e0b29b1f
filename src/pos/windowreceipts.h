#pragma once
#include "core/common.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

/// What the POS server's reply for a time window holds for one camera: the receipts it saw, in the
/// reply's order, and the receipts script made of them, time 0 at the window's start. The export burns
/// this script in and the review player draws it, so both read the reply here, the same way.
struct WindowReceipts {
    QList<PosData> records;
    /// UTF-8, the bytes the export writes.
    QByteArray script;
};

/// Reads a reply to PosClient::windowUrl(from, …): the receipts of cameraId and their script.
WindowReceipts readWindowReceipts(const QByteArray &body, const QDateTime &from, const QString &cameraId);
