// The recorded-period reply reader, and reading every row back as the timeline does.
#include "core/common.h"
#include "fuzzsupport.h"
#include "vms/recordingslist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzQuiet();
    const QByteArray body = fuzzBytes(data, size);
    const Periods periods = parsePeriods(body, 1700000000000);
    if (periods.refusal && !periods.rows.isEmpty())
        __builtin_trap(); // a refusal carries no rows
    static RecordingsList *list = new RecordingsList;
    list->setClock([] { return qint64(1700000000000); });
    list->parseRecordingData(body);
    for (int row = -1; row <= list->rowCount(); ++row) {
        list->get(row);
        list->data(list->index(row, 0), Qt::UserRole + 1);
        list->data(list->index(row, 0), Qt::UserRole + 2);
    }
    return 0;
}
