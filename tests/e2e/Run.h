#pragma once

// Running the built program from tests, with its own temporary configuration folder.

#include <cairo.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

namespace e2e {

struct Result {
    int status = -1;
    std::string err;
};

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
    /// With `killAfterSeconds`, the run is ended with SIGKILL after that long.
    /// `input`, when given, names a file in this folder that becomes standard input.
    Result run(const std::vector<std::string>& arguments, double killAfterSeconds = 0.0,
               const std::string& input = "") const {
        const std::filesystem::path err = dir_ / "stderr.txt";
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string config = (dir_ / "config").string();
            setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            if (chdir(dir_.c_str()) != 0) {
                _exit(127);
            }
            if (!freopen(err.c_str(), "w", stderr)) {
                _exit(127);
            }
            if (!input.empty() && !freopen((dir_ / input).c_str(), "r", stdin)) {
                _exit(127);
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
        if (killAfterSeconds > 0.0) {
            usleep(static_cast<useconds_t>(killAfterSeconds * 1e6));
            kill(pid, SIGKILL);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        Result result;
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
