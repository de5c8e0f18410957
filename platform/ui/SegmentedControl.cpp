#include "platform/ui/SegmentedControl.h"

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

// A calm blue for the outline, dividers, selected fill and unselected titles (#2f6fd0).
constexpr Color kTint{0x2f / 255.0, 0x6f / 255.0, 0xd0 / 255.0, 1.0};
constexpr Color kBackground{1.0, 1.0, 1.0, 1.0};
constexpr Color kSelectedTitle{1.0, 1.0, 1.0, 1.0};
// Tint over a segment that a finger holds, before it is picked.
constexpr double kPressedTintAlpha = 0.15;
constexpr double kDisabledAlpha = 0.4;
constexpr double kCornerRadiusPoints = 5.0;
constexpr double kLineWidthPoints = 1.0;
constexpr float kTitlePointSize = 13.0f;
// Titles keep clear of the dividers by this much on each side.
constexpr float kTitleInsetPoints = 4.0f;

// The nearest x on the device pixel grid, so fills and dividers end on whole pixels.
double snapX(cairo_t* cr, double x) {
    double y = 0.0;
    cairo_user_to_device(cr, &x, &y);
    x = std::round(x);
    cairo_device_to_user(cr, &x, &y);
    return x;
}

} // namespace

SegmentedControl::SegmentedControl(Rect frame, std::vector<std::string> titles)
    : View(frame), titles_(std::move(titles)) {
    setOpaque(false);
}

std::string SegmentedControl::titleForSegment(std::size_t index) const {
    return index < titles_.size() ? titles_[index] : std::string();
}

void SegmentedControl::setSelectedSegmentIndex(std::int32_t index) {
    if (index != selectedIndex_) {
        selectedIndex_ = index;
        setNeedsDisplay();
    }
}

void SegmentedControl::setOnValueChanged(std::function<void(SegmentedControl&)> handler) {
    onValueChanged_ = std::move(handler);
}

void SegmentedControl::setEnabled(bool enabled) {
    if (enabled == enabled_) {
        return;
    }
    enabled_ = enabled;
    if (!enabled_) {
        touchesCancelled();
    }
    setNeedsDisplay();
}

Rect SegmentedControl::frameForSegment(std::size_t index) const {
    const float width = bounds().size.width / static_cast<float>(std::max<std::size_t>(titles_.size(), 1));
    return Rect(width * static_cast<float>(index), 0.0f, width, bounds().size.height);
}

std::int32_t SegmentedControl::segmentAtPoint(Point pointInSelf) const {
    if (titles_.empty()) {
        return kNoSegment;
    }
    const float width = bounds().size.width / static_cast<float>(titles_.size());
    const float column = width > 0.0f ? std::floor(pointInSelf.x / width) : 0.0f;
    const float last = static_cast<float>(titles_.size() - 1);
    // The comparison form also sends a NaN point to the first segment rather than to a cast of NaN.
    return static_cast<std::int32_t>(column >= 0.0f ? std::min(column, last) : 0.0f);
}

void SegmentedControl::drawRect(GraphicsContext& context, const Rect&) {
    cairo_t* cr = context.cairo();
    const Rect area = bounds();
    if (titles_.empty() || area.size.width <= 0.0f || area.size.height <= 0.0f) {
        return;
    }
    CairoSaveGuard guard(cr);
    if (!enabled_) {
        cairo_push_group(cr);
    }

    // The outline's centre line sits half a line in, so the 1-point line covers whole pixels.
    const double inset = kLineWidthPoints / 2.0;
    const double outlineWidth = area.size.width - kLineWidthPoints;
    const double outlineHeight = area.size.height - kLineWidthPoints;
    addRoundedRectangle(cr, inset, inset, outlineWidth, outlineHeight, kCornerRadiusPoints);
    setSourceColor(cr, kBackground);
    cairo_fill_preserve(cr);
    {
        CairoSaveGuard clipGuard(cr);
        cairo_clip(cr);
        const auto fillSegment = [&](std::size_t index, const Color& color, double alpha) {
            const Rect segment = frameForSegment(index);
            const double left = snapX(cr, segment.minX());
            const double right = snapX(cr, segment.maxX());
            cairo_rectangle(cr, left, 0.0, right - left, area.size.height);
            setSourceColor(cr, color, alpha);
            cairo_fill(cr);
        };
        const bool hasSelection =
            selectedIndex_ >= 0 && static_cast<std::size_t>(selectedIndex_) < titles_.size();
        if (hasSelection) {
            fillSegment(static_cast<std::size_t>(selectedIndex_), kTint, 1.0);
        }
        if (pressedIndex_ != kNoSegment && pressedIndex_ != selectedIndex_) {
            fillSegment(static_cast<std::size_t>(pressedIndex_), kTint, kPressedTintAlpha);
        }
        setSourceColor(cr, kTint);
        for (std::size_t i = 1; i < titles_.size(); ++i) {
            // Centred on the boundary and widened to whole pixels: one solid column at scale 1.
            const double boundary = frameForSegment(i).minX();
            const double left = snapX(cr, boundary - kLineWidthPoints / 2.0);
            const double right = snapX(cr, boundary + kLineWidthPoints / 2.0);
            cairo_rectangle(cr, left, 0.0, right - left, area.size.height);
        }
        cairo_fill(cr);
    }
    addRoundedRectangle(cr, inset, inset, outlineWidth, outlineHeight, kCornerRadiusPoints);
    setSourceColor(cr, kTint);
    cairo_set_line_width(cr, kLineWidthPoints);
    cairo_stroke(cr);

    TextStyle style;
    style.pointSize = kTitlePointSize;
    style.alignment = TextAlignment::Center;
    for (std::size_t i = 0; i < titles_.size(); ++i) {
        style.color = static_cast<std::int32_t>(i) == selectedIndex_ ? kSelectedTitle : kTint;
        const Rect segment = frameForSegment(i);
        const Rect titleBox(segment.minX() + kTitleInsetPoints, segment.minY(),
                            segment.size.width - 2.0f * kTitleInsetPoints, segment.size.height);
        drawText(cr, translate(titles_[i]), titleBox, style);
    }

    if (!enabled_) {
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, kDisabledAlpha);
    }
}

void SegmentedControl::setPressedSegment(std::int32_t index) {
    if (index != pressedIndex_) {
        pressedIndex_ = index;
        setNeedsDisplay();
    }
}

void SegmentedControl::touchesBegan(Point pointInSelf) {
    if (!enabled_ || titles_.empty()) {
        return;
    }
    tracking_ = true;
    setPressedSegment(segmentAtPoint(pointInSelf));
}

void SegmentedControl::touchesMoved(Point pointInSelf, bool inside) {
    if (tracking_) {
        setPressedSegment(inside ? segmentAtPoint(pointInSelf) : kNoSegment);
    }
}

void SegmentedControl::touchesEnded(Point pointInSelf, bool inside) {
    if (!tracking_) {
        return;
    }
    tracking_ = false;
    setPressedSegment(kNoSegment);
    if (!enabled_ || !inside) {
        return;
    }
    const std::int32_t picked = segmentAtPoint(pointInSelf);
    if (picked == kNoSegment || picked == selectedIndex_) {
        return;
    }
    selectedIndex_ = picked;
    setNeedsDisplay();
    if (onValueChanged_) {
        // A copy, so a handler that replaces itself is not destroyed while it runs.
        const std::function<void(SegmentedControl&)> handler = onValueChanged_;
        handler(*this);
    }
}

void SegmentedControl::touchesCancelled() {
    tracking_ = false;
    setPressedSegment(kNoSegment);
}

} // namespace platform
