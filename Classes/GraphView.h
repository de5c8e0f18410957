#pragma once

#include "platform/ui/View.h"

#include <array>
#include <cstdint>

/// The trace plot: a ring of the last 200 deflection values, drawn as one polyline with the oldest
/// value at the bottom edge and the newest at the top, 0 on the centre line and -1 and +1 on the
/// left and right edges. It has no background, so the paper shows through around the ink.
class GraphView : public platform::View {
public:
    /// Slots in the ring; all of them are always plotted.
    static constexpr std::uint32_t kHistoryCapacity = 200;

    /// A transparent view; the ring starts with every slot 0 and the write position at 0.
    explicit GraphView(platform::Rect frame);

    /// Stores `value` as it is (no clamping), advances the write position and asks for a redraw.
    void updateHistory(float value);

    /// The slot the next value goes to; once the ring is full, also the oldest value's slot.
    std::uint32_t nextIndex() const { return nextIndex_; }
    const std::array<float, kHistoryCapacity>& history() const { return history_; }

    /// Strokes the whole trace; `rect` does not change the picture.
    void drawRect(platform::GraphicsContext& context, const platform::Rect& rect) override;
    bool drawsContent() const override { return true; }

    /// The 200 points of the trace for a view of `width` x `height` points, oldest first.
    /// Single-precision arithmetic in a fixed order, so the points are the same on every machine.
    static std::array<platform::Point, kHistoryCapacity>
    tracePolyline(const std::array<float, kHistoryCapacity>& history, std::uint32_t nextIndex, float width,
                  float height);

private:
    std::uint32_t nextIndex_ = 0;
    std::array<float, kHistoryCapacity> history_{};
};
