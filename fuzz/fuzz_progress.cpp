// The FFmpeg progress reader.
#include "fuzzsupport.h"
#include "merger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzQuiet();
    const std::optional<QString> frame = Merger::frameFromChunk(fuzzBytes(data, size));
    if (frame && (frame->startsWith(' ') || frame->endsWith(' ')))
        __builtin_trap(); // the count is reported without its padding
    return 0;
}
