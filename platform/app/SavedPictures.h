#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace platform {

/// Pictures of the window saved at the user's request (Ctrl+S): each a new file in the pictures
/// folder, named by the local time it was taken, never written over another. The outcome is said
/// on standard error and, for two seconds, in the window's title.
class SavedPictures {
public:
    /// How long the title tells of a save, in seconds on the run's clock.
    static constexpr double kNoticeSeconds = 2.0;

    /// The user's pictures folder (XDG_PICTURES_DIR), else the home folder.
    static std::filesystem::path folder();
    /// The file name without its extension for local time `when`: "Trembit 2026-12-07 10-15-00".
    static std::string stem(std::time_t when);

    /// Saves the PNG that `encode` makes (it may throw std::runtime_error) as a new file in
    /// `folder`, made if it is missing, as stem(when) + ".png", else " (2)", " (3)" and so on.
    /// Says the file made, or the file and the reason it could not be, on standard error, and
    /// keeps the title's notice from `now`. Returns the file made, or nothing after a failure.
    std::optional<std::filesystem::path> save(const std::function<std::string()>& encode,
                                              const std::filesystem::path& folder, std::time_t when,
                                              double now);

    /// What the title shows at `now` instead of its readings, in the user's language: "Saved
    /// <file name>" or "Could not save <file name>", for kNoticeSeconds after a save; else nothing.
    std::optional<std::string> notice(double now) const;

private:
    std::string notice_;
    double noticeUntil_ = -1.0;
};

} // namespace platform
