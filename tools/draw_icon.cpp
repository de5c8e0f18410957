// Draws the application icon: a rounded square of chart paper under the recorder
// housing, a pen hanging from it at a slight swing, and the blue ink trace it has
// written so far. The same drawing gives the bitmaps for the desktop's fixed icon
// sizes and a scalable SVG.
//
// Usage: draw_icon <output-folder>
// Writes trembit-48.png, trembit-64.png, trembit-128.png, trembit-256.png and
// trembit.svg.
//
// The output is deterministic: no clocks, no randomness, no fonts.

#include <algorithm>
#include <array>
#include <cairo-svg.h>
#include "platform/gfx/CairoPtr.h"

#include <cairo.h>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace {

// The project's one home of Cairo handles; only its header is used here.
using Surface = platform::CairoSurfacePtr;
using Context = platform::CairoContextPtr;
using Pattern = platform::CairoPatternPtr;

constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};

constexpr Rgb mix(Rgb a, Rgb b, double amount) {
    return {a.r + (b.r - a.r) * amount, a.g + (b.g - a.g) * amount, a.b + (b.b - a.b) * amount};
}

void set_rgb(cairo_t* cr, Rgb c, double alpha = 1.0) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

void add_stop(cairo_pattern_t* p, double offset, Rgb c, double alpha = 1.0) {
    cairo_pattern_add_color_stop_rgba(p, offset, c.r, c.g, c.b, alpha);
}

void rounded_rect(cairo_t* cr, double x, double y, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -kPi / 2.0, 0.0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0.0, kPi / 2.0);
    cairo_arc(cr, x + r, y + h - r, r, kPi / 2.0, kPi);
    cairo_arc(cr, x + r, y + r, r, kPi, 1.5 * kPi);
    cairo_close_path(cr);
}

// The same colours as the recorder's own artwork, so the icon reads as the program.
constexpr Rgb kPaper{0xf7 / 255.0, 0xf1 / 255.0, 0xe1 / 255.0};
constexpr Rgb kGridInk{0.80, 0.30, 0.16};
constexpr Rgb kInk{0.0, 0.2, 0.9};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{1, 1, 1};

// Everything is laid out on a 256-unit square and scaled to the output size.
constexpr double kDesign = 256.0;
constexpr double kTileX = 14.0;
constexpr double kTileY = 10.0;
constexpr double kTileSize = 228.0;
constexpr double kTileRadius = 38.0;
constexpr double kHousingH = 40.0;

// The pen swings about a pivot above the tile, as the recorder's needle does.
constexpr double kPivotX = 128.0;
constexpr double kPivotY = -40.0;
constexpr double kSwing = 11.0 * kPi / 180.0;
constexpr double kPenLength = 156.0; // pivot to tip
constexpr double kHeadTop = 80.0;
constexpr double kHeadBottom = 130.0;
constexpr double kHeadW = 36.0;
constexpr double kArmW = 11.0;

struct Point {
    double x, y;
};

Point pen_tip() {
    return {kPivotX - kPenLength * std::sin(kSwing), kPivotY + kPenLength * std::cos(kSwing)};
}

// How a drawing lines up with the output: bitmaps snap thin rulings to whole
// pixels and keep them at least one pixel wide; the scalable drawing does not.
struct Target {
    double scale;  // device pixels per design unit
    bool bitmap;

    double snap(double v) const { return bitmap ? std::round(v * scale) / scale : v; }
    // A line width in design units that is at least `min_px` device pixels.
    double width(double units, double min_px) const {
        return bitmap ? std::max(units, min_px / scale) : units;
    }
};

void draw_grid(cairo_t* cr, const Target& t) {
    const double left = kTileX;
    const double top = kTileY;
    const double bottom = kTileY + kTileSize;
    constexpr int kBoldColumns = 6;
    constexpr int kFinePerBold = 4;
    // Below 128 px the fine rulings would be closer than four pixels apart and
    // turn the paper into a muddy tint; the bold ones alone still read as chart paper.
    const bool fine = !t.bitmap || t.scale * kDesign >= 128.0;

    auto rulings = [&](int per_bold, bool skip_bold, double width) {
        const int count = kBoldColumns * per_bold;
        const double step = kTileSize / count;
        for (int i = 1; i < count; ++i) {
            if (skip_bold && i % per_bold == 0) {
                continue;
            }
            const double x = t.snap(left + i * step);
            const double y = t.snap(top + i * step);
            cairo_rectangle(cr, x - width / 2.0, top, width, kTileSize);
            cairo_rectangle(cr, left, y - width / 2.0, kTileSize, width);
        }
    };
    if (fine) {
        rulings(kFinePerBold, true, t.width(1.0, 1.0));
        set_rgb(cr, mix(kPaper, kGridInk, 0.30));
        cairo_fill(cr);
    }
    rulings(1, false, t.width(2.5, 1.0));
    set_rgb(cr, mix(kPaper, kGridInk, fine ? 0.55 : 0.45));
    cairo_fill(cr);

    // The zero line the trace swings about.
    const double zero_w = t.width(4.0, 1.0);
    cairo_rectangle(cr, t.snap(128.0) - zero_w / 2.0, top, zero_w, bottom - top);
    set_rgb(cr, mix(kPaper, kGridInk, 0.62));
    cairo_fill(cr);
}

// The ink written so far, newest at the pen, older further down the page: a
// burst of vibration dying away, then a quiet stretch with a small earlier tap.
// The rows are far enough apart to stay separate strokes at 48 px.
void trace_path(cairo_t* cr) {
    const Point tip = pen_tip();
    struct Row {
        double advance;    // down the page from the row before
        double deflection; // from the zero line
    };
    constexpr std::array<Row, 12> kRows = {{
        {14.0, 62.0},
        {15.0, -72.0},
        {15.0, 66.0},
        {15.0, -50.0},
        {14.0, 32.0},
        {12.0, -15.0},
        {10.0, 5.0},
        {8.0, 0.0},
        {14.0, 0.0},
        {6.0, 20.0},
        {6.0, -12.0},
        {6.0, 0.0},
    }};
    double y = tip.y;
    cairo_move_to(cr, tip.x, tip.y);
    for (const Row& row : kRows) {
        y += row.advance;
        cairo_line_to(cr, 128.0 + row.deflection, y);
    }
    cairo_line_to(cr, 128.0, kTileY + kTileSize + 10.0);
}

void draw_trace(cairo_t* cr, const Target& t) {
    cairo_save(cr);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    trace_path(cr);
    set_rgb(cr, kInk, 0.92);
    cairo_set_line_width(cr, t.width(6.5, 1.7));
    cairo_stroke(cr);
    cairo_restore(cr);
}

// In pen coordinates: the origin at the pivot, +y along the arm to the tip.
void pen_arm_path(cairo_t* cr) { cairo_rectangle(cr, -kArmW / 2.0, 0.0, kArmW, kHeadTop + 4.0); }
void pen_head_path(cairo_t* cr) { rounded_rect(cr, -kHeadW / 2.0, kHeadTop, kHeadW, kHeadBottom - kHeadTop, 9.0); }
void pen_tip_path(cairo_t* cr) {
    cairo_move_to(cr, -11.0, kHeadBottom - 4.0);
    cairo_line_to(cr, 11.0, kHeadBottom - 4.0);
    cairo_curve_to(cr, 10.0, kHeadBottom + 8.0, 3.0, kPenLength - 10.0, 1.2, kPenLength);
    cairo_line_to(cr, -1.2, kPenLength);
    cairo_curve_to(cr, -3.0, kPenLength - 10.0, -10.0, kHeadBottom + 8.0, -11.0, kHeadBottom - 4.0);
    cairo_close_path(cr);
}

// Metal shaded across a part: a dark rim, light caught a little left of centre.
Pattern metal_across(double width, Rgb dark, Rgb light) {
    Pattern p(cairo_pattern_create_linear(-width / 2.0, 0.0, width / 2.0, 0.0));
    add_stop(p.get(), 0.00, mix(dark, kBlack, 0.35));
    add_stop(p.get(), 0.20, mix(dark, light, 0.60));
    add_stop(p.get(), 0.38, light);
    add_stop(p.get(), 0.60, mix(dark, light, 0.40));
    add_stop(p.get(), 1.00, mix(dark, kBlack, 0.40));
    return p;
}

void draw_pen(cairo_t* cr, const Target& t) {
    const Rgb outline{0.06, 0.07, 0.08};
    cairo_save(cr);
    cairo_translate(cr, kPivotX, kPivotY);
    cairo_rotate(cr, kSwing);

    // Shadow cast onto the paper below and to the right.
    cairo_save(cr);
    cairo_translate(cr, 6.0, 4.0);
    pen_arm_path(cr);
    pen_head_path(cr);
    pen_tip_path(cr);
    set_rgb(cr, {0.25, 0.15, 0.05}, 0.28);
    cairo_fill(cr);
    cairo_restore(cr);

    const double outline_w = t.width(2.0, 0.75);

    Pattern arm = metal_across(kArmW, {0.22, 0.24, 0.27}, {0.88, 0.90, 0.93});
    pen_arm_path(cr);
    cairo_set_source(cr, arm.get());
    cairo_fill(cr);

    Pattern tip = metal_across(22.0, {0.36, 0.37, 0.40}, {0.95, 0.95, 0.96});
    pen_tip_path(cr);
    cairo_set_source(cr, tip.get());
    cairo_fill_preserve(cr);
    set_rgb(cr, outline, 0.7);
    cairo_set_line_width(cr, outline_w);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);

    Pattern body = metal_across(kHeadW, {0.13, 0.14, 0.16}, {0.55, 0.58, 0.63});
    pen_head_path(cr);
    cairo_set_source(cr, body.get());
    cairo_fill_preserve(cr);
    set_rgb(cr, outline, 0.9);
    cairo_set_line_width(cr, outline_w);
    cairo_stroke(cr);

    // The ink window: at small sizes it is what tells a pen from a plain bar.
    const double win_w = 12.0;
    const double win_top = kHeadTop + 8.0;
    const double win_h = kHeadBottom - kHeadTop - 16.0;
    Pattern ink(cairo_pattern_create_linear(-win_w / 2.0, 0.0, win_w / 2.0, 0.0));
    add_stop(ink.get(), 0.0, mix(kInk, kBlack, 0.40));
    add_stop(ink.get(), 0.35, mix(kInk, kWhite, 0.35));
    add_stop(ink.get(), 1.0, mix(kInk, kBlack, 0.30));
    rounded_rect(cr, -win_w / 2.0, win_top, win_w, win_h, win_w / 2.0);
    cairo_set_source(cr, ink.get());
    cairo_fill(cr);

    // Gloss down the lit side of the housing.
    Pattern gloss(cairo_pattern_create_linear(0.0, kHeadTop, 0.0, kHeadBottom));
    add_stop(gloss.get(), 0.0, kWhite, 0.65);
    add_stop(gloss.get(), 1.0, kWhite, 0.05);
    rounded_rect(cr, -kHeadW / 2.0 + 4.0, kHeadTop + 5.0, 4.0, kHeadBottom - kHeadTop - 12.0, 2.0);
    cairo_set_source(cr, gloss.get());
    cairo_fill(cr);

    cairo_restore(cr);
}

void draw_housing(cairo_t* cr, const Target& t) {
    const double bottom = t.snap(kTileY + kHousingH);
    // Soft shadow the housing casts onto the paper.
    Pattern shade(cairo_pattern_create_linear(0.0, bottom, 0.0, bottom + 22.0));
    add_stop(shade.get(), 0.0, kBlack, 0.30);
    add_stop(shade.get(), 0.4, kBlack, 0.10);
    add_stop(shade.get(), 1.0, kBlack, 0.0);
    cairo_rectangle(cr, kTileX, bottom, kTileSize, 22.0);
    cairo_set_source(cr, shade.get());
    cairo_fill(cr);

    Pattern body(cairo_pattern_create_linear(0.0, kTileY, 0.0, bottom));
    add_stop(body.get(), 0.0, {0.42, 0.46, 0.52});
    add_stop(body.get(), 0.55, {0.24, 0.27, 0.31});
    add_stop(body.get(), 1.0, {0.13, 0.15, 0.18});
    cairo_rectangle(cr, kTileX, kTileY, kTileSize, bottom - kTileY);
    cairo_set_source(cr, body.get());
    cairo_fill(cr);

    // The slot the pen arm comes out of, centred where the swung arm crosses it.
    const double slot_w = 30.0;
    const double slot_y = bottom - 9.0;
    const double arm_x = kPivotX - (slot_y - kPivotY) * std::tan(kSwing);
    rounded_rect(cr, arm_x - slot_w / 2.0, slot_y - 4.0, slot_w, 8.0, 4.0);
    set_rgb(cr, kBlack, 0.55);
    cairo_fill(cr);
}

void draw_icon(cairo_t* cr, const Target& t) {
    cairo_scale(cr, t.scale, t.scale);

    // A shadow under the tile lifts it off light backgrounds.
    for (int i = 3; i >= 1; --i) {
        rounded_rect(cr, kTileX - i * 0.7, kTileY + 2.0 + i * 1.2, kTileSize + i * 1.4, kTileSize, kTileRadius + i);
        set_rgb(cr, kBlack, 0.07);
        cairo_fill(cr);
    }

    cairo_save(cr);
    rounded_rect(cr, kTileX, kTileY, kTileSize, kTileSize, kTileRadius);
    cairo_clip(cr);

    set_rgb(cr, kPaper);
    cairo_paint(cr);
    draw_grid(cr, t);
    draw_trace(cr, t);
    draw_housing(cr, t);
    draw_pen(cr, t);

    // The paper curls away from the light at the sides, as on the recorder page.
    Pattern curl(cairo_pattern_create_linear(kTileX, 0.0, kTileX + kTileSize, 0.0));
    add_stop(curl.get(), 0.00, kBlack, 0.16);
    add_stop(curl.get(), 0.08, kBlack, 0.0);
    add_stop(curl.get(), 0.92, kBlack, 0.0);
    add_stop(curl.get(), 1.00, kBlack, 0.16);
    cairo_rectangle(cr, kTileX, kTileY + kHousingH, kTileSize, kTileSize - kHousingH);
    cairo_set_source(cr, curl.get());
    cairo_fill(cr);
    cairo_restore(cr);

    // A crisp rim so the tile holds its shape on any background.
    const double rim = t.width(3.0, 1.0);
    rounded_rect(cr, kTileX + rim / 2.0, kTileY + rim / 2.0, kTileSize - rim, kTileSize - rim, kTileRadius - rim / 2.0);
    set_rgb(cr, {0.30, 0.22, 0.14}, 0.55);
    cairo_set_line_width(cr, rim);
    cairo_stroke(cr);
}

bool check(cairo_surface_t* surface, const std::filesystem::path& path) {
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "draw_icon: cannot render %s: %s\n", path.c_str(),
                     cairo_status_to_string(cairo_surface_status(surface)));
        return false;
    }
    return true;
}

bool write_png(int size, const std::filesystem::path& path) {
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size));
    {
        Context cr(cairo_create(surface.get()));
        draw_icon(cr.get(), Target{size / kDesign, true});
    }
    cairo_surface_flush(surface.get());
    if (!check(surface.get(), path)) {
        return false;
    }
    const cairo_status_t st = cairo_surface_write_to_png(surface.get(), path.c_str());
    if (st != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "draw_icon: cannot write %s: %s\n", path.c_str(), cairo_status_to_string(st));
        return false;
    }
    return true;
}

bool write_svg(const std::filesystem::path& path) {
    Surface surface(cairo_svg_surface_create(path.c_str(), kDesign, kDesign));
    cairo_svg_surface_restrict_to_version(surface.get(), CAIRO_SVG_VERSION_1_1);
    // Plain pixel units, so the document says 256 by 256 rather than points.
    cairo_svg_surface_set_document_unit(surface.get(), CAIRO_SVG_UNIT_PX);
    {
        Context cr(cairo_create(surface.get()));
        draw_icon(cr.get(), Target{1.0, false});
    }
    cairo_surface_finish(surface.get());
    return check(surface.get(), path);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output-folder>\n", argc > 0 ? argv[0] : "draw_icon");
        return 2;
    }
    const std::filesystem::path out(argv[1]);
    std::error_code ec;
    std::filesystem::create_directories(out, ec);
    if (ec) {
        std::fprintf(stderr, "draw_icon: cannot create %s: %s\n", out.c_str(), ec.message().c_str());
        return 1;
    }
    bool ok = true;
    for (const int size : {48, 64, 128, 256}) {
        ok = write_png(size, out / ("trembit-" + std::to_string(size) + ".png")) && ok;
    }
    ok = write_svg(out / "trembit.svg") && ok;
    return ok ? 0 : 1;
}
