// Loaded with LD_PRELOAD by bench/measure_start.sh: says on standard error when a program first
// shows a picture through SDL, in nanoseconds of CLOCK_REALTIME, and the CPU time the process
// had used by then. The script takes the time just before starting the program, so the
// difference is the time from process start to the first frame on screen; the CPU time is what
// that start costs whatever else the machine is doing.
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <ctime>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Rect;

namespace {

std::atomic<bool> said{false};

void sayOnce() {
    if (said.exchange(true)) {
        return;
    }
    timespec now{};
    timespec used{};
    clock_gettime(CLOCK_REALTIME, &now);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    auto ns = [](const timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; };
    std::fprintf(stderr, "first-present-ns %lld cpu-ns %lld\n", ns(now), ns(used));
}

template <typename F> F next(const char* name) { return reinterpret_cast<F>(dlsym(RTLD_NEXT, name)); }

} // namespace

extern "C" int SDL_UpdateWindowSurface(SDL_Window* window) {
    static const auto real = next<int (*)(SDL_Window*)>("SDL_UpdateWindowSurface");
    const int result = real(window);
    sayOnce();
    return result;
}

extern "C" void SDL_RenderPresent(SDL_Renderer* renderer) {
    static const auto real = next<void (*)(SDL_Renderer*)>("SDL_RenderPresent");
    real(renderer);
    sayOnce();
}
