#include "platform/ui/View.h"

#include "platform/gfx/Blend.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>

namespace platform {

namespace {

// Tiles of a large picture that hold anything, as runs along each row of tiles. A drop shadow or
// a frame is mostly clear inside, and composing clear pixels costs as much as any other.
constexpr int kTilePixels = 32;
constexpr int kMinTiledPixels = 256 * 256;

// The box around the picture's pixels that are not clear: a picture drawn through Cairo counts as
// inked everywhere, yet a needle or a frame covers a small part of its surface, and every clear
// pixel composed (turned, worse) costs as much as any other.
cairo_rectangle_int_t tightInk(cairo_surface_t* picture, const cairo_rectangle_int_t& ink) {
    const unsigned char* data = cairo_image_surface_get_data(picture);
    const int stride = cairo_image_surface_get_stride(picture);
    int left = ink.x + ink.width;
    int right = ink.x - 1;
    int top = ink.y + ink.height;
    int bottom = ink.y - 1;
    for (int y = ink.y; y < ink.y + ink.height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        int first = ink.x;
        while (first < ink.x + ink.width && (row[first] >> 24) == 0u) {
            ++first;
        }
        if (first == ink.x + ink.width) {
            continue;
        }
        int last = ink.x + ink.width - 1;
        while ((row[last] >> 24) == 0u) {
            --last;
        }
        left = std::min(left, first);
        right = std::max(right, last);
        top = std::min(top, y);
        bottom = y;
    }
    if (right < left) {
        return cairo_rectangle_int_t{0, 0, 0, 0};
    }
    return cairo_rectangle_int_t{left, top, right - left + 1, bottom - top + 1};
}

std::vector<cairo_rectangle_int_t> inkedTiles(cairo_surface_t* picture, const cairo_rectangle_int_t& ink) {
    std::vector<cairo_rectangle_int_t> tiles;
    if (ink.width * ink.height < kMinTiledPixels) {
        return tiles;
    }
    const unsigned char* data = cairo_image_surface_get_data(picture);
    const int stride = cairo_image_surface_get_stride(picture);
    const auto tileHasInk = [&](int x0, int y0, int x1, int y1) {
        for (int y = y0; y < y1; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
            for (int x = x0; x < x1; ++x) {
                if ((row[x] >> 24) != 0u) {
                    return true;
                }
            }
        }
        return false;
    };
    for (int y = ink.y; y < ink.y + ink.height; y += kTilePixels) {
        const int y1 = std::min(y + kTilePixels, ink.y + ink.height);
        int runStart = -1;
        for (int x = ink.x; x <= ink.x + ink.width; x += kTilePixels) {
            const int x1 = std::min(x + kTilePixels, ink.x + ink.width);
            const bool inked = x < ink.x + ink.width && tileHasInk(x, y, x1, y1);
            if (inked && runStart < 0) {
                runStart = x;
            } else if (!inked && runStart >= 0) {
                tiles.push_back(cairo_rectangle_int_t{runStart, y, x - runStart, y1 - y});
                runStart = -1;
            }
        }
    }
    return tiles;
}

} // namespace

View::View(Rect frame) : layer_([this] { setNeedsComposite(); }) { setFrame(frame); }

View::~View() {
    for (const std::shared_ptr<View>& child : subviews_) {
        child->superview_ = nullptr;
    }
}

Rect View::frame() const {
    const Point anchor = layer_.anchorPoint();
    const Point position = layer_.position();
    return Rect(position.x - anchor.x * size_.width, position.y - anchor.y * size_.height, size_.width,
                size_.height);
}

void View::setFrame(Rect frame) {
    const bool resized = frame.size != size_;
    size_ = frame.size;
    const Point anchor = layer_.anchorPoint();
    layer_.setPosition(
        Point{frame.origin.x + anchor.x * frame.size.width, frame.origin.y + anchor.y * frame.size.height});
    if (resized) {
        setNeedsDisplay();
    }
}

void View::addSubview(const std::shared_ptr<View>& view) {
    assert(view && view.get() != this);
    // Hold the view while it moves, in case its old parent had the only reference.
    const std::shared_ptr<View> keep = view;
    keep->removeFromSuperview();
    keep->superview_ = this;
    subviews_.push_back(keep);
    setNeedsComposite();
}

void View::removeFromSuperview() {
    View* parent = superview_;
    if (parent == nullptr) {
        return;
    }
    superview_ = nullptr;
    auto& siblings = parent->subviews_;
    const auto it = std::find_if(siblings.begin(), siblings.end(),
                                 [this](const std::shared_ptr<View>& v) { return v.get() == this; });
    assert(it != siblings.end());
    parent->setNeedsComposite();
    // Erasing may drop the last reference to this view: touch nothing of it afterwards.
    siblings.erase(it);
}

void View::setClipsToBounds(bool clips) {
    clipsToBounds_ = clips;
    setNeedsComposite();
}

void View::setBackgroundColor(std::optional<Color> color) {
    backgroundColor_ = color;
    setNeedsComposite();
}

void View::setHidden(bool hidden) {
    hidden_ = hidden;
    setNeedsComposite();
}

void View::setNeedsDisplay() {
    needsDisplay_ = true;
    setNeedsComposite();
}

void View::setNeedsComposite() {
    changedItself_ = true;
    // A marked view's ancestors are all marked already (marks are cleared from the root down), so
    // the walk stops at the first one: a sample that moves three layers costs three flag checks.
    for (View* v = this; v != nullptr && !v->changed_; v = v->superview_) {
        v->changed_ = true;
    }
}

void View::clearChanges() {
    if (!changed_) {
        return;
    }
    changed_ = false;
    changedItself_ = false;
    ++changesCleared_;
    for (const std::shared_ptr<View>& child : subviews_) {
        child->clearChanges();
    }
}

std::optional<View::Coverage> View::contentsCoverage() {
    if (!coverageColor_ || !contents_) {
        return std::nullopt;
    }
    return Coverage{strokeCache_.mask.surface(), *coverageColor_, strokeCache_.mask.inkBox(),
                    strokeCache_.mask.rowInk()};
}

void View::drawRect(GraphicsContext&, const Rect&) {}

void View::prefetchContents(int scale) {
    for (const std::shared_ptr<View>& child : subviews_) {
        child->prefetchContents(scale);
    }
}

CairoSurfacePtr View::takeFinishedContents(int, int, int) {
    return nullptr;
}

View* View::hitTest(Point pointInSelf) {
    if (hidden_ || !userInteractionEnabled_ || !bounds().contains(pointInSelf)) {
        return nullptr;
    }
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
        View& child = **it;
        // A view that cannot be drawn (non-finite transform) cannot be touched either.
        if (!child.layer_.hasFiniteTransform()) {
            continue;
        }
        cairo_matrix_t toChild = child.layer_.matrixToParent(child.size_);
        if (cairo_matrix_invert(&toChild) != CAIRO_STATUS_SUCCESS) {
            continue;
        }
        double x = pointInSelf.x;
        double y = pointInSelf.y;
        cairo_matrix_transform_point(&toChild, &x, &y);
        if (View* hit = child.hitTest(Point{static_cast<float>(x), static_cast<float>(y)})) {
            return hit;
        }
    }
    return this;
}

void View::touchesBegan(Point) {}

void View::touchesMoved(Point, bool) {}

void View::touchesEnded(Point, bool) {}

void View::touchesCancelled() {}

void View::drawContents(int scale, int widthPixels, int heightPixels, bool opaque, bool sizeMatches) {
    if (!sizeMatches) {
        contents_ =
            makeImageSurface(widthPixels, heightPixels, opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32);
        contentsScale_ = scale;
        contentsOpaque_ = opaque;
        contentsInk_ = cairo_rectangle_int_t{0, 0, 0, 0};
    }
    CairoContextPtr cr = makeContext(contents_.get());
    // Each pass replaces the previous picture entirely; only what was inked needs clearing.
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_CLEAR);
    cairo_rectangle(cr.get(), contentsInk_.x, contentsInk_.y, contentsInk_.width, contentsInk_.height);
    cairo_fill(cr.get());
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_OVER);
    cairo_scale(cr.get(), scale, scale);
    GraphicsContext context(cr.get(), &strokeCache_);
    drawRect(context, bounds());
    if (!opaque && context.onlyPendingStroke()) {
        coverageColor_ = context.takePendingStroke();
        contentsInk_ = cairo_rectangle_int_t{0, 0, 0, 0};
    } else {
        coverageColor_.reset();
        context.flush();
        contentsInk_ = context.inkExtents(widthPixels, heightPixels);
    }
    cr.reset();
    cairo_surface_flush(contents_.get());
}

void View::displayIfNeeded(int scale) {
    if (drawsContent()) {
        const int widthPixels = static_cast<int>(std::ceil(size_.width * static_cast<float>(scale)));
        const int heightPixels = static_cast<int>(std::ceil(size_.height * static_cast<float>(scale)));
        const bool opaque = drawsOpaqueContent();
        const bool sizeMatches = contents_ && contentsScale_ == scale && contentsOpaque_ == opaque &&
                                 cairo_image_surface_get_width(contents_.get()) == widthPixels &&
                                 cairo_image_surface_get_height(contents_.get()) == heightPixels;
        if (needsDisplay_ || !sizeMatches) {
            coverageColor_.reset();
            if (widthPixels <= 0 || heightPixels <= 0) {
                contents_.reset();
                contentsRowSources_.clear();
            } else {
                if (CairoSurfacePtr finished = takeFinishedContents(scale, widthPixels, heightPixels)) {
                    contents_ = std::move(finished);
                    contentsScale_ = scale;
                    contentsOpaque_ = opaque;
                    contentsInk_ = cairo_rectangle_int_t{0, 0, widthPixels, heightPixels};
                } else {
                    drawContents(scale, widthPixels, heightPixels, opaque, sizeMatches);
                }
                if (!opaque && !coverageColor_ && contentsInk_.width == widthPixels && contentsInk_.height == heightPixels) {
                    contentsInk_ = tightInk(contents_.get(), contentsInk_);
                }
                contentsInkTiles_ = opaque ? std::vector<cairo_rectangle_int_t>{} : inkedTiles(contents_.get(), contentsInk_);
                contentsRowSources_ =
                    coverageColor_ ? std::vector<std::uint32_t>{} : repeatedRows(imageBits(contents_.get()));
            }
        }
    } else if (contents_) {
        // A view that stopped drawing (an image view whose image was taken away) shows nothing.
        contents_.reset();
        contentsInk_ = cairo_rectangle_int_t{0, 0, 0, 0};
        contentsInkTiles_.clear();
        contentsRowSources_.clear();
        coverageColor_.reset();
    }
    needsDisplay_ = false;
    for (const std::shared_ptr<View>& child : subviews_) {
        child->displayIfNeeded(scale);
    }
}

} // namespace platform
