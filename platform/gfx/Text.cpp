#include "platform/gfx/Text.h"

#include "platform/gfx/CairoPtr.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <pango/pangocairo.h>

namespace platform {

namespace {

// Font options live only inside this file, for the length of one call.
struct FontOptionsDeleter {
    void operator()(cairo_font_options_t* options) const { cairo_font_options_destroy(options); }
};
using FontOptionsPtr = std::unique_ptr<cairo_font_options_t, FontOptionsDeleter>;

// Grey antialiasing (the surfaces have alpha, so no subpixel colour), slight outline hinting for
// crisp horizontal stems, and unhinted metrics so advances do not depend on the pixel scale or on
// whatever the desktop's font settings would be.
FontOptionsPtr makeFontOptions() {
    FontOptionsPtr options(cairo_font_options_create());
    checkCairo(cairo_font_options_status(options.get()), "cannot create font options");
    cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
    return options;
}

void configureContext(PangoContext* context) {
    const FontOptionsPtr options = makeFontOptions();
    pango_cairo_context_set_font_options(context, options.get());
    pango_context_set_round_glyph_positions(context, FALSE);
}

// A one-line layout of `utf8` in `style`, on `context` (borrowed).
GObjectPtr<PangoLayout> makeLayout(PangoContext* context, std::string_view utf8, const TextStyle& style) {
    GObjectPtr<PangoLayout> layout(pango_layout_new(context));
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    const int length =
        utf8.size() > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(utf8.size());
    pango_layout_set_text(layout.get(), utf8.data(), length);
    const FontDescriptionPtr description = makeFontDescription(style);
    pango_layout_set_font_description(layout.get(), description.get());
    return layout;
}

// Logical extents of the layout in points.
PangoRectangle logicalExtents(PangoLayout* layout) {
    PangoRectangle logical{};
    pango_layout_get_extents(layout, nullptr, &logical);
    return logical;
}

// A line is set smaller at most this many times to fit its box, each time by the share it is too
// wide and this much more, against rounding.
constexpr int kFitSteps = 4;
constexpr float kFitShrink = 0.995f;

double toPoints(int pangoUnits) {
    return static_cast<double>(pangoUnits) / PANGO_SCALE;
}

} // namespace

FontDescriptionPtr makeFontDescription(const TextStyle& style) {
    FontDescriptionPtr description(pango_font_description_new());
    pango_font_description_set_family(description.get(), kFontFamily);
    pango_font_description_set_weight(description.get(),
                                      style.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    // Absolute size is in user-space units, i.e. points, whatever resolution Pango assumes.
    pango_font_description_set_absolute_size(description.get(),
                                             static_cast<double>(style.pointSize) * PANGO_SCALE);
    return description;
}

void drawText(cairo_t* cr, std::string_view utf8, const Rect& box, const TextStyle& style) {
    if (utf8.empty() || !(style.pointSize > 0.0f)) {
        return;
    }
    CairoSaveGuard guard(cr);
    GObjectPtr<PangoContext> context(pango_cairo_create_context(cr));
    configureContext(context.get());
    GObjectPtr<PangoLayout> layout = makeLayout(context.get(), utf8, style);

    PangoRectangle logical = logicalExtents(layout.get());
    // A line too wide for its box is set smaller until it fits, never cut: a translation is often
    // longer than the English its box was made for. Unhinted metrics scale with the size, so one
    // step nearly always does.
    TextStyle fitted = style;
    for (int step = 0; step < kFitSteps && toPoints(logical.width) > box.size.width; ++step) {
        if (!(box.size.width > 0.0f)) {
            return;
        }
        fitted.pointSize *= static_cast<float>(box.size.width / toPoints(logical.width)) * kFitShrink;
        layout = makeLayout(context.get(), utf8, fitted);
        logical = logicalExtents(layout.get());
    }

    const double width = toPoints(logical.width);
    const double height = toPoints(logical.height);
    double x = box.minX() - toPoints(logical.x);
    switch (style.alignment) {
    case TextAlignment::Center:
        x += (box.size.width - width) / 2.0;
        break;
    case TextAlignment::Right:
        x += box.size.width - width;
        break;
    case TextAlignment::Left:
        break;
    }
    double y = box.minY() - toPoints(logical.y) + (box.size.height - height) / 2.0;

    // Whole device pixels for the origin: the hinted outlines are then sharp at every scale.
    cairo_user_to_device(cr, &x, &y);
    x = std::round(x);
    y = std::round(y);
    cairo_device_to_user(cr, &x, &y);

    cairo_set_source_rgba(cr, style.color.red, style.color.green, style.color.blue, style.color.alpha);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout.get());
}

Size measureText(std::string_view utf8, const TextStyle& style) {
    if (utf8.empty() || !(style.pointSize > 0.0f)) {
        return Size{};
    }
    // The default font map belongs to Pango (one per thread); only the context is ours.
    PangoFontMap* fontMap = pango_cairo_font_map_get_default();
    GObjectPtr<PangoContext> context(pango_font_map_create_context(fontMap));
    configureContext(context.get());
    const GObjectPtr<PangoLayout> layout = makeLayout(context.get(), utf8, style);
    const PangoRectangle logical = logicalExtents(layout.get());
    return Size{static_cast<float>(toPoints(logical.width)), static_cast<float>(toPoints(logical.height))};
}

} // namespace platform

// Pango keeps one font map per thread for the life of the thread, and through it fontconfig's
// patterns and font sets; for the main thread that is until exit, after the leak checker has
// looked. Those caches are not leaks, so a build with the leak checker is told to pass over
// allocations made inside fontconfig. Living here, the note comes with every program that draws text.
extern "C" [[gnu::used]] const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
// Without this, every passing run would end with a table of the suppressed caches.
extern "C" [[gnu::used]] const char* __lsan_default_options() {
    return "print_suppressions=0";
}
