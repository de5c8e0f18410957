#include "platform/app/CommandLine.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace platform {

namespace {

// Built by appending: GCC 12 at -O3 warns wrongly (-Wrestrict) of an overlap in "'" + string.
std::string quoted(std::string_view text) {
    std::string out(1, '\'');
    out.append(text).push_back('\'');
    return out;
}

double parseSeconds(std::string_view option, std::string_view text) {
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 0.0) {
        throw std::invalid_argument(std::string(option) + " takes a number of seconds, not " + quoted(text));
    }
    return value;
}

// Seconds an event waits for quiet, or keeps before its start.
constexpr double kMostEventSeconds = 60.0;

double parseEventSeconds(std::string_view option, std::string_view text) {
    double value = -1.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() ||
        !(value >= 0.0 && value <= kMostEventSeconds)) {
        throw std::invalid_argument(std::string(option) + " takes a number of seconds from 0 to 60, not " +
                                    quoted(text));
    }
    return value;
}

double parseLevel(std::string_view text) {
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || !(value > 0.0)) {
        throw std::invalid_argument("--trigger takes a level above 0 (1 is the edge of the paper), not " +
                                    quoted(text));
    }
    return value;
}

int parseScale(std::string_view text) {
    if (text == "1" || text == "2" || text == "3") {
        return text[0] - '0';
    }
    throw std::invalid_argument("--scale takes 1, 2 or 3, not " + quoted(text));
}

} // namespace

Options parseCommandLine(const std::vector<std::string_view>& arguments) {
    Options options;
    // A FILE argument (a file manager's "open with") names the source too, so it comes alone: a
    // second FILE or a --source beside it is refused. A repeated --source takes the last one.
    std::optional<std::string_view> file;
    bool sourceOption = false;
    const auto refuseTwoSources = [&]() {
        if (file && sourceOption) {
            throw std::invalid_argument("the file " + quoted(*file) +
                                        " and --source both name a source; give one");
        }
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view arg = arguments[i];
        if (optionsEnded || arg == "-" || !arg.starts_with("-")) {
            if (arg.empty()) {
                throw std::invalid_argument("a FILE argument needs a file name");
            }
            if (file) {
                throw std::invalid_argument("the files " + quoted(*file) + " and " + quoted(arg) +
                                            " both name a source; give one");
            }
            file = arg;
            refuseTwoSources();
            // "-" is standard input, as for cat; a file manager always passes a whole path.
            options.source = arg == "-" ? "stdin" : "file:" + std::string(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::optional<std::string_view> inlineValue;
        if (arg.starts_with("--")) {
            if (const std::size_t eq = arg.find('='); eq != std::string_view::npos) {
                inlineValue = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
            }
        }
        auto value = [&]() -> std::string_view {
            if (inlineValue) {
                return *inlineValue;
            }
            if (i + 1 >= arguments.size()) {
                throw std::invalid_argument(std::string(arg) + " needs a value");
            }
            return arguments[++i];
        };
        auto path = [&]() -> std::filesystem::path {
            const std::string_view v = value();
            if (v.empty()) {
                throw std::invalid_argument(std::string(arg) + " needs a file name");
            }
            return std::filesystem::path(v);
        };
        auto flag = [&](bool& target) {
            if (inlineValue) {
                throw std::invalid_argument(std::string(arg) + " takes no value");
            }
            target = true;
        };

        if (arg == "--source") {
            options.source = std::string(value());
            sourceOption = true;
            refuseTwoSources();
        } else if (arg == "--units") {
            options.units = std::string(value());
            if (options.units != "g" && options.units != "ms2") {
                throw std::invalid_argument("--units takes g or ms2, not " +
                                            quoted(std::string_view(options.units)));
            }
        } else if (arg == "--sysfs-root") {
            options.sysfsRoot = path();
        } else if (arg == "--list-sources") {
            flag(options.listSources);
        } else if (arg == "--headless") {
            flag(options.headless);
        } else if (arg == "--fullscreen") {
            flag(options.fullscreen);
        } else if (arg == "--fast") {
            flag(options.fast);
        } else if (arg == "--duration") {
            options.duration = parseSeconds(arg, value());
        } else if (arg == "--scale") {
            options.scale = parseScale(value());
        } else if (arg == "--script") {
            options.script = path();
        } else if (arg == "--record") {
            options.record = path();
        } else if (arg == "--screenshot") {
            options.screenshot = path();
        } else if (arg == "--dump-state") {
            options.dumpState = path();
        } else if (arg == "--interface") {
            options.interface = path();
        } else if (arg == "--trigger") {
            options.trigger = parseLevel(value());
        } else if (arg == "--hold") {
            options.hold = parseEventSeconds(arg, value());
        } else if (arg == "--pre") {
            options.pre = parseEventSeconds(arg, value());
        } else if (arg == "--events") {
            const std::string_view folder = value();
            if (folder.empty()) {
                throw std::invalid_argument("--events needs a folder name");
            }
            options.events = std::filesystem::path(folder);
        } else if (arg == "--help" || arg == "-h") {
            flag(options.help);
        } else if (arg == "--version") {
            flag(options.version);
        } else {
            throw std::invalid_argument("unknown option " + quoted(arg));
        }
    }
    if (options.fullscreen && options.headless) {
        throw std::invalid_argument("--fullscreen needs a window, not --headless");
    }
    if (options.fast && !options.headless) {
        throw std::invalid_argument("--fast needs --headless: a window runs in real time");
    }
    for (const auto& [given, name] :
         {std::pair{options.hold.has_value(), "--hold"}, std::pair{options.pre.has_value(), "--pre"},
          std::pair{options.events.has_value(), "--events"}}) {
        if (given && !options.trigger) {
            throw std::invalid_argument(std::string(name) + " needs --trigger");
        }
    }
    return options;
}

std::string usageText() {
    return R"(Usage: trembit [OPTION]... [FILE]
A strip-chart recorder for the vibrations of this machine's accelerometer.
FILE replays a recording, as --source file:FILE does ('-' reads standard input).

Options:
  --source SOURCE     where samples come from:
                        auto        (default) the first IIO accelerometer, else the first
                                    game controller with an accelerometer, else sim
                        iio[:NAME]  a Linux IIO accelerometer (by its name), read through
                                    /sys/bus/iio/devices; needs read access there, and
                                    write access to set its rate
                        controller[:INDEX]  a game controller's accelerometer (SDL); needs
                                    access to its device (the distribution's udev rules)
                        stdin, -    CSV lines "x,y,z" on standard input, e.g. from nc
                        file:PATH   replay a CSV of samples "x,y,z", one per line
                                    ('#' comments and blank lines skipped), or a
                                    file written by --record
                        sim         a built-in simulation (the device at rest, with taps
                                    and bursts of vibration; the same every run)
  --units g|ms2       units of file and stdin samples: g (default) or m/s^2 (a
                      file written by --record is in g)
  --list-sources      list the sources this machine has and exit
  --sysfs-root DIR    look for IIO devices under DIR instead of /sys
  --headless          no window: an offscreen surface on a virtual clock
  --fullscreen        fill the whole display (also without a desktop, through SDL's
                      KMS/DRM video driver: SDL_VIDEODRIVER=kmsdrm)
  --fast              with --headless, run the virtual clock as fast as possible
  --duration SECONDS  stop after that much time (virtual time when headless)
  --scale N           pixel scale 1, 2 or 3 (default: the largest that fits the display;
                      2 when headless)
  --script FILE       user actions on the clock, one a line: wait SECONDS, tap run,
                      tap settings, select filter|updateFrequency|scale|axis INDEX,
                      click X Y, screenshot FILE, dump-state FILE, quit ('#' comments)
  --record FILE       write a CSV row per sample delivered: t,x,y,z,deflection
                      (deflection empty when the sample was not recorded)
  --screenshot FILE   save a PNG of the window when the program ends
  --dump-state FILE   save the application's state as JSON when the program ends
  --interface FILE    load this main interface file instead of the installed MainWindow.json
  --trigger LEVEL     keep events: an event starts when a recorded deflection reaches LEVEL
                      (1 is the edge of the paper) and is saved with its picture
  --hold SECONDS      an event ends after this long below the level (default 2, 0 to 60)
  --pre SECONDS       an event keeps this much from before its start (default 2, 0 to 60)
  --events DIR        where events go (default $XDG_DATA_HOME/trembit/events)
  --help              show this help and exit
  --version           show the version and exit

Keys in the window: Space = run button, S = settings button (Return too while the
settings page shows), Ctrl+S = save a PNG of the window here, Ctrl+Q = quit.

Settings are kept in $XDG_CONFIG_HOME/trembit/preferences.conf (~/.config/... by default).
Exit status: 0 on success, 2 for a bad option, a missing file or a bad interface file.
)";
}

std::string versionText() {
    return "trembit " TREMBIT_VERSION "\n"
           "Copyright (C) 2026 The Trembit developers\n"
           "License MIT: <https://opensource.org/license/mit>\n"
           "This is free software: you are free to change and redistribute it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n";
}

} // namespace platform
