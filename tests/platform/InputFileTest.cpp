#include "platform/services/InputFile.h"

#include "platform/services/Printable.h"
#include "tests/support/Files.h"

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using platform::InputFileError;
using platform::readInputFile;
using namespace std::chrono_literals;

class InputFileTest : public testing::Test {
protected:
    testing_support::TempDir dir_;
};

// A pipe within its cap and a device without end are held by the end-to-end tests' caps.
TEST_F(InputFileTest, CapsHoldAndFailuresSayWhy) {
    testing_support::writeFile(dir_ / "ten", "0123456789");
    fs::create_directory(dir_ / "folder");
    const struct {
        fs::path path;
        std::size_t cap;
        const char* text;   // what is read, when it is read
        const char* reason; // why not, when it is not
    } cases[] = {
        {dir_ / "ten", 10, "0123456789", nullptr},
        {dir_ / "ten", 9, nullptr, "larger than 9 bytes"},
        {dir_ / "missing", 10, nullptr, "No such file or directory"},
        {dir_ / "folder", 10, nullptr, "Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.string() + " up to " + std::to_string(c.cap));
        try {
            EXPECT_EQ(readInputFile(c.path, c.cap), c.text ? c.text : "(an error)");
        } catch (const InputFileError& error) {
            EXPECT_EQ(error.reason(), c.reason ? c.reason : "(no error)");
            EXPECT_EQ(error.tooLarge(), std::string(error.reason()).starts_with("larger"));
            EXPECT_EQ(std::string(error.what()), "cannot read " + c.path.string() + ": " + error.reason());
        }
    }
}

// A FIFO opened without a writer reads as empty at once unless its reader waits for one to come.
TEST_F(InputFileTest, AFifoIsReadFromItsWriterWhenItComes) {
    const fs::path path = dir_ / "fifo";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    std::thread writer([&] {
        std::this_thread::sleep_for(100ms);
        // Without waiting for a reader: one that already gave up must not hang the test.
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            EXPECT_EQ(::write(fd, "wait 1\n", 7), 7);
            ::close(fd);
        }
    });
    EXPECT_EQ(readInputFile(path, 100), "wait 1\n");
    writer.join();
}

TEST(PrintableTest, EscapesControlsAndCutsBetweenCharacters) {
    const std::string a197(197, 'a');
    const struct {
        std::string text, shown;
    } cases[] = {
        {"plain text, é and ✓", "plain text, é and ✓"},
        {"a\nb\tc\r\x1b[2J\x7f", "a\\nb\\tc\\r\\x1b[2J\\x7f"},
        {"\xc2\x9b"
         "31m",
         "\\u009b31m"},                                            // C1 control sequence introducer
        {"\xff\xfe \xc3 \xc0\xaf", "\\xff\\xfe \\xc3 \\xc0\\xaf"}, // not UTF-8, cut short, overlong
        {std::string(200, 'a'), std::string(200, 'a')},
        {std::string(201, 'a'), a197 + "..."},
        {std::string(196, 'a') + "é" + "b", std::string(196, 'a') + "éb"}, // 199 bytes: whole
        {std::string(196, 'a') + "éééé", std::string(196, 'a') + "..."},   // not half an é
        {std::string(196, 'a') + "\n\n\n", std::string(196, 'a') + "..."}, // not half an escape
    };
    for (const auto& c : cases) {
        const std::string shown = platform::printable(c.text);
        EXPECT_EQ(shown, c.shown);
        EXPECT_LE(shown.size(), platform::kMaxPrintableBytes);
    }
}

} // namespace
