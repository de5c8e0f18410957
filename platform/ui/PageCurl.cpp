#include "platform/ui/PageCurl.h"

#include "platform/gfx/Blend.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

// Cost: a curl frame composes each device pixel of the page about twice, and every picture it
// composes is placed at whole device pixels (a copy with a coverage mask, never resampled), the case
// pixman does fastest. Anything that would need resampling or a gradient per frame is drawn once,
// at the start, into the CurlArtwork.

namespace platform {

namespace {

// The fold leans like a page lifted at its bottom-right corner and pulled towards the top-left:
// its normal points from about (-0.2w, -0.1h) towards the corner.
constexpr double kFoldNormalX = 1.2; // times the page width
constexpr double kFoldNormalY = 1.1; // times the page height

// Widest shadow the lifted paper casts on the new page along the fold, in points; the fold ends
// this far beyond the top-left corner (plus a point), so nothing of the old page or its shadow is
// left at 1.
constexpr double kFoldShadowWidth = 18.0;
constexpr double kEndMargin = kFoldShadowWidth + 1.0;
constexpr double kFoldShadowAlpha = 0.45;
// Where the paper bends over at the fold it turns away from the light: a darker band on the flap
// that brightens into a highlight, in points from the fold.
constexpr double kBendWidth = 36.0;

// The back of the paper: the mirrored page seen through it, washed out towards white.
constexpr double kBackWash = 0.75;
constexpr double kBackGrey = 0.97;
// The cut edges of the flap, where it lies over the page.
constexpr double kFlapEdgeWidth = 0.5; // points
constexpr double kFlapEdgeAlpha = 0.2;
// The flap's soft shadow on the old page: how far it reaches beyond the flap's edges and how dark
// it is at an edge, a little down and to the right as if lit from the top-left.
constexpr double kFlapShadowWidth = 9.0; // points
constexpr double kFlapShadowAlpha = 0.3;
constexpr double kFlapShadowOffsetX = 1.0; // points
constexpr double kFlapShadowOffsetY = 2.0; // points

// Flips darken the face as it turns away, at most by this much.
constexpr double kFlipMaxShade = 0.55;

// Pages further off than this are no page on any surface, and left to Cairo.
constexpr double kMaxPageShift = 1.0e6;

struct Vec {
    double x = 0.0;
    double y = 0.0;
};

// The shading across the fold by distance from it, in points: the flap's side is negative, the
// lifted side (the new page) positive. Two stops at 0 make the edge between them sharp.
struct Stop {
    double at;
    double grey;
    double alpha;
};

constexpr std::array<Stop, 8> kFoldShading{{
    {-kBendWidth, 1.0, 0.0},
    {-kBendWidth * 0.6, 1.0, 0.35},
    {-kBendWidth * 0.25, 0.6, 0.2},
    {0.0, 0.35, 0.45},
    {0.0, 0.0, kFoldShadowAlpha},
    {kFoldShadowWidth * 0.35, 0.0, kFoldShadowAlpha * 0.4},
    {kFoldShadowWidth * 0.7, 0.0, kFoldShadowAlpha * 0.1},
    {kFoldShadowWidth, 0.0, 0.0},
}};

double along(const CurlFold& line, const Vec& v) {
    return line.normalX * v.x + line.normalY * v.y;
}

// The part of a convex polygon where sign * (normal . x - offset) >= 0.
std::vector<Vec> clipToHalfPlane(const std::vector<Vec>& polygon, const CurlFold& line, double offset,
                                 double sign) {
    std::vector<Vec> out;
    out.reserve(polygon.size() + 1);
    for (std::size_t i = 0; i < polygon.size(); ++i) {
        const Vec& a = polygon[i];
        const Vec& b = polygon[(i + 1) % polygon.size()];
        const double da = sign * (along(line, a) - offset);
        const double db = sign * (along(line, b) - offset);
        if (da >= 0.0) {
            out.push_back(a);
        }
        if ((da >= 0.0) != (db >= 0.0)) {
            const double t = da / (da - db);
            out.push_back(Vec{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)});
        }
    }
    return out;
}

Vec reflect(const CurlFold& fold, const Vec& v) {
    const double d = 2.0 * (along(fold, v) - fold.offset);
    return Vec{v.x - d * fold.normalX, v.y - d * fold.normalY};
}

// The reflection across the fold as a Cairo matrix (it is its own inverse).
cairo_matrix_t reflection(const CurlFold& fold) {
    const double nx = fold.normalX;
    const double ny = fold.normalY;
    cairo_matrix_t m;
    cairo_matrix_init(&m, 1.0 - 2.0 * nx * nx, -2.0 * nx * ny, -2.0 * nx * ny, 1.0 - 2.0 * ny * ny,
                      2.0 * fold.offset * nx, 2.0 * fold.offset * ny);
    return m;
}

std::vector<Vec> pageCorners(Size size) {
    const double w = size.width;
    const double h = size.height;
    return {{0.0, 0.0}, {w, 0.0}, {w, h}, {0.0, h}};
}

void appendPolygon(cairo_t* cr, const std::vector<Vec>& polygon) {
    if (polygon.size() < 3) {
        return;
    }
    cairo_move_to(cr, polygon.front().x, polygon.front().y);
    for (std::size_t i = 1; i < polygon.size(); ++i) {
        cairo_line_to(cr, polygon[i].x, polygon[i].y);
    }
    cairo_close_path(cr);
}

// `picture` as a source in page points, its top-left corner at `originXPixels`, `originYPixels`
// device pixels of the page. Whole pixels keep the composition a copy.
CairoPatternPtr picturePattern(cairo_surface_t* picture, int scale, double originXPixels = 0.0,
                               double originYPixels = 0.0) {
    CairoPatternPtr pattern(cairo_pattern_create_for_surface(picture));
    cairo_matrix_t toPixels;
    cairo_matrix_init(&toPixels, scale, 0.0, 0.0, scale, -originXPixels, -originYPixels);
    cairo_pattern_set_matrix(pattern.get(), &toPixels);
    return pattern;
}

// A picture made at the start, placed with its top-left corner at `origin` + `shift` (points),
// rounded to whole device pixels.
CairoPatternPtr placedPattern(cairo_surface_t* picture, int scale, Point origin, Vec shift) {
    return picturePattern(picture, scale, std::round((origin.x + shift.x) * scale),
                          std::round((origin.y + shift.y) * scale));
}

void fillWithPattern(cairo_t* cr, const std::vector<Vec>& polygon, cairo_pattern_t* pattern) {
    if (polygon.size() < 3) {
        return;
    }
    cairo_set_source(cr, pattern);
    appendPolygon(cr, polygon);
    cairo_fill(cr);
}

// Makes `surface` to hold the box from (minX, minY) to (maxX, maxY) (page points) at `scale`, its
// top-left corner `origin` on a whole pixel, and returns a context on it in page points.
CairoContextPtr startPicture(double minX, double minY, double maxX, double maxY, int scale,
                             CairoSurfacePtr& surface, Point& origin) {
    origin = Point{static_cast<float>(std::floor(minX * scale) / scale),
                   static_cast<float>(std::floor(minY * scale) / scale)};
    surface = makeImageSurface(std::max(1, static_cast<int>(std::ceil((maxX - origin.x) * scale))),
                               std::max(1, static_cast<int>(std::ceil((maxY - origin.y) * scale))));
    CairoContextPtr cr = makeContext(surface.get());
    cairo_scale(cr.get(), scale, scale);
    cairo_translate(cr.get(), -origin.x, -origin.y);
    return cr;
}

// 1 inside [0, length], falling smoothly to 0 at `reach` outside it.
double softEdge(double t, double length, double reach) {
    const double outside = std::max(0.0, std::max(-t, t - length)) / reach;
    if (outside >= 1.0) {
        return 0.0;
    }
    const double u = 1.0 - outside;
    return u * u * (3.0 - 2.0 * u);
}

// Writes the flap's soft shadow into the back picture, whose pixel (i, j) shows the page point that
// `mirror` maps i, j (through `scale` and `origin`) to. A rectangle's blur is near enough the product
// of its two edges' blurs, so each pixel is worked out directly.
void writeFlapShadow(cairo_surface_t* back, const CurlFold& mirror, Size size, int scale, Point origin) {
    cairo_surface_flush(back);
    unsigned char* data = cairo_image_surface_get_data(back);
    const int stride = cairo_image_surface_get_stride(back);
    const int width = cairo_image_surface_get_width(back);
    const int height = cairo_image_surface_get_height(back);
    for (int j = 0; j < height; ++j) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(j) * stride);
        for (int i = 0; i < width; ++i) {
            const Vec z{origin.x + (i + 0.5) / scale - kFlapShadowOffsetX,
                        origin.y + (j + 0.5) / scale - kFlapShadowOffsetY};
            const Vec p = reflect(mirror, z);
            const double alpha = kFlapShadowAlpha * softEdge(p.x, size.width, kFlapShadowWidth) *
                                 softEdge(p.y, size.height, kFlapShadowWidth);
            row[i] = static_cast<std::uint32_t>(std::lround(alpha * 255.0)) << 24;
        }
    }
    cairo_surface_mark_dirty(back);
}

// Where a curl writes: the target, when the page lies on it at whole pixels and the pictures' own
// scale, with the context's clip and the page's device position. Each row of a curl is then a
// copy or two and a mixed pixel, where polygon fills with patterns would cost most of a frame.
struct DirectPage {
    cairo_surface_t* target = nullptr;
    cairo_rectangle_int_t clip{};
    int x = 0;
    int y = 0;
};

bool directPage(cairo_t* cr, int scale, DirectPage& page) {
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    if (m.xx != scale || m.yy != scale || m.xy != 0.0 || m.yx != 0.0 || m.x0 != std::floor(m.x0) ||
        m.y0 != std::floor(m.y0) || std::abs(m.x0) > kMaxPageShift || std::abs(m.y0) > kMaxPageShift) {
        return false;
    }
    page.target = directTarget(cr, page.clip);
    page.x = static_cast<int>(m.x0);
    page.y = static_cast<int>(m.y0);
    return page.target != nullptr;
}

// Composes `before` and `after`, their pixel (0, 0) at device pixel (x, y), split along the fold
// within `area`: `before` on the resting side, `after` on the lifted side. A picture with no
// pixels leaves its side as it is.
void split(const DirectPage& page, const ImageBits& before, const ImageBits& after, int x, int y,
           const cairo_rectangle_int_t& area, const CurlFold& fold, int scale) {
    // How far past the fold a device pixel centre lies, as a x + b y + c: a page point p lies
    // normal . p - offset points past it, and p = (device - page position) / scale.
    const double c = -fold.normalX * page.x - fold.normalY * page.y - fold.offset * scale;
    composeSplit(imageBits(page.target), before, after, x, y, area, fold.normalX, fold.normalY, c);
    cairo_surface_mark_dirty_rectangle(page.target, area.x, area.y, area.width, area.height);
}

struct Box {
    double minX;
    double minY;
    double maxX;
    double maxY;
};

// The flap's back moved by `shift` (points), on the resting side of the fold only and within `box`
// (points).
void composeBack(const DirectPage& page, const CurlArtwork& artwork, const CurlFold& fold, Vec shift, Box box,
                 int scale) {
    const int x1 = std::max(page.clip.x, static_cast<int>(std::floor(box.minX * scale)) + page.x);
    const int y1 = std::max(page.clip.y, static_cast<int>(std::floor(box.minY * scale)) + page.y);
    const int x2 =
        std::min(page.clip.x + page.clip.width, static_cast<int>(std::ceil(box.maxX * scale)) + page.x);
    const int y2 =
        std::min(page.clip.y + page.clip.height, static_cast<int>(std::ceil(box.maxY * scale)) + page.y);
    if (x2 <= x1 || y2 <= y1) {
        return;
    }
    const int x = page.x + static_cast<int>(std::round((artwork.backOrigin.x + shift.x) * scale));
    const int y = page.y + static_cast<int>(std::round((artwork.backOrigin.y + shift.y) * scale));
    split(page, imageBits(artwork.back.get()), ImageBits{}, x, y,
          cairo_rectangle_int_t{x1, y1, x2 - x1, y2 - y1}, fold, scale);
}

// Before a turn starts it shows the old page, once it has ended the new one (a NaN counts as the
// start). True when `progress` is at either end and that page was drawn.
bool drawnAtAnEnd(cairo_t* cr, const PagePictures& pages, double progress) {
    if (progress > 0.0 && progress < 1.0) {
        return false;
    }
    drawPage(cr, pages, progress >= 1.0 ? pages.newPage : pages.oldPage);
    return true;
}

} // namespace

void drawPage(cairo_t* cr, const PagePictures& pages, cairo_surface_t* picture) {
    CairoSaveGuard guard(cr);
    cairo_rectangle(cr, 0.0, 0.0, pages.size.width, pages.size.height);
    cairo_clip(cr);
    const CairoPatternPtr pattern = picturePattern(picture, pages.scale);
    cairo_set_source(cr, pattern.get());
    cairo_paint(cr);
}

double easeInOut(double progress) {
    const double t = std::clamp(progress, 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

CurlFold curlUpFold(Size page, double progress) {
    const double w = page.width;
    const double h = page.height;
    const double nx = kFoldNormalX * w;
    const double ny = kFoldNormalY * h;
    const double length = std::hypot(nx, ny);
    CurlFold fold;
    fold.normalX = length > 0.0 ? nx / length : std::numbers::sqrt2 / 2.0;
    fold.normalY = length > 0.0 ? ny / length : std::numbers::sqrt2 / 2.0;
    // The top-left corner lies at offset 0; the bottom-right one has the largest offset on the page.
    const double start = fold.normalX * w + fold.normalY * h;
    const double end = -kEndMargin;
    fold.offset = start + (end - start) * easeInOut(progress);
    return fold;
}

CurlArtwork makeCurlArtwork(cairo_surface_t* picture, Size size, int scale) {
    // Any fold of the curl is this line moved along its normal.
    CurlFold line = curlUpFold(size, 0.0);
    line.offset = 0.0;
    CurlArtwork artwork;

    // The back, with room around it for the shadow.
    const std::vector<Vec> page = pageCorners(size);
    std::vector<Vec> mirrored;
    double minX = 0.0;
    double minY = 0.0;
    double maxX = 0.0;
    double maxY = 0.0;
    for (const Vec& corner : page) {
        const Vec m = reflect(line, corner);
        minX = mirrored.empty() ? m.x : std::min(minX, m.x);
        minY = mirrored.empty() ? m.y : std::min(minY, m.y);
        maxX = mirrored.empty() ? m.x : std::max(maxX, m.x);
        maxY = mirrored.empty() ? m.y : std::max(maxY, m.y);
        mirrored.push_back(m);
    }
    const double reachX = kFlapShadowWidth + std::abs(kFlapShadowOffsetX);
    const double reachY = kFlapShadowWidth + std::abs(kFlapShadowOffsetY);
    CairoContextPtr cr = startPicture(minX - reachX, minY - reachY, maxX + reachX, maxY + reachY, scale,
                                      artwork.back, artwork.backOrigin);
    writeFlapShadow(artwork.back.get(), line, size, scale, artwork.backOrigin);
    {
        CairoSaveGuard guard(cr.get());
        appendPolygon(cr.get(), mirrored);
        cairo_clip(cr.get());
        // The page sits on its own shadow, so the shadow goes first and is covered here.
        cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
        cairo_set_source_rgba(cr.get(), kBackGrey, kBackGrey, kBackGrey, 1.0);
        cairo_paint(cr.get());
        cairo_set_operator(cr.get(), CAIRO_OPERATOR_OVER);
        CairoPatternPtr pattern(cairo_pattern_create_for_surface(picture));
        const cairo_matrix_t mirror = reflection(line);
        cairo_matrix_t toPixels;
        cairo_matrix_init_scale(&toPixels, scale, scale);
        cairo_matrix_t combined;
        cairo_matrix_multiply(&combined, &mirror, &toPixels);
        cairo_pattern_set_matrix(pattern.get(), &combined);
        cairo_pattern_set_filter(pattern.get(), CAIRO_FILTER_GOOD);
        cairo_set_source(cr.get(), pattern.get());
        cairo_paint_with_alpha(cr.get(), 1.0 - kBackWash);
    }
    cairo_set_source_rgba(cr.get(), 0, 0, 0, kFlapEdgeAlpha);
    cairo_set_line_width(cr.get(), kFlapEdgeWidth);
    appendPolygon(cr.get(), mirrored);
    cairo_stroke(cr.get());
    cr.reset();
    cairo_surface_flush(artwork.back.get());

    // The shading spans the fold wherever it can cross the page: along the fold from the page's
    // first corner to its last, across it from the bend's far side to the shadow's.
    const Vec tangent{-line.normalY, line.normalX};
    double alongMin = 0.0;
    double alongMax = 0.0;
    for (std::size_t i = 0; i < page.size(); ++i) {
        const double t = tangent.x * page[i].x + tangent.y * page[i].y;
        alongMin = i == 0 ? t : std::min(alongMin, t);
        alongMax = i == 0 ? t : std::max(alongMax, t);
    }
    auto at = [&](double t, double across) {
        return Vec{t * tangent.x + across * line.normalX, t * tangent.y + across * line.normalY};
    };
    const double first = kFoldShading.front().at;
    const double last = kFoldShading.back().at;
    const std::vector<Vec> band{at(alongMin, first), at(alongMax, first), at(alongMax, last),
                                at(alongMin, last)};
    minX = maxX = band.front().x;
    minY = maxY = band.front().y;
    for (const Vec& v : band) {
        minX = std::min(minX, v.x);
        minY = std::min(minY, v.y);
        maxX = std::max(maxX, v.x);
        maxY = std::max(maxY, v.y);
    }
    cr = startPicture(minX, minY, maxX, maxY, scale, artwork.shading, artwork.shadingOrigin);
    const Vec from = at(0.0, first);
    const Vec to = at(0.0, last);
    const CairoPatternPtr gradient(cairo_pattern_create_linear(from.x, from.y, to.x, to.y));
    for (const Stop& stop : kFoldShading) {
        cairo_pattern_add_color_stop_rgba(gradient.get(), (stop.at - first) / (last - first), stop.grey,
                                          stop.grey, stop.grey, stop.alpha);
    }
    appendPolygon(cr.get(), band);
    cairo_set_source(cr.get(), gradient.get());
    cairo_fill(cr.get());
    cr.reset();
    cairo_surface_flush(artwork.shading.get());
    return artwork;
}

void drawPageCurlUp(cairo_t* cr, const PagePictures& pages, const CurlArtwork& artwork, double progress) {
    if (drawnAtAnEnd(cr, pages, progress)) {
        return;
    }
    const int scale = pages.scale;
    const CurlFold fold = curlUpFold(pages.size, progress);
    const std::vector<Vec> page = pageCorners(pages.size);
    const std::vector<Vec> lifted = clipToHalfPlane(page, fold, fold.offset, +1.0);

    CairoSaveGuard guard(cr);
    cairo_rectangle(cr, 0.0, 0.0, pages.size.width, pages.size.height);
    cairo_clip(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);

    // The new page where the old one has been lifted off, the old one where it still lies flat.
    DirectPage direct;
    if (!directPage(cr, scale, direct)) {
        return;
    }
    split(direct, imageBits(pages.oldPage), imageBits(pages.newPage), direct.x, direct.y, direct.clip, fold,
          scale);
    if (lifted.size() < 3) {
        return;
    }

    // The flap: the lifted part folded over onto the rest. Its back, edges and shadow are the
    // artwork's back reflected across this fold, which is the back moved by twice the fold's offset
    // along its normal; only the flap and its shadow (near the flap, on the old page) are wanted.
    double minX = 0.0;
    double minY = 0.0;
    double maxX = 0.0;
    double maxY = 0.0;
    for (std::size_t i = 0; i < lifted.size(); ++i) {
        const Vec v = reflect(fold, lifted[i]);
        minX = i == 0 ? v.x : std::min(minX, v.x);
        minY = i == 0 ? v.y : std::min(minY, v.y);
        maxX = i == 0 ? v.x : std::max(maxX, v.x);
        maxY = i == 0 ? v.y : std::max(maxY, v.y);
    }
    const double reach =
        kFlapShadowWidth + std::max(std::abs(kFlapShadowOffsetX), std::abs(kFlapShadowOffsetY));
    const Vec twice{2.0 * fold.offset * fold.normalX, 2.0 * fold.offset * fold.normalY};
    composeBack(direct, artwork, fold, twice, Box{minX - reach, minY - reach, maxX + reach, maxY + reach},
                scale);

    // The shading moves with the fold: the lifted paper's shadow on the new page beyond it, the bend
    // of the flap before it. One fill for both bands, which meet only along the fold.
    const Vec once{fold.offset * fold.normalX, fold.offset * fold.normalY};
    const CairoPatternPtr shadingPattern =
        placedPattern(artwork.shading.get(), scale, artwork.shadingOrigin, once);
    std::vector<Vec> flap;
    flap.reserve(lifted.size());
    for (const Vec& v : lifted) {
        flap.push_back(reflect(fold, v));
    }
    cairo_set_source(cr, shadingPattern.get());
    appendPolygon(cr, clipToHalfPlane(lifted, fold, fold.offset + kFoldShading.back().at, -1.0));
    appendPolygon(cr, clipToHalfPlane(flap, fold, fold.offset + kFoldShading.front().at, +1.0));
    cairo_fill(cr);
}

void drawPageCurlDown(cairo_t* cr, const PagePictures& pages, const CurlArtwork& artwork, double progress) {
    const PagePictures swapped{pages.newPage, pages.oldPage, pages.size, pages.scale};
    drawPageCurlUp(cr, swapped, artwork, 1.0 - std::clamp(progress, 0.0, 1.0));
}

void drawPageFlip(cairo_t* cr, const PagePictures& pages, double progress, bool fromLeft) {
    if (drawnAtAnEnd(cr, pages, progress)) {
        return;
    }
    const double w = pages.size.width;
    const double h = pages.size.height;
    const double eased = easeInOut(progress);
    const bool firstHalf = eased < 0.5;
    // The face's apparent width as it turns through a half turn.
    const double squeeze = std::max(std::abs(std::cos(std::numbers::pi * eased)), 1e-3);
    CairoSaveGuard guard(cr);
    cairo_rectangle(cr, 0.0, 0.0, w, h);
    cairo_clip(cr);
    cairo_translate(cr, w / 2.0, 0.0);
    cairo_scale(cr, squeeze, 1.0);
    cairo_translate(cr, -w / 2.0, 0.0);
    const std::vector<Vec> face = pageCorners(pages.size);
    const CairoPatternPtr picture = picturePattern(firstHalf ? pages.oldPage : pages.newPage, pages.scale);
    fillWithPattern(cr, face, picture.get());
    // The edge going back is darker than the one coming forward; after the half turn the other
    // face shows, its edges swapped.
    const bool darkOnRight = fromLeft == firstHalf;
    const double shade = kFlipMaxShade * (1.0 - squeeze);
    const CairoPatternPtr gradient(
        cairo_pattern_create_linear(darkOnRight ? 0.0 : w, 0.0, darkOnRight ? w : 0.0, 0.0));
    cairo_pattern_add_color_stop_rgba(gradient.get(), 0.0, 0, 0, 0, shade * 0.3);
    cairo_pattern_add_color_stop_rgba(gradient.get(), 1.0, 0, 0, 0, shade);
    fillWithPattern(cr, face, gradient.get());
}

} // namespace platform
