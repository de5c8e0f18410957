// Every picture the display pass keeps (a view's contents, its coverage, its inked tiles, the
// compositor's surface at each scale) must follow every change: a frame composed through caches
// that have seen the whole history equals a frame composed afresh from the state alone.
#include "Classes/TremView.h"
#include "platform/gfx/Image.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/Label.h"
#include "platform/ui/SegmentedControl.h"
#include "tests/support/Pixels.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using platform::Rect;

constexpr Rect kWindow(0, 0, 320, 480);
constexpr Rect kPageFrame(0, 20, 320, 411);

// The window's layout: a page holder showing either the recorder page or a settings page.
struct Scene {
    Scene() {
        root->addSubview(holder);
        holder->setClipsToBounds(true);
        holder->addSubview(recorder);
        settings->setBackgroundColor(platform::Color::groupTableViewBackgroundColor());
        settings->addSubview(std::make_shared<platform::SegmentedControl>(
            Rect(20, 40, 280, 44), std::vector<std::string>{"Off", "On"}));
    }

    std::shared_ptr<platform::View> root = std::make_shared<platform::View>(kWindow);
    std::shared_ptr<platform::View> holder = std::make_shared<platform::View>(kPageFrame);
    std::shared_ptr<TremView> recorder = std::make_shared<TremView>(Rect(0, 0, 320, 411));
    std::shared_ptr<platform::View> settings = std::make_shared<platform::View>(Rect(0, 0, 320, 411));
};

struct Change {
    const char* name;
    std::function<void(Scene&)> apply;
    int scale;
};

void show(Scene& scene, const std::shared_ptr<platform::View>& page) {
    scene.holder->subviews().front()->removeFromSuperview();
    scene.holder->addSubview(page);
}

// Values spread across the page, as a hard shake gives.
void shake(Scene& scene, int from, int count) {
    for (int i = from; i < from + count; ++i) {
        scene.recorder->handleMove(static_cast<float>(0.9 * std::sin(i * 2.4)));
    }
}

// clang-format off
std::vector<Change> history() {
    return {
        {"first_values", [](Scene& s) { shake(s, 0, 150); }, 2},
        {"one_more_value", [](Scene& s) { shake(s, 150, 1); }, 2},
        {"ring_wraps", [](Scene& s) { shake(s, 151, 120); }, 2},
        {"paper_offset", [](Scene& s) { s.recorder->paperView()->layer().setValueForKeyPath(-37.25f, "transform.translation.y"); }, 2},
        {"needle_angle", [](Scene& s) { s.recorder->needleView()->layer().setValueForKeyPath(0.27f, "transform.rotation.z"); }, 2},
        {"value_at_rest", [](Scene& s) { s.recorder->handleMove(0.0f); }, 2},
        {"other_overlay", [](Scene& s) { s.recorder->shadowView()->setImage(platform::Image::named("needle.png")); }, 2},
        {"settings_page", [](Scene& s) { show(s, s.settings); }, 2},
        {"value_while_hidden", [](Scene& s) { shake(s, 300, 7); }, 2},
        {"recorder_page", [](Scene& s) { show(s, s.recorder); }, 2},
        {"scale_one", [](Scene& s) { shake(s, 400, 3); }, 1},
        {"scale_three", [](Scene& s) { shake(s, 500, 3); }, 3},
        {"bad_value", [](Scene& s) { s.recorder->handleMove(std::numeric_limits<float>::quiet_NaN()); }, 3},
        {"back_to_two", [](Scene& s) { shake(s, 600, 2); }, 2},
        // Only what changed is composed again, where it is and where it was.
        {"page_moved", [](Scene& s) { s.holder->setFrame(Rect(10, 60, 320, 411)); }, 2},
        {"page_hidden", [](Scene& s) { s.holder->setHidden(true); }, 2},
        {"page_shown", [](Scene& s) { s.holder->setHidden(false); }, 2},
        {"label_beside", [](Scene& s) { s.root->addSubview(std::make_shared<platform::Label>(Rect(0, 0, 320, 20), "Trembit")); }, 2},
        {"page_back", [](Scene& s) { s.holder->setFrame(kPageFrame); }, 2},
        {"label_text", [](Scene& s) { static_cast<platform::Label&>(*s.root->subviews().back()).setText("Trembit 2"); }, 2},
        {"turned_label", [](Scene& s) { s.root->subviews().back()->layer().setValueForKeyPath(0.5f, "transform.rotation.z"); }, 2},
        {"value_after_all", [](Scene& s) { shake(s, 700, 3); }, 2},
        // Another compositor's frame of the same tree clears the change marks; the next frame of
        // the cached one must still show what changed before it.
        {"frame_elsewhere", [](Scene& s) { shake(s, 800, 5); platform::Compositor(kWindow.size, 2).render(*s.root); }, 2},
    };
}
// clang-format on

TEST(CachedFrameTest, EqualsAFrameComposedAfresh) {
    const std::vector<Change> changes = history();
    Scene cached;
    std::map<int, platform::Compositor> compositors;
    for (std::size_t step = 0; step < changes.size(); ++step) {
        const Change& change = changes[step];
        change.apply(cached);
        auto [it, added] = compositors.try_emplace(change.scale, kWindow.size, change.scale);
        it->second.render(*cached.root);

        Scene fresh;
        for (std::size_t i = 0; i <= step; ++i) {
            changes[i].apply(fresh);
        }
        platform::Compositor once(kWindow.size, change.scale);
        once.render(*fresh.root);
        EXPECT_TRUE(testing_support::samePixels(it->second.surface(), once.surface()))
            << "after " << change.name;
    }
}

} // namespace
