// Draws the recorder's bitmap artwork: the chart paper, the pen needle and the
// housing shadow. Everything is drawn in points and rendered at three times the
// point size so the images stay sharp on dense displays. Copies for one and two
// pixels per point are written beside each (paperbig@1x.png, paperbig@2x.png),
// scaled down here once so the program does not have to at every start.
//
// Usage: draw_artwork <output-folder>
//
// The output is deterministic: no clocks, no randomness, no fonts.

#include <algorithm>
#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/PngPtr.h"

#include <cairo.h>
#include <png.h>

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

// The project's one home of Cairo handles; only its header is used here.
using Surface = platform::CairoSurfacePtr;
using Context = platform::CairoContextPtr;
using Pattern = platform::CairoPatternPtr;

constexpr double kScale = 3.0;

struct Rgb {
    double r, g, b;
};

// Ink on paper does not darken where two lines of the same ink cross, so grid
// colours are pre-mixed with the paper tone and painted opaque.
constexpr Rgb mix(Rgb paper, Rgb ink, double amount) {
    return {paper.r + (ink.r - paper.r) * amount, paper.g + (ink.g - paper.g) * amount,
            paper.b + (ink.b - paper.b) * amount};
}

Surface make_surface(cairo_format_t format, double width_pt, double height_pt) {
    return Surface(cairo_image_surface_create(format, static_cast<int>(width_pt * kScale),
                                              static_cast<int>(height_pt * kScale)));
}

Context make_context(cairo_surface_t* surface) {
    Context cr(cairo_create(surface));
    cairo_scale(cr.get(), kScale, kScale);
    return cr;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// One row of a Cairo image as PNG bytes: RGB for RGB24, straight-alpha RGBA for ARGB32, with
// the same rounding as Cairo's own PNG writer, so the program loads back exactly these pixels.
void png_row(const std::uint32_t* pixels, int width, bool alpha, std::vector<png_byte>& out) {
    out.clear();
    for (int x = 0; x < width; ++x) {
        const std::uint32_t p = pixels[x];
        const unsigned a = alpha ? p >> 24 : 0xffu;
        unsigned r = (p >> 16) & 0xffu;
        unsigned g = (p >> 8) & 0xffu;
        unsigned b = p & 0xffu;
        if (alpha && a != 0xffu) {
            r = a == 0 ? 0 : (r * 255 + a / 2) / a;
            g = a == 0 ? 0 : (g * 255 + a / 2) / a;
            b = a == 0 ? 0 : (b * 255 + a / 2) / a;
        }
        out.push_back(static_cast<png_byte>(r));
        out.push_back(static_cast<png_byte>(g));
        out.push_back(static_cast<png_byte>(b));
        if (alpha) {
            out.push_back(static_cast<png_byte>(a));
        }
    }
}

// Written unfiltered at the strongest compression: the artwork is flat colour and straight
// rulings, which deflate finds on its own, and rows without filters decode about three times
// as fast as with the filters libpng would pick. Decoding is most of the program's start.
bool write_png(cairo_surface_t* surface, const std::filesystem::path& path) {
    cairo_surface_flush(surface);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "draw_artwork: cannot render %s\n", path.c_str());
        return false;
    }
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    platform::PngWriteStructs writer;
    if (!file || writer.info() == nullptr) {
        std::fprintf(stderr, "draw_artwork: cannot write %s\n", path.c_str());
        return false;
    }
    const bool alpha = cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32;
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    std::vector<png_byte> row;
    if (setjmp(png_jmpbuf(writer.png())) != 0) {
        std::fprintf(stderr, "draw_artwork: cannot write %s\n", path.c_str());
        return false;
    }
    png_init_io(writer.png(), file.get());
    png_set_filter(writer.png(), PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(writer.png(), 9);
    png_set_IHDR(writer.png(), writer.info(), static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(writer.png(), writer.info());
    for (int y = 0; y < height; ++y) {
        png_row(reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride), width, alpha,
                row);
        png_write_row(writer.png(), row.data());
    }
    png_write_end(writer.png(), writer.info());
    return true;
}

void add_stop(cairo_pattern_t* p, double offset, Rgb c, double alpha = 1.0) {
    cairo_pattern_add_color_stop_rgba(p, offset, c.r, c.g, c.b, alpha);
}

void rounded_rect(cairo_t* cr, double x, double y, double w, double h, double r) {
    constexpr double kQuarter = 1.5707963267948966;
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -kQuarter, 0.0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0.0, kQuarter);
    cairo_arc(cr, x + r, y + h - r, r, kQuarter, 2.0 * kQuarter);
    cairo_arc(cr, x + r, y + r, r, 2.0 * kQuarter, 3.0 * kQuarter);
    cairo_close_path(cr);
}

// ---------------------------------------------------------------------------
// Chart paper

constexpr double kPaperW = 320.0;
constexpr double kPaperH = 860.0;

// When a ring of samples wraps, the page jumps back by this distance; the
// horizontal rulings must repeat with a period that divides it exactly or the
// jump becomes visible.
constexpr double kWrapJump = (199.0 / 200.0) * 291.0;
constexpr int kFinePerWrap = 60;
constexpr int kFinePerBold = 5;

constexpr double kFineW = 1.0 / 3.0; // one device pixel at 3x
constexpr double kBoldW = 1.0;       // one pixel at 1x, two at 2x, three at 3x
constexpr double kCentreW = 2.0;     // same width as the pen trace it sits under
constexpr double kFineStepX = 16.0;
constexpr int kColumns = static_cast<int>(kPaperW / kFineStepX);

constexpr Rgb kPaper{0xf7 / 255.0, 0xf1 / 255.0, 0xe1 / 255.0};
constexpr Rgb kGridInk{0.80, 0.30, 0.16};

// A vertical ruling at grid position x. Rulings left of the centre line grow
// rightwards from x and those right of it grow leftwards, so the sheet is
// mirror-symmetric about the zero line, the outer rulings stay inside the
// sheet, and each ruling starts on a whole point: it lands on whole device
// pixels at 1x, 2x and 3x instead of smearing across two.
void add_vertical_ruling(cairo_t* cr, double x, double width) {
    const double left = x < kPaperW / 2.0 ? x : x - width;
    cairo_rectangle(cr, left, 0.0, width, kPaperH);
}

void add_horizontal_ruling(cairo_t* cr, double y, double width) {
    cairo_rectangle(cr, 0.0, y - width / 2.0, kPaperW, width);
}

Surface draw_paper() {
    Surface surface = make_surface(CAIRO_FORMAT_RGB24, kPaperW, kPaperH);
    Context ctx = make_context(surface.get());
    cairo_t* cr = ctx.get();

    cairo_set_source_rgb(cr, kPaper.r, kPaper.g, kPaper.b);
    cairo_paint(cr);

    // Each weight is one fill of the union of its rulings, so crossings of the
    // same weight are not painted twice.
    const double fine_step_y = kWrapJump / kFinePerWrap;
    const int rows = static_cast<int>(kPaperH / fine_step_y) + 1;

    for (int col = 0; col <= kColumns; ++col) {
        if (col % kFinePerBold != 0) {
            add_vertical_ruling(cr, col * kFineStepX, kFineW);
        }
    }
    for (int row = 0; row <= rows; ++row) {
        if (row % kFinePerBold != 0) {
            // Multiplied, not accumulated, so rounding cannot drift the rulings
            // away from the wrap period further down the sheet.
            add_horizontal_ruling(cr, row * fine_step_y, kFineW);
        }
    }
    const Rgb fine = mix(kPaper, kGridInk, 0.48);
    cairo_set_source_rgb(cr, fine.r, fine.g, fine.b);
    cairo_fill(cr);

    for (int col = 0; col <= kColumns; col += kFinePerBold) {
        if (col * kFineStepX != kPaperW / 2.0) {
            add_vertical_ruling(cr, col * kFineStepX, kBoldW);
        }
    }
    for (int row = 0; row <= rows; row += kFinePerBold) {
        add_horizontal_ruling(cr, row * fine_step_y, kBoldW);
    }
    const Rgb bold = mix(kPaper, kGridInk, 0.56);
    cairo_set_source_rgb(cr, bold.r, bold.g, bold.b);
    cairo_fill(cr);

    // The zero line is the reference the eye reads deflection from.
    cairo_rectangle(cr, kPaperW / 2.0 - kCentreW / 2.0, 0.0, kCentreW, kPaperH);
    const Rgb centre = mix(kPaper, kGridInk, 0.62);
    cairo_set_source_rgb(cr, centre.r, centre.g, centre.b);
    cairo_fill(cr);

    return surface;
}

// ---------------------------------------------------------------------------
// Pen needle

constexpr double kNeedleW = 33.0;
constexpr double kNeedleH = 248.0;
constexpr double kAxis = kNeedleW / 2.0;
constexpr double kInkY = 243.0; // where the newest trace point is drawn

constexpr double kArmW = 4.0;
constexpr double kCollarTop = 184.0;
constexpr double kCollarH = 7.0;
constexpr double kCollarW = 7.0;
constexpr double kHeadTop = 189.0;
constexpr double kHeadBottom = 229.0;
constexpr double kHeadW = 13.0;
constexpr double kHeadR = 4.0;
constexpr double kNeckW = 8.0;
constexpr double kTipShoulderY = 238.5;
constexpr double kTipShoulderW = 2.6;

constexpr Rgb kInk{0.0, 0.2, 0.9};

void needle_arm_path(cairo_t* cr) {
    cairo_rectangle(cr, kAxis - kArmW / 2.0, 0.0, kArmW, kHeadTop + 1.0);
}
void needle_collar_path(cairo_t* cr) {
    rounded_rect(cr, kAxis - kCollarW / 2.0, kCollarTop, kCollarW, kCollarH, 1.2);
}
void needle_head_path(cairo_t* cr) {
    rounded_rect(cr, kAxis - kHeadW / 2.0, kHeadTop, kHeadW, kHeadBottom - kHeadTop, kHeadR);
}
void needle_tip_path(cairo_t* cr) {
    cairo_move_to(cr, kAxis - kNeckW / 2.0, kHeadBottom - 1.0);
    cairo_line_to(cr, kAxis + kNeckW / 2.0, kHeadBottom - 1.0);
    cairo_curve_to(cr, kAxis + kNeckW / 2.0, kHeadBottom + 4.0, kAxis + kTipShoulderW / 2.0,
                   kTipShoulderY - 3.0, kAxis + kTipShoulderW / 2.0, kTipShoulderY);
    cairo_line_to(cr, kAxis + 0.45, kInkY);
    cairo_line_to(cr, kAxis - 0.45, kInkY);
    cairo_line_to(cr, kAxis - kTipShoulderW / 2.0, kTipShoulderY);
    cairo_curve_to(cr, kAxis - kTipShoulderW / 2.0, kTipShoulderY - 3.0, kAxis - kNeckW / 2.0,
                   kHeadBottom + 4.0, kAxis - kNeckW / 2.0, kHeadBottom - 1.0);
    cairo_close_path(cr);
}

// Horizontal metallic shading across a part of the given width: a dark rim,
// a bright band a little left of centre where the light catches the curve,
// and a darker right flank.
Pattern metal_across(double width, Rgb dark, Rgb light) {
    Pattern p(cairo_pattern_create_linear(kAxis - width / 2.0, 0.0, kAxis + width / 2.0, 0.0));
    add_stop(p.get(), 0.00, mix(dark, {0, 0, 0}, 0.35));
    add_stop(p.get(), 0.18, mix(dark, light, 0.55));
    add_stop(p.get(), 0.36, light);
    add_stop(p.get(), 0.55, mix(dark, light, 0.45));
    add_stop(p.get(), 0.85, dark);
    add_stop(p.get(), 1.00, mix(dark, {0, 0, 0}, 0.45));
    return p;
}

// Separable box blur, three passes, on an A8 image: close enough to a
// Gaussian for a soft shadow, and exact integer arithmetic keeps it
// reproducible.
void blur_alpha(cairo_surface_t* surface, int radius) {
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int w = cairo_image_surface_get_width(surface);
    const int h = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const int span = 2 * radius + 1;
    std::vector<int> line(static_cast<std::size_t>(std::max(w, h)));

    auto pass = [&](int count, int length, auto at) {
        for (int i = 0; i < count; ++i) {
            for (int j = 0; j < length; ++j) {
                line[static_cast<std::size_t>(j)] = at(i, j);
            }
            int sum = 0;
            for (int k = -radius; k <= radius; ++k) {
                sum += (k >= 0 && k < length) ? line[static_cast<std::size_t>(k)] : 0;
            }
            for (int j = 0; j < length; ++j) {
                at(i, j) = static_cast<unsigned char>((sum + span / 2) / span);
                const int out = j - radius;
                const int in = j + radius + 1;
                sum -= (out >= 0) ? line[static_cast<std::size_t>(out)] : 0;
                sum += (in < length) ? line[static_cast<std::size_t>(in)] : 0;
            }
        }
    };
    auto horizontal = [&](int row, int x) -> unsigned char& { return data[row * stride + x]; };
    auto vertical = [&](int col, int y) -> unsigned char& { return data[y * stride + col]; };
    for (int n = 0; n < 3; ++n) {
        pass(h, w, horizontal);
        pass(w, h, vertical);
    }
    cairo_surface_mark_dirty(surface);
}

Surface draw_needle() {
    Surface surface = make_surface(CAIRO_FORMAT_ARGB32, kNeedleW, kNeedleH);
    Context ctx = make_context(surface.get());
    cairo_t* cr = ctx.get();

    // Drop shadow: the needle's silhouette, blurred, cast down and to the right
    // onto the paper a couple of points below the pen.
    {
        Surface mask = make_surface(CAIRO_FORMAT_A8, kNeedleW, kNeedleH);
        Context mctx = make_context(mask.get());
        cairo_t* m = mctx.get();
        cairo_set_source_rgb(m, 0, 0, 0);
        needle_arm_path(m);
        needle_collar_path(m);
        needle_head_path(m);
        needle_tip_path(m);
        cairo_fill(m);
        mctx.reset();
        blur_alpha(mask.get(), 2);

        cairo_save(cr);
        cairo_identity_matrix(cr);
        cairo_set_source_rgba(cr, 0.12, 0.08, 0.02, 0.30);
        cairo_mask_surface(cr, mask.get(), 5.0, 3.0);
        cairo_restore(cr);
    }

    const Rgb steel_dark{0.20, 0.22, 0.25};
    const Rgb steel_light{0.86, 0.88, 0.91};
    const Rgb outline{0.08, 0.09, 0.10};

    // Arm.
    {
        Pattern p = metal_across(kArmW, steel_dark, steel_light);
        needle_arm_path(cr);
        cairo_set_source(cr, p.get());
        cairo_fill(cr);
    }

    // Pen tip, drawn before the head so the head's rounded base overlaps it.
    {
        Pattern p = metal_across(kNeckW, {0.35, 0.36, 0.38}, {0.93, 0.94, 0.95});
        needle_tip_path(cr);
        cairo_set_source(cr, p.get());
        cairo_fill_preserve(cr);
        cairo_set_source_rgba(cr, outline.r, outline.g, outline.b, 0.55);
        cairo_set_line_width(cr, 0.4);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_stroke(cr);

        // A bead of ink at the point, so the pen visibly writes in the trace colour.
        cairo_arc(cr, kAxis, kInkY, 1.05, 0.0, 6.283185307179586);
        cairo_set_source_rgba(cr, kInk.r, kInk.g, kInk.b, 0.9);
        cairo_fill(cr);
    }

    // Pen head: a dark enamelled housing with a window onto the ink reservoir.
    {
        Pattern body = metal_across(kHeadW, {0.14, 0.15, 0.17}, {0.52, 0.55, 0.60});
        needle_head_path(cr);
        cairo_set_source(cr, body.get());
        cairo_fill_preserve(cr);
        cairo_set_source_rgba(cr, outline.r, outline.g, outline.b, 0.85);
        cairo_set_line_width(cr, 0.5);
        cairo_stroke(cr);

        // Ink window.
        const double win_w = 3.6;
        const double win_top = kHeadTop + 7.0;
        const double win_h = kHeadBottom - kHeadTop - 14.0;
        Pattern ink(cairo_pattern_create_linear(kAxis - win_w / 2.0, 0.0, kAxis + win_w / 2.0, 0.0));
        add_stop(ink.get(), 0.0, mix(kInk, {0, 0, 0}, 0.45));
        add_stop(ink.get(), 0.35, mix(kInk, {1, 1, 1}, 0.30));
        add_stop(ink.get(), 1.0, mix(kInk, {0, 0, 0}, 0.35));
        rounded_rect(cr, kAxis - win_w / 2.0, win_top, win_w, win_h, win_w / 2.0);
        cairo_set_source(cr, ink.get());
        cairo_fill_preserve(cr);
        cairo_set_source_rgba(cr, 0, 0, 0, 0.6);
        cairo_set_line_width(cr, 0.4);
        cairo_stroke(cr);

        // Glossy streak down the lit side of the housing.
        Pattern gloss(cairo_pattern_create_linear(0.0, kHeadTop, 0.0, kHeadBottom));
        add_stop(gloss.get(), 0.0, {1, 1, 1}, 0.75);
        add_stop(gloss.get(), 0.6, {1, 1, 1}, 0.35);
        add_stop(gloss.get(), 1.0, {1, 1, 1}, 0.05);
        rounded_rect(cr, kAxis - kHeadW / 2.0 + 1.6, kHeadTop + 2.0, 1.6, kHeadBottom - kHeadTop - 5.0, 0.8);
        cairo_set_source(cr, gloss.get());
        cairo_fill(cr);

        // Bevel along the top of the housing.
        cairo_move_to(cr, kAxis - kHeadW / 2.0 + kHeadR, kHeadTop + 0.6);
        cairo_line_to(cr, kAxis + kHeadW / 2.0 - kHeadR, kHeadTop + 0.6);
        cairo_set_source_rgba(cr, 1, 1, 1, 0.35);
        cairo_set_line_width(cr, 0.5);
        cairo_stroke(cr);
    }

    // Collar clamping the head to the arm.
    {
        Pattern p = metal_across(kCollarW, {0.30, 0.32, 0.35}, {0.95, 0.96, 0.97});
        needle_collar_path(cr);
        cairo_set_source(cr, p.get());
        cairo_fill_preserve(cr);
        cairo_set_source_rgba(cr, outline.r, outline.g, outline.b, 0.7);
        cairo_set_line_width(cr, 0.4);
        cairo_stroke(cr);
    }

    return surface;
}

// ---------------------------------------------------------------------------
// Housing shadow over the page

constexpr double kPageW = 320.0;
constexpr double kPageH = 411.0;

// Shadow fading from `alpha` at (x0, y0) to nothing at (x1, y1), eased so the fade has
// no visible edge where it ends.
Pattern soft_edge(double x0, double y0, double x1, double y1, double alpha) {
    Pattern p(cairo_pattern_create_linear(x0, y0, x1, y1));
    constexpr Rgb black{0, 0, 0};
    add_stop(p.get(), 0.00, black, alpha);
    add_stop(p.get(), 0.12, black, alpha * 0.72);
    add_stop(p.get(), 0.30, black, alpha * 0.42);
    add_stop(p.get(), 0.55, black, alpha * 0.16);
    add_stop(p.get(), 0.80, black, alpha * 0.04);
    add_stop(p.get(), 1.00, black, 0.0);
    return p;
}

Surface draw_shadow() {
    Surface surface = make_surface(CAIRO_FORMAT_ARGB32, kPageW, kPageH);
    Context ctx = make_context(surface.get());
    cairo_t* cr = ctx.get();

    struct Edge {
        double x, y, w, h;     // band covered
        double x0, y0, x1, y1; // gradient from the edge inwards
        double alpha;
    };
    constexpr double kTop = 36.0;
    constexpr double kSide = 12.0;
    constexpr double kBottom = 10.0;
    const Edge edges[] = {
        // The paper disappears under the recorder housing at the top.
        {0, 0, kPageW, kTop, 0, 0, 0, kTop, 0.45},
        // The sheet curls slightly away from the light at its sides.
        {0, 0, kSide, kPageH, 0, 0, kSide, 0, 0.25},
        {kPageW - kSide, 0, kSide, kPageH, kPageW, 0, kPageW - kSide, 0, 0.25},
        {0, kPageH - kBottom, kPageW, kBottom, 0, kPageH, 0, kPageH - kBottom, 0.12},
    };
    for (const Edge& e : edges) {
        Pattern p = soft_edge(e.x0, e.y0, e.x1, e.y1, e.alpha);
        cairo_rectangle(cr, e.x, e.y, e.w, e.h);
        cairo_set_source(cr, p.get());
        cairo_fill(cr);
    }
    return surface;
}

// ---------------------------------------------------------------------------
// Copies for smaller pixel scales

// The copy of a 3x picture for `scale` pixels per point, made with the arithmetic
// an image view uses to scale a picture into its cache (a float ratio of the
// shown size to the picture's pixels, padded edges, Cairo's good filter). The
// program shows a copy as it is, so it must hold exactly what scaling at start
// would have made: the pictures are the same with or without the copies.
Surface scaled_copy(cairo_surface_t* original, float width_pt, float height_pt, int scale) {
    const int width = static_cast<int>(width_pt) * scale;
    const int height = static_cast<int>(height_pt) * scale;
    Surface copy(cairo_image_surface_create(cairo_image_surface_get_format(original), width, height));
    Context ctx(cairo_create(copy.get()));
    cairo_t* cr = ctx.get();
    cairo_scale(cr, scale, scale);
    cairo_rectangle(cr, 0.0, 0.0, width_pt, height_pt);
    cairo_clip(cr);
    cairo_scale(cr, width_pt / static_cast<float>(cairo_image_surface_get_width(original)),
                height_pt / static_cast<float>(cairo_image_surface_get_height(original)));
    cairo_set_source_surface(cr, original, 0.0, 0.0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    return copy;
}

constexpr int kCopyScales[] = {1, 2};

// Writes `name`.png and its copies `name`@1x.png and `name`@2x.png.
bool write_with_copies(cairo_surface_t* surface, double width_pt, double height_pt,
                       const std::filesystem::path& folder, const std::string& name) {
    bool ok = write_png(surface, folder / (name + ".png"));
    for (const int scale : kCopyScales) {
        Surface copy = scaled_copy(surface, static_cast<float>(width_pt), static_cast<float>(height_pt), scale);
        ok = write_png(copy.get(), folder / (name + "@" + std::to_string(scale) + "x.png")) && ok;
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output-folder>\n", argc > 0 ? argv[0] : "draw_artwork");
        return 2;
    }
    const std::filesystem::path out(argv[1]);
    std::error_code ec;
    std::filesystem::create_directories(out, ec);
    if (ec) {
        std::fprintf(stderr, "draw_artwork: cannot create %s: %s\n", out.c_str(), ec.message().c_str());
        return 1;
    }

    bool ok = true;
    ok = write_with_copies(draw_paper().get(), kPaperW, kPaperH, out, "paperbig") && ok;
    ok = write_with_copies(draw_needle().get(), kNeedleW, kNeedleH, out, "needle") && ok;
    ok = write_with_copies(draw_shadow().get(), kPageW, kPageH, out, "shadow") && ok;
    return ok ? 0 : 1;
}
