// The server-time reply reader.
#include "core/common.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzQuiet();
    const ServerTime time = parseServerTime(fuzzBytes(data, size));
    if (time.refusal && time.offsetMs != 0)
        __builtin_trap(); // a refusal carries no offset
    return 0;
}
