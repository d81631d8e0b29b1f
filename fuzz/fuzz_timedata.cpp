// The server-time reply reader.
#include "apicall.h"
#include "appstate.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzQuiet();
    static AppState *state = new AppState;
    static ApiCall *api = new ApiCall;
    Q_UNUSED(state);
    api->parseTimeData(fuzzBytes(data, size));
    return 0;
}
