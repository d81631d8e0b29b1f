// The camera list reply reader, and reading every row back as the views do.
#include "fuzzsupport.h"
#include "vms/streamslist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzQuiet();
    const QByteArray body = fuzzBytes(data, size);
    static StreamsList *list = new StreamsList;
    list->parseStreamsData(body);
    if (list->rowCount() != parseCameras(body).size())
        __builtin_trap();
    for (int row = -1; row <= list->rowCount(); ++row) {
        list->get(row);
        list->data(list->index(row, 0), Qt::UserRole + 1);
        list->data(list->index(row, 0), Qt::UserRole + 2);
    }
    return 0;
}
