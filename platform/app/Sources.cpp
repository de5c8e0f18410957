#include "platform/app/Sources.h"

#include "platform/backend/ControllerSource.h"
#include "platform/services/FileSource.h"
#include "platform/services/IioSource.h"
#include "platform/services/Printable.h"
#include "platform/services/SimulatedSource.h"
#include "platform/services/StdinSource.h"

#include <algorithm>
#include <charconv>
#include <unistd.h>

namespace platform {

namespace {

std::optional<int> parseIndex(const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

std::string describe(const SourceSpec& choice) {
    switch (choice.kind) {
    case SourceSpec::Kind::Simulation:
        return "sim";
    case SourceSpec::Kind::File:
        return "file:" + choice.argument;
    case SourceSpec::Kind::Stdin:
        return "stdin";
    case SourceSpec::Kind::Iio:
        return choice.argument.empty() ? "iio" : "iio:" + choice.argument;
    case SourceSpec::Kind::Controller:
        return choice.argument.empty() ? "controller" : "controller:" + choice.argument;
    case SourceSpec::Kind::Auto:
        break;
    }
    return "auto";
}

std::optional<int> controllerIndex(const SourceSpec& choice) {
    return choice.argument.empty() ? std::nullopt : parseIndex(choice.argument);
}

} // namespace

SourceSpec parseSourceSpec(const std::string& text) {
    const std::size_t colon = text.find(':');
    const std::string kind = text.substr(0, colon);
    const std::string argument = colon == std::string::npos ? "" : text.substr(colon + 1);
    const bool hasArgument = colon != std::string::npos;
    if ((text == "auto" || text == "sim" || text == "stdin" || text == "-") && !hasArgument) {
        const SourceSpec::Kind k = text == "auto"  ? SourceSpec::Kind::Auto
                                   : text == "sim" ? SourceSpec::Kind::Simulation
                                                   : SourceSpec::Kind::Stdin;
        return SourceSpec{k, ""};
    }
    if (kind == "file") {
        if (argument.empty()) {
            throw SourceError("--source file: needs a file name, e.g. file:samples.csv");
        }
        return SourceSpec{SourceSpec::Kind::File, argument};
    }
    if (kind == "iio") {
        if (hasArgument && argument.empty()) {
            throw SourceError("--source iio: needs a device name, e.g. iio:accel_3d, or just iio");
        }
        return SourceSpec{SourceSpec::Kind::Iio, argument};
    }
    if (kind == "controller") {
        if (hasArgument && !parseIndex(argument)) {
            throw SourceError("--source controller: takes a controller index, e.g. controller:0, not '" +
                              argument + "'");
        }
        return SourceSpec{SourceSpec::Kind::Controller, argument};
    }
    throw SourceError("unknown source '" + text +
                      "' (use auto, sim, file:PATH, stdin or -, iio[:NAME], controller[:INDEX])");
}

SourceSpec resolveSource(const SourceSpec& choice, const SourceSettings& settings) {
    switch (choice.kind) {
    case SourceSpec::Kind::Auto: {
        if (!IioSource::findAccelerometers(settings.sysfsRoot).empty()) {
            return SourceSpec{SourceSpec::Kind::Iio, ""};
        }
        for (const ControllerInfo& controller : SdlControllerDevices().list()) {
            if (controller.hasAccelerometer) {
                return SourceSpec{SourceSpec::Kind::Controller, std::to_string(controller.index)};
            }
        }
        return SourceSpec{SourceSpec::Kind::Simulation, ""};
    }
    case SourceSpec::Kind::File:
        if (access(choice.argument.c_str(), R_OK) != 0) {
            // Opening says why (missing, unreadable, a folder), in the source's own words.
            try {
                FileSource probe(choice.argument, settings.units);
            } catch (const std::runtime_error& error) {
                throw SourceError(error.what());
            }
        }
        return choice;
    case SourceSpec::Kind::Iio: {
        const std::vector<IioDevice> devices = IioSource::findAccelerometers(settings.sysfsRoot);
        const bool found = std::any_of(devices.begin(), devices.end(), [&](const IioDevice& device) {
            return choice.argument.empty() || device.name == choice.argument;
        });
        if (!found) {
            throw SourceError(choice.argument.empty()
                                  ? "no IIO accelerometer under " +
                                        (settings.sysfsRoot / "bus/iio/devices").string()
                                  : "no IIO accelerometer named '" + choice.argument + "' under " +
                                        (settings.sysfsRoot / "bus/iio/devices").string());
        }
        return choice;
    }
    case SourceSpec::Kind::Controller:
    case SourceSpec::Kind::Simulation:
    case SourceSpec::Kind::Stdin:
        break;
    }
    return choice;
}

std::unique_ptr<SampleSource> openSource(const SourceSpec& choice, const SourceSettings& settings,
                                         double updateInterval, std::string& startMessage) {
    try {
        switch (choice.kind) {
        case SourceSpec::Kind::Simulation:
            startMessage = "trembit: source: sim (the built-in simulation)";
            return std::make_unique<SimulatedSource>(settings.simulationSeed);
        case SourceSpec::Kind::File:
            startMessage = "trembit: source: file:" + choice.argument;
            return std::make_unique<FileSource>(choice.argument, settings.units);
        case SourceSpec::Kind::Stdin:
            startMessage = "trembit: source: stdin";
            return std::make_unique<StdinSource>(STDIN_FILENO, settings.units, settings.lossless,
                                                 updateInterval);
        case SourceSpec::Kind::Iio: {
            auto opened = std::make_unique<IioSource>(
                settings.sysfsRoot,
                choice.argument.empty() ? std::nullopt : std::optional<std::string>(choice.argument),
                1.0 / updateInterval);
            startMessage = opened->startMessage();
            return opened;
        }
        case SourceSpec::Kind::Controller: {
            auto opened = std::make_unique<ControllerSource>(std::make_unique<SdlControllerDevices>(),
                                                             controllerIndex(choice));
            startMessage = opened->startMessage();
            return opened;
        }
        case SourceSpec::Kind::Auto:
            break;
        }
    } catch (const SourceError&) {
        throw;
    } catch (const std::runtime_error& error) {
        throw SourceError(error.what());
    }
    throw SourceError("the source '" + describe(choice) + "' was not settled before opening");
}

std::string listSources(const SourceSettings& settings) {
    std::string text = "sim\tthe built-in simulation\n";
    for (const IioDevice& device : IioSource::findAccelerometers(settings.sysfsRoot)) {
        text += "iio:" + printable(device.name) + "\t" + device.path.string() + "\n";
    }
    for (const ControllerInfo& controller : SdlControllerDevices().list()) {
        text += "controller:" + std::to_string(controller.index) + "\t" + printable(controller.name) +
                (controller.hasAccelerometer ? "" : " (no accelerometer)") + "\n";
    }
    text += "stdin\tCSV lines \"x,y,z\" on standard input (also -)\n";
    text += "file:PATH\tCSV lines \"x,y,z\" from a file\n";
    return text;
}

} // namespace platform
