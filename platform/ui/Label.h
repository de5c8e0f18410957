#pragma once

#include "platform/gfx/Text.h"
#include "platform/ui/View.h"

#include <string>

namespace platform {

/// One line of text on a transparent background, centred vertically in the bounds, drawn in the
/// user's language (text() keeps it as set) and smaller where it does not fit. Every setter
/// that changes the look asks for a redraw; nothing is drawn until the display pass.
class Label : public View {
public:
    explicit Label(Rect frame, std::string text = {});

    const std::string& text() const { return text_; }
    void setText(std::string text);
    /// Em size in points.
    float fontSize() const { return style_.pointSize; }
    void setFontSize(float points);
    bool isBold() const { return style_.bold; }
    void setBold(bool bold);
    const Color& textColor() const { return style_.color; }
    void setTextColor(Color color);
    TextAlignment alignment() const { return style_.alignment; }
    void setAlignment(TextAlignment alignment);
    const TextStyle& style() const { return style_; }

    void drawRect(GraphicsContext& context, const Rect& rect) override;
    // Always true, so clearing the text also clears the cached picture.
    bool drawsContent() const override { return true; }

private:
    std::string text_;
    TextStyle style_;
};

} // namespace platform
