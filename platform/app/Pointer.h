#pragma once

#include "platform/backend/InputEvent.h"
#include "platform/gfx/Geometry.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class TouchRouter;
class View;
class Window;

/// Presses the window's buttons and segments the only way a user can: a click at the centre of
/// what they see, through the same touch path as a mouse or a finger. So a disabled button, or a
/// control that is not on screen, ignores a key or a script as it ignores a click.
class Pointer {
public:
    /// The interface file's objects by id, where controls are found by name.
    using Objects = std::map<std::string, std::shared_ptr<View>, std::less<>>;

    /// All borrowed; they must outlive the pointer.
    Pointer(Window& window, TouchRouter& router, const Objects& objects)
        : window_(window), router_(router), objects_(objects) {}

    /// Clicks the toolbar button the application named `identifier`. Why it could not, when not.
    std::optional<std::string> tapButton(std::string_view identifier);
    /// Clicks the toolbar's Done button (the one that confirms), when one is shown.
    void tapDoneButton();
    /// Clicks segment `index` of the control `name` ("axis" is the object "axisControl"). Why it
    /// could not, when not.
    std::optional<std::string> select(const std::string& name, int index);
    /// Clicks at `point`, in window points.
    void click(Point point);
    /// Passes a press, move, release or cancel on to the touch path, and turns keys into presses:
    /// Space the run button, S the settings button, Return the Done button. False for an event it
    /// does not take (a quit, an expose, another key).
    bool handle(const InputEvent& event);

private:
    Window& window_;
    TouchRouter& router_;
    const Objects& objects_;
};

} // namespace platform
