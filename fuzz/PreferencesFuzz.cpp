// Feeds arbitrary bytes to the preference store as if they were the file on disk, and to the integer
// parser on their own. Nothing is read from or written to the disk.
#include "platform/services/Preferences.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Whatever reads as a number must read the same once written back the way setValue writes it.
    if (const auto parsed = platform::Preferences::parseInteger(bytes)) {
        if (platform::Preferences::parseInteger(std::to_string(*parsed)) != parsed) {
            __builtin_trap();
        }
    }

    auto preferences = platform::Preferences::fromData(bytes, "/nonexistent/trembit/preferences.conf");
    for (const char* key : {"filter", "updateFrequency", "scale", "axis"}) {
        const std::int32_t value = preferences.copyValue(key).value_or(-1);
        preferences.setValue(key, value);
        if (preferences.copyValue(key) != value) {
            __builtin_trap();
        }
    }
    return 0;
}
