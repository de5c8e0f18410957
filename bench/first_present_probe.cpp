// Loaded with LD_PRELOAD by bench/measure_start.sh: says on standard error when a program first
// shows a picture through SDL, in nanoseconds of CLOCK_REALTIME, and the CPU time the process
// had used by then. Without a window the first picture is the screenshot: the probe says when
// its compression starts (the frame is composed: a compressor is made for nothing else) and
// when a PNG file is renamed into place (the picture is all in it, written beside its name).
// The script takes the time just before starting the program, so the difference is the time from
// process start to that moment; the CPU time is what the start costs whatever else the machine
// is doing.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

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

template <typename F> F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

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

struct libdeflate_compressor;

extern "C" libdeflate_compressor* libdeflate_alloc_compressor(int level) {
    static const auto real = next<libdeflate_compressor* (*)(int)>("libdeflate_alloc_compressor");
    sayOnce(composed, "first-composed-ns");
    return real(level);
}

extern "C" int rename(const char* from, const char* to) {
    static const auto real = next<int (*)(const char*, const char*)>("rename");
    const int result = real(from, to);
    const std::size_t length = to != nullptr ? std::strlen(to) : 0;
    if (result == 0 && length > 4 && std::memcmp(to + length - 4, ".png", 4) == 0) {
        sayOnce(written, "first-written-ns");
    }
    return result;
}
