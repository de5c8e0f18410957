#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

// GLib's own declaration, repeated so that users of the store need not include glib.h.
typedef struct _GKeyFile GKeyFile;

namespace platform {

// The application's persisted settings: integer values under the group [trembit] of a GLib key file,
// by default $XDG_CONFIG_HOME/trembit/preferences.conf.
//
// The file is read once, when the store is made, and written whole by synchronize(). Whatever else the
// file holds (comments, other keys and groups, translated keys such as name[de]) is written back
// untouched, with the file's permission bits; a file reached through a symbolic link is replaced at
// the link's target, and the link stays. Problems with the file are reported once on stderr and never
// stop the program: the store then starts empty.
//
// - A missing file is the normal first run: nothing is said and nothing is written until synchronize().
// - A file that is not a key file, or is larger than 1 MB, is renamed to preferences.conf.bad (or
//   .bad.1, .bad.2, ... when that name is taken) so that the user can recover it, and a fresh file is
//   written on the next save.
// - A file that exists but cannot be read, or is not a regular file (a FIFO, a device), is left alone
//   and never written over: we do not know what it holds, and saving our few keys in its place would
//   destroy everything else in it. The settings of this run are kept in memory only.
// - A stop asked for (SIGINT, SIGTERM) while the file is read leaves the store empty and unsaved.
class Preferences {
public:
    // Uses defaultPath(), read from the environment now.
    Preferences();
    explicit Preferences(std::filesystem::path file);

    // A store holding the key file in `data`, for fuzzing and tests. Touches no file and says nothing:
    // data that is not a key file gives an empty store. synchronize() would write to `file`.
    static Preferences fromData(std::string_view data, std::filesystem::path file);

    // $XDG_CONFIG_HOME/trembit/preferences.conf, or $HOME/.config/... when XDG_CONFIG_HOME is unset,
    // empty or relative.
    static std::filesystem::path defaultPath();

    // The integer written by setValue: decimal digits with an optional leading '-', surrounding
    // whitespace ignored, within 32 bits. Anything else is none.
    static std::optional<std::int32_t> parseInteger(std::string_view text);

    // None when the key is absent, is not an integer, or is not a name a key file can hold.
    std::optional<std::int32_t> copyValue(std::string_view key) const;
    // Visible to copyValue at once; on disk after synchronize(). A key a key file cannot hold
    // ("", "a=b", leading or trailing spaces, ...) is ignored.
    void setValue(std::string_view key, std::int32_t value);
    // Writes the whole file atomically: a crash leaves either the old file or the new one. Returns false
    // when the file could not be written; the first failure is reported on stderr, later ones are not.
    bool synchronize();

    const std::filesystem::path& path() const { return file_; }

private:
    struct KeyFileFree {
        void operator()(GKeyFile* keyFile) const noexcept;
    };
    using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileFree>;

    struct Unloaded {};
    Preferences(std::filesystem::path file, Unloaded);

    void load();
    void keepAside(std::string_view problem);
    void leaveAlone(std::string_view problem);

    std::filesystem::path file_;
    KeyFilePtr keyFile_;
    // False when the file on disk could not be read: writing it would lose what we could not see.
    bool mayWrite_ = true;
    bool saveFailureReported_ = false;
};

} // namespace platform
