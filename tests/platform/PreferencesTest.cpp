#include "platform/services/Preferences.h"

#include <array>
#include <chrono>
#include <fstream>
#include <glib.h>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <signal.h>
#include <stdlib.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using platform::Preferences;
using namespace std::string_literals;
namespace fs = std::filesystem;

constexpr std::array<const char*, 4> kKeys = {"filter", "updateFrequency", "scale", "axis"};

struct KeyFileFree {
    void operator()(GKeyFile* keyFile) const noexcept { g_key_file_free(keyFile); }
};
struct GFree {
    void operator()(void* memory) const noexcept { g_free(memory); }
};

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& file, std::string_view bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Reads an entry straight from the file, without the store under test.
std::optional<std::string> rawEntry(const fs::path& file, const char* group, const char* key) {
    std::unique_ptr<GKeyFile, KeyFileFree> keyFile(g_key_file_new());
    if (!g_key_file_load_from_file(keyFile.get(), file.c_str(), G_KEY_FILE_NONE, nullptr)) {
        return std::nullopt;
    }
    std::unique_ptr<gchar, GFree> value(g_key_file_get_value(keyFile.get(), group, key, nullptr));
    return value ? std::optional<std::string>(value.get()) : std::nullopt;
}

std::size_t count(const std::string& text, std::string_view what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// Each test gets its own empty folder as XDG_CONFIG_HOME; the environment is put back afterwards.
class PreferencesTest : public testing::Test {
protected:
    void SetUp() override {
        savedConfig_ = saved("XDG_CONFIG_HOME");
        savedHome_ = saved("HOME");
        std::string pattern = (fs::temp_directory_path() / "trembit-prefs-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    }
    void TearDown() override {
        restore("XDG_CONFIG_HOME", savedConfig_);
        restore("HOME", savedHome_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path file() const { return dir_ / "trembit" / "preferences.conf"; }

    fs::path dir_;

private:
    static std::optional<std::string> saved(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void restore(const char* name, const std::optional<std::string>& value) {
        value ? setenv(name, value->c_str(), 1) : unsetenv(name);
    }

    std::optional<std::string> savedConfig_;
    std::optional<std::string> savedHome_;
};

TEST_F(PreferencesTest, EmptyStoreReadsNoneAndWritesNothing) {
    testing::internal::CaptureStderr();
    const Preferences preferences;
    EXPECT_EQ(preferences.path(), file());
    for (const char* key : kKeys) {
        EXPECT_EQ(preferences.copyValue(key), std::nullopt) << key;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(fs::exists(dir_ / "trembit"));
}

TEST_F(PreferencesTest, ValuesAreSeenAtOnceAndOnDiskOnlyAfterSynchronize) {
    const std::array<std::int32_t, 4> values = {3, -1, INT32_MAX, INT32_MIN};
    Preferences preferences;
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        preferences.setValue(kKeys[i], values[i]);
        EXPECT_EQ(preferences.copyValue(kKeys[i]), values[i]);
    }
    EXPECT_EQ(Preferences().copyValue("filter"), std::nullopt);

    ASSERT_TRUE(preferences.synchronize());
    const Preferences reread;
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        EXPECT_EQ(reread.copyValue(kKeys[i]), values[i]) << kKeys[i];
        EXPECT_EQ(rawEntry(file(), "trembit", kKeys[i]), std::to_string(values[i])) << kKeys[i];
    }
    EXPECT_EQ(fs::status(dir_ / "trembit").permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(PreferencesTest, EntriesReadAsIntegersOnlyWhenStrictlyDecimal) {
    const struct {
        std::string_view raw;
        std::optional<std::int32_t> expected;
    } cases[] = {
        {"7", 7},
        {"-1", -1},
        {"0", 0},
        {"007", 7},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {" 3 ", 3},
        {"\t-12\t", -12},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"abc", std::nullopt},
        {"1.5", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"-", std::nullopt},
        {"+5", std::nullopt},
        {"- 1", std::nullopt},
        {"1 2", std::nullopt},
        {"0x10", std::nullopt},
        {"7x", std::nullopt},
        {"1e3", std::nullopt},
        {"\\s3", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Preferences::parseInteger(c.raw), c.expected) << '"' << c.raw << '"';
        writeFile(file(), "[trembit]\nscale=" + std::string(c.raw) + "\n");
        EXPECT_EQ(Preferences().copyValue("scale"), c.expected) << "in a file: \"" << c.raw << '"';
    }
    EXPECT_EQ(Preferences::parseInteger(std::string_view("1\0", 2)), std::nullopt);
}

TEST_F(PreferencesTest, UnparsableFileIsKeptAsideAndDefaultsApply) {
    const std::string cases[] = {
        "not a key file [[[",
        "filter=3\n", // an entry before any group
        "\xff\xfe\0[trembit]\nfilter=3\n"s,
    };
    for (const std::string& garbage : cases) {
        fs::remove_all(dir_ / "trembit");
        writeFile(file(), garbage);
        testing::internal::CaptureStderr();
        Preferences preferences;
        const std::string said = testing::internal::GetCapturedStderr();

        EXPECT_EQ(preferences.copyValue("filter"), std::nullopt);
        EXPECT_FALSE(fs::exists(file()));
        EXPECT_EQ(readFile(file().string() + ".bad"), garbage);
        EXPECT_EQ(count(said, "\n"), 1u) << said;
        EXPECT_NE(said.find(file().string() + ": "), std::string::npos) << said;
        EXPECT_NE(said.find("kept as " + file().string() + ".bad"), std::string::npos) << said;

        preferences.setValue("filter", 5);
        EXPECT_TRUE(preferences.synchronize());
        EXPECT_EQ(Preferences().copyValue("filter"), 5);
    }
}

TEST_F(PreferencesTest, EarlierBadFileIsNotOverwritten) {
    const fs::path bad = file().string() + ".bad";
    writeFile(bad, "first");
    writeFile(file(), "second [[[");
    testing::internal::CaptureStderr();
    const Preferences preferences;
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(readFile(bad), "first");
    EXPECT_EQ(readFile(file().string() + ".bad.1"), "second [[[");
    EXPECT_NE(said.find(".bad.1"), std::string::npos) << said;
}

TEST_F(PreferencesTest, ForeignEntriesAndCommentsSurviveASave) {
    writeFile(file(), "# kept by hand\n[other]\nfoo=bar\n\n[trembit]\ncolour=blue\nfilter=1\naxis=wide\n");
    Preferences preferences;
    EXPECT_EQ(preferences.copyValue("axis"), std::nullopt);
    preferences.setValue("filter", 2);
    preferences.setValue("scale", 4);
    ASSERT_TRUE(preferences.synchronize());

    EXPECT_EQ(rawEntry(file(), "other", "foo"), "bar");
    EXPECT_EQ(rawEntry(file(), "trembit", "colour"), "blue");
    EXPECT_EQ(rawEntry(file(), "trembit", "axis"), "wide");
    EXPECT_EQ(rawEntry(file(), "trembit", "filter"), "2");
    EXPECT_EQ(rawEntry(file(), "trembit", "scale"), "4");
    EXPECT_NE(readFile(file()).find("# kept by hand"), std::string::npos);
}

TEST_F(PreferencesTest, KeysAKeyFileCannotHoldAreIgnored) {
    const std::string_view cases[] = {
        "",     " filter", "filter ",
        "a=b",  "a[b]",    "[trembit]",
        "a\nb", "#filter", std::string_view("filter\0x", 8),
        "\xff",
    };
    testing::internal::CaptureStderr();
    Preferences preferences;
    for (std::string_view key : cases) {
        preferences.setValue(key, 9);
        EXPECT_EQ(preferences.copyValue(key), std::nullopt) << key;
    }
    EXPECT_EQ(preferences.copyValue("filter"), std::nullopt);
    EXPECT_TRUE(preferences.synchronize());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(readFile(file()).find('9'), std::string::npos) << readFile(file());
}

TEST_F(PreferencesTest, FolderComesFromTheEnvironment) {
    setenv("HOME", (dir_ / "home").c_str(), 1);
    const fs::path fromHome = dir_ / "home" / ".config" / "trembit" / "preferences.conf";
    const struct {
        std::optional<std::string> config;
        fs::path expected;
    } cases[] = {
        {std::nullopt, fromHome},
        {"", fromHome},
        {"relative/config", fromHome},
        {(dir_ / "xdg").string(), dir_ / "xdg" / "trembit" / "preferences.conf"},
    };
    for (const auto& c : cases) {
        c.config ? setenv("XDG_CONFIG_HOME", c.config->c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
        Preferences preferences;
        EXPECT_EQ(preferences.path(), c.expected) << c.config.value_or("(unset)");
        preferences.setValue("axis", 2);
        EXPECT_TRUE(preferences.synchronize());
        EXPECT_EQ(rawEntry(c.expected, "trembit", "axis"), "2");
    }
}

TEST_F(PreferencesTest, FailedSaveIsReportedOnceAndKeepsValues) {
    writeFile(dir_ / "plain-file", "x");
    setenv("XDG_CONFIG_HOME", (dir_ / "plain-file" / "config").c_str(), 1);
    testing::internal::CaptureStderr();
    Preferences preferences;
    preferences.setValue("filter", 4);
    EXPECT_FALSE(preferences.synchronize());
    preferences.setValue("filter", 6);
    EXPECT_FALSE(preferences.synchronize());
    const std::string said = testing::internal::GetCapturedStderr();

    EXPECT_EQ(preferences.copyValue("filter"), 6);
    EXPECT_EQ(count(said, "\n"), 1u) << said;
    EXPECT_NE(said.find("cannot save " + preferences.path().string() + ": "), std::string::npos) << said;
}

TEST_F(PreferencesTest, UnreadableFileIsNeverWrittenOver) {
    // Not a file at all; a permission test would not hold when the tests run as root.
    fs::create_directories(file() / "inside");
    testing::internal::CaptureStderr();
    Preferences preferences;
    preferences.setValue("filter", 4);
    EXPECT_FALSE(preferences.synchronize());
    EXPECT_FALSE(preferences.synchronize());
    const std::string said = testing::internal::GetCapturedStderr();

    EXPECT_EQ(preferences.copyValue("filter"), 4);
    EXPECT_TRUE(fs::is_directory(file() / "inside"));
    EXPECT_FALSE(fs::exists(file().string() + ".bad"));
    EXPECT_EQ(count(said, "\n"), 1u) << said;
    EXPECT_NE(said.find(file().string() + ": "), std::string::npos) << said;
    EXPECT_NE(said.find("will not be saved"), std::string::npos) << said;
}

TEST_F(PreferencesTest, FromDataTouchesNoFile) {
    const fs::path target = dir_ / "trembit" / "preferences.conf";
    testing::internal::CaptureStderr();
    EXPECT_EQ(Preferences::fromData("[trembit]\nscale=8\n", target).copyValue("scale"), 8);
    EXPECT_EQ(Preferences::fromData("garbage [[[\n[trembit]\nscale=8\n", target).copyValue("scale"),
              std::nullopt);
    EXPECT_EQ(Preferences::fromData({}, target).copyValue("scale"), std::nullopt);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(fs::exists(dir_ / "trembit"));
}

// A writer killed at any moment leaves either no file or a whole one: every key from the same round.
TEST_F(PreferencesTest, KilledWriterNeverLeavesATornFile) {
    const fs::path target = file();
    std::mt19937 random(20240531);
    std::uniform_int_distribution<int> delayMicroseconds(0, 5000);
    int wholeFilesSeen = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);

    for (int round = 0; round < 300 && std::chrono::steady_clock::now() < deadline; ++round) {
        const pid_t parent = getpid();
        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            // Stop with the parent if it dies before killing us.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) {
                _exit(1);
            }
            Preferences writer(target);
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

        if (!fs::exists(target)) {
            continue;
        }
        const auto first = rawEntry(target, "trembit", kKeys[0]);
        ASSERT_TRUE(first.has_value()) << "round " << round << ":\n" << readFile(target);
        for (const char* key : kKeys) {
            ASSERT_EQ(rawEntry(target, "trembit", key), first) << "round " << round << ":\n"
                                                               << readFile(target);
        }
        ASSERT_TRUE(Preferences::parseInteger(*first).has_value()) << *first;
        ++wholeFilesSeen;
    }
    EXPECT_GT(wholeFilesSeen, 0);
    EXPECT_FALSE(fs::exists(target.string() + ".bad"));
}

} // namespace
