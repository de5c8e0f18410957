#pragma once

#include "platform/app/CommandLine.h"
#include "platform/app/Script.h"
#include "platform/app/Sources.h"

#include <filesystem>
#include <vector>

namespace platform {

/// Checks at start, before anything is written, the files a run will write: each output that
/// plainly cannot be written (the record file's folder is missing or closed) and each that would
/// write over an input (the sample file, the script, the interface file) or over another of the
/// command line's outputs is refused; a script's screenshot or state may not land on an input or
/// on the record file either. Only regular files, or names where nothing is yet, count: two outputs
/// to /dev/null, or a source and a record on one terminal, harm nothing. Throws
/// std::runtime_error naming the file and the clash.
void checkRunFiles(const Options& options, const SourceSpec& source, const std::vector<ScriptStep>& script,
                   const std::filesystem::path& interfacePath);

} // namespace platform
