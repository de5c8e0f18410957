// Loaded with LD_PRELOAD by bench/measure_window.sh: notes the time of every picture a program
// shows through SDL and, when it exits, says on standard error how the intervals between them
// fell: "frame-intervals N p50-ms P p99-ms Q max-ms M". The frames shown after the main thread
// filled a window-sized colour surface of its own (Trembit does so only to copy a frame for an
// event's picture, or for a page turn) are said apart: "picture-frame-intervals N max-ms M", so a
// frame made late by an event shows.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

struct SDL_Window;
struct SDL_Renderer;
struct _cairo_surface;
extern "C" int cairo_image_surface_get_format(_cairo_surface*);
extern "C" int cairo_image_surface_get_width(_cairo_surface*);

namespace {

// Nobody looks at the first frames: the start is measured elsewhere.
constexpr std::size_t kSkippedFrames = 120;
// A colour image surface this wide or wider is a copy of the window, at any scale.
constexpr int kWindowWidth = 320;
constexpr int kFormatA8 = 2; // CAIRO_FORMAT_A8: a mask, drawn every frame

struct Intervals {
    std::vector<double> ms;
    std::vector<double> afterPicture;
    bool pictureTaken = false;
    double last = -1.0;

    void presented() {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double t = static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
        if (last >= 0.0) {
            ms.push_back(t - last);
            if (pictureTaken && ms.size() > kSkippedFrames) {
                afterPicture.push_back(t - last);
            }
        }
        pictureTaken = false;
        last = t;
    }

    ~Intervals() {
        if (ms.size() <= kSkippedFrames) {
            return;
        }
        std::vector<double> kept(ms.begin() + kSkippedFrames, ms.end());
        std::sort(kept.begin(), kept.end());
        const auto at = [&](double share) {
            return kept[static_cast<std::size_t>(share * (kept.size() - 1))];
        };
        std::fprintf(stderr, "frame-intervals %zu p50-ms %.2f p99-ms %.2f max-ms %.2f\n", kept.size(),
                     at(0.5), at(0.99), kept.back());
        std::fprintf(stderr, "picture-frame-intervals %zu max-ms %.2f\n", afterPicture.size(),
                     afterPicture.empty() ? 0.0
                                          : *std::max_element(afterPicture.begin(), afterPicture.end()));
    }
};

Intervals intervals;

template <typename F> F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" void cairo_surface_mark_dirty(_cairo_surface* surface) {
    static const auto real = next<void (*)(_cairo_surface*)>("cairo_surface_mark_dirty");
    real(surface);
    if (::syscall(SYS_gettid) == ::getpid() && cairo_image_surface_get_format(surface) != kFormatA8 &&
        cairo_image_surface_get_width(surface) >= kWindowWidth) {
        intervals.pictureTaken = true;
    }
}

extern "C" int SDL_UpdateWindowSurface(SDL_Window* window) {
    static const auto real = next<int (*)(SDL_Window*)>("SDL_UpdateWindowSurface");
    const int result = real(window);
    intervals.presented();
    return result;
}

extern "C" void SDL_RenderPresent(SDL_Renderer* renderer) {
    static const auto real = next<void (*)(SDL_Renderer*)>("SDL_RenderPresent");
    real(renderer);
    intervals.presented();
}
