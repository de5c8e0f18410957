#include "platform/services/OutputFile.h"

#include "tests/support/Files.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using platform::OutputError;
using platform::writeOutputFile;
using testing_support::readFile;

void writeFile(const fs::path& file, const std::string& bytes, fs::perms mode) {
    testing_support::writeFile(file, bytes);
    fs::permissions(file, mode);
}

// A scratch folder under a umask of 022.
class OutputFileTest : public testing::Test {
protected:
    ~OutputFileTest() override { ::umask(umask_); }
    void expectNoTemporaryFile() const {
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir_.path())) {
            EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
        }
    }

    testing_support::TempDir dir_;
    mode_t umask_ = ::umask(022);
};

// Where the bytes land, the mode they get, and that a link stays a link.
TEST_F(OutputFileTest, RegularFilesAreReplacedWholeThroughAnyLinks) {
    const struct {
        const char* name;
        std::function<void(const fs::path&)> prepare;
        const char* written; // the output's path
        const char* holder;  // the regular file that ends up with the bytes
        fs::perms mode;
    } cases[] = {
        {"a new file: 0666 less the umask", [](const fs::path&) {}, "out", "out", fs::perms(0644)},
        {"an existing file keeps its mode",
         [](const fs::path& d) { writeFile(d / "out", "old", fs::perms(0640)); }, "out", "out",
         fs::perms(0640)},
        {"two relative links",
         [](const fs::path& d) {
             fs::create_directory(d / "real");
             writeFile(d / "real" / "out", "old", fs::perms(0600));
             fs::create_symlink("real/out", d / "inner");
             fs::create_symlink("inner", d / "link");
         },
         "link", "real/out", fs::perms(0600)},
        {"a dangling link makes its target",
         [](const fs::path& d) { fs::create_symlink(d / "target", d / "link"); }, "link", "target",
         fs::perms(0644)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dir_.clear();
        c.prepare(dir_);
        const bool wasLink = fs::is_symlink(dir_ / c.written);
        writeOutputFile(dir_ / c.written, "new bytes");
        EXPECT_EQ(readFile(dir_ / c.holder), "new bytes");
        EXPECT_EQ(fs::status(dir_ / c.holder).permissions(), c.mode);
        EXPECT_EQ(fs::is_symlink(dir_ / c.written), wasLink);
        expectNoTemporaryFile();
    }
}

// A missing folder and a full device are held by the end-to-end tests' failed writes.
TEST_F(OutputFileTest, FailuresNameTheFileAndTheReason) {
    fs::create_symlink("loop", dir_ / "loop");
    std::vector<std::pair<fs::path, const char*>> cases = {
        {dir_.path(), "Is a directory"},
        {dir_ / "loop", "Too many levels of symbolic links"},
    };
    if (::geteuid() != 0) { // root may write anything
        writeFile(dir_ / "read-only", "keep", fs::perms(0444));
        cases.emplace_back(dir_ / "read-only", "Permission denied");
    }
    for (const auto& [path, reason] : cases) {
        EXPECT_EQ(testing_support::errorOf<OutputError>([&] { writeOutputFile(path, "bytes"); }),
                  "cannot write " + path.string() + ": " + reason);
    }
    expectNoTemporaryFile();
}

// A pipe reached by a descriptor's name, as /dev/stdout is, and a FIFO are written as they are; the
// program's own descriptor stays open.
TEST_F(OutputFileTest, PipesAndFifosAreWrittenDirectly) {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    writeOutputFile("/dev/fd/" + std::to_string(ends[1]), "through the pipe");
    writeOutputFile("/proc/self/fd/" + std::to_string(ends[1]), "!");
    ::close(ends[1]);
    char got[64] = {};
    EXPECT_EQ(std::string(got, static_cast<std::size_t>(::read(ends[0], got, sizeof got))),
              "through the pipe!");
    ::close(ends[0]);

    const fs::path fifo = dir_ / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    writeOutputFile(fifo, "through the fifo");
    EXPECT_EQ(std::string(got, static_cast<std::size_t>(::read(reader, got, sizeof got))),
              "through the fifo");
    ::close(reader);
}

TEST_F(OutputFileTest, SameFileFollowsLinksAndNamesOfFilesToBe) {
    testing_support::writeFile(dir_ / "a", "a");
    fs::create_symlink("a", dir_ / "to-a");
    fs::create_hard_link(dir_ / "a", dir_ / "also-a");
    const struct {
        fs::path first, second;
        bool same;
    } cases[] = {
        {dir_ / "a", dir_ / "to-a", true},
        {dir_ / "a", dir_ / "also-a", true},
        {dir_ / "new", dir_ / ".." / dir_.path().filename() / "new", true},
        {dir_ / "new", dir_ / "to-a", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::sameFile(c.first, c.second), c.same) << c.first << " and " << c.second;
    }
}

} // namespace
