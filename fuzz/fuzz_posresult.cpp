// The POS reply reader, with and without a camera filter, against the QJsonDocument reader it replaced,
// and the search model fed from it.
#include "core/common.h"
#include "fuzzsupport.h"
#include "oldposreader.h"
#include "pos/possearching.h"

#include <cstdio>

namespace {

/// Both readers read the body alike, or the input is a finding.
void compareWithTheOldReader(const QByteArray &body, const QString &streamId)
{
    const QString difference
        = oldreader::difference(parsePosResult(body, streamId), oldreader::parsePosResult(body, streamId));
    if (!difference.isEmpty()) {
        // The body too: the fuzz script keeps no artifacts.
        std::fprintf(stderr, "the readers differ, filter '%s': %s\nbody (base64): %s\n", qPrintable(streamId),
            qPrintable(difference), body.toBase64().constData());
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzQuiet();
    const QByteArray body = fuzzBytes(data, size);
    QList<PosData> all = parsePosResult(body, QString());
    compareWithTheOldReader(body, QString());
    for (const PosData &record : all) {
        for (const StreamData &stream : record.streams) {
            const QList<PosData> filtered = parsePosResult(body, stream.id);
            if (filtered.isEmpty())
                __builtin_trap(); // a listed camera always keeps its own record
        }
    }
    if (!all.isEmpty() && !all.constFirst().streams.isEmpty())
        compareWithTheOldReader(body, all.constFirst().streams.constFirst().id);
    PosSearching::sortNewestFirst(all);
    static PosSearching *model = new PosSearching;
    model->setRecordsFromBody(body);
    for (int row = 0; row < model->rowCount(); ++row) {
        for (int role = Qt::UserRole + 1; role <= Qt::UserRole + 4; ++role)
            model->data(model->index(row, 0), role);
    }
    return 0;
}
