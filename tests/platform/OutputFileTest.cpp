#include "platform/services/OutputFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using platform::OutputError;
using platform::writeOutputFile;

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& file, const std::string& bytes, fs::perms mode = fs::perms(0644)) {
    std::ofstream(file, std::ios::binary) << bytes;
    fs::permissions(file, mode);
}

fs::perms modeOf(const fs::path& file) {
    return fs::status(file).permissions();
}

class OutputFileTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "trembit-output-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        umask_ = ::umask(022);
    }
    void TearDown() override {
        ::umask(umask_);
        fs::remove_all(dir_);
    }
    // Everything in the folder but the names given: a temporary file left behind shows here.
    std::vector<std::string> othersThan(std::initializer_list<std::string> names) const {
        std::vector<std::string> others;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                others.push_back(name);
            }
        }
        return others;
    }

    fs::path dir_;
    mode_t umask_ = 022;
};

// Where the bytes land, what the file's mode is then, and that a link stays a link.
TEST_F(OutputFileTest, RegularFilesAreReplacedWholeThroughAnyLinks) {
    const struct {
        const char* name;
        std::function<void(const fs::path&)> prepare;
        const char* written; // the output's path
        const char* holder;  // the regular file that ends up with the bytes
        fs::perms mode;
    } cases[] = {
        {"a new file: 0666 less the umask", [](const fs::path&) {}, "out.txt", "out.txt", fs::perms(0644)},
        {"an existing file keeps its mode", [](const fs::path& d) { writeFile(d / "out.txt", "old", fs::perms(0640)); },
         "out.txt", "out.txt", fs::perms(0640)},
        {"a relative link, through two links",
         [](const fs::path& d) {
             fs::create_directory(d / "real");
             writeFile(d / "real" / "out.txt", "old", fs::perms(0600));
             fs::create_symlink("real/out.txt", d / "inner");
             fs::create_symlink("inner", d / "link");
         },
         "link", "real/out.txt", fs::perms(0600)},
        {"a dangling link makes its target", [](const fs::path& d) { fs::create_symlink(d / "target", d / "link"); },
         "link", "target", fs::perms(0644)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        c.prepare(dir_);
        const bool wasLink = fs::is_symlink(dir_ / c.written);
        writeOutputFile(dir_ / c.written, "new bytes");
        EXPECT_EQ(readFile(dir_ / c.holder), "new bytes");
        EXPECT_EQ(modeOf(dir_ / c.holder), c.mode);
        EXPECT_EQ(fs::is_symlink(dir_ / c.written), wasLink);
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir_)) {
            EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
        }
    }
}

TEST_F(OutputFileTest, FailuresNameTheFileAndTheReasonAndLeaveNothingBehind) {
    fs::create_directory(dir_ / "folder");
    fs::create_symlink("loop", dir_ / "loop");
    struct Case {
        fs::path path;
        const char* reason;
    };
    std::vector<Case> cases = {
        {dir_ / "missing" / "out.png", "No such file or directory"},
        {dir_ / "folder", "Is a directory"},
        {dir_ / "loop", "Too many levels of symbolic links"},
    };
    if (fs::exists("/dev/full")) {
        cases.push_back({"/dev/full", "No space left on device"}); // a device: written directly
    }
    if (::geteuid() != 0) { // root may write anything
        writeFile(dir_ / "read-only", "keep", fs::perms(0444));
        cases.push_back({dir_ / "read-only", "Permission denied"});
    }
    for (const Case& c : cases) {
        try {
            writeOutputFile(c.path, "bytes");
            ADD_FAILURE() << "no error for " << c.path;
        } catch (const OutputError& error) {
            EXPECT_EQ(std::string(error.what()), "cannot write " + c.path.string() + ": " + c.reason);
        }
    }
    if (::geteuid() != 0) {
        EXPECT_EQ(readFile(dir_ / "read-only"), "keep");
    }
    EXPECT_EQ(othersThan({"folder", "loop", "read-only"}), std::vector<std::string>{});
}

// A write that fails part way (a full disk, here the file size limit) leaves the old file as it was.
TEST_F(OutputFileTest, AFailedWriteLeavesTheOldFile) {
    const fs::path file = dir_ / "page.png";
    writeFile(file, "the old picture");
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            writeOutputFile(file, std::string(100000, 'x'));
        } catch (const OutputError& error) {
            _exit(std::string(error.what()) == "cannot write " + file.string() + ": File too large" ? 0 : 2);
        }
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(readFile(file), "the old picture");
    EXPECT_EQ(othersThan({"page.png"}), std::vector<std::string>{});
}

// A pipe, reached by the descriptor's name as /dev/stdout is, and a FIFO are written as they are,
// and the program's own descriptor stays open.
TEST_F(OutputFileTest, PipesAndFifosAreWrittenDirectly) {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    writeOutputFile("/dev/fd/" + std::to_string(ends[1]), "through the pipe");
    writeOutputFile("/proc/self/fd/" + std::to_string(ends[1]), "!");
    ::close(ends[1]);
    char got[64] = {};
    EXPECT_EQ(std::string(got, static_cast<std::size_t>(::read(ends[0], got, sizeof got))), "through the pipe!");
    ::close(ends[0]);

    const fs::path fifo = dir_ / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    writeOutputFile(fifo, "through the fifo");
    EXPECT_EQ(std::string(got, static_cast<std::size_t>(::read(reader, got, sizeof got))), "through the fifo");
    ::close(reader);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(OutputFileTest, CutBackLeavesTheWholeRows) {
    const fs::path file = dir_ / "rec.csv";
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    platform::writeAll(fd, "t,x\n1,2\n3,", file);
    platform::cutBack(fd, 8, file);
    platform::writeAll(fd, "5,6\n", file);
    ::close(fd);
    EXPECT_EQ(readFile(file), "t,x\n1,2\n5,6\n");
}

TEST_F(OutputFileTest, SameFileFollowsLinksAndNamesOfFilesToBe) {
    writeFile(dir_ / "a", "a");
    writeFile(dir_ / "b", "b");
    fs::create_symlink("a", dir_ / "to-a");
    fs::create_hard_link(dir_ / "a", dir_ / "also-a");
    fs::create_directory(dir_ / "sub");
    const struct {
        fs::path first, second;
        bool same;
    } cases[] = {
        {dir_ / "a", dir_ / "to-a", true},
        {dir_ / "a", dir_ / "also-a", true},
        {dir_ / "a", dir_ / "sub" / ".." / "a", true},
        {dir_ / "a", dir_ / "b", false},
        {dir_ / "new", dir_ / "sub" / ".." / "new", true},
        {dir_ / "new", dir_ / "other", false},
        {dir_ / "missing" / "x", dir_ / "missing" / "x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::sameFile(c.first, c.second), c.same) << c.first << " and " << c.second;
    }
}

} // namespace
