#include "platform/app/Script.h"

#include "platform/services/InputFile.h"
#include "platform/services/Printable.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace platform {

namespace {

constexpr std::size_t kMaxScriptBytes = 16 * 1024 * 1024;

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
            ++i;
        }
        if (i > start) {
            out.push_back(line.substr(start, i - start));
        }
    }
    return out;
}

template <typename Number> bool parseNumber(std::string_view text, Number& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

} // namespace

std::vector<ScriptStep> parseScript(std::string_view text, const std::string& name) {
    std::vector<ScriptStep> steps;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
        ++lineNumber;
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        const std::vector<std::string_view> w = words(line);
        if (w.empty()) {
            continue;
        }
        auto fail = [&](const std::string& problem) -> std::invalid_argument {
            return std::invalid_argument(name + ":" + std::to_string(lineNumber) + ": " + problem);
        };
        auto expectArguments = [&](std::size_t count, const char* usage) {
            if (w.size() != count + 1) {
                throw fail(std::string("expected '") + usage + "'");
            }
        };
        ScriptStep step;
        step.line = lineNumber;
        const std::string_view verb = w[0];
        if (verb == "wait") {
            expectArguments(1, "wait SECONDS");
            step.verb = ScriptStep::Verb::Wait;
            if (!parseNumber(w[1], step.seconds) || !std::isfinite(step.seconds) || step.seconds < 0.0) {
                throw fail("wait takes a number of seconds, not '" + printable(w[1]) + "'");
            }
        } else if (verb == "tap") {
            expectArguments(1, "tap run|settings");
            if (w[1] == "run") {
                step.verb = ScriptStep::Verb::TapRun;
            } else if (w[1] == "settings") {
                step.verb = ScriptStep::Verb::TapSettings;
            } else {
                throw fail("tap takes 'run' or 'settings', not '" + printable(w[1]) + "'");
            }
        } else if (verb == "select") {
            expectArguments(2, "select filter|updateFrequency|scale|axis INDEX");
            step.verb = ScriptStep::Verb::Select;
            if (w[1] != "filter" && w[1] != "updateFrequency" && w[1] != "scale" && w[1] != "axis") {
                throw fail("select takes filter, updateFrequency, scale or axis, not '" + printable(w[1]) +
                           "'");
            }
            step.control = std::string(w[1]);
            if (!parseNumber(w[2], step.index)) {
                throw fail("select takes a segment index, not '" + printable(w[2]) + "'");
            }
        } else if (verb == "click") {
            expectArguments(2, "click X Y");
            step.verb = ScriptStep::Verb::Click;
            if (!parseNumber(w[1], step.x) || !parseNumber(w[2], step.y) || !std::isfinite(step.x) ||
                !std::isfinite(step.y)) {
                throw fail("click takes two numbers of points");
            }
        } else if (verb == "screenshot" || verb == "dump-state") {
            expectArguments(1, verb == "screenshot" ? "screenshot FILE" : "dump-state FILE");
            step.verb = verb == "screenshot" ? ScriptStep::Verb::Screenshot : ScriptStep::Verb::DumpState;
            step.file = std::filesystem::path(w[1]);
        } else if (verb == "quit") {
            expectArguments(0, "quit");
            step.verb = ScriptStep::Verb::Quit;
        } else {
            throw fail("unknown action '" + printable(verb) + "'");
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

std::vector<ScriptStep> loadScript(const std::filesystem::path& path) {
    std::string text;
    try {
        text = readInputFile(path, kMaxScriptBytes);
    } catch (const InputFileError& error) {
        throw std::invalid_argument(error.tooLarge()
                                        ? "script " + path.string() + " is " + error.reason()
                                        : "cannot read script " + path.string() + ": " + error.reason());
    }
    return parseScript(text, path.string());
}

} // namespace platform
