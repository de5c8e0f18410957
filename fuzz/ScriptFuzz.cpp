// Parses arbitrary bytes as a --script file: it must either parse or throw std::invalid_argument.
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
    } catch (const std::invalid_argument&) {
    }
    return 0;
}
