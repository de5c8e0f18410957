#include "platform/services/OutputFile.h"

#include "platform/services/OwnedFd.h"
#include "platform/services/StopRequest.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

namespace fs = std::filesystem;

// How long a write held back by a pipe or a device waits for its reader once a stop is asked for.
constexpr int kStopGraceMilliseconds = 300;

// As many links as the kernel follows in one path before it says ELOOP.
constexpr int kMostLinks = 40;

std::string reason(int error) {
    return std::strerror(error);
}

/// Where an output lands once symbolic links are followed.
struct Destination {
    enum class Kind {
        Replace,    ///< a regular file, or nothing yet: written beside it and renamed over it
        Direct,     ///< a pipe, a device: opened and written as it is
        Descriptor, ///< one of the program's own descriptors (/dev/stdout): written at its offset
    };
    Kind kind = Kind::Replace;
    fs::path path;       ///< Replace: the file to replace or make; Direct: what to open
    bool exists = false; ///< whether `status` holds the file's
    struct stat status {};
    int fd = -1; ///< Descriptor
};

fs::path folderOf(const fs::path& path) {
    return path.parent_path().empty() ? fs::path(".") : path.parent_path();
}

bool onProcfs(const fs::path& folder) {
    struct statfs status {};
    return ::statfs(folder.c_str(), &status) == 0 && status.f_type == PROC_SUPER_MAGIC;
}

// The descriptor that `link` stands for when it lies among the program's own (/proc/self/fd/N,
// reached from /dev/stdout or /dev/fd/N). Such a link names an open file, not a path: a pipe or a
// socket behind it cannot be opened again, and a file opened for appending must stay appended to.
std::optional<int> ownDescriptor(const fs::path& link) {
    std::error_code error;
    const fs::path folder = fs::canonical(folderOf(link), error);
    if (error || folder != fs::path("/proc") / std::to_string(::getpid()) / "fd") {
        return std::nullopt;
    }
    const std::string name = link.filename().string();
    int fd = -1;
    const auto [end, problem] = std::from_chars(name.data(), name.data() + name.size(), fd);
    return problem == std::errc() && end == name.data() + name.size() ? std::optional<int>(fd) : std::nullopt;
}

Destination resolve(const fs::path& path) {
    fs::path current = path;
    for (int links = 0;; ++links) {
        Destination destination;
        destination.path = current;
        if (::lstat(current.c_str(), &destination.status) != 0) {
            if (errno != ENOENT) {
                throw OutputError(path, reason(errno));
            }
            return destination; // made by the write
        }
        destination.exists = true;
        const mode_t type = destination.status.st_mode & S_IFMT;
        if (type == S_IFREG) {
            return destination;
        }
        if (type == S_IFDIR) {
            throw OutputError(path, reason(EISDIR));
        }
        if (type != S_IFLNK) {
            destination.kind = Destination::Kind::Direct;
            return destination;
        }
        if (onProcfs(folderOf(current))) {
            destination.exists = false;
            if (const std::optional<int> fd = ownDescriptor(current)) {
                destination.kind = Destination::Kind::Descriptor;
                destination.fd = *fd;
            } else {
                destination.kind = Destination::Kind::Direct;
            }
            return destination;
        }
        if (links == kMostLinks) {
            throw OutputError(path, reason(ELOOP));
        }
        std::error_code error;
        const fs::path target = fs::read_symlink(current, error);
        if (error) {
            throw OutputError(path, error.message());
        }
        current = target.is_absolute() ? target : folderOf(current) / target;
    }
}

void closeChecked(OwnedFd& fd, const fs::path& name) {
    if (::close(fd.release()) != 0) {
        throw OutputError(name, reason(errno));
    }
}

/// A file beside the output that becomes it on rename, and is removed if it never does.
class TemporaryFile {
public:
    TemporaryFile(const fs::path& output, const fs::path& name) : fd_(create(output, name, path_)) {}
    ~TemporaryFile() {
        if (!renamed_) {
            ::unlink(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    OwnedFd& fd() { return fd_; }
    const fs::path& path() const { return path_; }
    /// Writes `bytes` as the whole file, flushed to the disk and closed.
    void fill(std::string_view bytes, const fs::path& name) {
        writeAll(fd_.get(), bytes, name);
        if (::fsync(fd_.get()) != 0) {
            throw OutputError(name, reason(errno));
        }
        closeChecked(fd_, name);
    }
    void renamed() { renamed_ = true; }

private:
    // Hidden, and named after the output and this process, so that a leftover is easy to place.
    static int create(const fs::path& output, const fs::path& name, fs::path& path) {
        static std::atomic<unsigned> counter{0};
        // Built up piece by piece: GCC 12 mistakes "." + name for an overlapping copy.
        std::string stem = ".";
        stem += output.filename().string();
        stem += ".tmp-" + std::to_string(::getpid()) + "-";
        while (true) {
            path = folderOf(output) / (stem + std::to_string(counter++));
            // 0666 less the umask (or as a default ACL says), as for any new file.
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                return fd;
            }
            if (errno != EEXIST) {
                throw OutputError(name, reason(errno));
            }
        }
    }

    fs::path path_; // before fd_, which create() names it for
    OwnedFd fd_;
    bool renamed_ = false;
};

void replace(const Destination& destination, std::string_view bytes, const fs::path& name) {
    // A file the user made read-only is not replaced behind their back, though its folder would
    // allow the rename.
    if (destination.exists && ::faccessat(AT_FDCWD, destination.path.c_str(), W_OK, AT_EACCESS) != 0) {
        throw OutputError(name, reason(errno));
    }
    TemporaryFile temporary(destination.path, name);
    if (destination.exists && ::fchmod(temporary.fd().get(), destination.status.st_mode & 07777) != 0) {
        throw OutputError(name, reason(errno));
    }
    temporary.fill(bytes, name);
    if (::rename(temporary.path().c_str(), destination.path.c_str()) != 0) {
        throw OutputError(name, reason(errno));
    }
    temporary.renamed();
}

// The name for the `copy`th try: "stem.ext", "stem (2).ext", ...
fs::path numbered(const fs::path& folder, const std::string& stem, const std::string& extension, int copy) {
    return folder / (copy == 1 ? stem + extension : stem + " (" + std::to_string(copy) + ")" + extension);
}

// The most names tried before giving up: a folder this full of one name is not going to free one.
constexpr int kMostCopies = 10000;

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    std::string name; ///< in the folder `device` and `inode` name, when nothing is there yet
    bool operator==(const Identity&) const = default;
};

std::optional<Identity> identity(const fs::path& path) {
    Destination destination;
    try {
        destination = resolve(path);
    } catch (const OutputError&) {
        return std::nullopt;
    }
    struct stat status {};
    if (destination.kind == Destination::Kind::Descriptor) {
        if (::fstat(destination.fd, &status) != 0) {
            return std::nullopt;
        }
        return Identity{status.st_dev, status.st_ino, {}};
    }
    if (destination.exists) {
        return Identity{destination.status.st_dev, destination.status.st_ino, {}};
    }
    if (::stat(folderOf(destination.path).c_str(), &status) != 0) {
        return std::nullopt;
    }
    return Identity{status.st_dev, status.st_ino, destination.path.filename().string()};
}

} // namespace

OutputError::OutputError(const fs::path& file, const std::string& reason)
    : std::runtime_error("cannot write " + file.string() + ": " + reason), reason_(reason) {}

void writeOutputFile(const fs::path& path, std::string_view bytes) {
    const Destination destination = resolve(path);
    switch (destination.kind) {
    case Destination::Kind::Replace:
        replace(destination, bytes, path);
        return;
    case Destination::Kind::Descriptor:
        writeAll(destination.fd, bytes, path);
        return;
    case Destination::Kind::Direct: {
        OwnedFd fd = openForWriting(destination.path, O_NOCTTY);
        if (fd.get() < 0) {
            throw OutputError(path, reason(errno));
        }
        writeAll(fd.get(), bytes, path);
        closeChecked(fd, path);
        return;
    }
    }
}

std::filesystem::path writeNewFile(const std::filesystem::path& folder, const std::string& stem,
                                   const std::string& extension, std::string_view bytes) {
    const fs::path first = numbered(folder, stem, extension, 1);
    TemporaryFile temporary(first, first);
    temporary.fill(bytes, first);
    for (int copy = 1; copy <= kMostCopies; ++copy) {
        const fs::path name = numbered(folder, stem, extension, copy);
        // A hard link appears only where nothing is: two programs saving at once never meet.
        // Where the file system has no hard links (FAT on a memory card), a rename that will not
        // replace does the same.
        if (::link(temporary.path().c_str(), name.c_str()) == 0) {
            return name; // the temporary name goes with the temporary file
        }
        if ((errno == EPERM || errno == EOPNOTSUPP) &&
            ::renameat2(AT_FDCWD, temporary.path().c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0) {
            temporary.renamed();
            return name;
        }
        if (errno != EEXIST) {
            throw OutputError(first, reason(errno));
        }
    }
    throw OutputError(first, reason(EEXIST));
}

OwnedFd openForWriting(const fs::path& path, int flags, mode_t mode) {
    using std::chrono::steady_clock;
    std::optional<steady_clock::time_point> giveUpAt;
    while (true) {
        // Never blocking: a FIFO without a reader says ENXIO at once, where a blocking open would
        // wait for one out of reach of a stop.
        OwnedFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | flags, mode));
        if (fd.get() >= 0 || (errno != ENXIO && errno != EINTR)) {
            return fd;
        }
        // Nothing tells when a reader comes, so it is looked for in short naps; once a stop is
        // asked for, for as long as a held-back write would wait.
        if (stop::requested()) {
            const steady_clock::time_point now = steady_clock::now();
            giveUpAt = giveUpAt.value_or(now + std::chrono::milliseconds(kStopGraceMilliseconds));
            if (now >= *giveUpAt) {
                errno = EINTR;
                return OwnedFd(-1);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else {
            stop::sleepUntil(steady_clock::now() + std::chrono::milliseconds(20));
        }
    }
}

std::size_t writeSome(int fd, std::string_view bytes, int& error) {
    error = 0;
    struct stat status {};
    // A pipe, a terminal or a device may hold a write back for as long as nobody reads. There the
    // wait is a poll beside the stop descriptor, and no write is larger than the room a pipe
    // promises when it polls writable, so that the write itself never blocks.
    const bool mayBlock = ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode);
    std::size_t done = 0;
    while (done < bytes.size()) {
        std::size_t chunk = bytes.size() - done;
        if (mayBlock) {
            // Once a stop is asked for, a reader still taking what comes keeps it coming; one that
            // takes nothing for kStopGraceMilliseconds is given up on.
            const bool stopping = stop::requested();
            std::array<pollfd, 2> watched{{{fd, POLLOUT, 0}, {stopping ? -1 : stop::fd(), POLLIN, 0}}};
            const int ready = ::poll(watched.data(), watched.size(), stopping ? kStopGraceMilliseconds : -1);
            if (ready < 0 && errno != EINTR) {
                error = errno;
                return done;
            }
            if (watched[0].revents == 0) {
                if (stopping && ready == 0) {
                    error = EINTR; // asked to stop while nobody took what was written
                    return done;
                }
                continue;
            }
            chunk = std::min<std::size_t>(chunk, PIPE_BUF);
        }
        const ssize_t written = ::write(fd, bytes.data() + done, chunk);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else if (written == 0 || (errno != EINTR && errno != EAGAIN)) {
            error = written < 0 ? errno : EIO;
            return done;
        }
    }
    return done;
}

void writeAll(int fd, std::string_view bytes, const fs::path& name) {
    int error = 0;
    writeSome(fd, bytes, error);
    if (error != 0) {
        throw OutputError(name, reason(error));
    }
}

void cutBack(int fd, std::uint64_t length, const fs::path& name) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        throw OutputError(name, reason(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        return;
    }
    if (::ftruncate(fd, static_cast<off_t>(length)) != 0 ||
        ::lseek(fd, static_cast<off_t>(length), SEEK_SET) < 0) {
        throw OutputError(name, reason(errno));
    }
}

bool sameFile(const fs::path& a, const fs::path& b) {
    const std::optional<Identity> first = identity(a);
    return first && first == identity(b);
}

} // namespace platform
