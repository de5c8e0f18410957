#include "platform/backend/X11Connection.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <dlfcn.h>
#include <string>

namespace platform {

namespace {

// An Xlib function by name, from the Xlib SDL has loaded; null where there is none.
template <typename Function> Function* xlib(const char* name) {
    return reinterpret_cast<Function*>(dlsym(RTLD_DEFAULT, name));
}

} // namespace

int x11ConnectionNumber(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) {
        return -1;
    }
    auto* connectionNumber = xlib<int(Display*)>("XConnectionNumber");
    return connectionNumber != nullptr ? connectionNumber(info.info.x11.display) : -1;
#else
    (void)window;
    return -1;
#endif
}

void x11CoverWithoutWindowManager(SDL_Window* window, int x, int y, int width, int height) {
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (width <= 0 || height <= 0 || SDL_GetWindowWMInfo(window, &info) != SDL_TRUE ||
        info.subsystem != SDL_SYSWM_X11) {
        return;
    }
    auto* defaultScreen = xlib<int(Display*)>("XDefaultScreen");
    auto* internAtom = xlib<Atom(Display*, const char*, Bool)>("XInternAtom");
    auto* selectionOwner = xlib<Window(Display*, Atom)>("XGetSelectionOwner");
    auto* moveResize = xlib<int(Display*, Window, int, int, unsigned, unsigned)>("XMoveResizeWindow");
    auto* raise = xlib<int(Display*, Window)>("XRaiseWindow");
    auto* flush = xlib<int(Display*)>("XFlush");
    if (!defaultScreen || !internAtom || !selectionOwner || !moveResize || !raise || !flush) {
        return;
    }
    Display* display = info.info.x11.display;
    // A window manager owns the WM_S<screen> selection while it runs (ICCCM 2.8).
    const std::string manager = "WM_S" + std::to_string(defaultScreen(display));
    if (selectionOwner(display, internAtom(display, manager.c_str(), False)) != None) {
        return;
    }
    moveResize(display, info.info.x11.window, x, y, static_cast<unsigned>(width),
               static_cast<unsigned>(height));
    raise(display, info.info.x11.window);
    flush(display);
#else
    (void)window;
    (void)x;
    (void)y;
    (void)width;
    (void)height;
#endif
}

} // namespace platform
