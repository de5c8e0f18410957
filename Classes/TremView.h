#pragma once

#include "Classes/GraphView.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/View.h"

#include <cstdint>
#include <memory>

/// The recorder page: from back to front a sheet of paper that slides down as values arrive, the
/// trace plot over the lower part of the page, a shadow over the whole page, and a needle that
/// swings about a pivot above the top edge.
class TremView : public platform::View {
public:
    /// Top of the trace plot inside the page, in points.
    static constexpr float kGraphTop = 120.0f;
    /// Height of the paper sheet, in points; it covers the page at every offset.
    static constexpr float kPaperHeight = 860.0f;
    static constexpr platform::Size kNeedleSize{33.0f, 248.0f};
    /// Needle pivot in the layer's unit coordinates: centred, one needle height above its top.
    static constexpr platform::Point kNeedleAnchor{0.5f, -1.0f};
    /// Where the pivot sits in the page, in points.
    static constexpr platform::Point kNeedlePivot{159.0f, -371.0f};
    /// Needle degrees per unit of deflection value.
    static constexpr float kNeedleDegreesPerUnit = -18.0f;
    /// Paper steps per trip; equals the trace's capacity.
    static constexpr float kPaperStepDivisor = 200.0f;

    /// Builds the page for a frame of W x H points.
    explicit TremView(platform::Rect frame);
    ~TremView() override;

    /// One recorder step: appends `value` to the trace, turns the needle to it and moves the paper
    /// in step with the trace's write position. Any float is accepted.
    void handleMove(float value);

    const std::shared_ptr<GraphView>& graphView() const { return graphView_; }
    void setGraphView(std::shared_ptr<GraphView> view) { graphView_ = std::move(view); }
    const std::shared_ptr<platform::ImageView>& paperView() const { return paperView_; }
    void setPaperView(std::shared_ptr<platform::ImageView> view) { paperView_ = std::move(view); }
    const std::shared_ptr<platform::ImageView>& needleView() const { return needleView_; }
    void setNeedleView(std::shared_ptr<platform::ImageView> view) { needleView_ = std::move(view); }
    const std::shared_ptr<platform::ImageView>& shadowView() const { return shadowView_; }
    void setShadowView(std::shared_ptr<platform::ImageView> view) { shadowView_ = std::move(view); }

    /// Needle angle in radians for a deflection value: -18 degrees per unit, no limit.
    static float needleAngle(float value);
    /// Paper offset in points for write position `nextIndex` and a trace plot `graphHeight` tall:
    /// s - Hg with s = ((n + 1) / 200) * Hg.
    static float paperOffset(std::uint32_t nextIndex, float graphHeight);

private:
    std::shared_ptr<GraphView> graphView_;
    std::shared_ptr<platform::ImageView> paperView_;
    std::shared_ptr<platform::ImageView> needleView_;
    std::shared_ptr<platform::ImageView> shadowView_;
};
