// The cost of showing frames and nothing else: a window of Trembit's pixel size presents a
// picture of that size at Trembit's frame rate through the same window class, so the difference
// between this program's CPU time and Trembit's is Trembit's own work (samples, drawing,
// composing). bench/measure_window.sh runs both.
//
// Usage: present_only [--scale N] [--duration SECONDS] [--rate FRAMES_PER_SECOND]
#include "platform/backend/SdlWindow.h"
#include "platform/gfx/CairoPtr.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

namespace {

struct Settings {
    int scale = 2;
    double durationSeconds = 30.0;
    double framesPerSecond = 60.0;
};

bool parse(int argc, char** argv, Settings& settings) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        if (option == "--scale") {
            settings.scale = std::atoi(value);
        } else if (option == "--duration") {
            settings.durationSeconds = std::atof(value);
        } else if (option == "--rate") {
            settings.framesPerSecond = std::atof(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && settings.framesPerSecond > 0.0;
}

// A frame that differs from the last one, as Trembit's do while recording, made with a fill
// of a few rows so that making it costs next to nothing beside presenting it.
void changeFrame(cairo_surface_t* frame, int frameNumber) {
    const int width = cairo_image_surface_get_width(frame);
    const int height = cairo_image_surface_get_height(frame);
    platform::CairoContextPtr cr = platform::makeContext(frame);
    const int band = height / 60;
    cairo_set_source_rgb(cr.get(), 0.97, 0.95, 0.88);
    cairo_rectangle(cr.get(), 0, ((frameNumber + 59) % 60) * band, width, band);
    cairo_fill(cr.get());
    cairo_set_source_rgb(cr.get(), 0.25, 0.35, 0.85);
    cairo_rectangle(cr.get(), 0, (frameNumber % 60) * band, width, band);
    cairo_fill(cr.get());
    cairo_surface_flush(frame);
}

} // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!parse(argc, argv, settings)) {
        std::fprintf(stderr, "usage: %s [--scale N] [--duration SECONDS] [--rate FRAMES_PER_SECOND]\n", argv[0]);
        return 2;
    }
    try {
        platform::SdlWindow window("Trembit present only", settings.scale, false);
        const int width = static_cast<int>(platform::SdlWindow::kPointSize.width) * settings.scale;
        const int height = static_cast<int>(platform::SdlWindow::kPointSize.height) * settings.scale;
        platform::CairoSurfacePtr frame = platform::makeImageSurface(width, height, CAIRO_FORMAT_RGB24);
        {
            platform::CairoContextPtr cr = platform::makeContext(frame.get());
            cairo_set_source_rgb(cr.get(), 0.97, 0.95, 0.88);
            cairo_paint(cr.get());
        }

        using Clock = std::chrono::steady_clock;
        const Clock::time_point start = Clock::now();
        const double interval = 1.0 / settings.framesPerSecond;
        long frames = 0;
        for (;;) {
            const double now = std::chrono::duration<double>(Clock::now() - start).count();
            if (now >= settings.durationSeconds) {
                break;
            }
            const double next = static_cast<double>(frames) * interval;
            if (now < next) {
                // Trembit's loop waits in the same call between frames.
                bool quit = false;
                for (const platform::InputEvent& event : window.waitEvents(next - now)) {
                    quit = quit || event.kind == platform::InputEvent::Kind::Quit;
                }
                if (quit) {
                    break;
                }
                continue;
            }
            // Trembit draws straight into the window's pixels where it can; so does this.
            cairo_surface_t* target = window.frameSurface();
            if (target == nullptr) {
                target = frame.get();
            } else if (frames == 0) {
                platform::CairoContextPtr cr = platform::makeContext(target);
                cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
                cairo_set_source_surface(cr.get(), frame.get(), 0.0, 0.0);
                cairo_paint(cr.get());
            }
            changeFrame(target, static_cast<int>(frames));
            window.present(target);
            ++frames;
        }
        std::printf("present_only: %ld frames of %d x %d in %.1f s\n", frames, width, height,
                    std::chrono::duration<double>(Clock::now() - start).count());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "present_only: %s\n", error.what());
        return 1;
    }
    return 0;
}
