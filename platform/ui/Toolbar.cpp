#include "platform/ui/Toolbar.h"

#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/Shapes.h"
#include "platform/gfx/Text.h"
#include "platform/gfx/Translation.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace platform {

namespace {

// The bar: slate grey-blue, lighter at the top, under a dark hairline with a light line below it.
constexpr Color kBarTop{0.690, 0.737, 0.800, 1.0};
constexpr Color kBarBottom{0.427, 0.506, 0.612, 1.0};
constexpr Color kBarHairline{0.176, 0.212, 0.263, 1.0};
constexpr Color kBarHighlight{1.0, 1.0, 1.0, 0.35};

// Colours of one kind of button, resting and held down.
struct ButtonColors {
    Color top;
    Color bottom;
    Color pressedTop;
    Color pressedBottom;
    Color border;
};
constexpr ButtonColors kBorderedColors{{0.545, 0.616, 0.714, 1.0},
                                       {0.345, 0.427, 0.541, 1.0},
                                       {0.345, 0.408, 0.498, 1.0},
                                       {0.220, 0.278, 0.365, 1.0},
                                       {0.227, 0.282, 0.361, 1.0}};
constexpr ButtonColors kDoneColors{{0.341, 0.580, 0.949, 1.0},
                                   {0.118, 0.373, 0.820, 1.0},
                                   {0.200, 0.400, 0.760, 1.0},
                                   {0.063, 0.235, 0.580, 1.0},
                                   {0.086, 0.235, 0.537, 1.0}};
// The light edge under a button that makes it look set into the bar.
constexpr Color kButtonEtch{1.0, 1.0, 1.0, 0.3};
// The light line just inside a button's top edge.
constexpr Color kButtonGloss{1.0, 1.0, 1.0, 0.22};
// A plain item held down gets a soft light patch behind its title.
constexpr Color kPlainPressed{1.0, 1.0, 1.0, 0.25};
constexpr Color kTitleColor{1.0, 1.0, 1.0, 1.0};
// Titles are engraved: a dark copy one point above the title.
constexpr Color kTitleShadow{0.0, 0.0, 0.0, 0.4};
constexpr float kTitleShadowOffsetPoints = -1.0f;

constexpr double kButtonCornerRadiusPoints = 5.0;
constexpr double kLineWidthPoints = 1.0;
constexpr double kDisabledAlpha = 0.4;

// Fills the current path with a top-to-bottom gradient between y0 and y1 and clears the path.
void fillVerticalGradient(cairo_t* cr, double y0, double y1, const Color& top, const Color& bottom) {
    const CairoPatternPtr gradient(cairo_pattern_create_linear(0.0, y0, 0.0, y1));
    cairo_pattern_add_color_stop_rgba(gradient.get(), 0.0, top.red, top.green, top.blue, top.alpha);
    cairo_pattern_add_color_stop_rgba(gradient.get(), 1.0, bottom.red, bottom.green, bottom.blue,
                                      bottom.alpha);
    cairo_set_source(cr, gradient.get());
    cairo_fill(cr);
}

TextStyle titleStyle() {
    TextStyle style;
    style.pointSize = Toolbar::kTitlePointSize;
    style.bold = true;
    style.alignment = TextAlignment::Center;
    style.color = kTitleColor;
    return style;
}

float fittedWidth(const BarButtonItem& item) {
    if (item.width() > 0.0f) {
        return item.width();
    }
    // Whole points, so every button edge lands on the pixel grid.
    const float titleWidth = std::ceil(measureText(item.shownTitle(), titleStyle()).width);
    return std::max(titleWidth + 2.0f * Toolbar::kTitlePaddingPoints, Toolbar::kMinimumItemWidthPoints);
}

void drawTitle(cairo_t* cr, const std::string& title, const Rect& frame) {
    TextStyle style = titleStyle();
    const Rect box(frame.minX() + Toolbar::kTitlePaddingPoints / 2.0f, frame.minY(),
                   frame.size.width - Toolbar::kTitlePaddingPoints, frame.size.height);
    TextStyle shadow = style;
    shadow.color = kTitleShadow;
    drawText(cr, title,
             Rect(box.minX(), box.minY() + kTitleShadowOffsetPoints, box.size.width, box.size.height),
             shadow);
    drawText(cr, title, box, style);
}

void drawButton(cairo_t* cr, const BarButtonItem& item, const Rect& frame, bool pressed) {
    if (item.style() == BarButtonItemStyle::Plain) {
        if (pressed) {
            addRoundedRectangle(cr, frame.minX(), frame.minY(), frame.size.width, frame.size.height,
                                kButtonCornerRadiusPoints);
            setSourceColor(cr, kPlainPressed);
            cairo_fill(cr);
        }
        drawTitle(cr, item.shownTitle(), frame);
        return;
    }
    const ButtonColors& colors = item.style() == BarButtonItemStyle::Done ? kDoneColors : kBorderedColors;
    // Strokes run half a line inside the frame so a 1-point line fills whole pixels.
    const double inset = kLineWidthPoints / 2.0;
    const double x = frame.minX() + inset;
    const double y = frame.minY() + inset;
    const double width = frame.size.width - kLineWidthPoints;
    const double height = frame.size.height - kLineWidthPoints;
    cairo_set_line_width(cr, kLineWidthPoints);

    addRoundedRectangle(cr, x, y + kLineWidthPoints, width, height, kButtonCornerRadiusPoints);
    setSourceColor(cr, kButtonEtch);
    cairo_stroke(cr);

    addRoundedRectangle(cr, x, y, width, height, kButtonCornerRadiusPoints);
    fillVerticalGradient(cr, frame.minY(), frame.maxY(), pressed ? colors.pressedTop : colors.top,
                         pressed ? colors.pressedBottom : colors.bottom);

    if (!pressed) {
        const double glossY = frame.minY() + 1.5 * kLineWidthPoints;
        cairo_move_to(cr, x + kButtonCornerRadiusPoints - 1.0, glossY);
        cairo_line_to(cr, x + width - kButtonCornerRadiusPoints + 1.0, glossY);
        setSourceColor(cr, kButtonGloss);
        cairo_stroke(cr);
    }

    addRoundedRectangle(cr, x, y, width, height, kButtonCornerRadiusPoints);
    setSourceColor(cr, colors.border);
    cairo_stroke(cr);

    drawTitle(cr, item.shownTitle(), frame);
}

} // namespace

BarButtonItem::BarButtonItem(std::string title, BarButtonItemStyle style, std::function<void()> action)
    : title_(std::move(title)), style_(style), action_(std::move(action)) {}

BarButtonItem::BarButtonItem(BarButtonSystemItem item)
    : flexibleSpace_(item == BarButtonSystemItem::FlexibleSpace) {}

void BarButtonItem::setTitle(std::string title) {
    if (title != title_) {
        title_ = std::move(title);
        askToolbarToRedraw();
    }
}

std::string BarButtonItem::shownTitle() const {
    return translate(title_);
}

void BarButtonItem::setStyle(BarButtonItemStyle style) {
    if (style != style_) {
        style_ = style;
        askToolbarToRedraw();
    }
}

void BarButtonItem::setEnabled(bool enabled) {
    if (enabled != enabled_) {
        enabled_ = enabled;
        askToolbarToRedraw();
    }
}

void BarButtonItem::setWidth(float points) {
    if (points != width_) {
        width_ = points;
        askToolbarToRedraw();
    }
}

void BarButtonItem::askToolbarToRedraw() const {
    if (toolbar_ != nullptr) {
        toolbar_->setNeedsDisplay();
    }
}

Toolbar::Toolbar(Rect frame) : View(frame) {}

Toolbar::~Toolbar() {
    // The items may outlive the bar; they must not point at it afterwards.
    setItems({});
}

void Toolbar::setItems(std::vector<std::shared_ptr<BarButtonItem>> items) {
    for (const std::shared_ptr<BarButtonItem>& item : items_) {
        if (item->toolbar_ == this) {
            item->toolbar_ = nullptr;
        }
    }
    items_ = std::move(items);
    for (const std::shared_ptr<BarButtonItem>& item : items_) {
        item->toolbar_ = this;
    }
    pressedIndex_.reset();
    pressedInside_ = false;
    setNeedsDisplay();
}

std::vector<Rect> Toolbar::itemFrames() const {
    const Rect area = bounds();
    std::vector<float> widths;
    widths.reserve(items_.size());
    float used = 2.0f * kMarginPoints;
    std::size_t flexibleCount = 0;
    for (const std::shared_ptr<BarButtonItem>& item : items_) {
        const float width = item->isFlexibleSpace() ? 0.0f : fittedWidth(*item);
        flexibleCount += item->isFlexibleSpace() ? 1 : 0;
        widths.push_back(width);
        used += width;
    }
    if (!items_.empty()) {
        used += kGapPoints * static_cast<float>(items_.size() - 1);
    }
    if (used > area.size.width) {
        // Titles longer than the bar has room for (a translation, a narrow bar): the buttons that
        // fit their titles give up room in proportion, down to nothing when nothing is left.
        float fitting = 0.0f;
        for (std::size_t i = 0; i < items_.size(); ++i) {
            fitting += items_[i]->isFlexibleSpace() || items_[i]->width() > 0.0f ? 0.0f : widths[i];
        }
        const float kept =
            fitting > 0.0f ? std::max(fitting - (used - area.size.width), 0.0f) / fitting : 1.0f;
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (!items_[i]->isFlexibleSpace() && items_[i]->width() <= 0.0f) {
                used -= widths[i] - std::floor(widths[i] * kept);
                widths[i] = std::floor(widths[i] * kept);
            }
        }
    }
    const float leftOver = std::max(area.size.width - used, 0.0f);
    if (flexibleCount > 0) {
        // Whole-point shares; the last flexible space takes the remainder so the bar is filled.
        const float share = std::floor(leftOver / static_cast<float>(flexibleCount));
        std::size_t seen = 0;
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (items_[i]->isFlexibleSpace()) {
                ++seen;
                widths[i] =
                    seen == flexibleCount ? leftOver - share * static_cast<float>(flexibleCount - 1) : share;
            }
        }
    }
    const float y = std::floor((area.size.height - kItemHeightPoints) / 2.0f);
    std::vector<Rect> frames;
    frames.reserve(items_.size());
    float x = kMarginPoints;
    for (const float width : widths) {
        frames.emplace_back(x, y, width, kItemHeightPoints);
        x += width + kGapPoints;
    }
    return frames;
}

Rect Toolbar::frameForItem(std::size_t index) const {
    if (index >= items_.size()) {
        return Rect();
    }
    return itemFrames()[index];
}

bool Toolbar::isItemHighlighted(std::size_t index) const {
    return pressedIndex_ == index && pressedInside_ && index < items_.size() && items_[index]->isEnabled();
}

void Toolbar::drawRect(GraphicsContext& context, const Rect&) {
    cairo_t* cr = context.cairo();
    const Rect area = bounds();
    CairoSaveGuard guard(cr);

    cairo_rectangle(cr, 0.0, 0.0, area.size.width, area.size.height);
    fillVerticalGradient(cr, 0.0, area.size.height, kBarTop, kBarBottom);
    cairo_rectangle(cr, 0.0, 0.0, area.size.width, kLineWidthPoints);
    setSourceColor(cr, kBarHairline);
    cairo_fill(cr);
    cairo_rectangle(cr, 0.0, kLineWidthPoints, area.size.width, kLineWidthPoints);
    setSourceColor(cr, kBarHighlight);
    cairo_fill(cr);

    const std::vector<Rect> frames = itemFrames();
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const BarButtonItem& item = *items_[i];
        if (item.isFlexibleSpace()) {
            continue;
        }
        if (item.isEnabled()) {
            drawButton(cr, item, frames[i], isItemHighlighted(i));
        } else {
            cairo_push_group(cr);
            drawButton(cr, item, frames[i], false);
            cairo_pop_group_to_source(cr);
            cairo_paint_with_alpha(cr, kDisabledAlpha);
        }
    }
}

std::optional<std::size_t> Toolbar::pressableItemAt(Point pointInSelf) const {
    const std::vector<Rect> frames = itemFrames();
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const BarButtonItem& item = *items_[i];
        if (item.isFlexibleSpace() || !item.isEnabled()) {
            continue;
        }
        // A finger is wide: the whole height of the bar and half of each gap count as the button.
        const Rect& frame = frames[i];
        const Rect touchArea(frame.minX() - kGapPoints / 2.0f, 0.0f, frame.size.width + kGapPoints,
                             bounds().size.height);
        if (touchArea.contains(pointInSelf)) {
            return i;
        }
    }
    return std::nullopt;
}

void Toolbar::setPressed(std::optional<std::size_t> index, bool inside) {
    if (index != pressedIndex_ || inside != pressedInside_) {
        pressedIndex_ = index;
        pressedInside_ = inside;
        setNeedsDisplay();
    }
}

void Toolbar::touchesBegan(Point pointInSelf) {
    const std::optional<std::size_t> index = pressableItemAt(pointInSelf);
    setPressed(index, index.has_value());
}

void Toolbar::touchesMoved(Point pointInSelf, bool inside) {
    if (pressedIndex_) {
        setPressed(pressedIndex_, inside && pressableItemAt(pointInSelf) == pressedIndex_);
    }
}

void Toolbar::touchesEnded(Point pointInSelf, bool inside) {
    if (!pressedIndex_) {
        return;
    }
    const std::size_t index = *pressedIndex_;
    setPressed(std::nullopt, false);
    if (!inside || pressableItemAt(pointInSelf) != index) {
        return;
    }
    // Held for the call: the action may replace the items, or this bar's whole page.
    const std::shared_ptr<BarButtonItem> item = items_[index];
    const std::function<void()> action = item->action();
    if (action) {
        action();
    }
}

void Toolbar::touchesCancelled() {
    setPressed(std::nullopt, false);
}

} // namespace platform
