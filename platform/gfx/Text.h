#pragma once

#include "platform/gfx/Geometry.h"

#include <cairo.h>
#include <glib-object.h>
#include <memory>
#include <pango/pango.h>
#include <string_view>

// One line of text, laid out by Pango and drawn through Cairo. Sizes are in points, the same units
// as the Cairo user space a view draws in, so a 13-point title is 13 user units tall at every pixel
// scale. Glyph metrics are never hinted: a string measures the same at scale 1, 2 and 3 and on a
// machine with or without a display, so layouts computed from measureText do not shift.

namespace platform {

/// Releases one reference of any GObject (Pango layouts, contexts).
struct GObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectDeleter>;

struct FontDescriptionDeleter {
    void operator()(PangoFontDescription* description) const { pango_font_description_free(description); }
};
using FontDescriptionPtr = std::unique_ptr<PangoFontDescription, FontDescriptionDeleter>;

enum class TextAlignment { Left, Center, Right };

/// How a line of text looks. The family is always kFontFamily.
struct TextStyle {
    /// Em size in points.
    float pointSize = 17.0f;
    bool bold = false;
    Color color{0.0, 0.0, 0.0, 1.0};
    /// Horizontal placement in the box; the line is always centred vertically.
    TextAlignment alignment = TextAlignment::Left;
};

/// The one family the interface uses; shipped by fonts-dejavu-core on every machine we build on.
inline constexpr const char* kFontFamily = "DejaVu Sans";

/// The font description for `style` (family, weight, absolute size in points).
FontDescriptionPtr makeFontDescription(const TextStyle& style);

/// Draws `utf8` as one line in `box` (points, in the user space of `cr`), centred vertically by its
/// line height and placed horizontally by the style's alignment. A line wider than the box is set
/// in a smaller size that fits, never cut. The origin is put on a whole device pixel so stems stay
/// sharp. `cr` is borrowed; its state is restored on return.
void drawText(cairo_t* cr, std::string_view utf8, const Rect& box, const TextStyle& style);

/// Size of `utf8` laid out as one line in `style`: advance width and line height, in points.
Size measureText(std::string_view utf8, const TextStyle& style);

} // namespace platform
