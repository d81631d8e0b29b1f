#pragma once
#include "core/common.h"
#include "pos/tillclocks.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

/// What the POS server's reply for a time window holds for one camera: the receipts it saw, in the
/// reply's order and on the video's clock, and the receipts script made of them, time 0 at the window's
/// start. The export burns
/// this script in and the review player draws it, so both read the reply here, the same way.
struct WindowReceipts {
    QList<PosData> records;
    /// UTF-8, the bytes the export writes.
    QByteArray script;
};

/// Reads a reply to the request for the window from from to to that offsets make (PosClient::windowUrl of
/// offsets.requestFrom(from) and offsets.requestTo(to)): the receipts of cameraId that the tills' offsets
/// put in the window, at the times they give them (see windowOnVideoClock), and their script.
WindowReceipts readWindowReceipts(const QByteArray &body, const QDateTime &from, const QDateTime &to,
    const QString &cameraId, const TillOffsets &offsets = TillOffsets());
