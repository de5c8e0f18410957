#pragma once

#include "platform/backend/InputEvent.h"
#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/Geometry.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// The desktop and KMS window. This is the only layer that talks to SDL; the main loop drives it
// with pictures going out and translated input coming back, and nothing here knows about views.
//
// Coordinates handed back are window points: the picture is 320 x 480 points, origin at its
// top-left corner, y down, whatever the pixel scale or the letterbox around it in full screen.

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
struct SDL_Surface;
union SDL_Event;

namespace platform {

/// SDL's destroy functions as unique_ptr deleters: the one place an SDL handle is released.
struct SdlDeleter {
    void operator()(SDL_Window* window) const;
    void operator()(SDL_Renderer* renderer) const;
    void operator()(SDL_Texture* texture) const;
    void operator()(SDL_Surface* surface) const;
};

using SdlWindowPtr = std::unique_ptr<SDL_Window, SdlDeleter>;
using SdlRendererPtr = std::unique_ptr<SDL_Renderer, SdlDeleter>;
using SdlTexturePtr = std::unique_ptr<SDL_Texture, SdlDeleter>;
using SdlSurfacePtr = std::unique_ptr<SDL_Surface, SdlDeleter>;

/// Keeps SDL's video subsystem up for its lifetime. SDL counts subsystem users, so guards nest
/// (a short-lived one in defaultScale() beside a window's); the last one out shuts SDL down.
class SdlVideoGuard {
public:
    /// Throws std::runtime_error with SDL's message if video cannot be started, and when SDL found no
    /// display and fell back to its offscreen or dummy driver without SDL_VIDEODRIVER naming it.
    SdlVideoGuard();
    ~SdlVideoGuard();
    SdlVideoGuard(const SdlVideoGuard&) = delete;
    SdlVideoGuard& operator=(const SdlVideoGuard&) = delete;
};

/// A window showing one picture, and the source of the user's input.
class SdlWindow {
public:
    /// The window's size in points.
    static constexpr Size kPointSize{320.0f, 480.0f};

    /// How pictures reach the screen.
    enum class Presentation {
        /// Copied into the window's own pixels, which the driver hands to the display server (X11
        /// shared memory). No GPU driver is loaded, which keeps the process small.
        WindowSurface,
        /// Uploaded to a texture of SDL's renderer and drawn scaled: full screen (the picture is
        /// scaled by a fraction, smoothly) and drivers without window pixels (Wayland, KMS/DRM).
        Renderer,
    };

    /// Opens a window titled `title`, 320 x 480 points at `scale` pixels per point (1 to 3), or the
    /// whole display when `fullscreen` (the picture scaled to fit, centred, black bars around it).
    /// Throws std::invalid_argument for another scale, std::runtime_error with SDL's message if
    /// the window or its renderer cannot be made. SDL chooses the video driver (SDL_VIDEODRIVER
    /// overrides it).
    SdlWindow(const std::string& title, int scale, bool fullscreen);
    ~SdlWindow();
    SdlWindow(const SdlWindow&) = delete;
    SdlWindow& operator=(const SdlWindow&) = delete;

    /// The largest scale 1 to 3 whose window fits the usable area of the first display with about
    /// a tenth to spare for decorations; 1 if none fits or SDL cannot tell. Needs no window.
    static int defaultScale();

    /// Settles what the process environment tells the video driver before SDL reads it. Call
    /// before any thread starts (it sets an environment variable) and before video starts.
    static void prepareEnvironment();

    /// The largest scale 1 to 3 whose 480·scale pixel height fits 90% of `usableHeightPixels`;
    /// 1 if none does.
    static int scaleForUsableHeight(int usableHeightPixels);

    /// Where the picture goes in an output of the given size in pixels: scaled to fit with its
    /// 2:3 shape kept, centred, edges on whole pixels.
    static Rect pictureRectInOutput(int outputWidthPixels, int outputHeightPixels);

    /// The window point under output pixel `pixel`; outside 0..320 x 0..480 when it lies in the
    /// letterbox.
    static Point pointForOutputPixel(Point pixel, int outputWidthPixels, int outputHeightPixels);

    /// The video drivers this SDL was built with, in its order of preference.
    static std::vector<std::string> videoDrivers();

    void setTitle(const std::string& title);

    /// The name of the video driver SDL shows the window through: "x11", "wayland", "kmsdrm", ...
    static std::string videoDriver();

    Presentation presentation() const {
        return renderer_ ? Presentation::Renderer : Presentation::WindowSurface;
    }

    /// The SDL window, for code that speaks SDL (a test reading back what was presented); the
    /// SdlWindow keeps it.
    SDL_Window* handle() const { return window_.get(); }

    /// Shows `picture`, an ARGB32 (premultiplied) or RGB24 Cairo image surface, normally
    /// 320·scale x 480·scale pixels; the caller keeps it. Its pixels are copied once, as they are,
    /// into the window (or its texture), then presented; a renderer presents in step with the
    /// display when the driver allows, and the caller paces the window surface. The surface from
    /// frameSurface() is shown without a copy. Throws std::invalid_argument for a null or
    /// non-image surface, std::runtime_error if SDL fails.
    void present(cairo_surface_t* picture);

    /// The window's own pixels as an ARGB32 Cairo image surface of 320·scale x 480·scale, for a
    /// frame to be drawn straight into and then shown with present() without being copied; null
    /// when the window has no such pixels (a renderer presents, the window manager gave the window
    /// another size, the pixels have another layout or must be locked). The window keeps the
    /// surface. It stays usable until the next call, which may give another surface: the window's
    /// pixels are made anew after a resize, and the surface they replace is finished, so drawing
    /// into it fails instead of touching freed memory. Throws std::runtime_error if SDL fails.
    cairo_surface_t* frameSurface();

    /// Waits up to `timeoutSeconds` (0: only looks) for input and returns what arrived, in order.
    /// Returns early, possibly with nothing, when one of `descriptors` is readable or hung up (they
    /// are not read here; a negative one is passed over). The thread sleeps meanwhile. On X the
    /// display connection is watched with them; other drivers look at them at least four times a
    /// second.
    std::vector<InputEvent> waitEvents(double timeoutSeconds, std::span<const int> descriptors = {});

private:
    enum class PressSource { None, Mouse, Finger };

    void makeRenderer();
    /// A full-screen window on a bare X server is made to cover its display (see X11Connection.h).
    void coverScreen();
    void presentToWindowSurface(const unsigned char* data, int width, int height, int stride);
    void presentWithRenderer(const unsigned char* data, int width, int height, int stride);
    /// The size in pixels of what is presented into: the window's pixels or the renderer's output.
    void outputSize(int& width, int& height) const;

    /// Adds what `event` means to `out`.
    void translate(const SDL_Event& event, std::vector<InputEvent>& out);
    void press(Point pixel, std::vector<InputEvent>& out, PressSource source);
    /// A Move or the Release ending the press, at `pixel` clamped to the picture.
    void followPress(InputEvent::Kind kind, Point pixel, std::vector<InputEvent>& out);
    /// Window coordinates (as SDL reports the mouse) to output pixels; they differ on high-density
    /// displays.
    Point outputPixelForWindowCoordinates(float x, float y) const;
    Point pointForPixel(Point pixel) const;

    // Declared first so it outlives every handle below.
    SdlVideoGuard video_;
    SdlWindowPtr window_;
    SdlRendererPtr renderer_; ///< Null when pictures go to the window surface.
    SdlTexturePtr texture_;
    int pictureWidth_ = 0; ///< Pixels of a picture at the window's scale.
    int pictureHeight_ = 0;
    /// The window's pixels wrapped for Cairo, and the SDL surface and pixels it wraps.
    CairoSurfacePtr frame_;
    const SDL_Surface* frameSource_ = nullptr;
    const void* framePixels_ = nullptr;
    int textureWidth_ = 0; ///< Pixels of the current texture, to notice a new picture size.
    int textureHeight_ = 0;

    int x11Fd_ = -1; ///< The X display connection, owned by SDL; -1 on other drivers.
    bool fullscreen_ = false;

    PressSource pressSource_ = PressSource::None;
    std::int64_t pressTouchId_ = 0; ///< Touch device and finger holding the press, for fingers.
    std::int64_t pressFingerId_ = 0;
};

} // namespace platform
