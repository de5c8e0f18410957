#pragma once

// Scratch folders, whole files and what code says, in tests.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace testing_support {

/// A fresh empty folder in the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "trembit-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a temporary folder");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    operator const std::filesystem::path&() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }
    /// Removes everything in the folder.
    void clear() const {
        for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(path_)) {
            std::filesystem::remove_all(entry.path());
        }
    }

private:
    std::filesystem::path path_;
};

/// The bytes of `file`; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// Writes `bytes` to `file`, making its folder first; returns the file.
inline std::filesystem::path writeFile(const std::filesystem::path& file, std::string_view bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
}

inline std::filesystem::path writeFile(const std::filesystem::path& file, const std::vector<unsigned char>& bytes) {
    return writeFile(file, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

/// The message of the `Error` that `f` throws, or "no error"; anything else thrown goes on.
template <typename Error = std::exception, typename F> std::string errorOf(F&& f) {
    try {
        f();
        return "no error";
    } catch (const Error& error) {
        return error.what();
    }
}

/// What `f` writes to standard error.
template <typename F> std::string stderrOf(F&& f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

} // namespace testing_support
