#pragma once

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace platform {

/// A file that could not be read whole. what() is "cannot read FILE: REASON"; callers that word
/// it their own way use file(), reason() and tooLarge().
class InputFileError : public std::runtime_error {
public:
    InputFileError(std::filesystem::path file, std::string reason, bool tooLarge = false);
    const std::filesystem::path& file() const { return file_; }
    /// Why, e.g. "No such file or directory" or "larger than 16 MB".
    const std::string& reason() const { return reason_; }
    /// True when the file held more than the cap.
    bool tooLarge() const { return tooLarge_; }

private:
    std::filesystem::path file_;
    std::string reason_;
    bool tooLarge_ = false;
};

/// A read given up because SIGINT or SIGTERM asked the program to stop. Not a problem with the
/// file: the caller ends the run as a stop would, without a complaint about the file.
class ReadInterrupted : public std::runtime_error {
public:
    explicit ReadInterrupted(const std::filesystem::path& file);
};

/// Reads the whole of `path`, whatever kind of file it is (a regular file, a FIFO, a pipe such as
/// `<(command)` or /dev/stdin, a device), in pieces, holding at most `maxBytes`. Waits for a
/// FIFO's or a pipe's writer without blocking the answer to SIGINT and SIGTERM. Throws
/// InputFileError when the file cannot be opened or read or holds more than `maxBytes`, and
/// ReadInterrupted when a stop is asked for while waiting.
std::string readInputFile(const std::filesystem::path& path, std::size_t maxBytes);

/// Opens `path` for reading, close-on-exec and non-blocking, so that a FIFO without a writer does
/// not hang the opening. Returns the descriptor, or -1 with errno set.
int openForReading(const std::filesystem::path& path);

/// Waits until `fd` has data, its end or an error to read, or until a stop is asked for; false
/// for the stop. A FIFO whose writer has not come yet is waited for: call this before each read
/// of a non-blocking descriptor that is not a regular file, since such a read would take "no
/// writer yet" for the end of the file.
bool waitUntilReadable(int fd);

/// "16 MB" for a whole number of mebibytes, otherwise "N bytes": how caps are said.
std::string describeSize(std::size_t bytes);

} // namespace platform
