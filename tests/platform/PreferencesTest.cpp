#include "platform/services/Preferences.h"

#include "tests/support/Files.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <signal.h>
#include <stdlib.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using platform::Preferences;
using namespace std::literals;
using testing_support::readFile;
using testing_support::writeFile;
namespace fs = std::filesystem;

constexpr std::array<const char*, 4> kKeys = {"filter", "updateFrequency", "scale", "axis"};

// Each test gets its own empty folder as XDG_CONFIG_HOME; the environment is put back afterwards.
class PreferencesTest : public testing::Test {
protected:
    PreferencesTest() { setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1); }
    ~PreferencesTest() override {
        restore("XDG_CONFIG_HOME", config_);
        restore("HOME", home_);
    }
    fs::path file() const { return dir_ / "trembit" / "preferences.conf"; }
    static std::optional<std::string> env(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void restore(const char* name, const std::optional<std::string>& value) {
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }

    const std::optional<std::string> config_ = env("XDG_CONFIG_HOME"), home_ = env("HOME");
    testing_support::TempDir dir_;
};

// The end-to-end tests save the four settings and read them at the next launch; here, their widest
// values, and the folder made for the owner only.
TEST_F(PreferencesTest, ValuesAreSeenAtOnceAndOnDiskOnlyAfterSynchronize) {
    Preferences preferences;
    EXPECT_EQ(preferences.copyValue("filter"), std::nullopt);
    const std::array<std::int32_t, 4> values = {3, -1, INT32_MAX, INT32_MIN};
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        preferences.setValue(kKeys[i], values[i]);
    }
    EXPECT_EQ(preferences.copyValue("scale"), INT32_MAX);
    EXPECT_FALSE(fs::exists(dir_ / "trembit"));
    ASSERT_TRUE(preferences.synchronize());
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        EXPECT_EQ(Preferences().copyValue(kKeys[i]), values[i]) << kKeys[i];
    }
    EXPECT_EQ(fs::status(dir_ / "trembit").permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(PreferencesTest, EntriesReadAsIntegersOnlyWhenStrictlyDecimal) {
    const struct {
        std::string_view raw;
        std::optional<std::int32_t> expected;
    } cases[] = {
        {"007", 7},         {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
        {"2147483648", {}}, {"-2147483649", {}},       {"1.5", {}},
        {"7x", {}},         {"\t-12 ", -12},           {"   ", {}},
    };
    for (const auto& c : cases) {
        writeFile(file(), "[trembit]\nscale=" + std::string(c.raw) + "\n");
        EXPECT_EQ(Preferences().copyValue("scale"), c.expected) << '"' << c.raw << '"';
    }
}

// Each bad file is kept beside the others, never over an earlier one, and a fresh file is then written.
// A file beyond its cap is the end-to-end tests' part.
TEST_F(PreferencesTest, UnparsableFileIsKeptAsideAndDefaultsApply) {
    const std::string cases[] = {
        "not a key file [[[",
        "filter=3\n",                       // an entry before any group
        "[trembit]\nfilter=3\n\0\xff\xfe"s, // GLib would read it up to the NUL
    };
    const std::string aside[] = {".bad", ".bad.1", ".bad.2"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        writeFile(file(), cases[i]);
        std::optional<Preferences> preferences;
        const std::string said = testing_support::stderrOf([&] { preferences.emplace(); });

        EXPECT_EQ(preferences->copyValue("filter"), std::nullopt);
        EXPECT_EQ(readFile(file().string() + aside[i]), cases[i]);
        EXPECT_EQ(std::ranges::count(said, '\n'), 1) << said;
        EXPECT_NE(said.find("kept as " + file().string() + aside[i]), std::string::npos) << said;

        preferences->setValue("filter", 5);
        EXPECT_TRUE(preferences->synchronize());
        EXPECT_EQ(Preferences().copyValue("filter"), 5);
    }
}

// Everything GLib can keep is written back, with the file's mode, at the end of any symbolic link.
TEST_F(PreferencesTest, ASaveKeepsEveryOtherEntryTheModeAndTheLink) {
    const std::string before = "# kept by hand\n\n[other]\nfoo=bar\nname[de]=Zittern\n\n"
                               "[trembit]\ncolour=blue\nfilter=1\nfilter[de]=Filter\n";
    for (const bool throughLink : {false, true}) {
        SCOPED_TRACE(throughLink ? "through a link" : "a plain file");
        const fs::path real = throughLink ? dir_ / "dotfiles" / "trembit.conf" : file();
        writeFile(real, before);
        fs::permissions(real, fs::perms(0600));
        if (throughLink) {
            fs::remove(file());
            fs::create_symlink(real, file());
        }
        Preferences preferences;
        preferences.setValue("filter", 2);
        ASSERT_TRUE(preferences.synchronize());
        EXPECT_EQ(readFile(real), std::string(before).replace(before.find("filter=1"), 8, "filter=2"));
        EXPECT_EQ(fs::status(real).permissions(), fs::perms(0600));
        EXPECT_EQ(fs::is_symlink(file()), throughLink);
    }
}

TEST_F(PreferencesTest, FolderComesFromTheEnvironment) {
    setenv("HOME", (dir_ / "home").c_str(), 1);
    const fs::path fromHome = dir_ / "home" / ".config" / "trembit" / "preferences.conf";
    const std::pair<const char*, fs::path> cases[] = {
        {nullptr, fromHome},
        {"", fromHome},
        {"relative/config", fromHome},
        {"/xdg", "/xdg/trembit/preferences.conf"},
    };
    for (const auto& [config, expected] : cases) {
        config ? setenv("XDG_CONFIG_HOME", config, 1) : unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(Preferences::defaultPath(), expected) << (config ? config : "(unset)");
    }
}

// A file we cannot read, or that is not a file, is never written over, and that is said once; the
// values of this run are kept in memory. A folder that cannot be made is the end-to-end tests' part.
TEST_F(PreferencesTest, SaveProblemsAreSaidOnceAndNothingIsWrittenOver) {
    const std::pair<std::function<void(const fs::path&)>, const char*> cases[] = {
        // Not a permission test, which would not hold when the tests run as root.
        {[](const fs::path& file) { fs::create_directories(file / "inside"); }, "will not be saved"},
        {[](const fs::path& file) { fs::create_directories(file.parent_path()), mkfifo(file.c_str(), 0600); },
         "Not a regular file; left untouched, settings will not be saved"},
    };
    for (const auto& [prepare, expected] : cases) {
        SCOPED_TRACE(expected);
        fs::remove_all(dir_ / "trembit");
        prepare(file());
        const fs::file_type type = fs::symlink_status(file()).type();
        std::optional<Preferences> preferences;
        const std::string said = testing_support::stderrOf([&] {
            preferences.emplace();
            preferences->setValue("filter", 4);
            EXPECT_FALSE(preferences->synchronize());
            preferences->setValue("filter", 6);
            EXPECT_FALSE(preferences->synchronize());
        });
        EXPECT_EQ(preferences->copyValue("filter"), 6);
        EXPECT_EQ(std::ranges::count(said, '\n'), 1) << said;
        EXPECT_NE(said.find(expected), std::string::npos) << said;
        EXPECT_EQ(fs::symlink_status(file()).type(), type);
    }
}

// A writer killed at any moment leaves either no file or a whole one: every key from the same round.
TEST_F(PreferencesTest, KilledWriterNeverLeavesATornFile) {
    std::mt19937 random(20240531);
    std::uniform_int_distribution<int> delayMicroseconds(0, 5000);
    int wholeFilesSeen = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);

    for (int round = 0; round < 300 && std::chrono::steady_clock::now() < deadline; ++round) {
        const pid_t parent = getpid();
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL); // stop with the parent if it dies before killing us
            if (getppid() != parent) {
                _exit(1);
            }
            Preferences writer(file());
            for (std::int32_t k = 1; k < 10'000'000; ++k) {
                for (const char* key : kKeys) {
                    writer.setValue(key, k);
                }
                writer.synchronize();
            }
            _exit(0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (!fs::exists(file())) {
            continue;
        }
        const std::string text = readFile(file());
        const Preferences written = Preferences::fromData(text, file());
        const std::optional<std::int32_t> first = written.copyValue(kKeys[0]);
        ASSERT_TRUE(first) << "round " << round << ":\n" << text;
        for (const char* key : kKeys) {
            ASSERT_EQ(written.copyValue(key), first) << "round " << round << ":\n" << text;
        }
        ++wholeFilesSeen;
    }
    EXPECT_GT(wholeFilesSeen, 0);
    EXPECT_FALSE(fs::exists(file().string() + ".bad"));
}

} // namespace
