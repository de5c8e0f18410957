#include "platform/services/Preferences.h"

#include "platform/services/InputFile.h"
#include "platform/services/OutputFile.h"
#include "platform/services/Printable.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <glib.h>
#include <glib/gstdio.h>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <utility>

namespace platform {

namespace {

constexpr const char* kGroup = "trembit";
// A few keys take a few dozen bytes; anything near this is not a preference file of ours.
constexpr std::size_t kMaxFileBytes = 1024 * 1024;
// Comments and translated keys (name[de]=...) are kept, so that a save writes back what it read.
constexpr GKeyFileFlags kKeepEverything =
    static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);

struct GFree {
    void operator()(void* memory) const noexcept { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

struct ErrorFree {
    void operator()(GError* error) const noexcept { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

// One write per line, so that a message is never split by other output.
void say(const std::string& line) {
    std::cerr << ("trembit: preferences: " + line + '\n') << std::flush;
}

// Keys that GKeyFile would refuse (with a critical warning), or would write in a form that reads back as
// something else: a comment, a group header, a different key.
bool isKeyName(std::string_view key) {
    return !key.empty() && key.front() != ' ' && key.back() != ' ' && key.front() != '#' &&
           key.find_first_of(std::string_view("=[]\n\r\0", 7)) == std::string_view::npos &&
           g_utf8_validate(key.data(), static_cast<gssize>(key.size()), nullptr);
}

// Fills `keyFile` from `data`; false, with the problem, when the data is not a key file.
bool loadKeyFile(GKeyFile* keyFile, std::string_view data, std::string& problem) {
    // GLib reads a key file only up to its first NUL byte, so a file of binary garbage could load
    // as an empty store, which a save would then write over. Such a file is no key file.
    if (data.find('\0') != std::string_view::npos) {
        problem = "it holds a NUL byte, so it is not a key file";
        return false;
    }
    GError* rawError = nullptr;
    if (!g_key_file_load_from_data(keyFile, data.data(), data.size(), kKeepEverything, &rawError)) {
        const ErrorPtr error(rawError);
        problem = error->message;
        return false;
    }
    return true;
}

} // namespace

void Preferences::KeyFileFree::operator()(GKeyFile* keyFile) const noexcept {
    g_key_file_free(keyFile);
}

Preferences::Preferences() : Preferences(defaultPath()) {}

Preferences::Preferences(std::filesystem::path file) : Preferences(std::move(file), Unloaded{}) {
    load();
}

Preferences::Preferences(std::filesystem::path file, Unloaded)
    : file_(std::move(file)), keyFile_(g_key_file_new()) {}

Preferences Preferences::fromData(std::string_view data, std::filesystem::path file) {
    Preferences preferences(std::move(file), Unloaded{});
    std::string problem;
    if (!loadKeyFile(preferences.keyFile_.get(), data, problem)) {
        preferences.keyFile_.reset(g_key_file_new()); // drop whatever was parsed before the fault
    }
    return preferences;
}

std::filesystem::path Preferences::defaultPath() {
    // Not g_get_user_config_dir(): it keeps the first answer for the life of the process.
    std::filesystem::path base;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && std::filesystem::path(config).is_absolute()) {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home != nullptr && *home != '\0' ? home : g_get_home_dir()) / ".config";
    }
    return base / "trembit" / "preferences.conf";
}

std::optional<std::int32_t> Preferences::parseInteger(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    text = text.substr(first, text.find_last_not_of(kSpace) - first + 1);
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int32_t> Preferences::copyValue(std::string_view key) const {
    if (!isKeyName(key)) {
        return std::nullopt;
    }
    // The raw text rather than g_key_file_get_integer, which accepts "7x" and wraps large numbers.
    GCharPtr text(g_key_file_get_value(keyFile_.get(), kGroup, std::string(key).c_str(), nullptr));
    return text ? parseInteger(text.get()) : std::nullopt;
}

void Preferences::setValue(std::string_view key, std::int32_t value) {
    if (isKeyName(key)) {
        g_key_file_set_integer(keyFile_.get(), kGroup, std::string(key).c_str(), value);
    }
}

bool Preferences::synchronize() {
    if (!mayWrite_) {
        return false; // already said when the file could not be read
    }
    std::string reason;
    const std::filesystem::path folder = file_.parent_path();
    if (!folder.empty() && g_mkdir_with_parents(folder.c_str(), 0700) != 0) {
        reason = g_strerror(errno);
    } else {
        gsize length = 0;
        GCharPtr data(g_key_file_to_data(keyFile_.get(), &length, nullptr));
        // A temporary file beside the old one, renamed over it, so a crash or a full disk leaves
        // the old file or the new one, never a torn one; through a symbolic link to its target.
        try {
            writeOutputFile(file_, std::string_view(data.get(), length));
            return true;
        } catch (const OutputError& error) {
            reason = error.reason();
        }
    }
    if (!saveFailureReported_) {
        saveFailureReported_ = true;
        say("cannot save " + file_.string() + ": " + reason);
    }
    return false;
}

void Preferences::load() {
    struct stat status {};
    if (::stat(file_.c_str(), &status) != 0) {
        // Nothing there yet (first run, or the folder is missing): nothing to lose either.
        if (errno != ENOENT && errno != ENOTDIR) {
            leaveAlone(g_strerror(errno));
        }
        return;
    }
    // A FIFO or a device is not where settings are kept, and is never replaced by a file.
    if (!S_ISREG(status.st_mode)) {
        leaveAlone("Not a regular file");
        return;
    }
    std::string data;
    try {
        data = readInputFile(file_, kMaxFileBytes);
    } catch (const InputFileError& error) {
        if (error.tooLarge()) {
            keepAside(error.reason());
        } else {
            leaveAlone(error.reason());
        }
        return;
    } catch (const ReadInterrupted&) {
        mayWrite_ = false; // the run is ending at the user's request: nothing to say, nothing to save
        return;
    }
    std::string problem;
    if (!loadKeyFile(keyFile_.get(), data, problem)) {
        keyFile_.reset(g_key_file_new()); // drop whatever was parsed before the fault
        keepAside(problem);
    }
}

void Preferences::leaveAlone(std::string_view problem) {
    // Unreadable, or not a file at all: leave it be, and do not save over it.
    mayWrite_ = false;
    say(file_.string() + ": " + printable(problem) + "; left untouched, settings will not be saved");
}

void Preferences::keepAside(std::string_view problem) {
    // Never over an earlier bad file: the user may not have looked at it yet.
    std::filesystem::path aside = file_;
    aside += ".bad";
    std::error_code error;
    for (int n = 1; std::filesystem::exists(std::filesystem::symlink_status(aside, error)); ++n) {
        aside = file_;
        aside += ".bad." + std::to_string(n);
    }
    std::filesystem::rename(file_, aside, error);
    const std::string what = file_.string() + ": " + printable(problem);
    if (error) {
        mayWrite_ = false;
        say(what + "; cannot keep it as " + aside.string() + " (" + error.message() +
            "), using defaults, settings will not be saved");
    } else {
        say(what + "; kept as " + aside.string() + ", using defaults");
    }
}

} // namespace platform
