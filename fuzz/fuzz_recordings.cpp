// The recorded-period reply reader, and reading every row back as the timeline does.
#include "appstate.h"
#include "fuzzsupport.h"
#include "recordingslist.h"
#include "utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzQuiet();
    static AppState *state = new AppState;
    static Utils *utils = new Utils;
    static RecordingsList *list = new RecordingsList;
    Q_UNUSED(state);
    Q_UNUSED(utils);
    list->parseRecordingData(fuzzBytes(data, size));
    for (int row = -1; row <= list->rowCount(); ++row) {
        list->get(row);
        list->data(list->index(row, 0), Qt::UserRole + 1);
        list->data(list->index(row, 0), Qt::UserRole + 2);
    }
    return 0;
}
