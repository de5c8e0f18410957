#pragma once

#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/Geometry.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/Layer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

/// A rectangle of the screen and the root of its own subtree. A parent owns its subviews
/// (shared_ptr); a subview points back at its parent without owning it. Later subviews are drawn
/// in front of earlier ones.
///
/// Drawing is split in two, as on the handheld platforms: setNeedsDisplay only marks the view; a
/// compositor's display pass calls drawRect once for a view marked since it last drew it, keeps
/// the picture, and places the pictures by their layers.
class View {
public:
    explicit View(Rect frame);
    virtual ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    /// The view's rectangle in its parent's coordinates (ignoring any rotation or translation).
    Rect frame() const;
    void setFrame(Rect frame);
    /// Origin (0, 0) and the frame's size.
    Rect bounds() const { return Rect(0.0f, 0.0f, size_.width, size_.height); }

    /// Adds `view` in front of the existing subviews, taking it from its old parent first.
    void addSubview(const std::shared_ptr<View>& view);
    /// Takes the view out of its parent; the parent's reference is dropped.
    void removeFromSuperview();
    View* superview() const { return superview_; }
    const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }

    bool clipsToBounds() const { return clipsToBounds_; }
    void setClipsToBounds(bool clips);
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque) { opaque_ = opaque; }
    const std::optional<Color>& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<Color> color);
    bool isHidden() const { return hidden_; }
    void setHidden(bool hidden);
    /// False makes hitTest pass over this view and its whole subtree. True by default.
    bool userInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }

    /// The frontmost visible, interactive view of this subtree under `pointInSelf` (this view's
    /// points): subviews are tried front to back, each with the point mapped through the inverse
    /// of its layer, so a turned or moved view is hit where it is drawn. Returns this view when
    /// no subview is hit, and nullptr when the point is outside the bounds or this view is hidden
    /// or not interactive. The pointer is borrowed from the tree.
    View* hitTest(Point pointInSelf);

    /// True for views that take touches themselves; a touch on any other view goes to the nearest
    /// ancestor that accepts touches.
    virtual bool acceptsTouches() const { return false; }
    /// A finger went down (or a button was pressed) at `pointInSelf`.
    virtual void touchesBegan(Point pointInSelf);
    /// The finger moved while down; `inside` tells whether it is within the bounds.
    virtual void touchesMoved(Point pointInSelf, bool inside);
    /// The finger went up at `pointInSelf`; `inside` tells whether that is within the bounds.
    virtual void touchesEnded(Point pointInSelf, bool inside);
    /// The touch ended without a release that counts, e.g. the view left the screen meanwhile.
    virtual void touchesCancelled();

    Layer& layer() { return layer_; }
    const Layer& layer() const { return layer_; }

    /// Marks the view's content as out of date; nothing is drawn until the next display pass.
    void setNeedsDisplay();
    /// Grows with every setNeedsDisplay(), never the same for two views: a picture drawn at one
    /// generation is out of date once the view's generation differs.
    std::uint64_t displayGeneration() const { return displayGeneration_; }

    /// Draws the view's content in its own coordinates (points). Called by a display pass only,
    /// once per pass for a marked view; `rect` is the area to draw, always the whole bounds here.
    virtual void drawRect(GraphicsContext& context, const Rect& rect);
    /// True for views whose drawRect draws something, so they get a picture.
    virtual bool drawsContent() const { return false; }
    /// True when drawRect covers the whole bounds with fully opaque pixels, so the picture needs
    /// no alpha and is copied rather than blended when composed.
    virtual bool drawsOpaqueContent() const { return false; }

    /// Lets this view and its subviews start making ready what a display pass at `scale` will
    /// draw (an image view has its image decoded on another thread), so that a first frame waits
    /// less. Nothing is drawn; the default does nothing for the view itself.
    virtual void prefetchContents(int scale);

    /// A picture exactly as drawRect would draw it (`widthPixels` x `heightPixels`, RGB24 if
    /// drawsOpaqueContent(), else premultiplied ARGB32) for the display pass to keep instead of
    /// drawing one; null, the default, to have drawRect draw. The caller becomes its only owner.
    virtual CairoSurfacePtr takeFinishedContents(int scale, int widthPixels, int heightPixels);

    /// True when something in this subtree changed since the last clearChanges() on the root.
    bool hasChanges() const { return changed_; }
    /// True when this view itself changed since then (its layer, look, content or subview list),
    /// not only something within a subview.
    bool hasChangedItself() const { return changedItself_; }
    /// How many times clearChanges() found changes to clear here: a compositor that sees it
    /// differ from its last frame's knows another frame was composed of this tree meanwhile.
    std::uint64_t changesCleared() const { return changesCleared_; }
    void clearChanges();
    /// Tells the root of the tree that the picture must be composed again.
    void setNeedsComposite();

private:
    Layer layer_;
    Size size_;
    View* superview_ = nullptr;
    std::vector<std::shared_ptr<View>> subviews_;
    std::optional<Color> backgroundColor_;
    bool clipsToBounds_ = false;
    bool opaque_ = true;
    bool hidden_ = false;
    bool userInteractionEnabled_ = true;
    bool changed_ = true;
    bool changedItself_ = true;
    std::uint64_t changesCleared_ = 0;
    std::uint64_t displayGeneration_ = 0;
};

} // namespace platform
