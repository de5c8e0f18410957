#pragma once

#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/Geometry.h"
#include "platform/gfx/Picture.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace platform {

class Animator;
class View;

/// Composes a view tree into an ARGB surface of a fixed size in points at a pixel scale of 1, 2
/// or 3. The root view is placed by its own layer, so a root with frame origin (0, 0) fills the
/// surface from its top-left corner.
///
/// The compositor is the views' renderer: its display pass has each view draw through a context
/// into a Picture the compositor keeps (one per view that draws), and a frame places those
/// pictures by their layers. Pictures moved by whole pixels are copied or blended pixel for pixel,
/// turned ones sampled; a view that clips or turns a page off whole pixels is composed apart first,
/// so every picture lands on a surface it may write directly.
class Compositor {
public:
    /// Composes into a surface of its own. Throws std::invalid_argument for a scale other than 1,
    /// 2 or 3.
    Compositor(Size pointSize, int scale);
    ~Compositor();
    Compositor(const Compositor&) = delete;
    Compositor& operator=(const Compositor&) = delete;

    /// Composes into `target` from now on, such as a window's own pixels, so a frame is not copied
    /// once more to be shown; null goes back to a surface of the compositor's own. The target
    /// must be an ARGB32 image surface of exactly the compositor's size in pixels; the compositor
    /// keeps a reference to it, while its pixels stay the caller's to keep valid until the target
    /// is replaced or the compositor destroyed. What the surface held before the next render()
    /// does not matter. Throws std::invalid_argument for another format or size.
    void setTarget(CairoSurfacePtr target);

    /// One frame: the display pass over the tree (drawRect for marked views), then the tree is
    /// composed into the surface and the tree's change mark cleared. Views with a page
    /// transition running on `animator` (not owned; may be null) are drawn through it. Where the
    /// surface still holds the last frame of the same root, only the parts of it under the root's
    /// changed subviews (where they are and where they were) are composed again.
    void render(View& root, const Animator* animator = nullptr);

    /// The surface composed into: the compositor's own or the target set. Valid until the
    /// compositor is destroyed or its target changes.
    cairo_surface_t* surface() const { return surface_.get(); }
    /// True while composing into a target set by the caller.
    bool hasTarget() const { return !ownsSurface_; }
    int scale() const { return scale_; }
    Size pointSize() const { return pointSize_; }

    /// Writes the last composed picture as a PNG, as writeSurfacePng does.
    void writePng(const std::filesystem::path& path) const;

    /// Pictures `view` as it shows within its bounds now (hidden, clipped or mid-transition as on
    /// the screen, but without its own placement) in device pixels at `scale`, through the
    /// pictures of the compositor that composed the last frame at that scale (else of its own);
    /// the views' change marks are left for the frames that show them. A view turning on
    /// `animator` (may be null) shows the transition's frame at the clock's time.
    static CairoSurfacePtr picture(View& view, int scale, const Animator* animator);

private:
    /// Where one of the root's subviews, with all it shows, lay in the last frame (device pixels).
    struct Shown {
        const View* view;
        cairo_rectangle_int_t box;
    };

    /// The picture one view drew, and the generation of the view it was drawn at.
    struct Drawn {
        std::weak_ptr<const View> view; ///< Empty for a root, which is reached by reference.
        std::uint64_t generation = 0;
        Picture picture;
    };

    /// The part of the surface the next frame of `root` changes; nullopt for all of it.
    std::optional<cairo_rectangle_int_t> changedPart(const View& root, const std::vector<Shown>& shown,
                                                     const Animator* animator) const;
    /// The display pass: drawRect for every view in `view`'s subtree marked since its picture was
    /// drawn, or whose picture no longer fits.
    void display(View& view, const std::shared_ptr<View>& handle);
    /// Composes `view` and its subtree into `cr`, whose user space is the parent's points. Views
    /// whose transform is not finite are left out, so one bad value never breaks the frame.
    void composite(View& view, cairo_t* cr, const Animator* animator);
    /// Composes what `view` shows inside its bounds (background, picture, subviews) into `cr`,
    /// whose user space is the view's own points at `scale` device pixels a point.
    void composeContents(View& view, cairo_t* cr, int scale, const Animator* animator);
    /// Composes `view` into `cr`, whose user space is the view's own points on whole device pixels
    /// at `scale`: its page turn's frame, or what it shows, clipped to its bounds if it clips.
    void composeWithin(View& view, cairo_t* cr, int scale, const Animator* animator);
    /// Composes `view` as composeWithin() does into a surface of its own at `scale`, then places
    /// that on `cr` as a picture: for a view that clips, or turns a page, off whole device pixels.
    void composeApart(View& view, cairo_t* cr, int scale, const Animator* animator);
    const Picture* pictureOf(const View& view) const;
    bool coversOpaquely(const View& view, const Animator* animator) const;
    std::optional<Rect> coveredPart(const View& view, cairo_t* cr, const Animator* animator) const;

    Size pointSize_;
    int scale_;
    CairoSurfacePtr surface_;
    bool ownsSurface_ = true;
    /// The root of the frame the surface holds, or null when it holds none (new, or a new target).
    const View* lastRoot_ = nullptr;
    std::uint64_t lastRootClears_ = 0; ///< The root's changesCleared() after that frame.
    std::vector<Shown> lastShown_;
    std::vector<Shown> nextShown_; ///< Kept only so that a frame allocates nothing.
    std::unordered_map<const View*, Drawn> pictures_;
};

/// Writes an image surface as a PNG file through writeOutputFile: a regular file is replaced whole
/// or not at all. Throws OutputError (a std::runtime_error) naming the file and the problem.
void writeSurfacePng(cairo_surface_t* surface, const std::filesystem::path& path);

} // namespace platform
