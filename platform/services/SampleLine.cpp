#include "platform/services/SampleLine.h"

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace platform {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Called four times a line of an hour's replay: a look at each end, where the library's search for
// any of a set of characters costs several times as much.
std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view withoutLineEnding(std::string_view line) {
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
    }
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// One field of a sample line, blanks already trimmed. from_chars refuses a leading '+', which
// spreadsheets and printf("%+f") write, so one is stepped over here; "+-1" stays an error. Only
// finite numbers unless `anyNumber`.
std::optional<double> parseNumber(std::string_view field, bool anyNumber = false) {
    if (!field.empty() && field.front() == '+') {
        field.remove_prefix(1);
        if (!field.empty() && field.front() == '-') {
            return std::nullopt;
        }
    }
    if (field.empty()) {
        return std::nullopt;
    }
    double value = 0.0;
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, value, std::chars_format::general);
    if (error != std::errc() || stop != end || (!anyNumber && !std::isfinite(value))) {
        return std::nullopt;
    }
    return value;
}

} // namespace

SampleLineKind classifySampleLine(std::string_view line, Acceleration& out, SampleLineLayout layout) {
    line = withoutLineEnding(line);
    if (line.size() > kMaxSampleLineBytes) {
        return SampleLineKind::Malformed;
    }
    const std::string_view content = trimmed(line);
    if (content.empty() || content.front() == '#') {
        return SampleLineKind::Skip;
    }
    const bool record = layout == SampleLineLayout::Record;
    if (record && content == kRecordHeader) {
        return SampleLineKind::Skip;
    }

    // Plain: x, y, z. Record: t, x, y, z, deflection.
    const std::size_t fieldCount = record ? 5 : 3;
    const std::size_t firstAxis = record ? 1 : 0;
    std::array<double, 3> values{};
    std::size_t field = 0;
    std::string_view rest = content;
    while (true) {
        const std::size_t comma = rest.find(',');
        if (field == fieldCount) {
            return SampleLineKind::Malformed; // a field too many
        }
        const std::string_view text = trimmed(rest.substr(0, comma));
        const bool deflection = record && field == fieldCount - 1;
        if (!(deflection && text.empty())) {
            const std::optional<double> value = parseNumber(text, deflection);
            if (!value) {
                return SampleLineKind::Malformed;
            }
            if (field >= firstAxis && field < firstAxis + values.size()) {
                values[field - firstAxis] = *value;
            }
        }
        ++field;
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    if (field != fieldCount) {
        return SampleLineKind::Malformed;
    }
    out = Acceleration{values[0], values[1], values[2]};
    return SampleLineKind::Sample;
}

bool isRecordHeader(std::string_view line) {
    return withoutLineEnding(line) == kRecordHeader;
}

std::optional<Acceleration> parseSampleLine(std::string_view line) {
    Acceleration sample;
    if (classifySampleLine(line, sample) != SampleLineKind::Sample) {
        return std::nullopt;
    }
    return sample;
}

} // namespace platform
