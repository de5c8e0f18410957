#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// The program's options, as parsed from its command line.
struct Options {
    std::string source = "auto";
    std::string units = "g";
    std::filesystem::path sysfsRoot = "/sys";
    bool listSources = false;
    bool headless = false;
    bool fullscreen = false;
    bool fast = false;
    std::optional<double> duration;
    std::optional<int> scale;
    std::optional<std::filesystem::path> script;
    std::optional<std::filesystem::path> record;
    std::optional<std::filesystem::path> screenshot;
    std::optional<std::filesystem::path> dumpState;
    std::optional<std::filesystem::path> interface;
    bool help = false;
    bool version = false;
};

/// Parses argv (without the program name). Throws std::invalid_argument with a one-line message
/// for an unknown option, a missing or bad value.
Options parseCommandLine(const std::vector<std::string_view>& arguments);

/// The --help text.
std::string usageText();

/// The --version text: the version, the copyright and the licence.
std::string versionText();

} // namespace platform
