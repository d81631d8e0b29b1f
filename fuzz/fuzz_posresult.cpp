// The POS reply reader, with and without a camera filter, and the search model fed from it.
#include "core/common.h"
#include "fuzzsupport.h"
#include "pos/possearching.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzQuiet();
    const QByteArray body = fuzzBytes(data, size);
    QList<PosData> all = parsePosResult(body, QString());
    for (const PosData &record : all) {
        for (const StreamData &stream : record.streams) {
            const QList<PosData> filtered = parsePosResult(body, stream.id);
            if (filtered.isEmpty())
                __builtin_trap(); // a listed camera always keeps its own record
        }
    }
    PosSearching::sortNewestFirst(all);
    static PosSearching *model = new PosSearching;
    model->setRecordsFromBody(body);
    for (int row = 0; row < model->rowCount(); ++row) {
        for (int role = Qt::UserRole + 1; role <= Qt::UserRole + 4; ++role)
            model->data(model->index(row, 0), role);
    }
    return 0;
}
