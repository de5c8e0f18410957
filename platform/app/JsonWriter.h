#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

/// A small streaming JSON writer with control over how each number is printed, so that a float is
/// written with the digits that name it exactly (%.9g) and a double with %.17g. Non-finite
/// numbers, which JSON cannot hold, are written as null.
class JsonWriter {
public:
    void beginObject(std::string_view key = {});
    void endObject();
    void beginArray(std::string_view key = {});
    void endArray();
    void string(std::string_view key, std::string_view value);
    void boolean(std::string_view key, bool value);
    void integer(std::string_view key, long long value);
    /// Writes a number with printf `format` (e.g. "%.9g").
    void number(std::string_view key, double value, const char* format);

    const std::string& str() const { return out_; }

private:
    void prefix(std::string_view key);
    void escaped(std::string_view text);

    std::string out_;
    bool first_ = true;
    int depth_ = 0;
};

} // namespace platform
