// The subtitle conversion on arbitrary records: receipts, times and list order come from the input.
#include "core/common.h"
#include "fuzzsupport.h"
#include "pos/posdownloader.h"

#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzQuiet();
    // Records are separated by NUL bytes; each starts with a signed 32-bit offset in milliseconds
    // (all ones: an invalid time), the rest is its text.
    const QByteArray input = fuzzBytes(data, size);
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(1622534310000, Qt::UTC);
    QList<PosData> records;
    for (const QByteArray &part : input.split('\0')) {
        PosData record;
        if (part.size() >= 4) {
            qint32 offset;
            memcpy(&offset, part.constData(), 4);
            if (offset != -1)
                record.createdAt = start.addMSecs(offset);
            record.content = QString::fromUtf8(part.mid(4));
        } else {
            record.content = QString::fromUtf8(part);
        }
        records << record;
    }
    const QString script = _convertToAss(start, records);
    if (!script.startsWith("\n[Script Info]\n") || !script.endsWith('\n'))
        __builtin_trap();
    return 0;
}
