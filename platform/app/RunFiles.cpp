#include "platform/app/RunFiles.h"

#include "platform/app/RecordFile.h"
#include "platform/services/OutputFile.h"
#include "platform/services/Printable.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace platform {

namespace {

// A file the run reads or writes, by the role it plays.
struct RunFile {
    std::string role;
    std::filesystem::path path;
    bool kept = false; // an output that a script's screenshot or state must not write over either
};

bool clobberable(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    return !std::filesystem::exists(status) || std::filesystem::is_regular_file(status);
}

} // namespace

void checkRunFiles(const Options& options, const SourceSpec& source, const std::vector<ScriptStep>& script,
                   const std::filesystem::path& interfacePath) {
    std::vector<RunFile> inputs = {{"interface file", interfacePath}};
    if (source.kind == SourceSpec::Kind::File) {
        inputs.push_back({"sample file", source.argument});
    }
    if (options.script) {
        inputs.push_back({"script", *options.script});
    }
    std::vector<RunFile> outputs;
    if (options.record) {
        RecordFile::checkWritable(*options.record);
        outputs.push_back({"record file", *options.record, true});
    }
    if (options.screenshot) {
        outputs.push_back({"screenshot", *options.screenshot});
    }
    if (options.dumpState) {
        outputs.push_back({"state file", *options.dumpState});
    }
    const std::size_t commandLineOutputs = outputs.size();
    for (const ScriptStep& step : script) {
        if (step.verb == ScriptStep::Verb::Screenshot || step.verb == ScriptStep::Verb::DumpState) {
            outputs.push_back({"script's output", step.file});
        }
    }

    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const RunFile& out = outputs[i];
        if (!clobberable(out.path)) {
            continue;
        }
        for (const RunFile& in : inputs) {
            if (sameFile(out.path, in.path)) {
                throw std::runtime_error("cannot write the " + out.role + " " + printable(out.path.string()) +
                                         ": it is the " + in.role + " " + printable(in.path.string()));
            }
        }
        for (std::size_t j = 0; j < std::min(i, commandLineOutputs); ++j) {
            if ((i < commandLineOutputs || outputs[j].kept) && sameFile(out.path, outputs[j].path)) {
                throw std::runtime_error("cannot write " + printable(out.path.string()) + " both as the " +
                                         outputs[j].role + " and as the " + out.role);
            }
        }
    }
}

} // namespace platform
