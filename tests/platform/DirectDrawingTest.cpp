// The drawing done without Cairo's general paths (strokes rasterised into a coverage mask, coverage
// painted and turned pictures composed straight into a surface's pixels) must look like Cairo's,
// and pixman's copies and blends must give the pixels our own loops give.
#include "platform/gfx/Blend.h"
#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/GraphicsContext.h"
#include "tests/support/Pixels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <numeric>
#include <optional>
#include <random>
#include <vector>

namespace {

using platform::CairoSurfacePtr;
using platform::DevicePoint;
using testing_support::differenceOf;

constexpr int kWidth = 80;
constexpr int kHeight = 64;

// Strokes `points` in a translucent ink, round joins and caps, width 2 points: through a picture
// (which keeps it as coverage and paints that), or through Cairo's own stroker.
CairoSurfacePtr stroke(const std::vector<DevicePoint>& points, int scale, bool throughPicture) {
    if (throughPicture) {
        return testing_support::composedPicture(
            kWidth * scale, kHeight * scale, scale, [&](platform::GraphicsContext& context) {
                context.setRGBStrokeColor(0.0, 0.2, 0.9, 0.7);
                context.setLineJoin(platform::LineJoin::Round);
                context.setLineCap(platform::LineCap::Round);
                context.setLineWidth(2.0f);
                for (const DevicePoint& p : points) {
                    context.addLineToPoint(static_cast<float>(p.x), static_cast<float>(p.y));
                }
                context.strokePath();
            });
    }
    CairoSurfacePtr surface = platform::makeImageSurface(kWidth * scale, kHeight * scale);
    platform::CairoContextPtr cr = platform::makeContext(surface.get());
    cairo_scale(cr.get(), scale, scale);
    testing_support::cairoTrace(cr.get(), points);
    return surface;
}

std::vector<DevicePoint> zigzag() {
    std::vector<DevicePoint> points;
    for (int i = 0; i < 40; ++i) {
        points.push_back({40.0 + 36.0 * std::sin(i * 2.4), 62.0 - i * 1.5});
    }
    return points;
}

// Edges may round differently (coverage is taken from the distance to the line, not from the
// covered area): a line on its own is nowhere off by more than a few levels. Where two lines pass
// within a pixel of each other the nearer one decides, so a gap between them is lighter; there
// only a share of the pixels may be off by more. Nothing may appear or vanish.
TEST(DirectStrokeTest, LooksLikeCairosStroke) {
    const struct {
        const char* name;
        int scale;
        std::vector<DevicePoint> points; // in points
        double offShare;                 // allowed share of inked pixels off by more than 16 levels
    } cases[] = {
        {"level", 1, {{3, 20}, {70, 20.4}}, 0.0},
        {"steep", 2, {{30, 2}, {34, 60}}, 0.0},
        {"diagonal", 1, {{2, 2}, {60, 50}}, 0.0},
        {"dot", 3, {{30, 30}, {30, 30}}, 0.0},
        {"sharp turns", 2, {{5, 5}, {75, 8}, {6, 12}, {74, 14}}, 0.02},
        {"zigzag at 1x", 1, zigzag(), 0.1},
        {"zigzag at 3x", 3, zigzag(), 0.02},
        {"leaving the surface", 2, {{-50, 10}, {200, 40}}, 0.0},
        {"a lone move", 1, {{10, 10}}, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto d =
            differenceOf(stroke(c.points, c.scale, false).get(), stroke(c.points, c.scale, true).get(), 16);
        const double inked = std::max(1.0, static_cast<double>(d.inked));
        EXPECT_LE(d.off / inked, c.offShare) << "largest difference " << d.largest;
        EXPECT_LE(d.total / (4.0 * inked), 3.0);
        EXPECT_EQ(d.stray, 0);
    }
}

// A stroke kept as coverage is painted in before anything drawn after it, which lands on top.
TEST(DirectStrokeTest, DrawingAfterAStrokeLandsOnTopOfIt) {
    const CairoSurfacePtr surface =
        testing_support::composedPicture(kWidth, kHeight, 1, [](platform::GraphicsContext& context) {
            context.setLineJoin(platform::LineJoin::Round);
            context.setLineCap(platform::LineCap::Round);
            context.setLineWidth(6.0f);
            context.setRGBStrokeColor(1, 0, 0, 1);
            context.moveToPoint(10, 30);
            context.addLineToPoint(70, 30);
            context.strokePath();
            cairo_set_source_rgba(context.cairo(), 0, 1, 0, 0.5);
            cairo_rectangle(context.cairo(), 30, 20, 20, 20);
            cairo_fill(context.cairo());
        });
    const testing_support::Rgba over = testing_support::pixelAt(surface.get(), 40, 30);
    EXPECT_TRUE(std::abs(over.r - 128) <= 2 && std::abs(over.g - 128) <= 2)
        << "half green over red: " << over;
    EXPECT_EQ(testing_support::wordAt(surface.get(), 20, 30), 0xffff0000u) << "the stroke outside the fill";
}

// A surface of random premultiplied pixels, the same for the same seed; an A8 one has clear
// stretches, full stretches and everything between, as a stroke has.
CairoSurfacePtr noise(int width, int height, cairo_format_t format, unsigned seed) {
    std::mt19937 random(seed);
    return testing_support::surfaceOfWords(format, width, height, [&](int, int) -> std::uint32_t {
        if (format == CAIRO_FORMAT_A8) {
            const unsigned r = random() % 4;
            return r == 0 ? 0 : r == 1 ? 255 : random() % 256;
        }
        const std::uint32_t alpha = random() % 256;
        const auto channel = [&] {
            return alpha == 0 ? 0u : static_cast<std::uint32_t>(random() % (alpha + 1));
        };
        return alpha << 24 | channel() << 16 | channel() << 8 | channel();
    });
}

cairo_matrix_t turned(double angle, double scale, double x, double y) {
    cairo_matrix_t m;
    cairo_matrix_init_translate(&m, x, y);
    cairo_matrix_rotate(&m, angle);
    cairo_matrix_scale(&m, scale, scale);
    return m;
}

// Our own loops against Cairo, over the same noise and inside the same clip: an ink painted
// through a coverage mask (placed so that the clip cuts into it), and a picture turned and scaled with the
// bilinear filter.
TEST(BlendTest, PaintingThroughAMaskAndTurnedPicturesMatchCairo) {
    const CairoSurfacePtr mask = noise(50, 30, CAIRO_FORMAT_A8, 1);
    const CairoSurfacePtr picture = noise(24, 40, CAIRO_FORMAT_ARGB32, 3);
    const platform::Color ink{0.0, 0.2, 0.9, 0.7};
    const cairo_rectangle_int_t area{4, 2, kWidth - 10, kHeight - 6};
    const struct {
        const char* name;
        std::optional<cairo_matrix_t> turn; // none: the ink through the mask
        int largest;                        // the largest difference of a channel allowed
    } cases[] = {{"through a mask", std::nullopt, 1},
                 {"turned and halved", turned(0.7, 0.5, 40.0, 20.0), 3},
                 {"upside down and doubled", turned(3.0, 2.0, 60.0, 60.0), 3},
                 {"mostly off the surface", turned(0.2, 1.0, -20.0, 50.0), 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CairoSurfacePtr expected = noise(kWidth, kHeight, CAIRO_FORMAT_ARGB32, 4);
        const CairoSurfacePtr actual = noise(kWidth, kHeight, CAIRO_FORMAT_ARGB32, 4);
        {
            platform::CairoContextPtr cr = platform::makeContext(expected.get());
            cairo_rectangle(cr.get(), area.x, area.y, area.width, area.height);
            cairo_clip(cr.get());
            if (c.turn) {
                cairo_set_matrix(cr.get(), &*c.turn);
                cairo_set_source_surface(cr.get(), picture.get(), 0, 0);
                cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_BILINEAR);
                cairo_paint(cr.get());
            } else {
                cairo_set_source_rgba(cr.get(), ink.red, ink.green, ink.blue, ink.alpha);
                cairo_mask_surface(cr.get(), mask.get(), -3, -5);
            }
        }
        if (c.turn) {
            ASSERT_TRUE(platform::composeTransformed(
                platform::imageBits(actual.get()), platform::imageBits(picture.get()), false, *c.turn, area));
        } else {
            platform::paintThroughMask(platform::imageBits(actual.get()), platform::imageBits(mask.get()), -3,
                                       -5, area, ink);
        }
        cairo_surface_mark_dirty(actual.get());
        EXPECT_LE(differenceOf(expected.get(), actual.get(), 0).largest, c.largest);
    }
}

// `picture` moved by an odd amount onto a larger page of noise, in two parts, through our loops
// reading rows by `sources` (each row itself when empty) and through pixman.
void expectLoopsMatchPixman(cairo_surface_t* picture, std::vector<std::uint32_t> sources) {
    const int width = cairo_image_surface_get_width(picture);
    const int height = cairo_image_surface_get_height(picture);
    if (sources.empty()) {
        sources.resize(static_cast<std::size_t>(height));
        std::iota(sources.begin(), sources.end(), 0u);
    }
    const CairoSurfacePtr ours = noise(width + 40, height + 40, CAIRO_FORMAT_ARGB32, 7);
    const CairoSurfacePtr pixmans = noise(width + 40, height + 40, CAIRO_FORMAT_ARGB32, 7);
    const cairo_rectangle_int_t areas[] = {{0, 0, width + 40, 20}, {5, 20, width + 20, height - 10}};
    platform::composeShifted(ours.get(), picture, 13, -7, areas, sources);
    platform::composeShifted(pixmans.get(), picture, 13, -7, areas);
    EXPECT_TRUE(testing_support::samePixels(pixmans.get(), ours.get()));
}

// A picture whose rows repeat is read once per distinct row, through our own loops; every other
// picture moved by whole pixels is copied or blended by pixman. Both must give the same pixels.
TEST(RepeatedRowsTest, FindsTheRowsThatRepeatAndComposesAsPixmanDoes) {
    const auto paper = [](int y) { return y % 10 == 0 ? 0xffc04020u : 0xfff8f0e0u; };
    const auto fewRepeats = [](int y) { return std::uint32_t(y % 8 == 0 ? 0 : y); };
    const struct {
        const char* name;
        int size;
        std::function<std::uint32_t(int)> rowWord;
        std::function<std::uint32_t(int)> lastWord;
        bool table; // a table is kept
    } cases[] = {
        {"ruled paper", 300, paper, paper, true},
        {"too small to look", 100, paper, paper, false},
        {"rows that differ only in their last pixel", 300, paper, [](int y) { return std::uint32_t(y); },
         false},
        {"few repeats", 300, fewRepeats, fewRepeats, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CairoSurfacePtr picture =
            testing_support::surfaceOfWords(CAIRO_FORMAT_RGB24, c.size, c.size, [&](int x, int y) {
                return x == c.size - 1 ? c.lastWord(y) : c.rowWord(y);
            });
        const platform::ImageBits bits = platform::imageBits(picture.get());
        const std::vector<std::uint32_t> sources = platform::repeatedRows(bits);
        ASSERT_EQ(!sources.empty(), c.table);
        for (std::size_t y = 0; y < sources.size(); ++y) {
            const auto row = [&](std::size_t r) { return bits.data + r * bits.stride; };
            ASSERT_TRUE(sources[y] <= y && std::memcmp(row(y), row(sources[y]), c.size * 4u) == 0)
                << "row " << y << " read as row " << sources[y];
        }
        expectLoopsMatchPixman(picture.get(), sources);
    }
    // Every kind of premultiplied pixel, copied and blended.
    for (const cairo_format_t format : {CAIRO_FORMAT_RGB24, CAIRO_FORMAT_ARGB32}) {
        SCOPED_TRACE(format == CAIRO_FORMAT_RGB24 ? "noise, copied" : "noise, blended");
        expectLoopsMatchPixman(noise(120, 90, format, 8).get(), {});
    }
}

} // namespace
