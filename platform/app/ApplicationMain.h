#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace platform {

class ApplicationDelegate;

/// Makes application delegates by the class name the interface file gives.
using DelegateRegistry =
    std::map<std::string, std::function<std::shared_ptr<ApplicationDelegate>()>, std::less<>>;

/// Runs the application: reads the command line, loads the main interface file, creates the
/// delegate and its outlets, launches it and runs the main loop until the run ends. Returns the
/// process's exit status: 0, or 2 when the program cannot start (a bad option, a missing file, a
/// bad interface file), after one line on standard error saying why.
int ApplicationMain(int argc, char** argv, const DelegateRegistry& delegates);

} // namespace platform
