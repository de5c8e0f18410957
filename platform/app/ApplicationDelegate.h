#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class Application;
class JsonWriter;
class View;

/// What the platform needs of the application's delegate. The interface file creates the delegate
/// by class name and connects its outlets by name before launch.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;

    /// Called once, on the main thread, after the interface file is loaded and the outlets are set.
    virtual void applicationDidFinishLaunching(Application& application) = 0;

    /// The outlets the delegate needs; launch stops with an error naming the interface file when
    /// one of them is not connected.
    virtual std::vector<std::string> requiredOutlets() const = 0;
    /// Connects the object named by the interface file to outlet `name`; false for an outlet the
    /// delegate does not have or an object of the wrong kind.
    virtual bool connectOutlet(std::string_view name, const std::shared_ptr<View>& object) = 0;

    /// Writes the application's state as the members of one JSON object, for --dump-state; no part
    /// of the behaviour.
    virtual void writeState(JsonWriter& json) const = 0;
};

} // namespace platform
