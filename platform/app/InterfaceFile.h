#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class View;
class Window;

/// The main interface file, loaded: the window with its view tree, the objects that have an id,
/// the class of the application delegate to create, and which object goes to which outlet.
struct Interface {
    std::shared_ptr<Window> window;
    std::map<std::string, std::shared_ptr<View>, std::less<>> objects;
    std::string delegateClass;
    std::vector<std::pair<std::string, std::string>> outlets; // outlet name -> object id, in file order
};

/// A problem with the interface file; the message names the file.
class InterfaceFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Builds the interface described by `text`; `name` is used in messages. Every problem (not JSON,
/// a missing or mistyped member, an unknown view class, a bad frame or one wider or higher than
/// 4096 points, a duplicate id, an outlet naming no object) throws InterfaceFileError before
/// anything is shown. Text from the file is quoted in messages through printable().
Interface parseInterface(std::string_view text, const std::string& name);

/// Reads and builds an interface file of any kind, up to 1 MB. Throws InterfaceFileError, and
/// ReadInterrupted (see InputFile.h) when a stop is asked for while it waits for a pipe's writer.
Interface loadInterface(const std::filesystem::path& path);

} // namespace platform
