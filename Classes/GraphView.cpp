#include "Classes/GraphView.h"

namespace {

// Ink: a blue ballpoint, a little transparent so the grid shows through.
constexpr double kInkRed = 0.0;
constexpr double kInkGreen = 0.2;
constexpr double kInkBlue = 0.9;
constexpr double kInkAlpha = 0.7;
constexpr float kInkWidthPoints = 2.0f;
// The points are spread over 199 gaps, so the oldest and newest land exactly on the edges.
constexpr float kPointSpacingDivisor = 199.0f;

} // namespace

GraphView::GraphView(platform::Rect frame) : View(frame) {
    setOpaque(false);
}

void GraphView::updateHistory(float value) {
    history_[nextIndex_] = value;
    nextIndex_ = (nextIndex_ + 1u) % kHistoryCapacity;
    setNeedsDisplay();
}

std::array<platform::Point, GraphView::kHistoryCapacity>
GraphView::tracePolyline(const std::array<float, kHistoryCapacity>& history, std::uint32_t nextIndex,
                         float width, float height) {
    std::array<platform::Point, kHistoryCapacity> points;
    const float centre = width * 0.5f;
    for (std::uint32_t i = 0; i < kHistoryCapacity; ++i) {
        const std::uint32_t slot = (i + nextIndex) % kHistoryCapacity;
        const float value = history[slot];
        const float x = centre + ((width * value) * 0.5f);
        const float y = height - ((static_cast<float>(i) / kPointSpacingDivisor) * height);
        points[i] = platform::Point{x, y};
    }
    return points;
}

void GraphView::drawRect(platform::GraphicsContext& context, const platform::Rect&) {
    const platform::Rect area = bounds();
    const std::array<platform::Point, kHistoryCapacity> points =
        tracePolyline(history_, nextIndex_, area.size.width, area.size.height);

    context.setRGBStrokeColor(kInkRed, kInkGreen, kInkBlue, kInkAlpha);
    context.setLineJoin(platform::LineJoin::Round);
    context.setLineCap(platform::LineCap::Round);
    context.beginPath();
    context.moveToPoint(points[0].x, points[0].y);
    for (std::uint32_t i = 1; i < kHistoryCapacity; ++i) {
        context.addLineToPoint(points[i].x, points[i].y);
    }
    context.setLineWidth(kInkWidthPoints);
    context.strokePath();
}
