#pragma once

struct SDL_Window;

namespace platform {

/// The file descriptor of the X display connection `window` is shown through, or -1 when SDL
/// shows it some other way. Xlib is SDL's to load, so nothing here links it.
int x11ConnectionNumber(SDL_Window* window);

} // namespace platform
