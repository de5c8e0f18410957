// Feeds arbitrary bytes to the sample-line reader, whole and split into lines as a sample file would
// be, as plain samples and as a recording's rows. A line that reads as a sample must hold three
// finite numbers, and must read the same once written back out.
#include "platform/services/SampleLine.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace {

void check(std::string_view line, platform::SampleLineLayout layout) {
    const bool record = layout == platform::SampleLineLayout::Record;
    platform::Acceleration sample{7.0, 7.0, 7.0};
    const platform::SampleLineKind kind = platform::classifySampleLine(line, sample, layout);
    if (!record) {
        const std::optional<platform::Acceleration> parsed = platform::parseSampleLine(line);
        if (parsed.has_value() != (kind == platform::SampleLineKind::Sample)) {
            __builtin_trap();
        }
    }
    if (kind != platform::SampleLineKind::Sample) {
        if (sample.x != 7.0 || sample.y != 7.0 || sample.z != 7.0) {
            __builtin_trap(); // a refused line must not leave half a sample behind
        }
        return;
    }
    if (!std::isfinite(sample.x) || !std::isfinite(sample.y) || !std::isfinite(sample.z)) {
        __builtin_trap();
    }
    char text[128];
    const int length = std::snprintf(text, sizeof text, record ? "0,%.17g,%.17g,%.17g," : "%.17g,%.17g,%.17g",
                                     sample.x, sample.y, sample.z);
    platform::Acceleration reread{};
    if (platform::classifySampleLine(std::string_view(text, static_cast<std::size_t>(length)), reread,
                                     layout) != platform::SampleLineKind::Sample ||
        reread.x != sample.x || reread.y != sample.y || reread.z != sample.z) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const auto layout : {platform::SampleLineLayout::Plain, platform::SampleLineLayout::Record}) {
        check(bytes, layout);
        for (std::size_t begin = 0, end = 0; begin <= bytes.size(); begin = end + 1) {
            end = std::min(bytes.find('\n', begin), bytes.size());
            check(bytes.substr(begin, end - begin), layout);
        }
    }
    return 0;
}
