#pragma once

#include "platform/app/Script.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class Pointer;

/// Writes the run's picture and state when asked; each gives back why it could not, when not.
class RunOutputs {
public:
    virtual ~RunOutputs() = default;
    virtual std::optional<std::string> writeScreenshot(const std::filesystem::path& path) = 0;
    virtual std::optional<std::string> writeState(const std::filesystem::path& path) = 0;
};

/// Plays a --script on the run's clock: each step at its time, as a user would act. A step that
/// cannot act (the control is not on screen) is said on standard error and the script goes on.
class ScriptRunner {
public:
    /// `name` is the script's file, for messages. `pointer` and `outputs` are borrowed.
    ScriptRunner(std::vector<ScriptStep> steps, std::string name, Pointer& pointer, RunOutputs& outputs);

    /// When the next step is due (never before `now`); none once the script is over.
    std::optional<double> nextTime(double now) const;
    enum class Progress {
        Waiting, ///< no step was due
        Acted,   ///< steps were carried out
        Over,    ///< the run must end: at `quit`, or once the last step and its wait are over
    };
    /// Performs every step due at `now`, in order.
    Progress run(double now);
    /// False once a screenshot or dump-state step could not write its file.
    bool succeeded() const { return succeeded_; }

private:
    // Carries out one step; true when it ends the run.
    bool perform(const ScriptStep& step);

    std::vector<ScriptStep> steps_;
    std::string name_;
    Pointer& pointer_;
    RunOutputs& outputs_;
    std::size_t position_ = 0;
    double time_ = 0.0; // when the next step is due: the sum of the waits so far
    bool succeeded_ = true;
};

} // namespace platform
