#include "platform/ui/Compositor.h"

#include "platform/gfx/Blend.h"
#include "platform/gfx/PngWriter.h"
#include "platform/services/OutputFile.h"
#include "platform/ui/Animation.h"
#include "platform/ui/View.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace platform {

namespace {

// Beyond this a shift is no picture on any surface, and left to Cairo.
constexpr double kMaxShift = 1.0e6;

int pixels(float points, int scale) { return static_cast<int>(std::ceil(points * static_cast<float>(scale))); }

// A cached picture that is only moved, not turned or scaled, is placed at whole device pixels: half
// a pixel of position cannot be seen, while resampling the whole picture at a fractional offset
// costs more than everything else in a frame (the paper moves by fractions of a pixel per sample).
void snapToDevicePixels(cairo_t* cr) {
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    if (m.xx == 1.0 && m.yy == 1.0 && m.xy == 0.0 && m.yx == 0.0) {
        m.x0 = std::round(m.x0);
        m.y0 = std::round(m.y0);
        cairo_set_matrix(cr, &m);
    }
}

bool isWholePixelShift(const cairo_matrix_t& m) {
    return m.xx == 1.0 && m.yy == 1.0 && m.xy == 0.0 && m.yx == 0.0 && m.x0 == std::floor(m.x0) &&
           m.y0 == std::floor(m.y0) && std::abs(m.x0) < kMaxShift && std::abs(m.y0) < kMaxShift;
}

cairo_rectangle_int_t intersect(const cairo_rectangle_int_t& a, const cairo_rectangle_int_t& b) {
    const int x1 = std::max(a.x, b.x);
    const int y1 = std::max(a.y, b.y);
    const int x2 = std::min(a.x + a.width, b.x + b.width);
    const int y2 = std::min(a.y + a.height, b.y + b.height);
    return cairo_rectangle_int_t{x1, y1, std::max(0, x2 - x1), std::max(0, y2 - y1)};
}

cairo_rectangle_int_t unite(const cairo_rectangle_int_t& a, const cairo_rectangle_int_t& b) {
    if (a.width <= 0 || a.height <= 0) {
        return b;
    }
    if (b.width <= 0 || b.height <= 0) {
        return a;
    }
    const int x1 = std::min(a.x, b.x);
    const int y1 = std::min(a.y, b.y);
    return cairo_rectangle_int_t{x1, y1, std::max(a.x + a.width, b.x + b.width) - x1,
                                 std::max(a.y + a.height, b.y + b.height) - y1};
}

// The device pixels `view` and its subviews may touch when composed, where `parentToDevice` maps
// the view's parent's points to device pixels: the box around its bounds, grown by a pixel for
// antialiased and filtered edges, and around its subviews' unless it clips them.
cairo_rectangle_int_t extentInDevice(const View& view, const cairo_matrix_t& parentToDevice) {
    if (view.isHidden() || !view.layer().hasFiniteTransform()) {
        return cairo_rectangle_int_t{0, 0, 0, 0};
    }
    const Size size = view.bounds().size;
    const cairo_matrix_t toParent = view.layer().matrixToParent(size);
    cairo_matrix_t toDevice;
    cairo_matrix_multiply(&toDevice, &toParent, &parentToDevice);
    double x1 = std::numeric_limits<double>::infinity();
    double y1 = x1;
    double x2 = -x1;
    double y2 = -x1;
    for (const auto& [cornerX, cornerY] :
         {std::pair{0.0, 0.0}, std::pair{double(size.width), 0.0}, std::pair{0.0, double(size.height)},
          std::pair{double(size.width), double(size.height)}}) {
        double x = cornerX;
        double y = cornerY;
        cairo_matrix_transform_point(&toDevice, &x, &y);
        x1 = std::min(x1, x);
        y1 = std::min(y1, y);
        x2 = std::max(x2, x);
        y2 = std::max(y2, y);
    }
    // Far outside any surface: the picture is cut to the surface anyway.
    constexpr double kFar = 1 << 20;
    const auto outward = [&](double v, double step) {
        return static_cast<int>(std::clamp(v + step, -kFar, kFar));
    };
    const int left = outward(std::floor(x1), -1.0);
    const int top = outward(std::floor(y1), -1.0);
    cairo_rectangle_int_t extent{left, top, outward(std::ceil(x2), 1.0) - left,
                                 outward(std::ceil(y2), 1.0) - top};
    if (!view.clipsToBounds()) {
        for (const std::shared_ptr<View>& child : view.subviews()) {
            extent = unite(extent, extentInDevice(*child, toDevice));
        }
    }
    return extent;
}

// Paints a one-stroke picture's coverage, straight into the target's pixels where it can.
void paintCoverage(cairo_t* cr, const View::Coverage& coverage) {
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    cairo_rectangle_int_t clip{};
    cairo_surface_t* target = isWholePixelShift(m) ? directTarget(cr, clip) : nullptr;
    if (target != nullptr) {
        const int x = static_cast<int>(m.x0);
        const int y = static_cast<int>(m.y0);
        const cairo_rectangle_int_t area = intersect(
            clip, cairo_rectangle_int_t{coverage.ink.x + x, coverage.ink.y + y, coverage.ink.width, coverage.ink.height});
        if (area.width > 0 && area.height > 0) {
            paintThroughMask(imageBits(target), imageBits(coverage.mask), x, y, area, coverage.color,
                             coverage.rows);
            cairo_surface_mark_dirty_rectangle(target, area.x, area.y, area.width, area.height);
        }
        return;
    }
    cairo_rectangle(cr, coverage.ink.x, coverage.ink.y, coverage.ink.width, coverage.ink.height);
    cairo_clip(cr);
    cairo_set_source_rgba(cr, coverage.color.red, coverage.color.green, coverage.color.blue, coverage.color.alpha);
    cairo_mask_surface(cr, coverage.mask, 0.0, 0.0);
}

// Where `child` lies in its parent when it is only moved, not turned.
std::optional<Rect> movedFrame(const View& child) {
    const Size size = child.bounds().size;
    const cairo_matrix_t m = child.layer().matrixToParent(size);
    if (m.xx != 1.0 || m.yy != 1.0 || m.xy != 0.0 || m.yx != 0.0) {
        return std::nullopt;
    }
    return Rect(static_cast<float>(m.x0), static_cast<float>(m.y0), size.width, size.height);
}

// True when everything `view` shows within its bounds is opaque: an opaque background, an opaque
// picture (which fills the bounds), or a subview that covers the bounds and is itself so. A view
// turning a page is left out: a turn shows what lies beneath its pages.
bool coversOpaquely(const View& view, const Animator* animator) {
    if (view.isHidden() || !view.layer().hasFiniteTransform() ||
        (animator != nullptr && animator->transitionFor(view) != nullptr)) {
        return false;
    }
    if ((view.backgroundColor() && view.backgroundColor()->alpha >= 1.0) ||
        (view.drawsOpaqueContent() && view.contents() != nullptr)) {
        return true;
    }
    const Size size = view.bounds().size;
    return std::any_of(view.subviews().begin(), view.subviews().end(), [&](const std::shared_ptr<View>& child) {
        const std::optional<Rect> frame = movedFrame(*child);
        return frame && frame->origin.x <= 0.0f && frame->origin.y <= 0.0f &&
               frame->origin.x + frame->size.width >= size.width &&
               frame->origin.y + frame->size.height >= size.height && coversOpaquely(*child, animator);
    });
}

// The largest part of `view`'s bounds that one opaque subview covers, when it lies on whole device
// pixels (a hole with soft edges would let the background show through in a seam).
std::optional<Rect> coveredPart(const View& view, cairo_t* cr, const Animator* animator) {
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    if (m.xy != 0.0 || m.yx != 0.0) {
        return std::nullopt;
    }
    const Rect bounds = view.bounds();
    std::optional<Rect> best;
    for (const std::shared_ptr<View>& child : view.subviews()) {
        const std::optional<Rect> frame = movedFrame(*child);
        if (!frame) {
            continue;
        }
        const float x1 = std::max(frame->origin.x, 0.0f);
        const float y1 = std::max(frame->origin.y, 0.0f);
        const float x2 = std::min(frame->origin.x + frame->size.width, bounds.size.width);
        const float y2 = std::min(frame->origin.y + frame->size.height, bounds.size.height);
        if (x2 <= x1 || y2 <= y1 || (best && (x2 - x1) * (y2 - y1) <= best->size.width * best->size.height)) {
            continue;
        }
        std::array<double, 4> corners{x1, y1, x2, y2};
        cairo_user_to_device(cr, &corners[0], &corners[1]);
        cairo_user_to_device(cr, &corners[2], &corners[3]);
        if (std::any_of(corners.begin(), corners.end(), [](double v) { return v != std::floor(v); }) ||
            !coversOpaquely(*child, animator)) {
            continue;
        }
        best = Rect(x1, y1, x2 - x1, y2 - y1);
    }
    return best;
}

// A picture only moved by whole pixels, straight into the target's pixels: Cairo spends as much
// on setting up each of a shadow's tiles as on blending its pixels.
bool composeShiftedDirectly(cairo_t* cr, const cairo_matrix_t& m, cairo_surface_t* contents,
                            const cairo_rectangle_int_t& ink, const std::vector<cairo_rectangle_int_t>& tiles,
                            const std::vector<std::uint32_t>& rowSources) {
    const cairo_format_t format = cairo_image_surface_get_format(contents);
    cairo_rectangle_int_t clip{};
    cairo_surface_t* target = nullptr;
    if (!isWholePixelShift(m) || (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) ||
        (target = directTarget(cr, clip)) == nullptr) {
        return false;
    }
    const int x = static_cast<int>(m.x0);
    const int y = static_cast<int>(m.y0);
    // Each part moved onto the target and cut to the clip.
    const ImageBits targetBits = imageBits(target);
    const ImageBits pictureBits = imageBits(contents);
    const auto compose = [&](const cairo_rectangle_int_t& part) {
        const cairo_rectangle_int_t area =
            intersect(clip, cairo_rectangle_int_t{part.x + x, part.y + y, part.width, part.height});
        if (area.width > 0 && area.height > 0) {
            composeShifted(targetBits, pictureBits, format == CAIRO_FORMAT_RGB24, x, y, std::span(&area, 1),
                           rowSources);
            cairo_surface_mark_dirty_rectangle(target, area.x, area.y, area.width, area.height);
        }
    };
    if (tiles.empty()) {
        compose(ink);
    } else {
        std::for_each(tiles.begin(), tiles.end(), compose);
    }
    return true;
}

// A turned picture's box in device space is mostly empty: a needle turned by a few degrees spans
// several times its own width. Filtering every pixel of that box costs more than the rest of the
// frame, so the fill is cut into bands of rows, each only as wide as the picture is in that band
// (plus a pixel for the filter's reach). Every pixel left out would have been composed with nothing.
constexpr int kTurnedBandRows = 8;
// Pictures are sampled in 16.16 fixed point, so they must stay well inside 32768 pixels.
constexpr int kMaxDirectImage = 16384;

void fillTurned(cairo_t* cr, cairo_surface_t* contents, const cairo_rectangle_int_t& ink) {
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    cairo_rectangle_int_t clip{};
    if (cairo_image_surface_get_format(contents) == CAIRO_FORMAT_ARGB32 &&
        cairo_image_surface_get_width(contents) <= kMaxDirectImage &&
        cairo_image_surface_get_height(contents) <= kMaxDirectImage) {
        if (cairo_surface_t* target = directTarget(cr, clip)) {
            // Only the inked part is sampled: beyond it the picture is clear.
            const ImageBits whole = imageBits(contents);
            const ImageBits inked{whole.data + static_cast<std::ptrdiff_t>(ink.y) * whole.stride + 4 * ink.x, ink.width,
                                  ink.height, whole.stride};
            cairo_matrix_t fromInked = m;
            cairo_matrix_translate(&fromInked, ink.x, ink.y);
            if (composeTransformed(imageBits(target), inked, fromInked, clip)) {
                cairo_surface_mark_dirty_rectangle(target, clip.x, clip.y, clip.width, clip.height);
                return;
            }
        }
    }
    std::array<std::array<double, 2>, 4> corners{{{double(ink.x), double(ink.y)},
                                                  {double(ink.x + ink.width), double(ink.y)},
                                                  {double(ink.x + ink.width), double(ink.y + ink.height)},
                                                  {double(ink.x), double(ink.y + ink.height)}}};
    double top = std::numeric_limits<double>::infinity();
    double bottom = -top;
    for (auto& corner : corners) {
        cairo_user_to_device(cr, &corner[0], &corner[1]);
        top = std::min(top, corner[1]);
        bottom = std::max(bottom, corner[1]);
    }
    cairo_identity_matrix(cr);
    const double firstRow = std::floor(top) - 1.0;
    const double lastRow = std::ceil(bottom) + 1.0;
    for (double bandTop = firstRow; bandTop < lastRow; bandTop += kTurnedBandRows) {
        const double bandBottom = bandTop + kTurnedBandRows;
        double left = std::numeric_limits<double>::infinity();
        double right = -left;
        // The picture is a convex quadrilateral: its extent in the band is that of its edges
        // cut to the band.
        for (std::size_t i = 0; i < corners.size(); ++i) {
            const auto& p = corners[i];
            const auto& q = corners[(i + 1) % corners.size()];
            const double low = std::max(std::min(p[1], q[1]), bandTop);
            const double high = std::min(std::max(p[1], q[1]), bandBottom);
            if (low > high) {
                continue;
            }
            for (const double y : {low, high}) {
                const double x = p[1] == q[1] ? p[0] : p[0] + (q[0] - p[0]) * (y - p[1]) / (q[1] - p[1]);
                left = std::min({left, x, p[1] == q[1] ? q[0] : x});
                right = std::max({right, x, p[1] == q[1] ? q[0] : x});
            }
        }
        if (left <= right) {
            const double x = std::floor(left) - 1.0;
            cairo_rectangle(cr, x, bandTop, std::ceil(right) + 1.0 - x, kTurnedBandRows);
        }
    }
    cairo_fill(cr);
}

// Whether composing `root` writes every pixel of `surface` with an opaque colour before anything
// else, as a window with an opaque background does. Clearing the picture first would then be a
// second write of every pixel for nothing: an opaque colour over anything is that colour.
bool paintsEveryPixelFirst(const View& root, cairo_surface_t* surface, int scale, const Animator* animator) {
    const std::optional<Color>& background = root.backgroundColor();
    if (!background || !(background->alpha >= 1.0) || root.isHidden() || !root.layer().hasFiniteTransform() ||
        (animator != nullptr && animator->transitionFor(root) != nullptr)) {
        return false;
    }
    const Size size = root.bounds().size;
    const cairo_matrix_t m = root.layer().matrixToParent(size);
    // Placed at the origin without turning or scaling, and at least as large as the picture.
    return m.xx == 1.0 && m.yy == 1.0 && m.xy == 0.0 && m.yx == 0.0 && m.x0 == 0.0 && m.y0 == 0.0 &&
           static_cast<double>(size.width) * scale >= cairo_image_surface_get_width(surface) &&
           static_cast<double>(size.height) * scale >= cairo_image_surface_get_height(surface);
}

} // namespace

Compositor::Compositor(Size pointSize, int scale) : pointSize_(pointSize), scale_(scale) {
    if (scale < 1 || scale > 3) {
        throw std::invalid_argument("pixel scale must be 1, 2 or 3, not " + std::to_string(scale));
    }
    surface_ = makeImageSurface(pixels(pointSize.width, scale), pixels(pointSize.height, scale));
}

void Compositor::setTarget(CairoSurfacePtr target) {
    const int width = pixels(pointSize_.width, scale_);
    const int height = pixels(pointSize_.height, scale_);
    if (!target) {
        if (!ownsSurface_) {
            surface_ = makeImageSurface(width, height);
            ownsSurface_ = true;
        }
        return;
    }
    if (cairo_surface_get_type(target.get()) != CAIRO_SURFACE_TYPE_IMAGE ||
        cairo_image_surface_get_format(target.get()) != CAIRO_FORMAT_ARGB32 ||
        cairo_image_surface_get_width(target.get()) != width || cairo_image_surface_get_height(target.get()) != height) {
        throw std::invalid_argument("the compositor needs an ARGB32 target of " + std::to_string(width) + " x " +
                                    std::to_string(height) + " pixels");
    }
    // The surface of our own is given back: a target in use makes its pixels unneeded.
    surface_ = std::move(target);
    ownsSurface_ = false;
    lastRoot_ = nullptr;
}

std::optional<cairo_rectangle_int_t>
Compositor::changedPart(const View& root, const std::vector<Shown>& shown, const Animator* animator) const {
    // The root's own change (its place, background or list of subviews) and any animation (a
    // page turn draws outside the views' bounds) change everything.
    // A frame composed elsewhere in between cleared the change marks this one would need.
    if (lastRoot_ != &root || root.changesCleared() != lastRootClears_ || root.hasChangedItself() ||
        (animator != nullptr && animator->isAnimating()) || shown.size() != lastShown_.size()) {
        return std::nullopt;
    }
    cairo_rectangle_int_t changed{0, 0, 0, 0};
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i].view != lastShown_[i].view) {
            return std::nullopt;
        }
        if (shown[i].view->hasChanges()) {
            changed = unite(unite(changed, shown[i].box), lastShown_[i].box);
        }
    }
    return changed;
}

void Compositor::render(View& root, const Animator* animator) {
    root.displayIfNeeded(scale_);
    std::vector<Shown>& shown = nextShown_;
    shown.clear();
    cairo_matrix_t toDevice;
    cairo_matrix_init_scale(&toDevice, scale_, scale_);
    if (root.layer().hasFiniteTransform()) {
        const cairo_matrix_t rootToParent = root.layer().matrixToParent(root.bounds().size);
        cairo_matrix_multiply(&toDevice, &rootToParent, &toDevice);
    }
    for (const std::shared_ptr<View>& child : root.subviews()) {
        shown.push_back(Shown{child.get(), extentInDevice(*child, toDevice)});
    }
    const std::optional<cairo_rectangle_int_t> changed = changedPart(root, shown, animator);
    // A frame of an animation may draw beyond the views' places: the one after it is whole too.
    lastRoot_ = animator != nullptr && animator->isAnimating() ? nullptr : &root;
    std::swap(lastShown_, nextShown_);
    CairoContextPtr cr = makeContext(surface_.get());
    if (changed) {
        // The rest of the surface holds what the last frame composed there, unchanged since.
        cairo_rectangle(cr.get(), changed->x, changed->y, changed->width, changed->height);
        cairo_clip(cr.get());
    }
    if (!paintsEveryPixelFirst(root, surface_.get(), scale_, animator)) {
        cairo_set_operator(cr.get(), CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr.get());
        cairo_set_operator(cr.get(), CAIRO_OPERATOR_OVER);
    }
    cairo_scale(cr.get(), scale_, scale_);
    composite(root, cr.get(), scale_, animator);
    cr.reset();
    cairo_surface_flush(surface_.get());
    root.clearChanges();
    lastRootClears_ = root.changesCleared();
}

void Compositor::composite(View& view, cairo_t* cr, int scale, const Animator* animator) {
    if (view.isHidden() || !view.layer().hasFiniteTransform()) {
        return;
    }
    const Rect bounds = view.bounds();
    CairoSaveGuard guard(cr);
    const cairo_matrix_t toParent = view.layer().matrixToParent(bounds.size);
    cairo_transform(cr, &toParent);
    if (const PageTransition* transition = animator != nullptr ? animator->transitionFor(view) : nullptr) {
        // The new page is the view as it is now, composed afresh at the transition's scale.
        cairo_surface_t* newPage = transition->newPageCanvas();
        {
            CairoContextPtr pageContext = makeContext(newPage);
            cairo_scale(pageContext.get(), transition->scale(), transition->scale());
            composeContents(view, pageContext.get(), transition->scale(), animator);
        }
        cairo_surface_flush(newPage);
        transition->drawFrame(cr, newPage, transition->progressAt(animator->clock().now()));
        return;
    }
    if (view.clipsToBounds()) {
        cairo_rectangle(cr, 0.0, 0.0, bounds.size.width, bounds.size.height);
        cairo_clip(cr);
    }
    composeContents(view, cr, scale, animator);
}

void Compositor::composeContents(View& view, cairo_t* cr, int scale, const Animator* animator) {
    const Rect bounds = view.bounds();
    if (const auto& background = view.backgroundColor()) {
        cairo_set_source_rgba(cr, background->red, background->green, background->blue, background->alpha);
        cairo_rectangle(cr, 0.0, 0.0, bounds.size.width, bounds.size.height);
        // What an opaque subview covers would only be painted over: left out, as a hole.
        if (const std::optional<Rect> hidden = coveredPart(view, cr, animator)) {
            cairo_rectangle(cr, hidden->origin.x, hidden->origin.y, hidden->size.width, hidden->size.height);
            cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
        }
        cairo_fill(cr);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    }
    if (const std::optional<View::Coverage> coverage = view.contentsCoverage()) {
        if (coverage->ink.width > 0) {
            CairoSaveGuard contentsGuard(cr);
            cairo_scale(cr, 1.0 / scale, 1.0 / scale);
            snapToDevicePixels(cr);
            paintCoverage(cr, *coverage);
        }
    } else if (cairo_surface_t* contents = view.contents()) {
        CairoSaveGuard contentsGuard(cr);
        cairo_scale(cr, 1.0 / scale, 1.0 / scale);
        snapToDevicePixels(cr);
        cairo_set_source_surface(cr, contents, 0.0, 0.0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BILINEAR);
        // Only the inked part of the picture is blended; the rest is known to be clear.
        const cairo_rectangle_int_t& ink = view.contentsInk();
        cairo_matrix_t m;
        cairo_get_matrix(cr, &m);
        if (composeShiftedDirectly(cr, m, contents, ink, view.contentsInkTiles(),
                                   view.contentsRowSources())) {
            // done
        } else if (m.xy != 0.0 || m.yx != 0.0) {
            fillTurned(cr, contents, ink);
        } else if (!view.contentsInkTiles().empty()) {
            for (const cairo_rectangle_int_t& tile : view.contentsInkTiles()) {
                cairo_rectangle(cr, tile.x, tile.y, tile.width, tile.height);
            }
            cairo_fill(cr);
        } else if (ink.x == 0 && ink.y == 0 && ink.width == cairo_image_surface_get_width(contents) &&
                   ink.height == cairo_image_surface_get_height(contents)) {
            cairo_paint(cr);
        } else {
            cairo_rectangle(cr, ink.x, ink.y, ink.width, ink.height);
            cairo_fill(cr);
        }
    }
    for (const std::shared_ptr<View>& child : view.subviews()) {
        composite(*child, cr, scale, animator);
    }
}

void Compositor::writePng(const std::filesystem::path& path) const { writeSurfacePng(surface_.get(), path); }

void writeSurfacePng(cairo_surface_t* surface, const std::filesystem::path& path) {
    std::string bytes;
    try {
        bytes = encodePng(surface);
    } catch (const std::runtime_error& error) {
        throw OutputError(path, error.what());
    }
    writeOutputFile(path, bytes);
}

} // namespace platform
