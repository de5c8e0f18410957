#include "platform/app/SavedPictures.h"

#include "tests/support/Files.h"

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

namespace fs = std::filesystem;
using platform::SavedPictures;

// 2026-12-07 10:15:00 UTC.
constexpr std::time_t kWhen = 1796638500;

TEST(SavedPicturesTest, EachSaveIsANewFileAndTheTitleSaysSoForTwoSeconds) {
    setenv("TZ", "UTC", 1);
    tzset();
    const testing_support::TempDir dir;
    testing_support::writeFile(dir / "file", "not a folder");
    const auto png = [] { return std::string("png"); };
    const auto broken = []() -> std::string { throw std::runtime_error("out of memory"); };

    const struct {
        const char* what;
        std::function<std::string()> encode;
        fs::path folder;
        const char* notice; // "Saved " and the name of the file made, or why none was
    } cases[] = {
        {"first", png, dir / "Pictures", "Saved Trembit 2026-12-07 10-15-00.png"},
        {"same second", png, dir / "Pictures", "Saved Trembit 2026-12-07 10-15-00 (2).png"},
        {"folder is a file", png, dir / "file", "Could not save Trembit 2026-12-07 10-15-00.png"},
        {"encoding fails", broken, dir / "Pictures", "Could not save Trembit 2026-12-07 10-15-00.png"},
    };
    SavedPictures pictures;
    double now = 10.0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<fs::path> made = pictures.save(c.encode, c.folder, kWhen, now);
        EXPECT_EQ(made ? "Saved " + made->filename().string() : "", c.notice[0] == 'S' ? c.notice : "");
        EXPECT_EQ(pictures.notice(now + 1.9).value_or("(readings)"), c.notice);
        EXPECT_EQ(pictures.notice(now + 2.0).value_or("(readings)"), "(readings)");
        now += 5.0;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "Pictures"), fs::directory_iterator()), 2)
        << "a failed save left a file behind";
}

} // namespace
