#pragma once

#include "platform/services/OwnedFd.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace platform {

/// An output that could not be written. The message names the file and the reason, e.g.
/// "cannot write out/page.png: No space left on device".
class OutputError : public std::runtime_error {
public:
    OutputError(const std::filesystem::path& file, const std::string& reason);
    /// The reason alone, e.g. "No space left on device", for callers that word the rest their way.
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
};

/// Writes `bytes` as the whole of the output `path`, so that it ends up holding either all of
/// them or, after a failure, what it held before:
/// - a regular file, or a name where there is nothing yet: the bytes go to a temporary file in
///   the same folder, which is flushed to the disk, closed and renamed into place. An existing
///   file keeps its permission bits, and one we may not write is refused as the shell would; a
///   new one gets 0666 less the umask;
/// - a symbolic link: the same, at the file the link leads to, so the link stays a link;
/// - anything else (a pipe, a terminal, a device, /dev/stdout): written directly; /dev/stdout,
///   /dev/fd/N and /proc/self/fd/N go to the program's own descriptor, at its offset.
/// Every write, the flush, the close and the rename are checked. A write that blocks (a pipe that
/// nobody drains, a FIFO that nobody opens) gives up when SIGINT or SIGTERM asks to stop. Throws OutputError;
/// no temporary file is left behind.
void writeOutputFile(const std::filesystem::path& path, std::string_view bytes);

/// Writes `bytes` as a new file in `folder`, never over an existing one: named `stem` + `extension`
/// (say "Trembit 2026-12-07 10-15-00" and ".png"), else `stem (2)`, `stem (3)` and so on, the first
/// name that is free when the file appears. The file appears whole or not at all: it is written
/// beside its name, flushed and closed, then put in place only if nothing is there. Returns the
/// path made. Throws OutputError naming the first name; no temporary file is left behind.
std::filesystem::path writeNewFile(const std::filesystem::path& folder, const std::string& stem,
                                   const std::string& extension, std::string_view bytes);

/// Opens `path` for writing, with O_WRONLY, O_CLOEXEC and O_NONBLOCK besides `flags` (and `mode`
/// for O_CREAT). A FIFO is opened once it has a reader, which is waited for beside the stop
/// request; once a stop is asked for, for 0.3 s at most, after which it fails with EINTR. On
/// failure the descriptor is -1 and errno says why.
OwnedFd openForWriting(const std::filesystem::path& path, int flags = 0, mode_t mode = 0666);

/// Writes `bytes` to `fd`, however many writes it takes, and returns how many reached it. On a
/// failure `error` holds its errno (0: all written). Where a write could block (a pipe nobody
/// drains, a terminal, a device) it waits beside the stop descriptor; once a stop is asked for, it
/// gives up with EINTR when the reader takes nothing for 0.3 s.
std::size_t writeSome(int fd, std::string_view bytes, int& error);

/// writeSome, all or nothing: throws OutputError naming `name` at the first failure, after which
/// part of `bytes` may have been written (see cutBack).
void writeAll(int fd, std::string_view bytes, const std::filesystem::path& name);

/// Cuts the regular file open on `fd` back to its first `length` bytes: a streamed output that
/// failed mid-row ends with its last whole row. A pipe or a device keeps what it took, so nothing
/// is done for them. Throws OutputError naming `name`.
void cutBack(int fd, std::uint64_t length, const std::filesystem::path& name);

/// True when writing to `a` and to `b` would reach the same file: the same device and inode once
/// symbolic links are followed, or, where nothing exists yet, the same name in the same folder.
/// False when either cannot be looked at. An output that would overwrite an input, or another
/// output, is found this way before anything is written.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace platform
