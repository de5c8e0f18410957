#include "platform/app/JsonWriter.h"

#include <cmath>

namespace platform {

void JsonWriter::prefix(std::string_view key) {
    if (!first_) {
        out_ += ',';
    }
    if (depth_ > 0) {
        out_ += '\n';
        out_.append(static_cast<std::size_t>(depth_) * 2, ' ');
    }
    first_ = false;
    if (!key.empty()) {
        escaped(key);
        out_ += ": ";
    }
}

void JsonWriter::escaped(std::string_view text) {
    out_ += '"';
    for (const char c : text) {
        switch (c) {
        case '"':
            out_ += "\\\"";
            break;
        case '\\':
            out_ += "\\\\";
            break;
        case '\n':
            out_ += "\\n";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
                out_ += buffer;
            } else {
                out_ += c;
            }
        }
    }
    out_ += '"';
}

void JsonWriter::beginObject(std::string_view key) {
    prefix(key);
    out_ += '{';
    ++depth_;
    first_ = true;
}

void JsonWriter::endObject() {
    --depth_;
    out_ += '\n';
    out_.append(static_cast<std::size_t>(depth_) * 2, ' ');
    out_ += '}';
    first_ = false;
}

void JsonWriter::beginArray(std::string_view key) {
    prefix(key);
    out_ += '[';
    ++depth_;
    first_ = true;
}

void JsonWriter::endArray() {
    --depth_;
    out_ += '\n';
    out_.append(static_cast<std::size_t>(depth_) * 2, ' ');
    out_ += ']';
    first_ = false;
}

void JsonWriter::string(std::string_view key, std::string_view value) {
    prefix(key);
    escaped(value);
}

void JsonWriter::boolean(std::string_view key, bool value) {
    prefix(key);
    out_ += value ? "true" : "false";
}

void JsonWriter::integer(std::string_view key, long long value) {
    prefix(key);
    out_ += std::to_string(value);
}

void JsonWriter::number(std::string_view key, double value, const char* format) {
    prefix(key);
    if (!std::isfinite(value)) {
        out_ += "null";
        return;
    }
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, format, value);
    out_ += buffer;
}

} // namespace platform
