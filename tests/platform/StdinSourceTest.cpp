#include "platform/services/StdinSource.h"

#include "platform/services/OwnedFd.h"
#include "tests/support/Files.h"

#include <chrono>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using platform::Acceleration;
using platform::SampleUnits;
using platform::StdinSource;
using Clock = std::chrono::steady_clock;

constexpr double kRate200 = 1.0 / 200.0;
constexpr int kBurstLines = 100000;

// Long enough for any thread hand-over on a loaded machine; a test that reaches it has failed.
bool waitFor(const std::function<bool()>& condition) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
    while (!condition() && Clock::now() < deadline) {
        std::this_thread::yield();
    }
    return condition();
}

// A pipe whose read end feeds the source and whose write end is the test's (or a writer thread's).
struct Pipe {
    Pipe() {
        int fds[2] = {-1, -1};
        EXPECT_EQ(::pipe(fds), 0);
        readEnd = platform::OwnedFd(fds[0]), writeEnd = platform::OwnedFd(fds[1]);
    }
    void write(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::write(writeEnd.get(), bytes.data(), bytes.size());
            ASSERT_GT(n, 0) << "write to the pipe failed";
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    void closeWriteEnd() { writeEnd = platform::OwnedFd(); }
    // Returns once the reader has taken every byte written so far, so that the next write comes in a
    // read of its own.
    bool drained() const {
        return waitFor([this] {
            int unread = 0;
            return ::ioctl(readEnd.get(), FIONREAD, &unread) == 0 && unread == 0;
        });
    }

    platform::OwnedFd readEnd, writeEnd;
};

// A "VmRSS:" (now) or "VmHWM:" (peak) figure of this process, in KiB.
std::size_t memoryKilobytes(const std::string& field) {
    const std::string status = testing_support::readFile("/proc/self/status");
    return std::stoul(status.substr(status.find(field) + field.size()));
}

// The x of everything a lossless source gives until the end of its input, waiting for it as the main
// loop does.
std::vector<double> drain(StdinSource& source) {
    std::vector<double> xs;
    for (;;) {
        if (source.awaitsInput()) {
            pollfd ready{source.readyFd(), POLLIN, 0};
            ::poll(&ready, 1, -1);
        } else if (const std::optional<Acceleration> sample = source.nextSample(0.0)) {
            xs.push_back(sample->x);
        } else {
            return xs;
        }
    }
}

// What the source says at the end, asked twice.
std::string finishMessage(StdinSource& source) {
    return testing_support::stderrOf([&] {
        source.finish();
        source.finish();
    });
}

TEST(StdinSourceTest, LinesArriveWholeHoweverTheReadsCutThem) {
    const struct {
        const char* what;
        std::vector<std::string> chunks; // each arrives in a read of its own
        std::vector<double> xs;
        std::string report;
        SampleUnits units = SampleUnits::G;
    } cases[] = {
        {"cut mid-number and mid-line-ending, the last without a line break",
         {"1,0,-1\r", "\n2,", "0", ".5,-1\r\n", "3,0,", "-1"},
         {1, 2, 3},
         ""},
        {"comments and blanks pass, bad lines are counted",
         {"\xEF\xBB\xBF# t=0\n\n1,0,-1\n", "x,y,z\n2,0,-1\n1,2\n", "\n3,0,-1\n4,0"},
         {1, 2, 3},
         "trembit: stdin: skipped 3 malformed lines (first at line 4)\n"},
        {"in m/s²",
         {"9.80665, -4.903325, 0\n-19.6133,0,0\n"},
         {1, -2},
         "",
         SampleUnits::MetresPerSecondSquared},
    };
    for (const auto& c : cases) {
        Pipe pipe;
        StdinSource source(pipe.readEnd.get(), c.units, true, kRate200);
        for (const std::string& chunk : c.chunks) {
            pipe.write(chunk);
            ASSERT_TRUE(pipe.drained()) << c.what;
        }
        pipe.closeWriteEnd();
        EXPECT_EQ(drain(source), c.xs) << c.what;
        EXPECT_TRUE(source.isExhausted()) << c.what;
        EXPECT_EQ(finishMessage(source), c.report) << c.what;
    }
}

TEST(StdinSourceTest, AQueuedSampleKeepsTheSourceAliveAfterTheInputEnds) {
    for (const bool lossless : {false, true}) {
        Pipe pipe;
        StdinSource source(pipe.readEnd.get(), SampleUnits::G, lossless, kRate200);
        pipe.write("1,2,3\n");
        pipe.closeWriteEnd();
        ASSERT_TRUE(waitFor([&] { return source.maxQueued() == 1; }));
        EXPECT_FALSE(source.isExhausted()) << "lossless " << lossless;
        EXPECT_EQ(source.nextSample(0.0).value_or(Acceleration{}).z, 3.0) << "lossless " << lossless;
        ASSERT_TRUE(waitFor([&] { return source.isExhausted(); })) << "lossless " << lossless;
        EXPECT_EQ(source.nextSample(0.0), std::nullopt);
    }
}

// A burst far faster than the rate: live, the newest second is kept and the rest counted; lossless,
// the writer is held back and every line comes.
TEST(StdinSourceTest, ABurstIsCutToTheNewestSecondLiveAndDeliveredWholeLossless) {
    for (const bool lossless : {false, true}) {
        SCOPED_TRACE(lossless ? "lossless" : "live");
        Pipe pipe;
        StdinSource source(pipe.readEnd.get(), SampleUnits::G, lossless, kRate200);
        ASSERT_EQ(source.capacity(), 200u);
        std::string burst;
        for (int i = 0; i < kBurstLines; ++i) {
            burst += std::to_string(i) + ",0,-1\n";
        }
        std::jthread writer([&] {
            pipe.write(burst);
            pipe.closeWriteEnd();
        });
        const int first = lossless ? 0 : kBurstLines - 200;
        if (!lossless) {
            writer.join(); // the reader never waits in live mode
            ASSERT_TRUE(waitFor([&] { return source.droppedSamples() == kBurstLines - 200; }));
        }
        const std::vector<double> xs = drain(source);
        ASSERT_EQ(xs.size(), static_cast<std::size_t>(kBurstLines - first));
        for (std::size_t i = 0; i < xs.size(); ++i) {
            ASSERT_EQ(xs[i], first + static_cast<double>(i)) << "in order, the oldest first";
        }
        EXPECT_LE(source.maxQueued(), 200u);
        EXPECT_EQ(finishMessage(source),
                  lossless ? ""
                           : "trembit: stdin: dropped 99800 samples that came faster than 200 per second\n");
    }
}

// Binary junk on standard input is the end-to-end tests' part; here, a line far beyond the cap.
TEST(StdinSourceTest, AHugeLineIsSkippedWithoutHoldingIt) {
    constexpr int kHugeLineMegabytes = 64;
    const std::string megabyte(1024 * 1024, '7');
    // Starts measuring the peak resident memory afresh, where the system allows it.
    const bool peakReset = static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5" << std::flush);
    const std::size_t before = memoryKilobytes("VmRSS:");

    Pipe pipe;
    StdinSource source(pipe.readEnd.get(), SampleUnits::G, true, kRate200);
    std::jthread writer([&] {
        for (int i = 0; i < kHugeLineMegabytes; ++i) {
            pipe.write(megabyte); // all one line
        }
        pipe.write("\n3,2,1\n");
        pipe.closeWriteEnd();
    });
    EXPECT_EQ(drain(source), std::vector<double>{3.0});
    if (peakReset) {
        EXPECT_LT(memoryKilobytes("VmHWM:"), before + kHugeLineMegabytes * 1024 / 2)
            << "the reader held the huge line";
    }
    EXPECT_EQ(finishMessage(source), "trembit: stdin: skipped 1 malformed line (first at line 1)\n");
}

TEST(StdinSourceTest, DestructionDoesNotWaitForTheWriter) {
    const struct {
        const char* what;
        bool lossless;
        double interval;
        const char* written;
        std::size_t queued; // wait until the queue has held this many
    } cases[] = {
        {"live, idle", false, kRate200, "", 0},
        {"lossless, idle mid-line", true, kRate200, "1,2", 0},
        {"lossless, waiting for room", true, 1.0, "1,2,3\n4,5,6\n7,8,9\n", 1},
    };
    for (const auto& c : cases) {
        Pipe pipe;
        auto source =
            std::make_unique<StdinSource>(pipe.readEnd.get(), SampleUnits::G, c.lossless, c.interval);
        pipe.write(c.written);
        ASSERT_TRUE(pipe.drained()) << c.what;
        ASSERT_TRUE(waitFor([&] { return source->maxQueued() == c.queued; })) << c.what;
        const Clock::time_point start = Clock::now();
        source.reset();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << c.what;
    }
}

TEST(StdinSourceTest, AnUnreadableDescriptorEndsTheInputAndIsSaid) {
    StdinSource source(-1, SampleUnits::G, true, kRate200);
    EXPECT_TRUE(drain(source).empty());
    EXPECT_TRUE(source.isExhausted());
    EXPECT_EQ(finishMessage(source), "trembit: stdin: reading stopped: Bad file descriptor\n");
}

} // namespace
