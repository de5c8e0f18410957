#include "platform/backend/SdlWindow.h"

#include "platform/backend/X11Connection.h"
#include "platform/gfx/Image.h"
#include "platform/gfx/Resources.h"

#include <SDL.h>
#include <algorithm>
#include <array>
#include <cairo.h>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kMinScale = 1;
constexpr int kMaxScale = 3;
// A tenth of the usable area is left for the title bar and borders: a window must fit in nine
// tenths of it, compared in whole numbers so an exact fit is not lost to rounding.
constexpr int kFitNumerator = 9;
constexpr int kFitDenominator = 10;
// An infinite wait is cut to this, in milliseconds (about eleven days); the caller loops anyway.
constexpr double kLongestWaitMilliseconds = 1.0e9;
// Descriptors watched beside the window system's input: a signal's, a sample reader's.
constexpr std::size_t kMaxWatched = 4;
// Drivers whose wait cannot watch descriptors (Wayland, KMS/DRM) are woken this often to look.
constexpr int kDescriptorLookMilliseconds = 250;

[[noreturn]] void throwSdlError(const std::string& what) {
    throw std::runtime_error(what + ": " + SDL_GetError());
}

int largestScaleFitting(int usablePixels, float pointsAlongAxis) {
    const int points = static_cast<int>(pointsAlongAxis);
    for (int scale = kMaxScale; scale > kMinScale; --scale) {
        const long long needed = static_cast<long long>(points) * scale * kFitDenominator;
        if (needed <= static_cast<long long>(usablePixels) * kFitNumerator) {
            return scale;
        }
    }
    return kMinScale;
}

bool noCommandModifiers(Uint16 mod) {
    return (mod & (KMOD_CTRL | KMOD_ALT | KMOD_GUI)) == 0;
}

bool onlyCtrl(Uint16 mod) {
    return (mod & KMOD_CTRL) != 0 && (mod & (KMOD_ALT | KMOD_GUI)) == 0;
}

/// The key event the main loop cares about, if any.
bool translateKey(const SDL_KeyboardEvent& key, InputEvent& event) {
    if (key.repeat != 0) {
        return false; // holding a key must not toggle a switch over and over
    }
    const Uint16 mod = key.keysym.mod;
    // Letters go by the key's meaning in the user's layout, so Ctrl+Q is where the Q is printed.
    switch (key.keysym.sym) {
    case SDLK_SPACE:
        if (!noCommandModifiers(mod))
            return false;
        event = {InputEvent::Kind::Key, {}, InputEvent::Key::Space};
        return true;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        if (!noCommandModifiers(mod))
            return false;
        event = {InputEvent::Kind::Key, {}, InputEvent::Key::Return};
        return true;
    case SDLK_s:
        if (onlyCtrl(mod)) {
            event = {InputEvent::Kind::Key, {}, InputEvent::Key::CtrlS};
            return true;
        }
        if (!noCommandModifiers(mod))
            return false;
        event = {InputEvent::Kind::Key, {}, InputEvent::Key::S};
        return true;
    case SDLK_q:
        if (!onlyCtrl(mod))
            return false;
        event = {InputEvent::Kind::Quit, {}, InputEvent::Key::CtrlQ};
        return true;
    default:
        return false;
    }
}

void appendOnce(std::vector<InputEvent>& out, InputEvent event) {
    // One Expose or one Quit per batch is all the loop needs; SDL often sends a window event and
    // SDL_QUIT for one close, or several exposes for one uncovering.
    const bool seen =
        std::any_of(out.begin(), out.end(), [&](const InputEvent& e) { return e.kind == event.kind; });
    if (!seen) {
        out.push_back(event);
    }
}

bool insidePicture(Point p) {
    return Rect{0.0f, 0.0f, SdlWindow::kPointSize.width, SdlWindow::kPointSize.height}.contains(p);
}

Point clampToPicture(Point p) {
    return {std::clamp(p.x, 0.0f, SdlWindow::kPointSize.width),
            std::clamp(p.y, 0.0f, SdlWindow::kPointSize.height)};
}

// The size of the icon the window carries for window managers and task bars that show one; they
// scale it, and 128 pixels stays sharp on a high-density screen.
constexpr int kWindowIconPixels = 128;

// Gives the window the application's installed icon. Cairo's pixels carry their colour multiplied
// by alpha, SDL's do not. A window without its icon still works, so a missing file is only said.
void setWindowIcon(SDL_Window* window) {
    CairoSurfacePtr pixels;
    try {
        pixels = Image::fromPngFile(iconPath(kWindowIconPixels))
                     ->pixelsForSize(kWindowIconPixels, kWindowIconPixels, 1);
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "trembit: no window icon: %s\n", error.what());
    }
    if (!pixels) {
        return;
    }
    cairo_surface_flush(pixels.get());
    const int width = cairo_image_surface_get_width(pixels.get());
    const int height = cairo_image_surface_get_height(pixels.get());
    const int stride = cairo_image_surface_get_stride(pixels.get());
    const bool opaque = cairo_image_surface_get_format(pixels.get()) != CAIRO_FORMAT_ARGB32;
    const unsigned char* data = cairo_image_surface_get_data(pixels.get());
    const SdlSurfacePtr icon(SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_ARGB8888));
    if (!icon || data == nullptr) {
        return;
    }
    for (int y = 0; y < height; ++y) {
        const auto* from =
            reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        auto* to = reinterpret_cast<std::uint32_t*>(static_cast<unsigned char*>(icon->pixels) +
                                                    static_cast<std::ptrdiff_t>(y) * icon->pitch);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t pixel = from[x];
            const std::uint32_t alpha = opaque ? 255u : pixel >> 24;
            std::uint32_t straight = alpha << 24;
            for (int shift = 0; alpha != 0 && shift < 24; shift += 8) {
                const std::uint32_t channel = (pixel >> shift) & 0xFFu;
                straight |= std::min(255u, (channel * 255u + alpha / 2u) / alpha) << shift;
            }
            to[x] = straight;
        }
    }
    SDL_SetWindowIcon(window, icon.get());
}

void stopVideo() {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    if (SDL_WasInit(0) == 0) {
        SDL_Quit();
    }
}

// The driver SDL settled on when it shows nothing to anyone and the user did not name it: with no
// display to reach, SDL falls back to these, and a window there would run unseen for ever. Null
// for any other driver, or one named in SDL_VIDEODRIVER (tests ask for the offscreen one).
const char* unseenDriverNobodyAskedFor() {
    const char* current = SDL_GetCurrentVideoDriver();
    if (current == nullptr ||
        (SDL_strcasecmp(current, "offscreen") != 0 && SDL_strcasecmp(current, "dummy") != 0)) {
        return nullptr;
    }
    // The hint, or the environment variable of the same name: a comma-separated list of drivers.
    const std::string_view asked =
        SDL_GetHint(SDL_HINT_VIDEODRIVER) != nullptr ? SDL_GetHint(SDL_HINT_VIDEODRIVER) : "";
    std::size_t start = 0;
    while (start <= asked.size()) {
        const std::size_t end = std::min(asked.find(',', start), asked.size());
        const std::string name(asked.substr(start, end - start));
        if (SDL_strcasecmp(name.c_str(), current) == 0) {
            return nullptr;
        }
        start = end + 1;
    }
    return current;
}

} // namespace

void SdlDeleter::operator()(SDL_Window* window) const {
    SDL_DestroyWindow(window);
}
void SdlDeleter::operator()(SDL_Renderer* renderer) const {
    SDL_DestroyRenderer(renderer);
}
void SdlDeleter::operator()(SDL_Texture* texture) const {
    SDL_DestroyTexture(texture);
}
void SdlDeleter::operator()(SDL_Surface* surface) const {
    SDL_FreeSurface(surface);
}

void SdlWindow::prepareEnvironment() {
    // On a Wayland desktop the window is a Wayland client, not an X one through XWayland, which
    // this SDL would otherwise pick first; X stays the fallback. A driver the user names is kept.
    const char* named = std::getenv("SDL_VIDEODRIVER");
    const bool wayland = named != nullptr ? std::string_view(named).starts_with("wayland")
                                          : std::getenv("WAYLAND_DISPLAY") != nullptr;
    if (named == nullptr && wayland) {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "wayland,x11");
    }
    // Trembit reads keys, never text, yet SDL opens an X input method, and in a UTF-8 locale Xlib
    // then parses the locale's half-megabyte table of compose sequences: a sixth of the time to a
    // first frame. With an empty table keys arrive all the same. A table the user names is kept.
    // Wayland's keyboard library would only complain that the table is empty.
    if (!wayland) {
        setenv("XCOMPOSEFILE", "/dev/null", 0);
    }
    // Desktops match a window to its desktop entry by its X11 class or its Wayland app id, both
    // the entry's id; SDL would otherwise take the executable's name. A class the user sets is kept.
    setenv("SDL_VIDEO_X11_WMCLASS", TREMBIT_APP_ID, 0);
    setenv("SDL_VIDEO_WAYLAND_WMCLASS", TREMBIT_APP_ID, 0);
}

SdlVideoGuard::SdlVideoGuard() {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        throwSdlError("Cannot start SDL video");
    }
    if (const char* driver = unseenDriverNobodyAskedFor()) {
        stopVideo();
        throw std::runtime_error(std::string("no display: SDL found only its ") + driver + " driver");
    }
}

SdlVideoGuard::~SdlVideoGuard() {
    stopVideo();
}

// Runs ahead of the video guard member: a bad scale is refused before SDL starts (and so even
// with no display), and hints are read when video starts or the window is made.
static SdlVideoGuard startVideo(int scale, bool fullscreen) {
    if (scale < kMinScale || scale > kMaxScale) {
        throw std::invalid_argument("Window scale must be 1, 2 or 3, not " + std::to_string(scale));
    }
    // A compositor may keep compositing our window; turning it off causes flicker on some desktops.
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    // The click that brings the window forward also counts, as a tap would.
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    // A full-screen picture is scaled by a fraction; smooth it rather than drop pixel rows.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    // A window's own pixels stay in plain memory shared with the display server. Left to itself,
    // SDL would back them with a GPU texture, and loading the GPU driver (Mesa's software one on a
    // machine without a GPU) triples the resident memory of the whole program for no faster frame.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // A recorder left in a window should not keep the screen awake; a full-screen one is a display.
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, fullscreen ? "0" : "1");
    return SdlVideoGuard{};
}

SdlWindow::SdlWindow(const std::string& title, int scale, bool fullscreen)
    : video_(startVideo(scale, fullscreen)) {
    const int width = static_cast<int>(kPointSize.width) * scale;
    const int height = static_cast<int>(kPointSize.height) * scale;
    pictureWidth_ = width;
    pictureHeight_ = height;
    const Uint32 flags =
        SDL_WINDOW_SHOWN | (fullscreen ? static_cast<Uint32>(SDL_WINDOW_FULLSCREEN_DESKTOP) : 0u);
    window_.reset(SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width,
                                   height, flags));
    if (!window_) {
        throwSdlError("Cannot open the window");
    }
    setWindowIcon(window_.get());
    // On X the wait for input is a poll on the display connection rather than SDL's own wait:
    // SDL ends that wait by sending its window a message over a second connection, which the
    // server can take after the window was closed over the first as the program quits, and Xlib
    // answers that error by ending the program with status 1.
    x11Fd_ = x11ConnectionNumber(window_.get());
    fullscreen_ = fullscreen;

    // A window at its own size shows the picture pixel for pixel, which the window surface does
    // with one copy; a driver without one (Wayland, KMS/DRM) says so here and gets a renderer.
    if (fullscreen || SDL_GetWindowSurface(window_.get()) == nullptr) {
        makeRenderer();
    }

    if (fullscreen) {
        SDL_DisableScreenSaver();
    } else {
        SDL_EnableScreenSaver();
    }
}

SdlWindow::~SdlWindow() = default;

void SdlWindow::coverScreen() {
    SDL_Rect screen{};
    if (fullscreen_ &&
        SDL_GetDisplayBounds(std::max(SDL_GetWindowDisplayIndex(window_.get()), 0), &screen) == 0) {
        x11CoverWithoutWindowManager(window_.get(), screen.x, screen.y, screen.w, screen.h);
    }
}

void SdlWindow::makeRenderer() {
    renderer_.reset(
        SDL_CreateRenderer(window_.get(), -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC));
    if (!renderer_) {
        // No GPU (a bare X server, a virtual machine): SDL's own renderer draws into the window.
        renderer_.reset(
            SDL_CreateRenderer(window_.get(), -1, SDL_RENDERER_SOFTWARE | SDL_RENDERER_PRESENTVSYNC));
    }
    if (!renderer_) {
        renderer_.reset(SDL_CreateRenderer(window_.get(), -1, SDL_RENDERER_SOFTWARE));
    }
    if (!renderer_) {
        throwSdlError("Cannot make a renderer for the window");
    }
}

void SdlWindow::outputSize(int& width, int& height) const {
    width = 0;
    height = 0;
    if (renderer_) {
        SDL_GetRendererOutputSize(renderer_.get(), &width, &height);
    } else {
        // Window surfaces are not scaled for high-density displays: a window pixel is an output pixel.
        SDL_GetWindowSize(window_.get(), &width, &height);
    }
}

int SdlWindow::scaleForUsableHeight(int usableHeightPixels) {
    return largestScaleFitting(usableHeightPixels, kPointSize.height);
}

int SdlWindow::defaultScale() {
    try {
        SdlVideoGuard video;
        SDL_Rect usable{};
        if (SDL_GetDisplayUsableBounds(0, &usable) != 0 || usable.w <= 0 || usable.h <= 0) {
            return kMinScale;
        }
        return std::min(scaleForUsableHeight(usable.h), largestScaleFitting(usable.w, kPointSize.width));
    } catch (const std::runtime_error&) {
        return kMinScale; // no display to ask; the window itself will report why if it fails too
    }
}

Rect SdlWindow::pictureRectInOutput(int outputWidthPixels, int outputHeightPixels) {
    const float pixelsPerPoint = std::min(static_cast<float>(outputWidthPixels) / kPointSize.width,
                                          static_cast<float>(outputHeightPixels) / kPointSize.height);
    const float width = std::round(kPointSize.width * pixelsPerPoint);
    const float height = std::round(kPointSize.height * pixelsPerPoint);
    const float x = std::floor((static_cast<float>(outputWidthPixels) - width) / 2.0f);
    const float y = std::floor((static_cast<float>(outputHeightPixels) - height) / 2.0f);
    return {x, y, width, height};
}

Point SdlWindow::pointForOutputPixel(Point pixel, int outputWidthPixels, int outputHeightPixels) {
    const Rect picture = pictureRectInOutput(outputWidthPixels, outputHeightPixels);
    if (picture.size.width <= 0.0f || picture.size.height <= 0.0f) {
        return {};
    }
    return {(pixel.x - picture.minX()) * kPointSize.width / picture.size.width,
            (pixel.y - picture.minY()) * kPointSize.height / picture.size.height};
}

std::vector<std::string> SdlWindow::videoDrivers() {
    std::vector<std::string> names;
    const int count = SDL_GetNumVideoDrivers();
    for (int i = 0; i < count; ++i) {
        if (const char* name = SDL_GetVideoDriver(i)) {
            names.emplace_back(name);
        }
    }
    return names;
}

std::string SdlWindow::videoDriver() {
    const char* name = SDL_GetCurrentVideoDriver();
    return name != nullptr ? name : "none";
}

void SdlWindow::setTitle(const std::string& title) {
    SDL_SetWindowTitle(window_.get(), title.c_str());
}

void SdlWindow::present(cairo_surface_t* picture) {
    if (picture == nullptr || cairo_surface_get_type(picture) != CAIRO_SURFACE_TYPE_IMAGE) {
        throw std::invalid_argument("SdlWindow::present needs a Cairo image surface");
    }
    const cairo_format_t format = cairo_image_surface_get_format(picture);
    if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) {
        throw std::invalid_argument("SdlWindow::present needs an ARGB32 or RGB24 surface");
    }
    cairo_surface_flush(picture); // Cairo may still hold drawing that has not reached the pixels
    const int width = cairo_image_surface_get_width(picture);
    const int height = cairo_image_surface_get_height(picture);
    const unsigned char* data = cairo_image_surface_get_data(picture);
    if (data == nullptr || width <= 0 || height <= 0) {
        throw std::invalid_argument("SdlWindow::present got a surface without pixels");
    }

    const int stride = cairo_image_surface_get_stride(picture);
    if (picture == frame_.get()) {
        // Drawn straight into the window's pixels: there is nothing to copy.
        if (SDL_UpdateWindowSurface(window_.get()) != 0) {
            throwSdlError("Cannot show the picture");
        }
        return;
    }
    if (renderer_) {
        presentWithRenderer(data, width, height, stride);
    } else {
        presentToWindowSurface(data, width, height, stride);
    }
}

cairo_surface_t* SdlWindow::frameSurface() {
    if (renderer_) {
        return nullptr;
    }
    SDL_Surface* target = SDL_GetWindowSurface(window_.get()); // made anew by SDL after a resize
    if (target == nullptr) {
        throwSdlError("Cannot reach the window's pixels");
    }
    if (frame_ && target == frameSource_ && target->pixels == framePixels_ &&
        target->w == cairo_image_surface_get_width(frame_.get()) &&
        target->h == cairo_image_surface_get_height(frame_.get())) {
        return frame_.get();
    }
    if (frame_) {
        // Whoever still holds the old surface must not reach the pixels SDL has freed.
        cairo_surface_finish(frame_.get());
        frame_.reset();
        frameSource_ = nullptr;
        framePixels_ = nullptr;
    }
    // The same word layout as in presentToWindowSurface(); the alpha byte is left to the drawing,
    // which the display server ignores.
    const Uint32 format = target->format->format;
    const bool sameLayout = format == SDL_PIXELFORMAT_ARGB8888 || format == SDL_PIXELFORMAT_RGB888;
    if (!sameLayout || target->w != pictureWidth_ || target->h != pictureHeight_ || SDL_MUSTLOCK(target) ||
        target->pixels == nullptr) {
        return nullptr;
    }
    CairoSurfacePtr frame(cairo_image_surface_create_for_data(static_cast<unsigned char*>(target->pixels),
                                                              CAIRO_FORMAT_ARGB32, target->w, target->h,
                                                              target->pitch));
    if (cairo_surface_status(frame.get()) != CAIRO_STATUS_SUCCESS) {
        return nullptr; // a row length Cairo cannot use; the picture is copied instead
    }
    frame_ = std::move(frame);
    frameSource_ = target;
    framePixels_ = target->pixels;
    return frame_.get();
}

void SdlWindow::presentToWindowSurface(const unsigned char* data, int width, int height, int stride) {
    SDL_Surface* target = SDL_GetWindowSurface(window_.get()); // made anew by SDL after a resize
    if (target == nullptr) {
        throwSdlError("Cannot reach the window's pixels");
    }
    // Cairo's ARGB32 is a native-endian 32-bit word with alpha on top, which is SDL's ARGB8888; a
    // window's XRGB8888 has the same layout with the top byte unused. Premultiplied colour over
    // the black backdrop is the colour itself, so the alpha byte can be left as it is.
    const Uint32 format = target->format->format;
    const bool sameLayout = format == SDL_PIXELFORMAT_ARGB8888 || format == SDL_PIXELFORMAT_RGB888;
    if (sameLayout && target->w == width && target->h == height) {
        if (SDL_MUSTLOCK(target) && SDL_LockSurface(target) != 0) {
            throwSdlError("Cannot reach the window's pixels");
        }
        auto* pixels = static_cast<unsigned char*>(target->pixels);
        const auto rowBytes = static_cast<std::size_t>(width) * 4u;
        if (target->pitch == stride) {
            std::memcpy(pixels, data, static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
        } else {
            for (int y = 0; y < height; ++y) {
                std::memcpy(pixels + static_cast<std::ptrdiff_t>(y) * target->pitch,
                            data + static_cast<std::ptrdiff_t>(y) * stride, rowBytes);
            }
        }
        if (SDL_MUSTLOCK(target)) {
            SDL_UnlockSurface(target);
        }
    } else {
        // Another size or layout (a window manager that resized the window, a picture of another
        // scale): letterboxed and scaled by SDL, which converts the pixels as it goes.
        SdlSurfacePtr source(SDL_CreateRGBSurfaceWithFormatFrom(
            const_cast<unsigned char*>(data), width, height, 32, stride, SDL_PIXELFORMAT_ARGB8888));
        if (!source) {
            throwSdlError("Cannot wrap the picture");
        }
        SDL_SetSurfaceBlendMode(source.get(), SDL_BLENDMODE_NONE);
        const Rect placed = pictureRectInOutput(target->w, target->h);
        SDL_Rect destination{static_cast<int>(placed.minX()), static_cast<int>(placed.minY()),
                             static_cast<int>(placed.size.width), static_cast<int>(placed.size.height)};
        SDL_FillRect(target, nullptr, SDL_MapRGB(target->format, 0, 0, 0)); // the letterbox bars
        if (SDL_BlitScaled(source.get(), nullptr, target, &destination) != 0) {
            throwSdlError("Cannot draw the picture");
        }
    }
    if (SDL_UpdateWindowSurface(window_.get()) != 0) {
        throwSdlError("Cannot show the picture");
    }
}

void SdlWindow::presentWithRenderer(const unsigned char* data, int width, int height, int stride) {
    if (!texture_ || width != textureWidth_ || height != textureHeight_) {
        texture_.reset();
        // Cairo's ARGB32 is a native-endian 32-bit word with alpha on top, which is SDL's ARGB8888.
        texture_.reset(SDL_CreateTexture(renderer_.get(), SDL_PIXELFORMAT_ARGB8888,
                                         SDL_TEXTUREACCESS_STREAMING, width, height));
        if (!texture_) {
            throwSdlError("Cannot make the window's texture");
        }
        // Copied, not blended: premultiplied colour over the black backdrop is the colour itself.
        SDL_SetTextureBlendMode(texture_.get(), SDL_BLENDMODE_NONE);
        textureWidth_ = width;
        textureHeight_ = height;
    }
    if (SDL_UpdateTexture(texture_.get(), nullptr, data, stride) != 0) {
        throwSdlError("Cannot upload the picture");
    }

    int outputWidth = 0;
    int outputHeight = 0;
    if (SDL_GetRendererOutputSize(renderer_.get(), &outputWidth, &outputHeight) != 0) {
        throwSdlError("Cannot read the window's size");
    }
    const Rect placed = pictureRectInOutput(outputWidth, outputHeight);
    const SDL_Rect destination{static_cast<int>(placed.minX()), static_cast<int>(placed.minY()),
                               static_cast<int>(placed.size.width), static_cast<int>(placed.size.height)};
    SDL_SetRenderDrawColor(renderer_.get(), 0, 0, 0, SDL_ALPHA_OPAQUE);
    SDL_RenderClear(renderer_.get()); // the letterbox bars
    if (SDL_RenderCopy(renderer_.get(), texture_.get(), nullptr, &destination) != 0) {
        throwSdlError("Cannot draw the picture");
    }
    SDL_RenderPresent(renderer_.get());
}

namespace {

// True when one of `descriptors` is readable or hung up within `milliseconds` (0: only looks).
// `extra` is watched too, on X the display connection; its readiness is not reported.
bool anyReady(std::span<const int> descriptors, int extra, int milliseconds) {
    std::array<pollfd, kMaxWatched + 1> watched{};
    std::size_t count = 0;
    for (const int fd : descriptors.first(std::min(descriptors.size(), kMaxWatched))) {
        watched[count++] = {fd, POLLIN, 0};
    }
    watched[count] = {extra, POLLIN, 0};
    if (::poll(watched.data(), count + 1, milliseconds) <= 0) {
        return false; // time is up, or a signal came: the caller looks at both
    }
    return std::any_of(watched.begin(), watched.begin() + static_cast<std::ptrdiff_t>(count),
                       [](const pollfd& p) { return (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0; });
}

} // namespace

std::vector<InputEvent> SdlWindow::waitEvents(double timeoutSeconds, std::span<const int> descriptors) {
    double milliseconds = std::ceil(timeoutSeconds * 1000.0);
    if (!(milliseconds > 0.0)) {
        milliseconds = 0.0; // negative or NaN: only look
    }
    milliseconds = std::min(milliseconds, kLongestWaitMilliseconds);
    const Uint64 deadline = SDL_GetTicks64() + static_cast<Uint64>(milliseconds);

    std::vector<InputEvent> out;
    SDL_Event event;
    for (;;) {
        while (SDL_PollEvent(&event) == 1) {
            translate(event, out);
        }
        const Uint64 now = SDL_GetTicks64();
        // Events we ignore (the pointer hovering, the window moving) must not cut the wait short,
        // or an idle recorder would spin at the rate the mouse moves.
        if (!out.empty() || now >= deadline || anyReady(descriptors, -1, 0)) {
            return out;
        }
        const int remaining = static_cast<int>(deadline - now);
        if (x11Fd_ >= 0) {
            // On X the wait is a poll on the display connection rather than SDL's own wait: SDL
            // ends that wait by sending its window a message over a second connection, which the
            // server can take after the window was closed over the first as the program quits,
            // and Xlib answers that error by ending the program with status 1.
            if (anyReady(descriptors, x11Fd_, remaining)) {
                return out;
            }
        } else if (SDL_WaitEventTimeout(
                       &event, descriptors.empty() ? remaining
                                                   : std::min(remaining, kDescriptorLookMilliseconds)) == 1) {
            translate(event, out);
        }
    }
}

Point SdlWindow::outputPixelForWindowCoordinates(float x, float y) const {
    int windowWidth = 0;
    int windowHeight = 0;
    int outputWidth = 0;
    int outputHeight = 0;
    SDL_GetWindowSize(window_.get(), &windowWidth, &windowHeight);
    outputSize(outputWidth, outputHeight);
    if (outputWidth <= 0 || outputHeight <= 0 || windowWidth <= 0 || windowHeight <= 0) {
        return {x, y};
    }
    return {x * static_cast<float>(outputWidth) / static_cast<float>(windowWidth),
            y * static_cast<float>(outputHeight) / static_cast<float>(windowHeight)};
}

Point SdlWindow::pointForPixel(Point pixel) const {
    int outputWidth = 0;
    int outputHeight = 0;
    outputSize(outputWidth, outputHeight);
    return pointForOutputPixel(pixel, outputWidth, outputHeight);
}

void SdlWindow::press(Point pixel, std::vector<InputEvent>& out, PressSource source) {
    const Point point = pointForPixel(pixel);
    if (!insidePicture(point)) {
        return; // a press on the letterbox touches nothing
    }
    pressSource_ = source;
    out.push_back({InputEvent::Kind::Press, point, InputEvent::Key::None});
}

void SdlWindow::followPress(InputEvent::Kind kind, Point pixel, std::vector<InputEvent>& out) {
    out.push_back({kind, clampToPicture(pointForPixel(pixel)), InputEvent::Key::None});
    if (kind != InputEvent::Kind::Move) {
        pressSource_ = PressSource::None;
    }
}

void SdlWindow::translate(const SDL_Event& event, std::vector<InputEvent>& out) {
    switch (event.type) {
    case SDL_QUIT:
        appendOnce(out, {InputEvent::Kind::Quit, {}, InputEvent::Key::None});
        return;

    case SDL_WINDOWEVENT:
        switch (event.window.event) {
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_MOVED:
            // SDL believes a full-screen window covers the display from the moment it asks; on a
            // bare X server nobody has done it yet.
            coverScreen();
            return;
        case SDL_WINDOWEVENT_CLOSE:
            appendOnce(out, {InputEvent::Kind::Quit, {}, InputEvent::Key::None});
            return;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
        case SDL_WINDOWEVENT_RESIZED:
        case SDL_WINDOWEVENT_RESTORED:
            coverScreen();
            [[fallthrough]];
        case SDL_WINDOWEVENT_EXPOSED:
            appendOnce(out, {InputEvent::Kind::Expose, {}, InputEvent::Key::None});
            return;
        case SDL_WINDOWEVENT_FOCUS_LOST:
        case SDL_WINDOWEVENT_HIDDEN:
        case SDL_WINDOWEVENT_MINIMIZED:
            // The release may never come (another window took the pointer), so the press ends here.
            if (pressSource_ != PressSource::None) {
                pressSource_ = PressSource::None;
                out.push_back({InputEvent::Kind::Cancel, {}, InputEvent::Key::None});
            }
            return;
        default:
            return;
        }

    case SDL_RENDER_TARGETS_RESET:
        appendOnce(out, {InputEvent::Kind::Expose, {}, InputEvent::Key::None});
        return;

    // SDL repeats each touch as a mouse event too; those carry SDL_TOUCH_MOUSEID and are left out,
    // the finger events below speaking for the touch.
    case SDL_MOUSEBUTTONDOWN:
        if (event.button.which != SDL_TOUCH_MOUSEID && event.button.button == SDL_BUTTON_LEFT &&
            pressSource_ == PressSource::None) {
            press(outputPixelForWindowCoordinates(static_cast<float>(event.button.x),
                                                  static_cast<float>(event.button.y)),
                  out, PressSource::Mouse);
        }
        return;
    case SDL_MOUSEMOTION:
        if (event.motion.which != SDL_TOUCH_MOUSEID && pressSource_ == PressSource::Mouse) {
            followPress(InputEvent::Kind::Move,
                        outputPixelForWindowCoordinates(static_cast<float>(event.motion.x),
                                                        static_cast<float>(event.motion.y)),
                        out);
        }
        return;
    case SDL_MOUSEBUTTONUP:
        if (event.button.which != SDL_TOUCH_MOUSEID && event.button.button == SDL_BUTTON_LEFT &&
            pressSource_ == PressSource::Mouse) {
            followPress(InputEvent::Kind::Release,
                        outputPixelForWindowCoordinates(static_cast<float>(event.button.x),
                                                        static_cast<float>(event.button.y)),
                        out);
        }
        return;

    // Finger positions come normalised to the window, 0 to 1 across; only the first finger down
    // steers, so a resting palm or a second finger cannot drag the controls about.
    case SDL_FINGERDOWN:
    case SDL_FINGERMOTION:
    case SDL_FINGERUP: {
        const SDL_TouchFingerEvent& finger = event.tfinger;
        if (finger.touchId == SDL_MOUSE_TOUCHID) {
            return; // a touch SDL made up from the mouse, which is already handled
        }
        int outputWidth = 0;
        int outputHeight = 0;
        outputSize(outputWidth, outputHeight);
        const Point pixel{finger.x * static_cast<float>(outputWidth),
                          finger.y * static_cast<float>(outputHeight)};
        if (event.type == SDL_FINGERDOWN) {
            if (pressSource_ == PressSource::None) {
                pressTouchId_ = finger.touchId;
                pressFingerId_ = finger.fingerId;
                press(pixel, out, PressSource::Finger);
            }
            return;
        }
        if (pressSource_ != PressSource::Finger || finger.touchId != pressTouchId_ ||
            finger.fingerId != pressFingerId_) {
            return;
        }
        followPress(event.type == SDL_FINGERUP ? InputEvent::Kind::Release : InputEvent::Kind::Move, pixel,
                    out);
        return;
    }

    case SDL_KEYDOWN: {
        InputEvent key;
        if (translateKey(event.key, key)) {
            if (key.kind == InputEvent::Kind::Quit) {
                appendOnce(out, key);
            } else {
                out.push_back(key);
            }
        }
        return;
    }

    default:
        return;
    }
}

} // namespace platform
