// Nothing lost, nothing hung: the built program against failing disks, missing displays, signals
// while it waits, and inputs without end. One test per kind: writes, start-up, signals, caps.
#include "tests/e2e/Run.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
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

// An output that cannot be written is said with its reason and ends the run with status 1, while
// the others are still written; an earlier file is kept whole, and a record keeps its whole rows.
// Events that cannot be saved are said once too, and summed up at the end.
TEST(ReliabilityTest, Writes) {
    const struct {
        std::vector<std::string> arguments;
        rlim_t fileSizeLimit; // ulimit -f: a real partial write (EFBIG), as on a disk that fills
        const char* said;
    } cases[] = {
        {{"--screenshot", "page.png"}, 16384, "cannot write page.png: File too large"},
        {{"--screenshot", "/dev/full"}, 0, "cannot write /dev/full: No space left on device"},
        {{"--dump-state", "/dev/full", "--screenshot", "page.png"},
         0,
         "cannot write /dev/full: No space left on device"},
        {{"--record", "/dev/full"}, 0, "cannot write the record file /dev/full: No space left on device"},
        {{"--record", "rec.csv"}, 8192, "cannot write the record file rec.csv: File too large"},
        {{"--script", "steps.txt"}, 0, "steps.txt:2: cannot write /dev/full: No space left on device"},
        {{"--events", "page.png/ev", "--trigger", "0.3"},
         0,
         "trembit: events not saved: cannot write page.png/ev: Not a directory\n"},
        {{"--events", "ev", "--trigger", "0.3"}, 4096, ".csv: File too large\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        Scratch scratch;
        ASSERT_EQ(scratch.run(headless({"--duration", "0.2", "--screenshot", "page.png"})).status, 0);
        const std::string earlier = scratch.read("page.png");
        scratch.write("steps.txt", "wait 0.5\nscreenshot /dev/full\nwait 0.5\n");
        std::vector<std::string> arguments = headless({"--duration", "60", "--dump-state", "state.json"});
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const e2e::Result result = scratch.run(arguments, {.fileSizeLimit = c.fileSizeLimit});
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find(c.said), result.err.rfind(c.said)) << "said once: " << result.err;
        EXPECT_EQ(result.err.find("events could not be saved in") != std::string::npos,
                  c.arguments[0] == "--events");
        EXPECT_TRUE(c.fileSizeLimit == 0 || scratch.read("page.png") == earlier)
            << "the earlier picture is torn";
        EXPECT_TRUE(fs::exists(scratch / "state.json") || c.arguments[1] == "/dev/full");
        const std::string record = scratch.read("rec.csv");
        EXPECT_TRUE(record.empty() || record.back() == '\n') << "the record must end with a whole row";
        for (const fs::directory_entry& entry : fs::directory_iterator(scratch.path())) {
            EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
        }
    }
}

// What cannot work is refused at start, on one line (and a hint for a bad command line), with exit
// status 2.
TEST(ReliabilityTest, StartUp) {
    const struct {
        std::vector<std::string> arguments;
        const char* said;
        e2e::Environment environment{};
    } cases[] = {
        // Nothing is touched before the run can start, and no output is written over an input.
        {headless({"--duration", "1", "--source", "flie:old.csv", "--record", "old.csv"}), "unknown source"},
        {headless({"--duration", "1", "--source", "file:old.csv", "--record", "./old.csv"}),
         "cannot write the record file ./old.csv: it is the sample file old.csv"},
        {headless({"--duration", "1", "--script", "old.csv", "--dump-state", "old.csv"}),
         "it is the script old.csv"},
        {headless({"--duration", "1", "--record", "rec.csv", "--screenshot", "rec.csv"}),
         "cannot write rec.csv both as the record file and as the screenshot"},
        // Not decided by DISPLAY alone: SDL is asked, and it ends up on a driver that shows nothing.
        {{"--duration", "1", "--source", "sim"},
         "cannot open a window: no display: SDL found only its offscreen driver (use --headless",
         {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"SDL_VIDEODRIVER", std::nullopt}}},
        {headless({"--interface", "no-outlet.json"}),
         "no-outlet.json: the outlet \"settingsView\" is not connected"},
        {headless({"--script", "bad-script.txt"}), "bad-script.txt:2: unknown action 'jump'"},
        {headless({"--source", "file:nowhere.csv"}), "cannot open nowhere.csv: No such file or directory"},
        {headless({"--record", "/nonexistent/rec.csv"}), "/nonexistent/rec.csv: No such file or directory"},
        {{"--frobnicate"}, "unknown option '--frobnicate'\nTry 'trembit --help'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        Scratch scratch;
        scratch.write("no-outlet.json",
                      R"({"delegate": "TrembitAppDelegate", "window": {"class": "Window", "id": "w",
                                           "frame": [0,0,320,480]}, "outlets": {"window": "w"}})");
        scratch.write("bad-script.txt", "wait 1\njump\n");
        RunOptions options{.environment = c.environment};
        // A runtime folder of its own, so that a look for a Wayland display finds nothing and says nothing.
        options.environment.emplace("XDG_RUNTIME_DIR", scratch.path().string());
        scratch.write("old.csv", "wait 1\n");
        const e2e::Result result = scratch.run(c.arguments, options);
        EXPECT_EQ(result.status, 2) << result.err;
        EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'),
                  result.err.find("\nTry") == std::string::npos ? 1 : 2)
            << result.err;
        EXPECT_EQ(scratch.read("old.csv"), "wait 1\n");
        EXPECT_FALSE(fs::exists(scratch / "rec.csv"));
    }
}

// SIGINT and SIGTERM end a run within a second whatever it waits on, with its outputs written. A
// FIFO or a pipe open for writing but never written to keeps its reader waiting. An output going to
// a pipe holds the run back after a stop only while someone takes it: a record whose reader never
// reads, and a state file whose FIFO nobody opens, are said as not written and the exit status says
// the outputs are incomplete.
TEST(ReliabilityTest, Signals) {
    const auto paced = [](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--headless", "--scale", "1"});
        return arguments;
    };
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        bool held; // someone holds the FIFO open, and never reads or writes
        bool stdinFromIdlePipe;
        int signal;
        int status; // 0: the run began, so it ends as usual, its outputs written
        const char* said = "";
    } cases[] = {
        {"FIFO with an idle writer", paced({"--source", "file:fifo"}), true, false, SIGTERM, 0},
        {"FIFO without a writer", paced({"--source", "file:fifo"}), false, false, SIGINT, 0},
        {"/dev/stdin, an idle pipe", paced({"--source", "file:/dev/stdin"}), false, true, SIGINT, 0},
        {"FIFO in --fast", headless({"--source", "file:fifo"}), true, false, SIGTERM, 0},
        {"stdin in --fast, an idle pipe", headless({"--source", "-"}), false, true, SIGINT, 0},
        {"script FIFO", headless({"--script", "fifo"}), true, false, SIGTERM, 2},
        {"interface FIFO", headless({"--interface", "fifo"}), true, false, SIGINT, 2},
        {"record FIFO", headless({"--record", "fifo"}), true, false, SIGINT, 1,
         "cannot write the record file fifo: Interrupted system call"},
        {"state FIFO", headless({"--dump-state", "fifo"}), false, false, SIGINT, 1,
         "cannot write fifo: Interrupted system call"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scratch scratch;
        const fs::path fifo = scratch / "fifo";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        // Open for reading and writing, this end never blocks and holds the FIFO open at both ends.
        const int holder = c.held ? ::open(fifo.c_str(), O_RDWR | O_CLOEXEC) : -1;
        int idle[2] = {-1, -1};
        ASSERT_EQ(pipe2(idle, O_CLOEXEC), 0);
        std::vector<std::string> arguments = c.arguments;
        if (c.status == 0) {
            arguments.insert(arguments.end(), {"--record", "rec.csv", "--dump-state", "state.json"});
        }
        const e2e::Result result = scratch.run(arguments, {.signalAfterSeconds = 0.5 * kSlowdown,
                                                           .signal = c.signal,
                                                           .inputFd = c.stdinFromIdlePipe ? idle[0] : -1});
        EXPECT_LT(result.secondsAfterSignal, 1.0 * kSlowdown) << result.err;
        // 128 + the signal: the handlers were not installed in time; 128 + SIGKILL: it had to be killed.
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
        if (c.status == 0) {
            EXPECT_EQ(scratch.read("rec.csv"), "t,x,y,z,deflection\n");
            EXPECT_TRUE(fs::exists(scratch / "state.json"));
        }
        for (const int fd : {holder, idle[0], idle[1]}) {
            ::close(fd);
        }
    }
}

// An input of any kind is read in bounded pieces, and one without end is refused at its cap. Without
// the caps the program would grow until the kernel ended it: the memory limit ends such a fault
// sooner (not under AddressSanitizer, which reserves far more address space).
TEST(ReliabilityTest, Caps) {
    const struct {
        std::vector<std::string> arguments;
        int status;
        const char* said;
        const char* written; // a file the run leaves, or ""
        bool hugePreferences = false;
    } cases[] = {
        {headless({"--script", "/dev/zero"}), 2, "trembit: script /dev/zero is larger than 16 MB", ""},
        {headless({"--interface", "/dev/zero"}), 2, "trembit: /dev/zero: larger than 1 MB", ""},
        {headless({"--duration", "0.1"}), 0, "larger than 1 MB; kept as",
         "config/trembit/preferences.conf.bad", true},
        // As from --script <(generate): a pipe within the cap is read whole.
        {headless({"--script", "/dev/stdin"}), 0, "trembit: source: sim", "state.json"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        Scratch scratch;
        if (c.hugePreferences) {
            scratch.prefer("");
            fs::resize_file(scratch.preferences(), std::uintmax_t{3} << 30); // three sparse gigabytes
        }
        int script[2];
        ASSERT_EQ(pipe2(script, O_CLOEXEC), 0);
        const std::string text = "wait 0.2\ndump-state state.json\n";
        ASSERT_EQ(::write(script[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ::close(script[1]);
        const e2e::Result result =
            scratch.run(c.arguments, {.inputFd = script[0], .memoryLimit = kSanitized ? 0 : rlim_t{2} << 30});
        ::close(script[0]);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
        EXPECT_TRUE(*c.written == '\0' || fs::exists(scratch / c.written)) << c.written;
    }
}

} // namespace
