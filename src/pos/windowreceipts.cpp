#include "pos/windowreceipts.h"

#include "pos/posdownloader.h"

WindowReceipts readWindowReceipts(const QByteArray &body, const QDateTime &from, const QDateTime &to,
    const QString &cameraId, const TillOffsets &offsets)
{
    WindowReceipts receipts;
    receipts.records = windowOnVideoClock(parsePosResult(body, cameraId), offsets, from, to);
    receipts.script = _convertToAss(from, receipts.records).toUtf8();
    return receipts;
}
