#pragma once

#include "platform/ui/View.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class Toolbar;

/// Looks of a bar button, numbered as on the handheld platforms.
enum class BarButtonItemStyle { Plain = 0, Bordered = 1, Done = 2 };
/// The system items a toolbar knows; only the flexible space is used.
enum class BarButtonSystemItem { FlexibleSpace = 5 };

/// One button of a toolbar, or a flexible space between buttons. Items are shared: the toolbar
/// that shows an item keeps a reference, the item points back at it without owning it and asks
/// it for a redraw whenever its look changes. An item is shown by one toolbar at a time.
class BarButtonItem {
public:
    /// A button showing `title`; `action` runs on each completed click (it may be empty).
    BarButtonItem(std::string title, BarButtonItemStyle style, std::function<void()> action);
    /// A system item. A flexible space has no title and no action and is never pressed.
    explicit BarButtonItem(BarButtonSystemItem item);
    BarButtonItem(const BarButtonItem&) = delete;
    BarButtonItem& operator=(const BarButtonItem&) = delete;

    /// The title as the application set it, in English.
    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    /// The title as the button shows it, in the user's language.
    std::string shownTitle() const;
    BarButtonItemStyle style() const { return style_; }
    void setStyle(BarButtonItemStyle style);
    /// A disabled item is drawn faded and ignores presses.
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);
    /// Width in points; 0 (the default) fits the title. A flexible space's own width is not used:
    /// it takes its share of the room left over in the bar, or nothing when there is none.
    float width() const { return width_; }
    void setWidth(float points);
    bool isFlexibleSpace() const { return flexibleSpace_; }

    /// A name that keys and scripts find the item by, as assistive tools do; empty for none.
    const std::string& identifier() const { return identifier_; }
    void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }

    const std::function<void()>& action() const { return action_; }
    void setAction(std::function<void()> action) { action_ = std::move(action); }

    /// The toolbar showing the item, borrowed, or nullptr.
    Toolbar* toolbar() const { return toolbar_; }

private:
    friend class Toolbar;
    void askToolbarToRedraw() const;

    std::string title_;
    std::string identifier_;
    BarButtonItemStyle style_ = BarButtonItemStyle::Plain;
    std::function<void()> action_;
    bool enabled_ = true;
    float width_ = 0.0f;
    bool flexibleSpace_ = false;
    Toolbar* toolbar_ = nullptr;
};

/// A bar of buttons laid out left to right: 6-point margins at both ends, 6-point gaps between
/// items, every titled item as wide as it asks, the flexible spaces sharing whatever width is left.
/// When the titles ask for more than the bar has, the buttons that fit their titles are narrowed
/// alike and their titles drawn smaller. Buttons are 30 points tall, centred in the bar.
///
/// A press on an enabled button highlights it while the finger stays on it; the action runs when
/// the finger is lifted on the same button, and not if it is lifted anywhere else.
class Toolbar : public View {
public:
    static constexpr float kMarginPoints = 6.0f;
    static constexpr float kGapPoints = 6.0f;
    static constexpr float kItemHeightPoints = 30.0f;
    /// Space on each side of a title in a button that fits its title.
    static constexpr float kTitlePaddingPoints = 10.0f;
    /// A button that fits its title is never narrower than this.
    static constexpr float kMinimumItemWidthPoints = 30.0f;
    static constexpr float kTitlePointSize = 12.0f;

    explicit Toolbar(Rect frame);
    ~Toolbar() override;

    /// Shows `items` (shared with the caller) in place of the current ones, which stop pointing at
    /// this toolbar. A button held down is let go without its action.
    void setItems(std::vector<std::shared_ptr<BarButtonItem>> items);
    const std::vector<std::shared_ptr<BarButtonItem>>& items() const { return items_; }

    /// Where item `index` lies, in the toolbar's points; an empty rectangle past the last item.
    Rect frameForItem(std::size_t index) const;
    /// True while item `index` is held down with the finger still on it.
    bool isItemHighlighted(std::size_t index) const;

    void drawRect(GraphicsContext& context, const Rect& rect) override;
    bool drawsContent() const override { return true; }
    bool drawsOpaqueContent() const override { return true; }

    bool acceptsTouches() const override { return true; }
    void touchesBegan(Point pointInSelf) override;
    void touchesMoved(Point pointInSelf, bool inside) override;
    void touchesEnded(Point pointInSelf, bool inside) override;
    void touchesCancelled() override;

private:
    std::vector<Rect> itemFrames() const;
    // The enabled, pressable item whose touch area holds the point.
    std::optional<std::size_t> pressableItemAt(Point pointInSelf) const;
    void setPressed(std::optional<std::size_t> index, bool inside);

    std::vector<std::shared_ptr<BarButtonItem>> items_;
    std::optional<std::size_t> pressedIndex_;
    bool pressedInside_ = false;
};

} // namespace platform
