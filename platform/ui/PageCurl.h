#pragma once

#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/Geometry.h"

#include <cairo.h>

// Frames of page turns. Every function draws into a context whose user space is the page's own
// points (origin at its top-left corner, y down) and clips itself to the page. The two pictures are
// the page before and after, premultiplied ARGB in device pixels at `scale` (at least the page's
// size times `scale`); they are only read. A curl writes the target's pixels itself: it draws only
// where the page lies on an image surface at whole device pixels and the pictures' scale, clipped
// to one whole-pixel rectangle (the compositor composes a page apart where it does not).

namespace platform {

/// The two faces of a page turn.
struct PagePictures {
    cairo_surface_t* oldPage = nullptr;
    cairo_surface_t* newPage = nullptr;
    Size size;     // points
    int scale = 1; // device pixels per point of both pictures
};

/// Where the fold of a curl lies: the points x with normal . x == offset, in page points. The part
/// of the page with normal . x > offset has been lifted; it is folded over onto the rest.
struct CurlFold {
    double normalX = 0.0; // unit normal, pointing towards the lifted corner
    double normalY = 0.0;
    double offset = 0.0; // points
};

/// What a curl draws the same way in every frame, only moved: the back of the curling page (the
/// page mirrored across a line through the origin along the fold, washed out towards white, with
/// its cut edges and the soft shadow it casts) and the shading along the fold (the lifted paper's
/// shadow on the page below, the bend of the flap). The fold keeps its direction throughout a curl,
/// so both are made once per transition and then only placed at whole pixels, never resampled,
/// which keeps the frames cheap.
struct CurlArtwork {
    CairoSurfacePtr back;    // device pixels at the page's scale
    Point backOrigin;        // points: back's top-left corner in the page mirrored by that line
    CairoSurfacePtr shading; // device pixels at the page's scale
    Point shadingOrigin;     // points: shading's top-left corner for a fold through the origin
};

/// Slow-in, slow-out easing of a linear progress in [0, 1].
double easeInOut(double progress);

/// The fold of an upward curl at linear `progress`: through the bottom-right corner at 0, moving
/// up and to the left, past the top-left corner (far enough that no shadow is left) at 1.
CurlFold curlUpFold(Size page, double progress);

/// Makes the artwork for curling `picture`, a page of `size` points in device pixels at `scale`.
/// The picture is only read. Throws std::runtime_error if Cairo cannot make the surfaces.
CurlArtwork makeCurlArtwork(cairo_surface_t* picture, Size size, int scale);

/// The old page peels off from the bottom-right corner and is lifted up and away, showing its back
/// on the folded flap and the new page underneath. Exactly the old page at 0, the new one at 1.
/// `artwork` is made from the old page.
void drawPageCurlUp(cairo_t* cr, const PagePictures& pages, const CurlArtwork& artwork, double progress);

/// The new page comes down over the old one and uncurls: the upward curl from the new page to the
/// old one, run backwards. `artwork` is made from the new page.
void drawPageCurlDown(cairo_t* cr, const PagePictures& pages, const CurlArtwork& artwork, double progress);

/// Draws one of the two pictures as the whole page.
void drawPage(cairo_t* cr, const PagePictures& pages, cairo_surface_t* picture);

/// The page turns about its vertical centre line, the old face first, then the new one; from the
/// left the left edge comes forward, otherwise the right edge.
void drawPageFlip(cairo_t* cr, const PagePictures& pages, double progress, bool fromLeft);

} // namespace platform
