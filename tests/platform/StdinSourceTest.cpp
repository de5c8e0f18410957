#include "platform/services/StdinSource.h"

#include "platform/services/FileSource.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
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
// Long enough for any thread hand-over on a loaded machine; a test that reaches it has failed.
constexpr auto kPatience = std::chrono::seconds(20);
constexpr int kBurstLines = 100000;

// A pipe whose read end feeds the source and whose write end is the test's (or a writer thread's).
class Pipe {
public:
    Pipe() {
        int fds[2];
        if (::pipe(fds) != 0) {
            throw std::runtime_error("pipe");
        }
        read_ = fds[0];
        write_ = fds[1];
    }
    ~Pipe() {
        closeWriteEnd();
        ::close(read_);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    int readEnd() const { return read_; }
    void write(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::write(write_, bytes.data(), bytes.size());
            ASSERT_GT(n, 0) << "write to the pipe failed";
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    void closeWriteEnd() {
        if (write_ >= 0) {
            ::close(write_);
            write_ = -1;
        }
    }
    // Returns once the reader has taken every byte written so far, so that the next write comes in a
    // read of its own.
    bool drained() const {
        return waitFor([this] {
            int unread = 0;
            return ::ioctl(read_, FIONREAD, &unread) == 0 && unread == 0;
        });
    }
    static bool waitFor(const std::function<bool()>& condition) {
        const Clock::time_point deadline = Clock::now() + kPatience;
        while (!condition()) {
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::yield();
        }
        return true;
    }

private:
    int read_ = -1;
    int write_ = -1;
};

// A line far larger than any reader should hold, in MiB.
constexpr int kHugeLineMegabytes = 64;

// Starts measuring the peak resident memory afresh; false where the system does not allow it.
bool resetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return clear.good();
}

// A "VmRSS:" (now) or "VmHWM:" (peak) figure of this process, in KiB.
std::size_t memoryKilobytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == field) {
            std::size_t kilobytes = 0;
            status >> kilobytes;
            return kilobytes;
        }
    }
    return 0;
}

std::string burst(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        text += std::to_string(i) + ",0,-1\n";
    }
    return text;
}

// Everything a lossless source gives until the end of its input.
std::vector<Acceleration> drain(StdinSource& source) {
    std::vector<Acceleration> samples;
    while (const std::optional<Acceleration> sample = source.nextSample(0.0)) {
        samples.push_back(*sample);
    }
    return samples;
}

std::string finishMessage(StdinSource& source) {
    testing::internal::CaptureStderr();
    source.finish();
    source.finish();
    return testing::internal::GetCapturedStderr();
}

TEST(StdinSourceTest, LinesArriveWholeHoweverTheReadsCutThem) {
    const struct {
        const char* what;
        std::vector<std::string> chunks; // each arrives in a read of its own
        std::vector<double> xs;
        std::string report;
    } cases[] = {
        {"cut mid-number and mid-line-ending",
         {"1,0,-1\r", "\n2,", "0", ".5,-1\r\n", "3,0,-1\n"},
         {1, 2, 3},
         ""},
        {"a last line without a line break", {"1,0,-1\n2,0,", "-1"}, {1, 2}, ""},
        {"comments and blanks pass, bad lines are counted",
         {"\xEF\xBB\xBF# t=0\n\n1,0,-1\n", "x,y,z\n2,0,-1\n1,2\n", "\n3,0,-1\n4,0"},
         {1, 2, 3},
         "trembit: stdin: skipped 3 malformed lines (first at line 4)\n"},
        {"nothing at all", {}, {}, ""},
    };
    for (const auto& c : cases) {
        Pipe pipe;
        StdinSource source(pipe.readEnd(), SampleUnits::G, true, kRate200);
        for (const std::string& chunk : c.chunks) {
            pipe.write(chunk);
            ASSERT_TRUE(pipe.drained()) << c.what;
        }
        pipe.closeWriteEnd();
        std::vector<double> xs;
        for (const Acceleration& sample : drain(source)) {
            xs.push_back(sample.x);
        }
        EXPECT_EQ(xs, c.xs) << c.what;
        EXPECT_TRUE(source.isExhausted()) << c.what;
        EXPECT_EQ(finishMessage(source), c.report) << c.what;
    }
}

TEST(StdinSourceTest, AQueuedSampleKeepsTheSourceAliveAfterTheInputEnds) {
    for (const bool lossless : {false, true}) {
        Pipe pipe;
        StdinSource source(pipe.readEnd(), SampleUnits::G, lossless, kRate200);
        pipe.write("1,2,3\n");
        pipe.closeWriteEnd();
        ASSERT_TRUE(Pipe::waitFor([&] { return source.maxQueued() == 1; }));
        EXPECT_FALSE(source.isExhausted()) << "lossless " << lossless;
        const std::optional<Acceleration> sample = source.nextSample(0.0);
        ASSERT_TRUE(sample.has_value()) << "lossless " << lossless;
        EXPECT_EQ(sample->z, 3.0);
        ASSERT_TRUE(Pipe::waitFor([&] { return source.isExhausted(); })) << "lossless " << lossless;
        EXPECT_EQ(source.nextSample(0.0), std::nullopt);
    }
}

TEST(StdinSourceTest, TextSourcesTurnMetresPerSecondSquaredIntoG) {
    const std::string line = "9.80665, -4.903325, 0\n";
    const Acceleration expected{1.0, -0.5, 0.0};

    Pipe pipe;
    StdinSource stream(pipe.readEnd(), SampleUnits::MetresPerSecondSquared, true, kRate200);
    pipe.write(line);
    pipe.closeWriteEnd();

    std::string pattern = (std::filesystem::temp_directory_path() / "trembit-ms2-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::ofstream(pattern) << line;
    platform::FileSource file(pattern, SampleUnits::MetresPerSecondSquared);

    const std::pair<const char*, std::optional<Acceleration>> results[] = {{"stdin", stream.nextSample(0.0)},
                                                                           {"file", file.nextSample(0.0)}};
    std::filesystem::remove(pattern);
    for (const auto& [what, sample] : results) {
        ASSERT_TRUE(sample.has_value()) << what;
        EXPECT_EQ(sample->x, expected.x) << what;
        EXPECT_EQ(sample->y, expected.y) << what;
        EXPECT_EQ(sample->z, expected.z) << what;
    }
}

TEST(StdinSourceTest, LiveModeKeepsTheNewestSecondAndCountsTheRest) {
    Pipe pipe;
    StdinSource source(pipe.readEnd(), SampleUnits::G, false, kRate200);
    ASSERT_EQ(source.capacity(), 200u);
    std::thread writer([&] {
        pipe.write(burst(kBurstLines));
        pipe.closeWriteEnd();
    });
    writer.join(); // the reader never waits in live mode, so the whole burst goes through
    ASSERT_TRUE(Pipe::waitFor([&] { return source.droppedSamples() == kBurstLines - 200; }))
        << "dropped " << source.droppedSamples();
    EXPECT_EQ(source.maxQueued(), 200u);
    for (int expected = kBurstLines - 200; expected < kBurstLines; ++expected) {
        const std::optional<Acceleration> sample = source.nextSample(0.0);
        ASSERT_TRUE(sample.has_value()) << "sample " << expected;
        ASSERT_EQ(sample->x, expected) << "the oldest must go first";
    }
    EXPECT_TRUE(Pipe::waitFor([&] { return source.isExhausted(); }));
    EXPECT_EQ(finishMessage(source),
              "trembit: stdin: dropped 99800 samples that came faster than 200 per second\n");
}

TEST(StdinSourceTest, LiveModeWhileConsumingStaysInOrderAndAccountsForEveryLine) {
    Pipe pipe;
    StdinSource source(pipe.readEnd(), SampleUnits::G, false, kRate200);
    std::thread writer([&] {
        pipe.write(burst(kBurstLines));
        pipe.closeWriteEnd();
    });
    std::uint64_t consumed = 0;
    double last = -1.0;
    const bool ended = Pipe::waitFor([&] {
        if (const std::optional<Acceleration> sample = source.nextSample(0.0)) {
            EXPECT_GT(sample->x, last);
            last = sample->x;
            ++consumed;
        }
        return source.isExhausted();
    });
    writer.join();
    ASSERT_TRUE(ended);
    EXPECT_LE(source.maxQueued(), 200u);
    EXPECT_EQ(consumed + source.droppedSamples(), static_cast<std::uint64_t>(kBurstLines));
    EXPECT_EQ(last, kBurstLines - 1) << "the newest sample is never dropped";
}

TEST(StdinSourceTest, LosslessModeDeliversEveryLineInOrder) {
    Pipe pipe;
    StdinSource source(pipe.readEnd(), SampleUnits::G, true, kRate200);
    std::thread writer([&] {
        pipe.write(burst(kBurstLines));
        pipe.closeWriteEnd();
    });
    for (int i = 0; i < kBurstLines; ++i) {
        const std::optional<Acceleration> sample = source.nextSample(0.0);
        ASSERT_TRUE(sample.has_value()) << "sample " << i;
        ASSERT_EQ(sample->x, i);
    }
    EXPECT_EQ(source.nextSample(0.0), std::nullopt);
    writer.join();
    EXPECT_TRUE(source.isExhausted());
    EXPECT_LE(source.maxQueued(), 200u);
    EXPECT_EQ(source.droppedSamples(), 0u);
    EXPECT_EQ(finishMessage(source), "");
}

TEST(StdinSourceTest, HugeLinesAndBinaryJunkAreSkippedWithoutHoldingThem) {
    std::string junk;
    std::uint32_t state = 12345;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1664525u + 1013904223u; // a fixed sequence of every byte value
        junk += static_cast<char>(state >> 24);
    }
    const std::string megabyte(1024 * 1024, '7');
    const bool peakReset = resetPeakMemory();
    const std::size_t before = memoryKilobytes("VmRSS:");

    Pipe pipe;
    StdinSource source(pipe.readEnd(), SampleUnits::G, true, kRate200);
    std::thread writer([&] {
        for (int i = 0; i < kHugeLineMegabytes; ++i) {
            pipe.write(megabyte); // all one line
        }
        pipe.write("\n1,2,3\n");
        pipe.write(junk);
        pipe.write("\n4,5,6\n");
        pipe.write(std::string(5000, '\0'));
        pipe.closeWriteEnd();
    });
    const std::vector<Acceleration> samples = drain(source);
    writer.join();
    if (peakReset) {
        EXPECT_LT(memoryKilobytes("VmHWM:"), before + kHugeLineMegabytes * 1024 / 2)
            << "the reader held the huge line";
    }
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[0].x, 1.0);
    EXPECT_EQ(samples[1].z, 6.0);
    EXPECT_GE(source.malformedLines(), 3u);
    const std::string report = finishMessage(source);
    EXPECT_TRUE(report.ends_with(" malformed lines (first at line 1)\n")) << report;
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
        auto source = std::make_unique<StdinSource>(pipe.readEnd(), SampleUnits::G, c.lossless, c.interval);
        pipe.write(c.written);
        ASSERT_TRUE(pipe.drained()) << c.what;
        ASSERT_TRUE(Pipe::waitFor([&] { return source->maxQueued() == c.queued; })) << c.what;
        const Clock::time_point start = Clock::now();
        source.reset();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << c.what;
    }
}

TEST(StdinSourceTest, AnUnreadableDescriptorEndsTheInputAndIsSaid) {
    StdinSource source(-1, SampleUnits::G, true, kRate200);
    EXPECT_EQ(source.nextSample(0.0), std::nullopt);
    EXPECT_TRUE(source.isExhausted());
    EXPECT_EQ(finishMessage(source), "trembit: stdin: reading stopped: Bad file descriptor\n");
}

} // namespace
