#include "platform/backend/X11Connection.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <dlfcn.h>

namespace platform {

int x11ConnectionNumber(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) {
        return -1;
    }
    using ConnectionNumber = int (*)(Display*);
    auto* connectionNumber = reinterpret_cast<ConnectionNumber>(dlsym(RTLD_DEFAULT, "XConnectionNumber"));
    return connectionNumber != nullptr ? connectionNumber(info.info.x11.display) : -1;
#else
    (void)window;
    return -1;
#endif
}

} // namespace platform
