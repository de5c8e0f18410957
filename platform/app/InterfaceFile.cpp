#include "platform/app/InterfaceFile.h"

#include "platform/services/InputFile.h"
#include "platform/services/Printable.h"
#include "platform/ui/Label.h"
#include "platform/ui/SegmentedControl.h"
#include "platform/ui/Window.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace platform {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxFileBytes = 1024 * 1024;
constexpr int kMaxDepth = 32;
constexpr float kMaxExtent = 10000.0f;
// A view's content is a picture of its size at up to 3 pixels a point: 4096 points make one of
// 12288 pixels a side, near what Cairo can draw at all, and far beyond any screen.
constexpr float kMaxSide = 4096.0f;
constexpr std::size_t kMaxSegments = 16;

class Builder {
public:
    explicit Builder(std::string name) : name_(std::move(name)) {}

    Interface build(const json& document) {
        if (!document.is_object()) {
            fail("", "expected a JSON object at the top");
        }
        Interface interface;
        interface.delegateClass = requiredString(document, "delegate", "");
        const json& root = member(document, "window", "");
        std::shared_ptr<View> window = view(root, "window", 0, interface);
        interface.window = std::dynamic_pointer_cast<Window>(window);
        if (!interface.window) {
            fail("window", "the top view must be of class \"Window\"");
        }
        const json& outlets = member(document, "outlets", "");
        if (!outlets.is_object()) {
            fail("outlets", "expected an object of outlet names and object ids");
        }
        for (const auto& [outlet, id] : outlets.items()) {
            if (!id.is_string()) {
                fail("outlets." + printable(outlet), "expected an object id");
            }
            const std::string object = id.get<std::string>();
            if (!interface.objects.contains(object)) {
                fail("outlets." + printable(outlet), "no object has the id \"" + printable(object) + "\"");
            }
            interface.outlets.emplace_back(outlet, object);
        }
        return interface;
    }

private:
    [[noreturn]] void fail(const std::string& where, const std::string& problem) const {
        throw InterfaceFileError(name_ + ": " + (where.empty() ? "" : where + ": ") + problem);
    }

    const json& member(const json& object, const char* key, const std::string& where) const {
        const auto it = object.find(key);
        if (it == object.end()) {
            fail(where, std::string("missing \"") + key + "\"");
        }
        return *it;
    }

    std::string requiredString(const json& object, const char* key, const std::string& where) const {
        const json& value = member(object, key, where);
        if (!value.is_string()) {
            fail(join(where, key), "expected a string");
        }
        return value.get<std::string>();
    }

    static std::string join(const std::string& where, const std::string& key) {
        return where.empty() ? key : where + "." + key;
    }

    Rect frame(const json& object, const std::string& where) const {
        const json& value = member(object, "frame", where);
        const std::string at = join(where, "frame");
        if (!value.is_array() || value.size() != 4) {
            fail(at, "expected [x, y, width, height]");
        }
        float f[4];
        for (std::size_t i = 0; i < 4; ++i) {
            if (!value[i].is_number()) {
                fail(at, "expected [x, y, width, height] in points");
            }
            const double v = value[i].get<double>();
            if (!std::isfinite(v) || std::fabs(v) > kMaxExtent || (i >= 2 && v < 0.0)) {
                fail(at, "numbers must be finite, within 10000 points, with a width and height of 0 or more");
            }
            f[i] = static_cast<float>(v);
        }
        if (f[2] > kMaxSide || f[3] > kMaxSide) {
            fail(at, "a view may be at most 4096 points wide and high");
        }
        return Rect(f[0], f[1], f[2], f[3]);
    }

    std::shared_ptr<View> view(const json& object, const std::string& where, int depth,
                               Interface& interface) {
        if (depth > kMaxDepth) {
            fail(where, "views are nested too deeply");
        }
        if (!object.is_object()) {
            fail(where, "expected a view object");
        }
        const std::string cls = requiredString(object, "class", where);
        const Rect rect = frame(object, where);
        std::shared_ptr<View> made;
        if (cls == "Window") {
            if (depth != 0) {
                fail(where, "a Window can only be the top view");
            }
            made = std::make_shared<Window>(rect);
        } else if (cls == "View") {
            made = std::make_shared<View>(rect);
        } else if (cls == "Label") {
            made = label(object, where, rect);
        } else if (cls == "SegmentedControl") {
            made = segmentedControl(object, where, rect);
        } else {
            fail(join(where, "class"), "unknown view class \"" + printable(cls) + "\"");
        }
        if (const auto it = object.find("backgroundColor"); it != object.end()) {
            made->setBackgroundColor(color(*it, join(where, "backgroundColor")));
        }
        if (const auto it = object.find("id"); it != object.end()) {
            if (!it->is_string() || it->get<std::string>().empty()) {
                fail(join(where, "id"), "expected a non-empty string");
            }
            const std::string id = it->get<std::string>();
            if (!interface.objects.emplace(id, made).second) {
                fail(join(where, "id"), "the id \"" + printable(id) + "\" is used twice");
            }
        }
        if (const auto it = object.find("subviews"); it != object.end()) {
            if (!it->is_array()) {
                fail(join(where, "subviews"), "expected a list of views");
            }
            for (std::size_t i = 0; i < it->size(); ++i) {
                made->addSubview(
                    view((*it)[i], join(where, "subviews[" + std::to_string(i) + "]"), depth + 1, interface));
            }
        }
        return made;
    }

    Color color(const json& value, const std::string& where) const {
        if (!value.is_array() || (value.size() != 3 && value.size() != 4)) {
            fail(where, "expected [red, green, blue] or [red, green, blue, alpha], each 0 to 1");
        }
        double c[4] = {0.0, 0.0, 0.0, 1.0};
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (!value[i].is_number() || !(value[i].get<double>() >= 0.0 && value[i].get<double>() <= 1.0)) {
                fail(where, "colour components must be numbers from 0 to 1");
            }
            c[i] = value[i].get<double>();
        }
        return Color{c[0], c[1], c[2], c[3]};
    }

    std::shared_ptr<View> label(const json& object, const std::string& where, Rect rect) const {
        auto label = std::make_shared<Label>(rect, requiredString(object, "text", where));
        if (const auto it = object.find("fontSize"); it != object.end()) {
            if (!it->is_number() || !(it->get<double>() > 0.0 && it->get<double>() <= 200.0)) {
                fail(join(where, "fontSize"), "expected a size in points, above 0 and at most 200");
            }
            label->setFontSize(it->get<float>());
        }
        if (const auto it = object.find("bold"); it != object.end()) {
            if (!it->is_boolean()) {
                fail(join(where, "bold"), "expected true or false");
            }
            label->setBold(it->get<bool>());
        }
        if (const auto it = object.find("alignment"); it != object.end()) {
            const std::string a = it->is_string() ? it->get<std::string>() : "";
            if (a == "left") {
                label->setAlignment(TextAlignment::Left);
            } else if (a == "center") {
                label->setAlignment(TextAlignment::Center);
            } else if (a == "right") {
                label->setAlignment(TextAlignment::Right);
            } else {
                fail(join(where, "alignment"), "expected \"left\", \"center\" or \"right\"");
            }
        }
        if (const auto it = object.find("textColor"); it != object.end()) {
            label->setTextColor(color(*it, join(where, "textColor")));
        }
        return label;
    }

    std::shared_ptr<View> segmentedControl(const json& object, const std::string& where, Rect rect) const {
        const json& segments = member(object, "segments", where);
        if (!segments.is_array() || segments.empty() || segments.size() > kMaxSegments) {
            fail(join(where, "segments"), "expected a list of 1 to 16 segment titles");
        }
        std::vector<std::string> titles;
        for (const json& title : segments) {
            if (!title.is_string()) {
                fail(join(where, "segments"), "segment titles must be strings");
            }
            titles.push_back(title.get<std::string>());
        }
        auto control = std::make_shared<SegmentedControl>(rect, std::move(titles));
        const json& selected = member(object, "selectedSegmentIndex", where);
        // Compared as a double: a huge unsigned number must not wrap round to a small index.
        const double index = selected.is_number_integer() ? selected.get<double>() : -2.0;
        if (index < -1.0 || index >= static_cast<double>(segments.size())) {
            fail(join(where, "selectedSegmentIndex"),
                 "expected -1 (none) or a segment index from 0 to " + std::to_string(segments.size() - 1));
        }
        control->setSelectedSegmentIndex(static_cast<std::int32_t>(index));
        return control;
    }

    std::string name_;
};

} // namespace

Interface parseInterface(std::string_view text, const std::string& name) {
    if (text.size() > kMaxFileBytes) {
        throw InterfaceFileError(name + ": larger than 1 MB");
    }
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception& error) {
        // Any failure of the parser, including a number too large for a double.
        throw InterfaceFileError(name + ": not valid JSON: " + printable(error.what()));
    }
    return Builder(name).build(document);
}

Interface loadInterface(const std::filesystem::path& path) {
    std::string text;
    try {
        text = readInputFile(path, kMaxFileBytes);
    } catch (const InputFileError& error) {
        throw InterfaceFileError(error.tooLarge() ? path.string() + ": " + error.reason()
                                                  : "cannot read the interface file " + path.string() + ": " +
                                                        error.reason());
    }
    return parseInterface(text, path.string());
}

} // namespace platform
