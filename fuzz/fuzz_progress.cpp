// The FFmpeg progress readers: the frame count, the stream facts and the kept messages.
#include "export/merger.h"
#include "fuzzsupport.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzQuiet();
    const QByteArray chunk = fuzzBytes(data, size);
    const std::optional<QString> frame = Merger::frameFromChunk(chunk);
    if (frame && (frame->startsWith(' ') || frame->endsWith(' ')))
        __builtin_trap(); // the count is reported without its padding
    FfmpegMessages messages;
    messages.add(chunk);
    const std::optional<double> rate = messages.frameRate();
    const std::optional<double> seconds = messages.inputSeconds();
    if ((rate && !(std::isfinite(*rate) && *rate > 0)) || (seconds && !std::isfinite(*seconds)))
        __builtin_trap(); // a percentage is made of them
    if (messages.exitText(1).isEmpty())
        __builtin_trap();
    return 0;
}
