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

int pixels(float points, int scale) {
    return static_cast<int>(std::ceil(points * static_cast<float>(scale)));
}

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

// Where `child` lies in its parent when it is only moved, not turned.
std::optional<Rect> movedFrame(const View& child) {
    const Size size = child.bounds().size;
    const cairo_matrix_t m = child.layer().matrixToParent(size);
    if (m.xx != 1.0 || m.yy != 1.0 || m.xy != 0.0 || m.yx != 0.0) {
        return std::nullopt;
    }
    return Rect(static_cast<float>(m.x0), static_cast<float>(m.y0), size.width, size.height);
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

// The compositor that composed the last frame on this thread, whose pictures a page turn's
// pictures reuse; null once it is gone.
thread_local Compositor* lastRendering = nullptr;

// True when `m` (user space to device) maps points to whole device pixels at `scale`, unturned.
bool onWholePixels(const cairo_matrix_t& m, int scale) {
    return m.xx == scale && m.yy == scale && m.xy == 0.0 && m.yx == 0.0 && m.x0 == std::floor(m.x0) &&
           m.y0 == std::floor(m.y0);
}

} // namespace

void Compositor::display(View& view, const std::shared_ptr<View>& handle) {
    if (view.drawsContent()) {
        const Size size = view.bounds().size;
        const int width = pixels(size.width, scale_);
        const int height = pixels(size.height, scale_);
        const bool opaque = view.drawsOpaqueContent();
        Drawn& drawn = pictures_[&view];
        if (handle) {
            drawn.view = handle;
        }
        if (drawn.generation != view.displayGeneration() ||
            !drawn.picture.fits(width, height, scale_, opaque)) {
            drawn.generation = view.displayGeneration();
            CairoSurfacePtr finished =
                width > 0 && height > 0 ? view.takeFinishedContents(scale_, width, height) : nullptr;
            if (finished) {
                drawn.picture.adopt(std::move(finished), scale_);
            } else {
                drawn.picture.redraw(width, height, scale_, opaque, [&](GraphicsContext& context) {
                    view.drawRect(context, view.bounds());
                });
            }
        }
    } else {
        // A view that stopped drawing (an image view whose image was taken away) shows nothing.
        pictures_.erase(&view);
    }
    for (const std::shared_ptr<View>& child : view.subviews()) {
        display(*child, child);
    }
}

const Picture* Compositor::pictureOf(const View& view) const {
    const auto it = pictures_.find(&view);
    return it != pictures_.end() ? &it->second.picture : nullptr;
}

// True when everything `view` shows within its bounds is opaque: an opaque background, an opaque
// picture (which fills the bounds), or a subview that covers the bounds and is itself so. A view
// turning a page is left out: a turn shows what lies beneath its pages.
bool Compositor::coversOpaquely(const View& view, const Animator* animator) const {
    if (view.isHidden() || !view.layer().hasFiniteTransform() ||
        (animator != nullptr && animator->transitionFor(view) != nullptr)) {
        return false;
    }
    const Picture* picture = pictureOf(view);
    if ((view.backgroundColor() && view.backgroundColor()->alpha >= 1.0) ||
        (view.drawsOpaqueContent() && picture != nullptr && picture->isOpaque())) {
        return true;
    }
    const Size size = view.bounds().size;
    return std::any_of(
        view.subviews().begin(), view.subviews().end(), [&](const std::shared_ptr<View>& child) {
            const std::optional<Rect> frame = movedFrame(*child);
            return frame && frame->origin.x <= 0.0f && frame->origin.y <= 0.0f &&
                   frame->origin.x + frame->size.width >= size.width &&
                   frame->origin.y + frame->size.height >= size.height && coversOpaquely(*child, animator);
        });
}

// The largest part of `view`'s bounds that one opaque subview covers, when it lies on whole device
// pixels (a hole with soft edges would let the background show through in a seam).
std::optional<Rect> Compositor::coveredPart(const View& view, cairo_t* cr, const Animator* animator) const {
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

Compositor::~Compositor() {
    if (lastRendering == this) {
        lastRendering = nullptr;
    }
}

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
        cairo_image_surface_get_width(target.get()) != width ||
        cairo_image_surface_get_height(target.get()) != height) {
        throw std::invalid_argument("the compositor needs an ARGB32 target of " + std::to_string(width) +
                                    " x " + std::to_string(height) + " pixels");
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
    lastRendering = this;
    // Pictures of views that are gone; a root is reached by reference, so its own stays while it is
    // the one composed.
    std::erase_if(pictures_,
                  [&](const auto& entry) { return entry.first != &root && entry.second.view.expired(); });
    display(root, nullptr);
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
    composite(root, cr.get(), animator);
    cr.reset();
    cairo_surface_flush(surface_.get());
    root.clearChanges();
    lastRootClears_ = root.changesCleared();
}

void Compositor::composite(View& view, cairo_t* cr, const Animator* animator) {
    if (view.isHidden() || !view.layer().hasFiniteTransform()) {
        return;
    }
    CairoSaveGuard guard(cr);
    const cairo_matrix_t toParent = view.layer().matrixToParent(view.bounds().size);
    cairo_transform(cr, &toParent);
    const PageTransition* transition = animator != nullptr ? animator->transitionFor(view) : nullptr;
    const int scale = transition != nullptr ? transition->scale() : scale_;
    cairo_matrix_t toDevice;
    cairo_get_matrix(cr, &toDevice);
    if ((transition != nullptr || view.clipsToBounds()) && !onWholePixels(toDevice, scale)) {
        composeApart(view, cr, scale, animator);
        return;
    }
    composeWithin(view, cr, scale, animator);
}

void Compositor::composeWithin(View& view, cairo_t* cr, int scale, const Animator* animator) {
    const Size size = view.bounds().size;
    if (const PageTransition* transition = animator != nullptr ? animator->transitionFor(view) : nullptr) {
        // The new page is the view as it is now, composed afresh at the transition's scale.
        cairo_surface_t* newPage = transition->newPageCanvas();
        {
            CairoContextPtr pageContext = makeContext(newPage);
            cairo_scale(pageContext.get(), scale, scale);
            composeContents(view, pageContext.get(), scale, animator);
        }
        cairo_surface_flush(newPage);
        transition->drawFrame(cr, newPage, transition->progressAt(animator->clock().now()));
        return;
    }
    if (view.clipsToBounds()) {
        cairo_rectangle(cr, 0.0, 0.0, size.width, size.height);
        cairo_clip(cr);
    }
    composeContents(view, cr, scale, animator);
}

void Compositor::composeApart(View& view, cairo_t* cr, int scale, const Animator* animator) {
    const Size size = view.bounds().size;
    CairoSurfacePtr apart =
        makeImageSurface(std::max(1, pixels(size.width, scale)), std::max(1, pixels(size.height, scale)));
    {
        CairoContextPtr own = makeContext(apart.get());
        cairo_scale(own.get(), scale, scale);
        composeWithin(view, own.get(), scale, animator);
    }
    Picture placed;
    placed.adopt(std::move(apart), scale);
    cairo_rectangle_int_t clip{};
    cairo_scale(cr, 1.0 / scale, 1.0 / scale);
    cairo_matrix_t m;
    cairo_get_matrix(cr, &m);
    if (cairo_surface_t* target = directTarget(cr, clip)) {
        placed.composeInto(target, clip, m);
    }
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
    if (const auto it = pictures_.find(&view); it != pictures_.end() && !it->second.picture.isEmpty()) {
        CairoSaveGuard pictureGuard(cr);
        cairo_scale(cr, 1.0 / scale, 1.0 / scale);
        snapToDevicePixels(cr);
        cairo_matrix_t m;
        cairo_get_matrix(cr, &m);
        cairo_rectangle_int_t clip{};
        if (cairo_surface_t* target = directTarget(cr, clip)) {
            it->second.picture.composeInto(target, clip, m);
        }
    }
    for (const std::shared_ptr<View>& child : view.subviews()) {
        composite(*child, cr, animator);
    }
}

CairoSurfacePtr Compositor::picture(View& view, int scale, const Animator* animator) {
    const Size size = view.bounds().size;
    // The pictures of the compositor that showed the last frame at this scale serve as they are:
    // a page turn's start then redraws only what changed since, as that frame's next would.
    std::optional<Compositor> own;
    Compositor* painter = lastRendering != nullptr && lastRendering->scale_ == scale
                              ? lastRendering
                              : &own.emplace(size, scale);
    painter->display(view, nullptr);
    CairoSurfacePtr picture =
        makeImageSurface(std::max(1, pixels(size.width, scale)), std::max(1, pixels(size.height, scale)));
    CairoContextPtr cr = makeContext(picture.get());
    cairo_scale(cr.get(), scale, scale);
    // Cancel the view's own placement, so that the view lands at the picture's origin while it is
    // still drawn as a whole: hidden, clipped or mid-transition, as it is on the screen.
    cairo_matrix_t fromParent = view.layer().matrixToParent(size);
    if (view.layer().hasFiniteTransform() && cairo_matrix_invert(&fromParent) == CAIRO_STATUS_SUCCESS) {
        cairo_transform(cr.get(), &fromParent);
        painter->composite(view, cr.get(), animator);
    }
    cr.reset();
    cairo_surface_flush(picture.get());
    return picture;
}

void Compositor::writePng(const std::filesystem::path& path) const {
    writeSurfacePng(surface_.get(), path);
}

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
