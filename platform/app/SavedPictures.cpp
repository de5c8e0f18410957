#include "platform/app/SavedPictures.h"

#include "platform/gfx/Translation.h"
#include "platform/services/OutputFile.h"

#include <cstdio>
#include <glib.h>
#include <stdexcept>
#include <system_error>

namespace platform {

namespace {

constexpr const char* kExtension = ".png";

} // namespace

std::filesystem::path SavedPictures::folder() {
    // GLib reads the user's folders from $XDG_CONFIG_HOME/user-dirs.dirs; a user without one has
    // no pictures folder.
    if (const char* pictures = g_get_user_special_dir(G_USER_DIRECTORY_PICTURES)) {
        return pictures;
    }
    return g_get_home_dir();
}

std::string SavedPictures::stem(std::time_t when) {
    std::tm local{};
    char name[64] = "Trembit";
    if (localtime_r(&when, &local) != nullptr) {
        std::strftime(name, sizeof name, "Trembit %Y-%m-%d %H-%M-%S", &local);
    }
    return name;
}

std::optional<std::filesystem::path> SavedPictures::save(const std::function<std::string()>& encode,
                                                         const std::filesystem::path& folder,
                                                         std::time_t when, double now) {
    const std::string name = stem(when);
    noticeUntil_ = now + kNoticeSeconds;
    try {
        std::string bytes;
        try {
            bytes = encode();
        } catch (const std::runtime_error& error) {
            throw OutputError(folder / (name + kExtension), error.what());
        }
        // A pictures folder that a desktop has named but not made yet is made, as a file manager would.
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        if (error) {
            throw OutputError(folder, error.message());
        }
        const std::filesystem::path made = writeNewFile(folder, name, kExtension, bytes);
        std::fprintf(stderr, "trembit: saved %s\n", made.c_str());
        notice_ = substitute(translate("Saved %s"), made.filename().string());
        return made;
    } catch (const OutputError& error) {
        std::fprintf(stderr, "trembit: %s\n", error.what());
        notice_ = substitute(translate("Could not save %s"), name + kExtension);
        return std::nullopt;
    }
}

std::optional<std::string> SavedPictures::notice(double now) const {
    if (now < noticeUntil_) {
        return notice_;
    }
    return std::nullopt;
}

} // namespace platform
