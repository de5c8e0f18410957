#include "platform/app/ScriptRunner.h"

#include "platform/app/Pointer.h"

#include <algorithm>
#include <cstdio>

namespace platform {

ScriptRunner::ScriptRunner(std::vector<ScriptStep> steps, std::string name, Pointer& pointer,
                           RunOutputs& outputs)
    : steps_(std::move(steps)), name_(std::move(name)), pointer_(pointer), outputs_(outputs) {}

std::optional<double> ScriptRunner::nextTime(double now) const {
    if (position_ == steps_.size() && time_ <= now) {
        return std::nullopt;
    }
    return std::max(now, time_);
}

ScriptRunner::Progress ScriptRunner::run(double now) {
    Progress progress = Progress::Waiting;
    while (position_ < steps_.size() && time_ <= now) {
        if (perform(steps_[position_++])) {
            return Progress::Over;
        }
        progress = Progress::Acted;
    }
    // The script's last line, and its wait, end the run.
    return position_ == steps_.size() && time_ <= now ? Progress::Over : progress;
}

bool ScriptRunner::perform(const ScriptStep& step) {
    const auto say = [&](const std::string& problem) {
        std::fprintf(stderr, "trembit: %s:%d: %s\n", name_.c_str(), step.line, problem.c_str());
    };
    switch (step.verb) {
    case ScriptStep::Verb::Wait:
        time_ += step.seconds;
        break;
    case ScriptStep::Verb::TapRun:
    case ScriptStep::Verb::TapSettings:
        if (const auto problem =
                pointer_.tapButton(step.verb == ScriptStep::Verb::TapRun ? "run" : "settings")) {
            say(*problem);
        }
        break;
    case ScriptStep::Verb::Select:
        if (const auto problem = pointer_.select(step.control, step.index)) {
            say(*problem);
        }
        break;
    case ScriptStep::Verb::Click:
        pointer_.click(Point{step.x, step.y});
        break;
    case ScriptStep::Verb::Screenshot:
    case ScriptStep::Verb::DumpState: {
        const bool picture = step.verb == ScriptStep::Verb::Screenshot;
        if (const auto problem =
                picture ? outputs_.writeScreenshot(step.file) : outputs_.writeState(step.file)) {
            say(*problem);
            succeeded_ = false;
        }
        break;
    }
    case ScriptStep::Verb::Quit:
        return true;
    }
    return false;
}

} // namespace platform
