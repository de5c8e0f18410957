#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

/// One user action of a --script file.
struct ScriptStep {
    enum class Verb { Wait, TapRun, TapSettings, Select, Click, Screenshot, DumpState, Quit };
    Verb verb = Verb::Quit;
    int line = 0;         // 1-based line in the script, for messages
    double seconds = 0.0; // Wait
    std::string control;  // Select: filter, updateFrequency, scale or axis
    int index = 0;        // Select
    float x = 0.0f;       // Click, in window points
    float y = 0.0f;
    std::filesystem::path file; // Screenshot, DumpState
};

/// Parses a script's text. Throws std::invalid_argument naming `name`, the line and the problem,
/// e.g. "demo.txt:3: unknown action 'jump'".
std::vector<ScriptStep> parseScript(std::string_view text, const std::string& name);

/// Reads and parses a script file of any kind (a pipe such as <(command) included), up to 16 MB.
/// Throws std::invalid_argument naming the file on any problem, and ReadInterrupted (see
/// InputFile.h) when a stop is asked for while it waits for a pipe's writer.
std::vector<ScriptStep> loadScript(const std::filesystem::path& path);

} // namespace platform
