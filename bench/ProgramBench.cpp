// The program's own paths, as the main loop drives them: samples through the handler to the page,
// and a frame of the page turn to the settings page.
#include "Classes/TrembitAppDelegate.h"
#include "platform/app/Application.h"
#include "platform/services/Clock.h"
#include "platform/app/InterfaceFile.h"
#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/Resources.h"
#include "platform/services/Preferences.h"
#include "platform/ui/Compositor.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

namespace {

constexpr platform::Size kWindowSize{320.0f, 480.0f};
constexpr int kSampleCount = 4096;
constexpr int kSamplesPerFrame = 3; // 200 samples a second shown 60 times a second
constexpr int kFrameMicroseconds = 16667;
constexpr std::size_t kOtherProgramsBytes = 32u << 20;

// A table shaken hard: every sample swings the needle and moves the trace.
std::vector<platform::Acceleration> shaking() {
    std::vector<platform::Acceleration> samples(kSampleCount);
    for (int i = 0; i < kSampleCount; ++i) {
        samples[static_cast<std::size_t>(i)] = {0.4 * std::sin(i * 2.4), 0.3 * std::cos(i * 1.7),
                                                -1.0 + 0.2 * std::sin(i * 0.9)};
    }
    return samples;
}

// One sample as the accelerometer hands it over: the gate, the conditioning, and handleMove
// appending the value, turning the needle and moving the paper. Drawing waits for the display pass.
void BM_SampleToPage(benchmark::State& state) {
    TrembitAppDelegate delegate;
    delegate.setTremView(std::make_shared<TremView>(platform::Rect(0, 0, 320, 411)));
    delegate.settingsFilter = static_cast<std::int32_t>(state.range(0));
    delegate.settingsAxis = static_cast<std::int32_t>(state.range(1));
    delegate.updatingIsEnabled = true;
    platform::Accelerometer accelerometer;
    const std::vector<platform::Acceleration> samples = shaking();
    for (auto _ : state) {
        for (const platform::Acceleration& sample : samples) {
            delegate.accelerometerDidAccelerate(accelerometer, sample);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kSampleCount);
}
// The default settings (z alone, no filter), and the dearest: all three axes through the filter.
BENCHMARK(BM_SampleToPage)->ArgNames({"filter", "axis"})->Args({0, 0})->Args({1, 0})->Args({1, 2});

// The whole program's window, launched from the interface file as the program launches it.
struct LaunchedWindow {
    explicit LaunchedWindow(int scale)
        : application(clock, scale, platform::Preferences(preferencesFile())),
          interface(platform::loadInterface(platform::resourcePath("MainWindow.json"))),
          compositor(kWindowSize, scale) {
        for (const auto& [outlet, id] : interface.outlets) {
            delegate->connectOutlet(outlet, interface.objects.find(id)->second);
        }
        application.setWindow(interface.window);
        application.setDelegate(delegate);
        delegate->applicationDidFinishLaunching(application);
        for (const platform::Acceleration& sample : samples) {
            delegate->accelerometerDidAccelerate(accelerometer, sample);
        }
        render();
    }
    ~LaunchedWindow() { std::filesystem::remove(preferencesFile()); }

    static std::filesystem::path preferencesFile() {
        return std::filesystem::temp_directory_path() / "trembit-bench-preferences.conf";
    }
    void render() { compositor.render(*interface.window, &application.animator()); }

    platform::VirtualClock clock;
    platform::Application application;
    platform::Interface interface;
    std::shared_ptr<TrembitAppDelegate> delegate = std::make_shared<TrembitAppDelegate>();
    platform::Accelerometer accelerometer;
    platform::Compositor compositor;
    std::vector<platform::Acceleration> samples = shaking();
};

// A display pass of the recording window: the samples that arrive between two passes at 200 per
// second and 60 passes a second, then the whole window composed.
void BM_WindowFrame(benchmark::State& state) {
    LaunchedWindow window(static_cast<int>(state.range(0)));
    std::size_t next = 0;
    for (auto _ : state) {
        for (int i = 0; i < kSamplesPerFrame; ++i) {
            window.delegate->accelerometerDidAccelerate(window.accelerometer,
                                                        window.samples[next++ % kSampleCount]);
        }
        window.render();
        benchmark::DoNotOptimize(window.compositor.surface());
    }
}
BENCHMARK(BM_WindowFrame)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

// The same frame as a window composes it: after a sixtieth of a second in which other programs ran
// and the caches forgot the pictures (here: 32 MB read between frames, untimed). Frames back to
// back, as above, find every picture in cache and understate a window's cost several times over.
void BM_WindowFrameAfterRest(benchmark::State& state) {
    LaunchedWindow window(static_cast<int>(state.range(0)));
    std::vector<std::uint64_t> elsewhere(kOtherProgramsBytes / sizeof(std::uint64_t), 1);
    std::size_t next = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::microseconds(kFrameMicroseconds));
        benchmark::DoNotOptimize(std::accumulate(elsewhere.begin(), elsewhere.end(), std::uint64_t{0}));
        state.ResumeTiming();
        for (int i = 0; i < kSamplesPerFrame; ++i) {
            window.delegate->accelerometerDidAccelerate(window.accelerometer,
                                                        window.samples[next++ % kSampleCount]);
        }
        window.render();
        benchmark::DoNotOptimize(window.compositor.surface());
    }
}
BENCHMARK(BM_WindowFrameAfterRest)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(200);

// Half way through the one-second turn to the settings page: both pages composed and the curl
// drawn, as every frame of the turn is.
void BM_PageCurlFrame(benchmark::State& state) {
    LaunchedWindow window(static_cast<int>(state.range(0)));
    window.delegate->toggleSettings();
    window.clock.advanceTo(window.clock.now() + 0.5);
    for (auto _ : state) {
        window.render();
        benchmark::DoNotOptimize(window.compositor.surface());
    }
}
BENCHMARK(BM_PageCurlFrame)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

// The recording window written as a PNG file, as --screenshot and Ctrl+S write it (a temporary
// file flushed to the disk and renamed into place): often the last thing a run does, so it counts
// towards how soon a headless run has its picture.
void BM_Screenshot(benchmark::State& state) {
    LaunchedWindow window(static_cast<int>(state.range(0)));
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "trembit-bench-screenshot.png";
    for (auto _ : state) {
        platform::writeSurfacePng(window.compositor.surface(), file);
    }
    std::filesystem::remove(file);
}
BENCHMARK(BM_Screenshot)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The largest pieces of artwork at 2x, decoded from their files as a start decodes them.
void BM_DecodeArtwork(benchmark::State& state) {
    const std::filesystem::path path =
        platform::resourcePath(state.range(0) == 0 ? "paperbig@2x.png" : "shadow@2x.png");
    for (auto _ : state) {
        const platform::CairoSurfacePtr pixels(cairo_image_surface_create_from_png(path.c_str()));
        if (cairo_surface_status(pixels.get()) != CAIRO_STATUS_SUCCESS) {
            state.SkipWithError("not decoded");
            break;
        }
        benchmark::DoNotOptimize(pixels.get());
    }
}
BENCHMARK(BM_DecodeArtwork)->ArgName("shadow")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
