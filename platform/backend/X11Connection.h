#pragma once

struct SDL_Window;

namespace platform {

/// The file descriptor of the X display connection `window` is shown through, or -1 when SDL
/// shows it some other way. Xlib is SDL's to load, so nothing here links it.
int x11ConnectionNumber(SDL_Window* window);

/// Makes the full-screen `window` cover the rectangle given in root-window pixels (its display's
/// bounds) on an X server without a window manager, as a window manager would. SDL asks the window
/// manager for full screen and takes it as done, so with none there the window would keep its
/// first size and place while SDL draws for the whole screen. Does nothing where a window manager
/// runs, or on another driver.
void x11CoverWithoutWindowManager(SDL_Window* window, int x, int y, int width, int height);

} // namespace platform
