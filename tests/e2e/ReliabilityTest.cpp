// Nothing lost, nothing hung: the built program against failing disks, missing displays, signals
// while it waits, and inputs without end. One table per kind: writes, start-up, signals, caps.
#include "tests/e2e/Run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>

using e2e::headless;
using e2e::RunOptions;
using e2e::Scratch;

namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// A start takes a few times longer under the sanitizers, and so does an end.
constexpr double kSlowdown = kSanitized ? 3.0 : 1.0;

std::size_t lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// ---- Writes: an output that cannot be written is said with its reason, and a regular file is
// replaced whole or not at all.

struct WriteCase {
    const char* name;
    std::vector<std::string> arguments;
    rlim_t fileSizeLimit;
    const char* said;
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class WritesTest : public testing::TestWithParam<WriteCase> {};

TEST_P(WritesTest, AFailedOutputIsSaidAndAnEarlierFileKept) {
    const WriteCase& c = GetParam();
    Scratch scratch;
    ASSERT_EQ(scratch.run(headless({"--duration", "0.2", "--screenshot", "page.png"})).status, 0);
    const std::string earlier = scratch.read("page.png");
    RunOptions options;
    options.fileSizeLimit = c.fileSizeLimit;
    const e2e::Result result = scratch.run(headless(c.arguments), options);
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
    EXPECT_EQ(scratch.read("page.png"), earlier) << "the earlier picture must not be torn";
    for (const fs::directory_entry& entry : fs::directory_iterator(scratch.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, WritesTest,
    testing::Values(
        // ulimit -f: a real partial write (EFBIG), as on a disk that fills, without root.
        WriteCase{"screenshot_past_the_file_size_limit", {"--duration", "1", "--screenshot", "page.png"}, 16384,
                  "cannot write page.png: File too large"},
        WriteCase{"screenshot_to_a_full_device", {"--duration", "1", "--screenshot", "/dev/full"}, 0,
                  "cannot write /dev/full: No space left on device"}),
    [](const testing::TestParamInfo<WriteCase>& info) { return info.param.name; });

// ---- Start-up: what cannot work is refused at start, on one line, with exit status 2.

struct StartCase {
    const char* name;
    std::vector<std::string> arguments;
    std::map<std::string, std::optional<std::string>> environment;
    const char* said;
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

class StartUpTest : public testing::TestWithParam<StartCase> {};

TEST_P(StartUpTest, IsRefusedOnOneLine) {
    const StartCase& c = GetParam();
    Scratch scratch;
    scratch.write("huge-view.json",
                  R"({"delegate": "TrembitAppDelegate", "window": {"class": "Window", "frame": [0,0,320,480],
                      "subviews": [{"class": "View", "frame": [0,0,4097,10]}]}, "outlets": {}})");
    RunOptions options;
    options.environment = c.environment;
    // A runtime folder of its own, so that a look for a Wayland display finds nothing and says nothing.
    options.environment.emplace("XDG_RUNTIME_DIR", scratch.path().string());
    const e2e::Result result = scratch.run(c.arguments, options);
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
    EXPECT_EQ(lines(result.err), 1u) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, StartUpTest,
    testing::Values(
        // Not decided by DISPLAY alone: SDL is asked, and it ends up on a driver that shows nothing.
        StartCase{"no_display",
                  {"--duration", "1", "--source", "sim"},
                  {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"SDL_VIDEODRIVER", std::nullopt}},
                  "cannot open a window: no display: SDL found only its offscreen driver (use --headless"},
        StartCase{"view_larger_than_4096_points",
                  headless({"--interface", "huge-view.json"}),
                  {},
                  "huge-view.json: window.subviews[0].frame: a view may be at most 4096 points wide and high"}),
    [](const testing::TestParamInfo<StartCase>& info) { return info.param.name; });

// ---- Signals: SIGINT and SIGTERM end a run within a second whatever it waits on, its outputs
// written. A FIFO or a pipe that is open for writing but never written to keeps a reader waiting.

struct SignalCase {
    const char* name;
    std::vector<std::string> arguments; // "FIFO" stands for the FIFO's path
    bool idleWriter;                    // someone holds the FIFO open for writing
    bool stdinFromIdlePipe;
    int signal;
    bool runsToItsEnd; // the run had started, so it ends as usual with its outputs
};

void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

class SignalsTest : public testing::TestWithParam<SignalCase> {};

TEST_P(SignalsTest, EndTheWaitPromptly) {
    const SignalCase& c = GetParam();
    Scratch scratch;
    const fs::path fifo = scratch / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Open for reading and writing, this end never blocks and holds the FIFO open as a writer.
    const int writer = c.idleWriter ? ::open(fifo.c_str(), O_RDWR | O_CLOEXEC) : -1;
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
    RunOptions options;
    options.signal = c.signal;
    options.signalAfterSeconds = 0.5 * kSlowdown;
    options.inputFd = c.stdinFromIdlePipe ? pipeEnds[0] : -1;
    std::vector<std::string> arguments = c.arguments;
    for (std::string& argument : arguments) {
        if (const std::size_t at = argument.find("FIFO"); at != std::string::npos) {
            argument.replace(at, 4, fifo.string());
        }
    }

    const e2e::Result result = scratch.run(arguments, options);
    EXPECT_LT(result.secondsAfterSignal, 1.0 * kSlowdown) << result.err;
    EXPECT_NE(result.status, 128 + c.signal) << "the handler was not installed in time";
    EXPECT_NE(result.status, 128 + SIGKILL) << "the program had to be killed";
    if (c.runsToItsEnd) {
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(scratch.read("rec.csv"), "t,x,y,z,deflection\n");
        EXPECT_TRUE(fs::exists(scratch / "state.json"));
    }
    for (const int fd : {writer, pipeEnds[0], pipeEnds[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

const std::vector<std::string> kRunOutputs = {"--record", "rec.csv", "--dump-state", "state.json"};

std::vector<std::string> paced(std::vector<std::string> more) {
    std::vector<std::string> arguments = {"--headless", "--scale", "1"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    arguments.insert(arguments.end(), kRunOutputs.begin(), kRunOutputs.end());
    return arguments;
}

INSTANTIATE_TEST_SUITE_P(
    Waits, SignalsTest,
    testing::Values(
        SignalCase{"file_source_fifo_with_an_idle_writer", paced({"--source", "file:FIFO"}), true, false, SIGTERM,
                   true},
        SignalCase{"file_source_fifo_without_a_writer", paced({"--source", "file:FIFO"}), false, false, SIGINT,
                   true},
        SignalCase{"file_source_dev_stdin_on_an_idle_pipe", paced({"--source", "file:/dev/stdin"}), false, true,
                   SIGINT, true},
        SignalCase{"fast_file_source_fifo", headless({"--source", "file:FIFO", "--record", "rec.csv", "--dump-state",
                                                      "state.json"}),
                   true, false, SIGTERM, true},
        SignalCase{"script_fifo_with_an_idle_writer", headless({"--script", "FIFO"}), true, false, SIGTERM, false},
        SignalCase{"interface_fifo_with_an_idle_writer", headless({"--interface", "FIFO"}), true, false, SIGINT,
                   false}),
    [](const testing::TestParamInfo<SignalCase>& info) { return info.param.name; });

// ---- Caps: an input of any kind is read in bounded pieces; one without end is refused at its cap.
// Without the caps the program would grow until the kernel ended it: the memory limit makes such
// a fault end quickly instead (not under AddressSanitizer, which reserves far more address space).

struct CapCase {
    const char* name;
    std::function<void(const Scratch&)> prepare;
    std::vector<std::string> arguments;
    int status;
    const char* said;
    const char* written; // a file the run leaves, or ""
};

void PrintTo(const CapCase& c, std::ostream* os) { *os << c.name; }

class CapsTest : public testing::TestWithParam<CapCase> {};

TEST_P(CapsTest, HoldForEveryKindOfFile) {
    const CapCase& c = GetParam();
    Scratch scratch;
    c.prepare(scratch);
    RunOptions options;
    options.memoryLimit = kSanitized ? 0 : rlim_t{2} << 30;
    int script[2] = {-1, -1}; // a script coming down a pipe, as from <(generate)
    ASSERT_EQ(pipe2(script, O_CLOEXEC), 0);
    const std::string text = "wait 0.2\ndump-state state.json\n";
    ASSERT_EQ(::write(script[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(script[1]);
    options.inputFd = script[0];
    const e2e::Result result = scratch.run(c.arguments, options);
    ::close(script[0]);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
    EXPECT_TRUE(*c.written == '\0' || fs::exists(scratch / c.written)) << c.written;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CapsTest,
    testing::Values(
        CapCase{"script_without_end", [](const Scratch&) {}, headless({"--script", "/dev/zero"}), 2,
                "trembit: script /dev/zero is larger than 16 MB", ""},
        CapCase{"interface_without_end", [](const Scratch&) {}, headless({"--interface", "/dev/zero"}), 2,
                "trembit: /dev/zero: larger than 1 MB", ""},
        CapCase{"preference_file_of_three_gigabytes",
                [](const Scratch& s) {
                    fs::create_directories(s.preferences().parent_path());
                    s.write("config/trembit/preferences.conf", "[trembit]\n");
                    fs::resize_file(s.preferences(), std::uintmax_t{3} << 30); // sparse: takes no disk
                },
                headless({"--duration", "0.1"}), 0, "larger than 1 MB; kept as",
                "config/trembit/preferences.conf.bad"},
        CapCase{"script_from_a_pipe", [](const Scratch&) {}, headless({"--script", "/dev/stdin"}), 0,
                "trembit: source: sim", "state.json"}),
    [](const testing::TestParamInfo<CapCase>& info) { return info.param.name; });

} // namespace
