// Loaded with LD_PRELOAD by bench/measure_start.sh: says on standard error when a program first
// shows a picture through SDL, in nanoseconds of CLOCK_REALTIME, and the CPU time the process
// had used by then. Without a window the first picture is the screenshot: the probe says when
// its PNG file starts to be written (the frame is composed) and when the picture is all in it.
// The script takes the time just before starting the program, so the difference is the time from
// process start to that moment; the CPU time is what the start costs whatever else the machine
// is doing.
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <ctime>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Rect;
struct png_struct_def;
struct png_info_def;

namespace {

/// Says `what` with the time and the CPU time used, the first time only.
void sayOnce(std::atomic<bool>& said, const char* what) {
    if (said.exchange(true)) {
        return;
    }
    timespec now{};
    timespec used{};
    clock_gettime(CLOCK_REALTIME, &now);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    auto ns = [](const timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; };
    std::fprintf(stderr, "%s %lld cpu-ns %lld\n", what, ns(now), ns(used));
}

std::atomic<bool> presented{false};
std::atomic<bool> composed{false};
std::atomic<bool> written{false};

template <typename F> F next(const char* name) { return reinterpret_cast<F>(dlsym(RTLD_NEXT, name)); }

} // namespace

extern "C" int SDL_UpdateWindowSurface(SDL_Window* window) {
    static const auto real = next<int (*)(SDL_Window*)>("SDL_UpdateWindowSurface");
    const int result = real(window);
    sayOnce(presented, "first-present-ns");
    return result;
}

extern "C" void SDL_RenderPresent(SDL_Renderer* renderer) {
    static const auto real = next<void (*)(SDL_Renderer*)>("SDL_RenderPresent");
    real(renderer);
    sayOnce(presented, "first-present-ns");
}

extern "C" void png_write_info(png_struct_def* png, png_info_def* info) {
    static const auto real = next<void (*)(png_struct_def*, png_info_def*)>("png_write_info");
    sayOnce(composed, "first-composed-ns");
    real(png, info);
}

extern "C" void png_write_end(png_struct_def* png, png_info_def* info) {
    static const auto real = next<void (*)(png_struct_def*, png_info_def*)>("png_write_end");
    real(png, info);
    sayOnce(written, "first-written-ns");
}
