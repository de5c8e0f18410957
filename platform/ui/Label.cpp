#include "platform/ui/Label.h"

#include "platform/gfx/Translation.h"

#include <utility>

namespace platform {

Label::Label(Rect frame, std::string text) : View(frame), text_(std::move(text)) {
    setOpaque(false);
}

void Label::setText(std::string text) {
    if (text != text_) {
        text_ = std::move(text);
        setNeedsDisplay();
    }
}

void Label::setFontSize(float points) {
    if (points != style_.pointSize) {
        style_.pointSize = points;
        setNeedsDisplay();
    }
}

void Label::setBold(bool bold) {
    if (bold != style_.bold) {
        style_.bold = bold;
        setNeedsDisplay();
    }
}

void Label::setTextColor(Color color) {
    if (color != style_.color) {
        style_.color = color;
        setNeedsDisplay();
    }
}

void Label::setAlignment(TextAlignment alignment) {
    if (alignment != style_.alignment) {
        style_.alignment = alignment;
        setNeedsDisplay();
    }
}

void Label::drawRect(GraphicsContext& context, const Rect&) {
    drawText(context.cairo(), translate(text_), bounds(), style_);
}

} // namespace platform
