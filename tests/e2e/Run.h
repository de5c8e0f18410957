#pragma once

// Running the built program from tests, with its own temporary configuration folder.

#include "tests/support/Files.h"

#include <cairo.h>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace e2e {

struct Result {
    int status = -1; ///< the exit status, or 128 + the signal that ended the program
    std::string err;
    double secondsAfterSignal = 0.0; ///< from the signal sent to the end of the program
};

/// Variables to set, or to unset where there is no value.
using Environment = std::map<std::string, std::optional<std::string>>;

/// How a run is set up and ended, beyond its arguments.
struct RunOptions {
    double signalAfterSeconds = 0.0; ///< when above 0, `signal` is sent after this long
    int signal = SIGKILL;
    std::string input{}; ///< a file in the scratch folder for standard input, or ""
    int inputFd = -1;    ///< or a descriptor (say a pipe's end) for standard input
    Environment environment{};
    rlim_t fileSizeLimit = 0; ///< RLIMIT_FSIZE in bytes, with SIGXFSZ ignored, when above 0
    rlim_t memoryLimit = 0;   ///< RLIMIT_AS in bytes when above 0
};

/// A program that has not ended this long after its signal is killed, so a test never hangs.
constexpr double kSecondsBeforeKill = 10.0;

/// The arguments of a headless run on the virtual clock's fastest pace, then `more`.
inline std::vector<std::string> headless(std::vector<std::string> more) {
    // The simulation unless a test names another source: a machine's own sensor must not leak in.
    std::vector<std::string> arguments = {"--headless", "--fast", "--scale", "1", "--source", "sim"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
}

/// The lines of `text`, without their line breaks.
inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

/// A scratch folder per test, used as XDG_CONFIG_HOME and for the program's output files.
class Scratch : public testing_support::TempDir {
public:
    std::filesystem::path preferences() const { return *this / "config/trembit/preferences.conf"; }
    void write(const std::string& name, const std::string& text) const {
        testing_support::writeFile(*this / name, text);
    }
    std::string read(const std::string& name) const { return testing_support::readFile(*this / name); }
    /// Writes the preference file with `entries` in the program's group.
    void prefer(const std::string& entries) const {
        write("config/trembit/preferences.conf", "[trembit]\n" + entries);
    }

    /// Runs trembit with `arguments`, XDG_CONFIG_HOME in this folder, and the current folder here.
    Result run(const std::vector<std::string>& arguments, const RunOptions& options = {}) const {
        const std::filesystem::path err = *this / "stderr.txt";
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string config = (*this / "config").string();
            setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            for (const auto& [name, value] : options.environment) {
                value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
            }
            if (chdir(path().c_str()) != 0 || !freopen(err.c_str(), "w", stderr) ||
                (!options.input.empty() && !freopen((*this / options.input).c_str(), "r", stdin)) ||
                (options.inputFd >= 0 && dup2(options.inputFd, STDIN_FILENO) < 0)) {
                _exit(127);
            }
            std::signal(SIGXFSZ, SIG_IGN); // a write past a file size limit fails with EFBIG instead
            for (const auto& [resource, bytes] : {std::pair{RLIMIT_FSIZE, options.fileSizeLimit},
                                                  std::pair{RLIMIT_AS, options.memoryLimit}}) {
                const rlimit limit{bytes, bytes};
                if (bytes > 0) {
                    setrlimit(resource, &limit);
                }
            }
            std::vector<std::string> copies = arguments;
            copies.insert(copies.begin(), binary);
            std::vector<char*> argv;
            for (std::string& a : copies) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execv(binary.c_str(), argv.data());
            _exit(127);
        }
        Result result;
        int status = 0;
        if (options.signalAfterSeconds > 0.0) {
            usleep(static_cast<useconds_t>(options.signalAfterSeconds * 1e6));
            kill(pid, options.signal);
            const auto sent = std::chrono::steady_clock::now();
            const auto since = [&] {
                return std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
            };
            while (waitpid(pid, &status, WNOHANG) == 0) {
                if (since() > kSecondsBeforeKill) {
                    kill(pid, SIGKILL);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            result.secondsAfterSignal = since();
        } else {
            waitpid(pid, &status, 0);
        }
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.err = testing_support::readFile(err);
        return result;
    }

    /// The program to run: the built one unless a test installs a copy elsewhere.
    std::string binary = TREMBIT_BINARY;
};

} // namespace e2e
