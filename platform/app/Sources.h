#pragma once

#include "platform/services/SampleSource.h"
#include "platform/services/Units.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace platform {

/// Where samples come from, as the command line names it.
struct SourceSpec {
    enum class Kind { Auto, Simulation, File, Stdin, Iio, Controller };
    Kind kind = Kind::Auto;
    std::string argument; // the file's path, the IIO device's name, the controller's index
};

/// A source that cannot be used; the message says which and why.
struct SourceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// Reads "auto", "sim", "file:PATH", "stdin" or "-", "iio[:NAME]", "controller[:INDEX]".
SourceSpec parseSourceSpec(const std::string& text);

/// What the program needs to know to open a source.
struct SourceSettings {
    std::filesystem::path sysfsRoot = "/sys";
    SampleUnits units = SampleUnits::G;
    /// The virtual clock runs as fast as it can: stdin waits for lines instead of dropping them.
    bool lossless = false;
    std::uint64_t simulationSeed = 1;
};

/// Settles "auto" (the first IIO accelerometer, else the first game controller with an
/// accelerometer, else the simulation) and checks that the source can be had, so that a bad
/// source stops the program before anything is shown. Throws SourceError.
SourceSpec resolveSource(const SourceSpec& choice, const SourceSettings& settings);

/// Opens a resolved source for samples every `updateInterval` seconds. `startMessage` receives
/// the line(s) to say once at start (the source in use and, for a device, its real rate).
/// Throws SourceError.
std::unique_ptr<SampleSource> openSource(const SourceSpec& choice, const SourceSettings& settings,
                                         double updateInterval, std::string& startMessage);

/// The text of --list-sources: what this machine offers.
std::string listSources(const SourceSettings& settings);

} // namespace platform
