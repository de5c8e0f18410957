// The program's own paths, as the main loop drives them: samples through the handler to the page,
// and a frame of the page turn to the settings page.
#include "Classes/TrembitAppDelegate.h"
#include "platform/app/Application.h"
#include "platform/app/Clock.h"
#include "platform/app/InterfaceFile.h"
#include "platform/gfx/Resources.h"
#include "platform/services/Preferences.h"
#include "platform/ui/Compositor.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

constexpr platform::Size kWindowSize{320.0f, 480.0f};
constexpr int kSampleCount = 4096;

// A table shaken hard: every sample swings the needle and moves the trace.
std::vector<platform::Acceleration> shaking() {
    std::vector<platform::Acceleration> samples(kSampleCount);
    for (int i = 0; i < kSampleCount; ++i) {
        samples[static_cast<std::size_t>(i)] = {0.4 * std::sin(i * 2.4), 0.3 * std::cos(i * 1.7), -1.0 + 0.2 * std::sin(i * 0.9)};
    }
    return samples;
}

// One sample as the accelerometer hands it over: the gate, the conditioning, and handleMove
// appending the value, turning the needle and moving the paper. Drawing waits for the display pass.
void BM_SampleToPage(benchmark::State& state) {
    TrembitAppDelegate delegate;
    delegate.setTremView(std::make_shared<TremView>(platform::Rect(0, 0, 320, 411)));
    delegate.settingsFilter = static_cast<std::int32_t>(state.range(0));
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
BENCHMARK(BM_SampleToPage)->ArgName("filter")->Arg(0)->Arg(1);

// The whole program's window, launched from the interface file, half way through the one-second
// turn to the settings page: both pages composed and the curl drawn, as every frame of the turn is.
void BM_PageCurlFrame(benchmark::State& state) {
    const int scale = static_cast<int>(state.range(0));
    const std::filesystem::path preferences = std::filesystem::temp_directory_path() / "trembit-bench-preferences.conf";
    platform::VirtualClock clock;
    platform::Application application(clock, scale, platform::Preferences(preferences));
    platform::Interface interface = platform::loadInterface(platform::resourcePath("MainWindow.json"));
    auto delegate = std::make_shared<TrembitAppDelegate>();
    for (const auto& [outlet, id] : interface.outlets) {
        delegate->connectOutlet(outlet, interface.objects.find(id)->second);
    }
    application.setWindow(interface.window);
    application.setDelegate(delegate);
    delegate->applicationDidFinishLaunching(application);
    platform::Accelerometer accelerometer;
    for (const platform::Acceleration& sample : shaking()) {
        delegate->accelerometerDidAccelerate(accelerometer, sample);
    }
    platform::Compositor compositor(kWindowSize, scale);
    compositor.render(*interface.window, &application.animator());
    delegate->toggleSettings();
    clock.advanceTo(clock.now() + 0.5);
    for (auto _ : state) {
        compositor.render(*interface.window, &application.animator());
        benchmark::DoNotOptimize(compositor.surface());
    }
    std::filesystem::remove(preferences);
}
BENCHMARK(BM_PageCurlFrame)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

} // namespace
