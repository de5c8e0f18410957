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
    /// Unattended watching: the deflection magnitude that starts an event, when set (finite, above 0).
    std::optional<double> trigger;
    /// Seconds below the trigger that end an event, and seconds kept before its start: 0 to 60.
    std::optional<double> hold;
    std::optional<double> pre;
    /// Where events go; none for $XDG_DATA_HOME/trembit/events.
    std::optional<std::filesystem::path> events;
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
