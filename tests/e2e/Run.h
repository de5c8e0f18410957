#pragma once

// Running the built program from tests, with its own temporary configuration folder.

#include <cairo.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <csignal>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {

struct Result {
    int status = -1; ///< the exit status, or 128 + the signal that ended the program
    std::string err;
    double secondsAfterSignal = 0.0; ///< from the signal sent to the end of the program
};

/// How a run is set up and ended, beyond its arguments.
struct RunOptions {
    double signalAfterSeconds = 0.0; ///< when above 0, `signal` is sent after this long
    int signal = SIGKILL;
    std::string input{}; ///< a file in the scratch folder for standard input, or ""
    int inputFd = -1;  ///< or a descriptor (say a pipe's end) for standard input
    std::map<std::string, std::optional<std::string>> environment{}; ///< set, or unset for none
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

/// A scratch folder per test, used as XDG_CONFIG_HOME and for the program's output files.
class Scratch {
public:
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "trembit-e2e-XXXXXX").string();
        dir_ = mkdtemp(pattern.data());
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }
    const std::filesystem::path& path() const { return dir_; }
    std::filesystem::path preferences() const { return dir_ / "config" / "trembit" / "preferences.conf"; }

    void write(const std::string& name, const std::string& text) const { std::ofstream(dir_ / name) << text; }
    std::string read(const std::string& name) const {
        std::ifstream in(dir_ / name);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    /// Runs trembit with `arguments`, XDG_CONFIG_HOME in this folder, and the current folder here.
    Result run(const std::vector<std::string>& arguments, const RunOptions& options = {}) const {
        const std::filesystem::path err = dir_ / "stderr.txt";
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string config = (dir_ / "config").string();
            setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            for (const auto& [name, value] : options.environment) {
                value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
            }
            if (chdir(dir_.c_str()) != 0) {
                _exit(127);
            }
            if (!freopen(err.c_str(), "w", stderr)) {
                _exit(127);
            }
            if (!options.input.empty() && !freopen((dir_ / options.input).c_str(), "r", stdin)) {
                _exit(127);
            }
            if (options.inputFd >= 0 && dup2(options.inputFd, STDIN_FILENO) < 0) {
                _exit(127);
            }
            if (options.fileSizeLimit > 0) {
                std::signal(SIGXFSZ, SIG_IGN); // a write past the limit fails with EFBIG instead
                const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (options.memoryLimit > 0) {
                const rlimit limit{options.memoryLimit, options.memoryLimit};
                setrlimit(RLIMIT_AS, &limit);
            }
            std::vector<char*> argv;
            std::string program = binary;
            argv.push_back(program.data());
            std::vector<std::string> copies = arguments;
            for (std::string& a : copies) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        Result result;
        int status = 0;
        if (options.signalAfterSeconds > 0.0) {
            usleep(static_cast<useconds_t>(options.signalAfterSeconds * 1e6));
            kill(pid, options.signal);
            const auto sent = std::chrono::steady_clock::now();
            const auto since = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count(); };
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
        std::ifstream in(err);
        std::stringstream s;
        s << in.rdbuf();
        result.err = s.str();
        return result;
    }

    /// The program to run: the built one unless a test installs a copy elsewhere.
    std::string binary = TREMBIT_BINARY;

private:
    std::filesystem::path dir_;
};

} // namespace e2e
