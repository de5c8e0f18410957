#include "platform/services/Printable.h"

#include <cstdint>
#include <cstdio>

namespace platform {

namespace {

constexpr std::string_view kCut = "...";

// The length of the well-formed UTF-8 sequence at the start of `text` and its code point; 0 when
// the first byte does not start one (a stray continuation byte, an overlong form, a surrogate, a
// sequence cut short).
std::size_t sequenceLength(std::string_view text, std::uint32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    std::uint32_t lowest = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if ((lead & 0xe0) == 0xc0) {
        length = 2;
        lowest = 0x80;
        codePoint = lead & 0x1fu;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3;
        lowest = 0x800;
        codePoint = lead & 0x0fu;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4;
        lowest = 0x10000;
        codePoint = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (byte(i) & 0x3fu);
    }
    const bool surrogate = codePoint >= 0xd800 && codePoint <= 0xdfff;
    return codePoint < lowest || codePoint > 0x10ffff || surrogate ? 0 : length;
}

std::string escaped(const char* format, unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::string printable(std::string_view text) {
    std::string out;
    std::size_t endBeforeCut = 0; // where the text stops if it has to be cut, leaving room for "..."
    while (!text.empty()) {
        std::uint32_t codePoint = 0;
        const std::size_t length = sequenceLength(text, codePoint);
        if (length == 0) {
            out += escaped("\\x%02x", static_cast<std::uint8_t>(text[0]));
        } else if (codePoint == '\n') {
            out += "\\n";
        } else if (codePoint == '\t') {
            out += "\\t";
        } else if (codePoint == '\r') {
            out += "\\r";
        } else if (codePoint < 0x20 || codePoint == 0x7f) {
            out += escaped("\\x%02x", codePoint);
        } else if (codePoint >= 0x80 && codePoint < 0xa0) {
            out += escaped("\\u%04x", codePoint);
        } else {
            out += text.substr(0, length);
        }
        text.remove_prefix(length == 0 ? 1 : length);
        if (out.size() <= kMaxPrintableBytes - kCut.size()) {
            endBeforeCut = out.size();
        } else if (out.size() > kMaxPrintableBytes) {
            out.resize(endBeforeCut);
            return out += kCut;
        }
    }
    return out;
}

} // namespace platform
