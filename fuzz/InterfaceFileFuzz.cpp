// Builds an interface from arbitrary bytes: it must either build or throw InterfaceFileError, whose
// message shows the file's strings with no control character left in them.
#include "platform/app/InterfaceFile.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const platform::Interface interface =
            platform::parseInterface(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.json");
        for (const auto& [outlet, id] : interface.outlets) {
            if (!interface.objects.contains(id)) {
                __builtin_trap(); // an outlet must always name a built object
            }
        }
    } catch (const platform::InterfaceFileError& error) {
        for (const char c : std::string_view(error.what())) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
