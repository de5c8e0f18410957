// Whole scenes composed by the compositor against the same scenes drawn by Cairo alone: the
// recorder page with a full trace, the paper at several offsets and the needle at several angles,
// and the first, middle and last frames of the page turn, at 1x and 2x. The reference places moved
// pictures as the compositor does, at whole device pixels. A failing comparison writes the
// expected picture and `<name>_err.png`, the composed one, to the test output folder.
#include "Classes/GraphView.h"
#include "Classes/TremView.h"
#include "platform/gfx/Resources.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/PageCurl.h"
#include "tests/support/Pixels.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using platform::CairoContextPtr;
using platform::CairoSurfacePtr;
using platform::Rect;

constexpr Rect kPage(0, 0, 320, 411);

// How close a composed picture must come to its reference: the mean difference of a channel over
// all pixels, and the share of pixels with a channel off by more than a few levels.
struct Tolerance {
    double mean;
    int fewLevels;
    double share;
};

// Everything but the trace: where the pictures are the same pixels placed alike, only the needle's
// sampling and the fold's edge may differ a little. A layer moved by one pixel fails it.
constexpr Tolerance kPictures{0.05, 4, 0.005};
// The trace: our stroker takes each pixel's coverage from its distance to the nearest segment
// where Cairo's measures the area the whole outline covers, so where lines overlap or pass within
// a pixel of each other, as a trace swinging across the page does at every point, the nearer line
// decides and the pixel is lighter. At 1x that is near 5% of the page; at 2x near 1.4%.
constexpr Tolerance kTrace{1.5, 16, 0.06};

bool within(const testing_support::Difference& d, const Tolerance& tolerance) {
    return d.mean() <= tolerance.mean && static_cast<double>(d.off) / d.pixels <= tolerance.share;
}

void expectLike(cairo_surface_t* expected, cairo_surface_t* actual, const std::string& name,
                const Tolerance& tolerance) {
    const testing_support::Difference d =
        testing_support::differenceOf(expected, actual, tolerance.fewLevels);
    if (within(d, tolerance)) {
        return;
    }
    const std::filesystem::path folder = std::filesystem::path(TREMBIT_TEST_OUTPUT_DIR) / "reference";
    std::filesystem::create_directories(folder);
    cairo_surface_write_to_png(expected, (folder / (name + ".png")).c_str());
    cairo_surface_write_to_png(actual, (folder / (name + "_err.png")).c_str());
    ADD_FAILURE() << name << ": mean difference " << d.mean() << " (at most " << tolerance.mean << "), "
                  << 100.0 * d.off / d.pixels << "% of pixels off by more than " << tolerance.fewLevels
                  << " levels (at most " << 100.0 * tolerance.share << "%); see "
                  << (folder / (name + "_err.png")).string();
}

std::string atScale(const std::string& name, int scale) {
    return name + "_" + std::to_string(scale) + "x";
}

// The artwork made for `scale`, read by Cairo.
CairoSurfacePtr artwork(const std::string& stem, int scale) {
    std::string file = stem;
    if (scale != 3) {
        file.append("@").append(std::to_string(scale)).append("x");
    }
    file.append(".png");
    CairoSurfacePtr surface(cairo_image_surface_create_from_png(platform::resourcePath(file).c_str()));
    EXPECT_EQ(cairo_surface_status(surface.get()), CAIRO_STATUS_SUCCESS) << file;
    return surface;
}

// Paints `picture` (device pixels) with its top-left corner at (x, y) points, rounded to whole
// device pixels: how a moved picture is placed.
void paintMoved(cairo_t* cr, cairo_surface_t* picture, double x, double y, int scale) {
    platform::CairoSaveGuard guard(cr);
    cairo_identity_matrix(cr);
    cairo_set_source_surface(cr, picture, std::round(x * scale), std::round(y * scale));
    cairo_paint(cr);
}

// Device pixels by which a layer of the reference is moved, to show the tolerance catches it.
struct Nudge {
    int paper = 0;
    int shadow = 0;
    int needle = 0;
};

// The recorder page as `page` holds it (history, paper offset, needle angle), drawn by Cairo.
CairoSurfacePtr referencePage(const TremView& page, int scale, bool withTrace, Nudge nudge = {}) {
    CairoSurfacePtr surface = platform::makeImageSurface(320 * scale, 411 * scale);
    const CairoContextPtr cr = platform::makeContext(surface.get());
    cairo_scale(cr.get(), scale, scale);
    const double unit = 1.0 / scale;
    paintMoved(cr.get(), artwork("paperbig", scale).get(), 0.0,
               page.paperView()->layer().translation().y + nudge.paper * unit, scale);
    if (withTrace) {
        const platform::Rect graph = page.graphView()->frame();
        const auto points = GraphView::tracePolyline(
            page.graphView()->history(), page.graphView()->nextIndex(), graph.size.width, graph.size.height);
        platform::CairoSaveGuard guard(cr.get());
        cairo_translate(cr.get(), graph.origin.x, graph.origin.y);
        cairo_rectangle(cr.get(), 0, 0, graph.size.width, graph.size.height);
        cairo_clip(cr.get());
        testing_support::cairoTrace(cr.get(), points);
    }
    paintMoved(cr.get(), artwork("shadow", scale).get(), nudge.shadow * unit, 0.0, scale);
    const CairoSurfacePtr needle = artwork("needle", scale);
    const float angle = page.needleView()->layer().rotationZ();
    // The pivot lies one needle height above the needle's top edge, centred.
    const double left = -TremView::kNeedleAnchor.x * TremView::kNeedleSize.width;
    const double top = -TremView::kNeedleAnchor.y * TremView::kNeedleSize.height;
    if (angle == 0.0f) {
        paintMoved(cr.get(), needle.get(), TremView::kNeedlePivot.x + left + nudge.needle * unit,
                   TremView::kNeedlePivot.y + top, scale);
    } else {
        cairo_translate(cr.get(), TremView::kNeedlePivot.x + nudge.needle * unit, TremView::kNeedlePivot.y);
        cairo_rotate(cr.get(), angle);
        cairo_translate(cr.get(), left, top);
        cairo_scale(cr.get(), unit, unit);
        cairo_set_source_surface(cr.get(), needle.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_BILINEAR);
        cairo_paint(cr.get());
    }
    return surface;
}

CairoSurfacePtr composed(platform::View& root, int scale) {
    platform::Compositor compositor(root.bounds().size, scale);
    compositor.render(root);
    return CairoSurfacePtr(cairo_surface_reference(compositor.surface()));
}

// Values spread over the whole width, as a hard shake gives, and a few beyond the edges.
void fill(TremView& page, int appends, float last) {
    for (int i = 0; i < appends - 1; ++i) {
        page.handleMove(i % 50 == 7 ? 1.4f : static_cast<float>(0.95 * std::sin(i * 2.4)));
    }
    page.handleMove(last);
}

// Appends after which the paper lies at various offsets (the write position 1, 57, 130, 0) and the
// needle at various angles (at rest, both ways, and past a quarter turn's fifth).
struct PageCase {
    const char* name;
    int appends;
    float last;
};
constexpr PageCase kPages[] = {
    {"rest", 201, 0.0f}, {"right", 257, 0.37f}, {"left", 330, -0.8f}, {"far", 400, 1.6f}};

TEST(ReferenceSceneTest, RecorderPageLooksAsCairoDrawsIt) {
    for (const int scale : {1, 2}) {
        for (const PageCase& c : kPages) {
            const std::string name = atScale("recorder_" + std::string(c.name), scale);
            SCOPED_TRACE(name);
            TremView page(kPage);
            fill(page, c.appends, c.last);
            expectLike(referencePage(page, scale, true).get(), composed(page, scale).get(), name, kTrace);
            page.graphView()->setHidden(true);
            expectLike(referencePage(page, scale, false).get(), composed(page, scale).get(),
                       name + "_no_trace", kPictures);
        }
    }
}

// The tolerance is tight enough that any layer one device pixel out of place fails it.
TEST(ReferenceSceneTest, AnyLayerMovedByOnePixelFails) {
    for (const int scale : {1, 2}) {
        SCOPED_TRACE(scale);
        TremView page(kPage);
        fill(page, kPages[1].appends, kPages[1].last);
        page.graphView()->setHidden(true);
        const CairoSurfacePtr actual = composed(page, scale);
        for (const Nudge nudge : {Nudge{.paper = 1}, Nudge{.shadow = 1}, Nudge{.needle = 1}}) {
            EXPECT_FALSE(within(testing_support::differenceOf(referencePage(page, scale, false, nudge).get(),
                                                              actual.get(), kPictures.fewLevels),
                                kPictures))
                << nudge.paper << nudge.shadow << nudge.needle;
        }
    }
}

// The part of a convex polygon where sign * (normal . p - offset) >= 0.
std::vector<platform::Point> halfPlane(const std::vector<platform::Point>& polygon,
                                       const platform::CurlFold& fold, double sign) {
    std::vector<platform::Point> out;
    for (std::size_t i = 0; i < polygon.size(); ++i) {
        const platform::Point a = polygon[i];
        const platform::Point b = polygon[(i + 1) % polygon.size()];
        const double da = sign * (fold.normalX * a.x + fold.normalY * a.y - fold.offset);
        const double db = sign * (fold.normalX * b.x + fold.normalY * b.y - fold.offset);
        if (da >= 0.0) {
            out.push_back(a);
        }
        if ((da >= 0.0) != (db >= 0.0)) {
            const double t = da / (da - db);
            out.push_back(platform::Point{static_cast<float>(a.x + t * (b.x - a.x)),
                                          static_cast<float>(a.y + t * (b.y - a.y))});
        }
    }
    return out;
}

// Fills `polygon` with `picture` placed with its top-left corner at (x, y) device pixels.
void fillWith(cairo_t* cr, const std::vector<std::vector<platform::Point>>& polygons,
              cairo_surface_t* picture, double x, double y, int scale) {
    platform::CairoPatternPtr pattern(cairo_pattern_create_for_surface(picture));
    cairo_matrix_t toPixels;
    cairo_matrix_init(&toPixels, scale, 0, 0, scale, -x, -y);
    cairo_pattern_set_matrix(pattern.get(), &toPixels);
    cairo_new_path(cr);
    for (const auto& polygon : polygons) {
        if (polygon.size() >= 3) {
            for (const platform::Point& p : polygon) {
                cairo_line_to(cr, p.x, p.y);
            }
            cairo_close_path(cr);
        }
    }
    cairo_set_source(cr, pattern.get());
    cairo_fill(cr);
}

// The middle of an upward curl drawn by Cairo alone: each page filled into its side of the fold,
// the flap's back (the artwork mirrored across the fold) on the resting side, and the shading
// across the fold over the lifted part and the flap.
CairoSurfacePtr referenceCurl(cairo_surface_t* oldPage, cairo_surface_t* newPage, double progress,
                              int scale) {
    const platform::Size size = kPage.size;
    const platform::CurlArtwork art = platform::makeCurlArtwork(oldPage, size, scale);
    const platform::CurlFold fold = platform::curlUpFold(size, progress);
    const std::vector<platform::Point> page{
        {0, 0}, {size.width, 0}, {size.width, size.height}, {0, size.height}};
    const std::vector<platform::Point> lifted = halfPlane(page, fold, +1.0);
    const std::vector<platform::Point> resting = halfPlane(page, fold, -1.0);
    std::vector<platform::Point> flap;
    for (const platform::Point& p : lifted) {
        const double d = 2.0 * (fold.normalX * p.x + fold.normalY * p.y - fold.offset);
        flap.push_back(platform::Point{static_cast<float>(p.x - d * fold.normalX),
                                       static_cast<float>(p.y - d * fold.normalY)});
    }
    CairoSurfacePtr surface = platform::makeImageSurface(320 * scale, 411 * scale);
    const CairoContextPtr cr = platform::makeContext(surface.get());
    cairo_scale(cr.get(), scale, scale);
    fillWith(cr.get(), {lifted}, newPage, 0, 0, scale);
    fillWith(cr.get(), {resting}, oldPage, 0, 0, scale);
    const auto placed = [&](platform::Point origin, double times) {
        return std::pair{std::round((origin.x + times * fold.offset * fold.normalX) * scale),
                         std::round((origin.y + times * fold.offset * fold.normalY) * scale)};
    };
    const auto [backX, backY] = placed(art.backOrigin, 2.0);
    fillWith(cr.get(), {resting}, art.back.get(), backX, backY, scale);
    const auto [shadingX, shadingY] = placed(art.shadingOrigin, 1.0);
    fillWith(cr.get(), {lifted, flap}, art.shading.get(), shadingX, shadingY, scale);
    return surface;
}

// The recorder page turned to a settings page: the first frame is the recorder page, the middle
// one the curl, the last the settings page.
TEST(ReferenceSceneTest, PageTurnFramesLookAsCairoDrawsThem) {
    for (const int scale : {1, 2}) {
        platform::VirtualClock clock;
        platform::Animator animator(clock, scale);
        auto root = std::make_shared<platform::View>(kPage);
        auto holder = std::make_shared<platform::View>(kPage);
        auto recorder = std::make_shared<TremView>(kPage);
        auto settings = std::make_shared<platform::View>(kPage);
        holder->setClipsToBounds(true);
        root->addSubview(holder);
        holder->addSubview(recorder);
        fill(*recorder, kPages[2].appends, kPages[2].last);
        recorder->graphView()->setHidden(true); // the trace is compared on its own above
        settings->setBackgroundColor(platform::Color::groupTableViewBackgroundColor());
        auto box = std::make_shared<platform::View>(Rect(20, 40, 280, 44));
        box->setBackgroundColor(platform::Color{0.9, 0.4, 0.1, 1.0});
        settings->addSubview(box);

        CairoSurfacePtr settingsPage =
            testing_support::paintedSurface(320 * scale, 411 * scale, 0.773, 0.800, 0.831);
        {
            const CairoContextPtr cr = platform::makeContext(settingsPage.get());
            cairo_scale(cr.get(), scale, scale);
            cairo_set_source_rgb(cr.get(), 0.9, 0.4, 0.1);
            cairo_rectangle(cr.get(), 20, 40, 280, 44);
            cairo_fill(cr.get());
        }
        const CairoSurfacePtr recorderPage = referencePage(*recorder, scale, false);

        animator.beginAnimations("turn");
        animator.setAnimationDuration(1.0);
        animator.setAnimationTransition(platform::AnimationTransition::CurlUp, *holder, true);
        recorder->removeFromSuperview();
        holder->addSubview(settings);
        animator.commitAnimations();

        platform::Compositor compositor(kPage.size, scale);
        const auto frameAt = [&](double time) {
            clock.advanceTo(time);
            compositor.render(*root, &animator);
            return compositor.surface();
        };
        expectLike(recorderPage.get(), frameAt(0.0), atScale("turn_first", scale), kPictures);
        expectLike(referenceCurl(recorderPage.get(), settingsPage.get(), 0.5, scale).get(), frameAt(0.5),
                   atScale("turn_middle", scale), kPictures);
        expectLike(settingsPage.get(), frameAt(1.0), atScale("turn_last", scale), kPictures);
    }
}

} // namespace
