#include "Classes/TremView.h"

#include "platform/gfx/Image.h"

#include <numbers>

using platform::ImageView;
using platform::Rect;

namespace {

constexpr double kHalfTurnDegrees = 180.0;

} // namespace

TremView::TremView(Rect frame) : View(frame) {
    const float width = frame.size.width;
    const float height = frame.size.height;
    setClipsToBounds(true);

    setGraphView(std::make_shared<GraphView>(Rect(0.0f, kGraphTop, width, height - kGraphTop)));
    setPaperView(std::make_shared<ImageView>(Rect(0.0f, 0.0f, width, kPaperHeight)));
    setNeedleView(std::make_shared<ImageView>(Rect(0.0f, 0.0f, kNeedleSize.width, kNeedleSize.height)));
    setShadowView(std::make_shared<ImageView>(Rect(0.0f, 0.0f, width, height)));

    paperView_->setImage(platform::Image::named("paperbig.png"));
    // The paper starts moved up by the trace plot's height.
    paperView_->layer().setValueForKeyPath(-graphView_->bounds().size.height, "transform.translation.y");

    needleView_->setImage(platform::Image::named("needle.png"));
    needleView_->layer().setAnchorPoint(kNeedleAnchor);
    needleView_->layer().setPosition(kNeedlePivot);

    shadowView_->setImage(platform::Image::named("shadow.png"));

    addSubview(paperView_);
    addSubview(graphView_);
    addSubview(shadowView_);
    addSubview(needleView_);
}

TremView::~TremView() {
    needleView_.reset();
    shadowView_.reset();
    paperView_.reset();
    graphView_.reset();
}

float TremView::needleAngle(float value) {
    const float degrees = value * kNeedleDegreesPerUnit;
    const double radians = (static_cast<double>(degrees) * std::numbers::pi) / kHalfTurnDegrees;
    return static_cast<float>(radians);
}

float TremView::paperOffset(std::uint32_t nextIndex, float graphHeight) {
    const float s = (static_cast<float>(nextIndex + 1u) / kPaperStepDivisor) * graphHeight;
    return s - graphHeight;
}

void TremView::handleMove(float value) {
    graphView_->updateHistory(value);
    const std::uint32_t n = graphView_->nextIndex();
    needleView_->layer().setValueForKeyPath(needleAngle(value), "transform.rotation.z");
    paperView_->layer().setValueForKeyPath(paperOffset(n, graphView_->bounds().size.height),
                                           "transform.translation.y");
}
