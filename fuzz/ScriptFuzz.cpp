// Parses arbitrary bytes as a --script file: it must either parse or throw std::invalid_argument,
// whose message shows the file's words with no control character left in them.
#include "platform/app/Script.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        for (const platform::ScriptStep& step :
             platform::parseScript(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.txt")) {
            if (step.verb == platform::ScriptStep::Verb::Wait && !(std::isfinite(step.seconds) && step.seconds >= 0)) {
                __builtin_trap(); // a wait is always a finite, non-negative time
            }
        }
    } catch (const std::invalid_argument& error) {
        for (const char c : std::string_view(error.what())) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
