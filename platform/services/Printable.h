#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

/// The most bytes of outside text that printable() lets into a message, its "..." included.
inline constexpr std::size_t kMaxPrintableBytes = 200;

/// Text read from a file or a device (a bad line, a device's name, a word of a script), made safe
/// to put in a message on a terminal: control characters (C0, DEL and C1) are written as escapes
/// (`\n`, `\t`, `\r`, `\x1b`, `\u009b`), as are bytes that are not UTF-8 (`\xff`), so nothing
/// from the file can move the cursor or change the terminal's state. Longer results are cut to
/// kMaxPrintableBytes, "..." included, between characters and never inside an escape.
std::string printable(std::string_view text);

} // namespace platform
