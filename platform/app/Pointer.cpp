#include "platform/app/Pointer.h"

#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/TouchRouter.h"
#include "platform/ui/Window.h"

namespace platform {

namespace {

Point centre(Rect r) {
    return {r.origin.x + r.size.width / 2, r.origin.y + r.size.height / 2};
}

Toolbar* findToolbar(View& view) {
    if (auto* toolbar = dynamic_cast<Toolbar*>(&view)) {
        return toolbar;
    }
    for (const std::shared_ptr<View>& child : view.subviews()) {
        if (Toolbar* found = findToolbar(*child)) {
            return found;
        }
    }
    return nullptr;
}

// Clicks the first item of the window's toolbar that `matches`; false when none is shown.
template <typename Match> bool tapItem(Window& window, TouchRouter& router, Match matches) {
    Toolbar* toolbar = findToolbar(window);
    for (std::size_t i = 0; toolbar != nullptr && i < toolbar->items().size(); ++i) {
        if (matches(*toolbar->items()[i])) {
            router.click(convertPoint(centre(toolbar->frameForItem(i)), *toolbar, nullptr));
            return true;
        }
    }
    return false;
}

bool isInTree(const View& view, const View& root) {
    const View* v = &view;
    while (v->superview() != nullptr) {
        v = v->superview();
    }
    return v == &root;
}

} // namespace

std::optional<std::string> Pointer::tapButton(std::string_view identifier) {
    if (tapItem(window_, router_,
                [&](const BarButtonItem& item) { return item.identifier() == identifier; })) {
        return std::nullopt;
    }
    return "there is no such toolbar button";
}

void Pointer::tapDoneButton() {
    tapItem(window_, router_,
            [](const BarButtonItem& item) { return item.style() == BarButtonItemStyle::Done; });
}

std::optional<std::string> Pointer::select(const std::string& name, int index) {
    const auto found = objects_.find(name + "Control");
    const auto control =
        found == objects_.end() ? nullptr : std::dynamic_pointer_cast<SegmentedControl>(found->second);
    if (!control || !isInTree(*control, window_)) {
        return "the " + name + " control is not on screen";
    }
    if (index < 0 || index >= static_cast<int>(control->numberOfSegments())) {
        return "the " + name + " control has no segment " + std::to_string(index);
    }
    router_.click(
        convertPoint(centre(control->frameForSegment(static_cast<std::size_t>(index))), *control, nullptr));
    return std::nullopt;
}

void Pointer::click(Point point) {
    router_.click(point);
}

bool Pointer::handle(const InputEvent& event) {
    switch (event.kind) {
    case InputEvent::Kind::Press:
        router_.press(event.point);
        return true;
    case InputEvent::Kind::Move:
        router_.move(event.point);
        return true;
    case InputEvent::Kind::Release:
        router_.release(event.point);
        return true;
    case InputEvent::Kind::Cancel:
        router_.cancel();
        return true;
    case InputEvent::Kind::Key:
        break;
    default:
        return false;
    }
    switch (event.key) {
    case InputEvent::Key::Space:
        tapButton("run");
        return true;
    case InputEvent::Key::S:
        tapButton("settings");
        return true;
    case InputEvent::Key::Return:
        tapDoneButton();
        return true;
    default:
        return false;
    }
}

} // namespace platform
