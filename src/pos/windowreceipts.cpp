#include "pos/windowreceipts.h"

#include "pos/posdownloader.h"

WindowReceipts readWindowReceipts(const QByteArray &body, const QDateTime &from, const QString &cameraId)
{
    WindowReceipts receipts;
    receipts.records = parsePosResult(body, cameraId);
    receipts.script = _convertToAss(from, receipts.records).toUtf8();
    return receipts;
}
