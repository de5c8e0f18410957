#pragma once

#include "platform/ui/View.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

/// A row of equal-width segments, at most one of them selected, chosen by a touch.
///
/// The selected index is stored exactly as it is set. An index with no segment behind it (such as
/// 7 or -3 on a three-segment control) shows no segment selected and is reported back unchanged by
/// selectedSegmentIndex() until the user picks a segment. So a value read from stored settings,
/// even a stale one, goes back to storage untouched when the user only looks at the control.
class SegmentedControl : public View {
public:
    /// The index that means no segment is selected.
    static constexpr std::int32_t kNoSegment = -1;

    /// A control with one segment per title, left to right, and nothing selected.
    SegmentedControl(Rect frame, std::vector<std::string> titles);

    std::size_t numberOfSegments() const { return titles_.size(); }
    /// The title of segment `index` as set, in English (it is drawn in the user's language), or an
    /// empty string when there is no such segment.
    std::string titleForSegment(std::size_t index) const;

    /// The index last set or picked; see the class comment for indexes without a segment.
    std::int32_t selectedSegmentIndex() const { return selectedIndex_; }
    /// Selects `index` as it is (any value); does not call the value-changed handler.
    void setSelectedSegmentIndex(std::int32_t index);

    /// Called after the user picks a segment other than the selected one; never for
    /// setSelectedSegmentIndex. The control is passed in, borrowed for the call.
    void setOnValueChanged(std::function<void(SegmentedControl&)> handler);

    /// A control that is not enabled ignores touches and is drawn faded.
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

    /// The rectangle of segment `index` in the control's points.
    Rect frameForSegment(std::size_t index) const;
    /// The segment whose column holds `pointInSelf.x`, clamped to the first and last, or kNoSegment
    /// for a control without segments.
    std::int32_t segmentAtPoint(Point pointInSelf) const;

    void drawRect(GraphicsContext& context, const Rect& rect) override;
    bool drawsContent() const override { return true; }

    // A disabled control still takes its touches, so they never fall through to what is behind.
    bool acceptsTouches() const override { return true; }
    void touchesBegan(Point pointInSelf) override;
    void touchesMoved(Point pointInSelf, bool inside) override;
    void touchesEnded(Point pointInSelf, bool inside) override;
    void touchesCancelled() override;

private:
    void setPressedSegment(std::int32_t index);

    std::vector<std::string> titles_;
    std::int32_t selectedIndex_ = kNoSegment;
    bool enabled_ = true;
    bool tracking_ = false;
    // The segment under a held finger, tinted as a preview of the pick; kNoSegment otherwise.
    std::int32_t pressedIndex_ = kNoSegment;
    std::function<void(SegmentedControl&)> onValueChanged_;
};

} // namespace platform
