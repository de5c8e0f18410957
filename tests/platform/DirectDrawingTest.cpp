// The drawing done without Cairo's general paths (strokes rasterised into a coverage mask, coverage
// painted and turned pictures composed straight into a surface's pixels) must look like Cairo's,
// and pixman's copies and blends must give the pixels our own loops give.
#include "platform/gfx/Blend.h"
#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/Picture.h"
#include "platform/gfx/PolylineMask.h"
#include "tests/support/Pixels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

using platform::CairoSurfacePtr;

constexpr int kWidth = 80;
constexpr int kHeight = 64;

struct Difference {
    int largest = 0;         // largest difference of any channel of any pixel, 0-255
    double mean = 0.0;       // mean difference of alpha over pixels inked in either
    int stray = 0;           // pixels clearly inked in one and not at all in the other
    double offShare = 0.0;   // share of pixels inked in either with a channel off by more than kFewLevels
};

constexpr int kFewLevels = 16;

Difference compare(cairo_surface_t* a, cairo_surface_t* b) {
    cairo_surface_flush(a);
    cairo_surface_flush(b);
    Difference d;
    long inked = 0;
    long total = 0;
    long off = 0;
    for (int y = 0; y < cairo_image_surface_get_height(a); ++y) {
        for (int x = 0; x < cairo_image_surface_get_width(a); ++x) {
            std::uint32_t pa = 0;
            std::uint32_t pb = 0;
            std::memcpy(&pa, cairo_image_surface_get_data(a) + y * cairo_image_surface_get_stride(a) + 4 * x, 4);
            std::memcpy(&pb, cairo_image_surface_get_data(b) + y * cairo_image_surface_get_stride(b) + 4 * x, 4);
            int largest = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                largest = std::max(largest, std::abs(int((pa >> shift) & 0xff) - int((pb >> shift) & 0xff)));
            }
            d.largest = std::max(d.largest, largest);
            off += largest > kFewLevels;
            const int alphaA = int(pa >> 24);
            const int alphaB = int(pb >> 24);
            if (alphaA != 0 || alphaB != 0) {
                ++inked;
                total += std::abs(alphaA - alphaB);
            }
            if ((alphaA == 0 && alphaB > 64) || (alphaB == 0 && alphaA > 64)) {
                ++d.stray;
            }
        }
    }
    d.mean = inked > 0 ? double(total) / double(inked) : 0.0;
    d.offShare = inked > 0 ? double(off) / double(inked) : 0.0;
    return d;
}

struct StrokeCase {
    const char* name;
    int scale;
    std::vector<platform::DevicePoint> points; // in points
    double offShare; // allowed share of inked pixels off by more than kFewLevels
};

void PrintTo(const StrokeCase& c, std::ostream* os) { *os << c.name; }

// Strokes `c` in a translucent ink, round joins and caps, width 2 points: through a picture (which
// keeps it as coverage and paints that), or through Cairo's own stroker.
CairoSurfacePtr stroke(const StrokeCase& c, bool throughPicture) {
    const int width = kWidth * c.scale;
    const int height = kHeight * c.scale;
    CairoSurfacePtr surface = platform::makeImageSurface(width, height);
    if (throughPicture) {
        platform::Picture picture;
        picture.redraw(width, height, c.scale, false, [&](platform::GraphicsContext& context) {
            context.setRGBStrokeColor(0.0, 0.2, 0.9, 0.7);
            context.setLineJoin(platform::LineJoin::Round);
            context.setLineCap(platform::LineCap::Round);
            context.setLineWidth(2.0f);
            for (const platform::DevicePoint& p : c.points) {
                context.addLineToPoint(static_cast<float>(p.x), static_cast<float>(p.y));
            }
            context.strokePath();
        });
        cairo_matrix_t identity;
        cairo_matrix_init_identity(&identity);
        picture.composeInto(surface.get(), cairo_rectangle_int_t{0, 0, width, height}, identity);
        return surface;
    }
    platform::CairoContextPtr cr = platform::makeContext(surface.get());
    cairo_scale(cr.get(), c.scale, c.scale);
    for (const platform::DevicePoint& p : c.points) {
        cairo_line_to(cr.get(), p.x, p.y);
    }
    cairo_set_source_rgba(cr.get(), 0.0, 0.2, 0.9, 0.7);
    cairo_set_line_width(cr.get(), 2.0);
    cairo_set_line_join(cr.get(), CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_cap(cr.get(), CAIRO_LINE_CAP_ROUND);
    cairo_stroke(cr.get());
    return surface;
}

class DirectStrokeTest : public testing::TestWithParam<StrokeCase> {};

// Edges may round differently (coverage is taken from the distance to the line, not from the
// covered area): a line on its own is nowhere off by more than a few levels. Where two lines pass
// within a pixel of each other the nearer one decides, so a gap between them is lighter; there
// only a share of the pixels may be off by more. Nothing may appear or vanish.
TEST_P(DirectStrokeTest, LooksLikeCairosStroke) {
    const StrokeCase& c = GetParam();
    const CairoSurfacePtr expected = stroke(c, false);
    const CairoSurfacePtr actual = stroke(c, true);
    const Difference d = compare(expected.get(), actual.get());
    EXPECT_LE(d.offShare, c.offShare) << "largest difference " << d.largest;
    EXPECT_LE(d.mean, 6.0);
    EXPECT_EQ(d.stray, 0);
}

std::vector<platform::DevicePoint> zigzag() {
    std::vector<platform::DevicePoint> points;
    for (int i = 0; i < 40; ++i) {
        points.push_back({40.0 + 36.0 * std::sin(i * 2.4), 62.0 - i * 1.5});
    }
    return points;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, DirectStrokeTest,
    testing::Values(StrokeCase{"level", 1, {{3, 20}, {70, 20.4}}, 0.0},
                    StrokeCase{"steep", 2, {{30, 2}, {34, 60}}, 0.0},
                    StrokeCase{"diagonal", 1, {{2, 2}, {60, 50}}, 0.0},
                    StrokeCase{"dot", 3, {{30, 30}, {30, 30}}, 0.0},
                    StrokeCase{"sharp_turns", 2, {{5, 5}, {75, 8}, {6, 12}, {74, 14}}, 0.02},
                    StrokeCase{"zigzag_1x", 1, zigzag(), 0.1},
                    StrokeCase{"zigzag_3x", 3, zigzag(), 0.02},
                    StrokeCase{"leaves_the_surface", 2, {{-50, 10}, {200, 40}}, 0.0},
                    StrokeCase{"lone_move", 1, {{10, 10}}, 0.0}),
    [](const testing::TestParamInfo<StrokeCase>& info) { return info.param.name; });

// A stroke kept as coverage is painted in before anything drawn after it, which lands on top.
TEST(DirectStrokeTest, DrawingAfterAStrokeLandsOnTopOfIt) {
    platform::Picture picture;
    picture.redraw(kWidth, kHeight, 1, false, [](platform::GraphicsContext& context) {
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
    const CairoSurfacePtr surface = platform::makeImageSurface(kWidth, kHeight);
    cairo_matrix_t identity;
    cairo_matrix_init_identity(&identity);
    picture.composeInto(surface.get(), cairo_rectangle_int_t{0, 0, kWidth, kHeight}, identity);
    const testing_support::Rgba over = testing_support::pixelAt(surface.get(), 40, 30);
    EXPECT_NEAR(over.r, 128, 2) << over;
    EXPECT_NEAR(over.g, 128, 2) << over;
    EXPECT_EQ(testing_support::pixelAt(surface.get(), 20, 30).r, 255) << "the stroke outside the fill";
}

// Each row's run holds every pixel the row inked: painting and clearing read nothing outside it.
TEST(PolylineMaskTest, EachRowsRunHoldsAllItsInk) {
    const std::vector<std::vector<platform::DevicePoint>> shapes{
        zigzag(), {{40, 30}}, {{-20, 10}, {100, 12}}, {{50, -10}, {52, 80}}, {{2, 60}, {78, 3}, {5, 40}}};
    platform::PolylineMask mask;
    for (const auto& shape : shapes) {
        for (const double radius : {0.5, 1.0, 2.5}) {
            mask.reset(kWidth, kHeight);
            mask.addPolyline(shape, radius);
            for (int y = 0; y < kHeight; ++y) {
                const platform::PixelRun run = mask.rowInk()[static_cast<std::size_t>(y)];
                for (int x = 0; x < kWidth; ++x) {
                    if (mask.coverage(x, y) != 0) {
                        ASSERT_TRUE(run.from <= x && x < run.to)
                            << "shape of " << shape.size() << " points, radius " << radius << ", at " << x << ", "
                            << y << " outside " << run.from << " to " << run.to;
                    }
                }
            }
        }
    }
}

// A surface of random premultiplied pixels, the same for the same seed.
CairoSurfacePtr noise(int width, int height, cairo_format_t format, unsigned seed) {
    CairoSurfacePtr surface = platform::makeImageSurface(width, height, format);
    std::mt19937 random(seed);
    cairo_surface_flush(surface.get());
    unsigned char* data = cairo_image_surface_get_data(surface.get());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (format == CAIRO_FORMAT_A8) {
                // Clear stretches, full stretches and everything between, as a stroke has.
                const unsigned r = random() % 4;
                data[y * cairo_image_surface_get_stride(surface.get()) + x] =
                    static_cast<unsigned char>(r == 0 ? 0 : r == 1 ? 255 : random() % 256);
                continue;
            }
            const std::uint32_t alpha = random() % 256;
            const auto channel = [&] { return alpha == 0 ? 0u : static_cast<std::uint32_t>(random() % (alpha + 1)); };
            const std::uint32_t pixel = alpha << 24 | channel() << 16 | channel() << 8 | channel();
            std::memcpy(data + y * cairo_image_surface_get_stride(surface.get()) + 4 * x, &pixel, 4);
        }
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

TEST(BlendTest, PaintingThroughAMaskMatchesCairo) {
    const CairoSurfacePtr mask = noise(50, 30, CAIRO_FORMAT_A8, 1);
    const CairoSurfacePtr expected = noise(kWidth, kHeight, CAIRO_FORMAT_ARGB32, 2);
    const CairoSurfacePtr actual = noise(kWidth, kHeight, CAIRO_FORMAT_ARGB32, 2);
    const platform::Color ink{0.0, 0.2, 0.9, 0.7};
    const cairo_rectangle_int_t area{10, 12, 40, 25};
    {
        platform::CairoContextPtr cr = platform::makeContext(expected.get());
        cairo_rectangle(cr.get(), area.x, area.y, area.width, area.height);
        cairo_clip(cr.get());
        cairo_set_source_rgba(cr.get(), ink.red, ink.green, ink.blue, ink.alpha);
        cairo_mask_surface(cr.get(), mask.get(), 7, 9);
    }
    platform::paintThroughMask(platform::imageBits(actual.get()), platform::imageBits(mask.get()), 7, 9, area, ink);
    cairo_surface_mark_dirty(actual.get());
    EXPECT_LE(compare(expected.get(), actual.get()).largest, 1);
}

struct TurnCase {
    const char* name;
    double angle; // radians
    double scale;
    double x;
    double y;
};

void PrintTo(const TurnCase& c, std::ostream* os) { *os << c.name; }

class TurnedPictureTest : public testing::TestWithParam<TurnCase> {};

TEST_P(TurnedPictureTest, MatchesCairosBilinearFilter) {
    const TurnCase& c = GetParam();
    const CairoSurfacePtr picture = noise(24, 40, CAIRO_FORMAT_ARGB32, 3);
    const CairoSurfacePtr expected = noise(kWidth, kHeight, CAIRO_FORMAT_ARGB32, 4);
    const CairoSurfacePtr actual = noise(kWidth, kHeight, CAIRO_FORMAT_ARGB32, 4);
    cairo_matrix_t m;
    cairo_matrix_init_translate(&m, c.x, c.y);
    cairo_matrix_rotate(&m, c.angle);
    cairo_matrix_scale(&m, c.scale, c.scale);
    const cairo_rectangle_int_t area{4, 2, kWidth - 10, kHeight - 6};
    {
        platform::CairoContextPtr cr = platform::makeContext(expected.get());
        cairo_rectangle(cr.get(), area.x, area.y, area.width, area.height);
        cairo_clip(cr.get());
        cairo_set_matrix(cr.get(), &m);
        cairo_set_source_surface(cr.get(), picture.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_BILINEAR);
        cairo_paint(cr.get());
    }
    ASSERT_TRUE(platform::composeTransformed(platform::imageBits(actual.get()), platform::imageBits(picture.get()), false,
                                             m, area));
    cairo_surface_mark_dirty(actual.get());
    const Difference d = compare(expected.get(), actual.get());
    EXPECT_LE(d.largest, 3);
}

INSTANTIATE_TEST_SUITE_P(Turns, TurnedPictureTest,
                         testing::Values(TurnCase{"turned_and_halved", 0.7, 0.5, 40.0, 20.0},
                                         TurnCase{"upside_down_and_doubled", 3.0, 2.0, 60.0, 60.0},
                                         TurnCase{"mostly_off_the_surface", 0.2, 1.0, -20.0, 50.0}),
                         [](const testing::TestParamInfo<TurnCase>& info) { return info.param.name; });

} // namespace

// A picture whose rows repeat is read once per distinct row, through our own loops; every other
// picture moved by whole pixels is copied or blended by pixman. Both must give the same pixels.
namespace {

// `picture` moved by an odd amount onto a larger page of noise, in two parts, through our loops
// reading rows by `sources` (each row itself when empty) and through pixman.
void expectLoopsMatchPixman(cairo_surface_t* picture, std::vector<std::uint32_t> sources) {
    const int width = cairo_image_surface_get_width(picture);
    const int height = cairo_image_surface_get_height(picture);
    if (sources.empty()) {
        for (int y = 0; y < height; ++y) {
            sources.push_back(static_cast<std::uint32_t>(y));
        }
    }
    const CairoSurfacePtr ours = noise(width + 40, height + 40, CAIRO_FORMAT_ARGB32, 7);
    const CairoSurfacePtr pixmans = noise(width + 40, height + 40, CAIRO_FORMAT_ARGB32, 7);
    const cairo_rectangle_int_t areas[] = {{0, 0, width + 40, 20}, {5, 20, width + 20, height - 10}};
    platform::composeShifted(ours.get(), picture, 13, -7, areas, sources);
    platform::composeShifted(pixmans.get(), picture, 13, -7, areas);
    EXPECT_TRUE(testing_support::samePixels(ours.get(), pixmans.get()));
}

TEST(RepeatedRowsTest, FindsTheRowsThatRepeatAndComposesAsPixmanDoes) {
    struct Case {
        const char* name;
        int size;
        std::uint32_t (*rowWord)(int);
        std::uint32_t (*lastWord)(int);
        bool table; // a table is kept
    };
    const auto paper = [](int y) { return y % 10 == 0 ? 0xffc04020u : 0xfff8f0e0u; };
    const Case cases[] = {
        {"ruled paper", 300, paper, paper, true},
        {"too small to look", 100, paper, paper, false},
        {"rows that differ only in their last pixel", 300, paper, [](int y) { return std::uint32_t(y); }, false},
        {"few repeats", 300, [](int y) { return std::uint32_t(y % 8 == 0 ? 0 : y); },
         [](int y) { return std::uint32_t(y % 8 == 0 ? 0 : y); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CairoSurfacePtr picture = testing_support::surfaceOfWords(
            CAIRO_FORMAT_RGB24, c.size, c.size, [&](int x, int y) { return x == c.size - 1 ? c.lastWord(y) : c.rowWord(y); });
        const platform::ImageBits bits = platform::imageBits(picture.get());
        const std::vector<std::uint32_t> sources = platform::repeatedRows(bits);
        ASSERT_EQ(!sources.empty(), c.table);
        for (std::size_t y = 0; y < sources.size(); ++y) {
            ASSERT_LE(sources[y], y);
            ASSERT_EQ(std::memcmp(bits.data + y * bits.stride, bits.data + sources[y] * bits.stride, c.size * 4u), 0)
                << "row " << y << " read as row " << sources[y];
        }
        expectLoopsMatchPixman(picture.get(), sources);
    }
    // Every kind of premultiplied pixel, copied and blended.
    for (const cairo_format_t format : {CAIRO_FORMAT_RGB24, CAIRO_FORMAT_ARGB32}) {
        SCOPED_TRACE(format == CAIRO_FORMAT_RGB24 ? "noise, copied" : "noise, blended");
        const CairoSurfacePtr picture = noise(120, 90, format, 8);
        expectLoopsMatchPixman(picture.get(), {});
    }
}

} // namespace
