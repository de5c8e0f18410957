// What watching for events adds to the main thread: the rule for each sample, and the step that
// ends an event (its picture copied from the frame, the event handed to the writer's thread).
// Read beside BM_WindowFrame: a frame that ends an event costs the frame plus BM_EventEnd.
#include "platform/app/EventCapture.h"

#include <algorithm>
#include <benchmark/benchmark.h>

namespace {

using platform::DeliveredSample;
using platform::EventCapture;

constexpr double kInterval = 1.0 / 200.0;

// Keeps the last event, as the writer's queue would hold it.
struct Kept : platform::EventSink {
    platform::Event last;
    void eventEnded(platform::Event&& event) override { last = std::move(event); }
};

// Quiet samples at 200 per second, the last two seconds of them kept for the next event, and a
// sample in an event that goes on (arg 1).
void BM_EventSample(benchmark::State& state) {
    Kept sink;
    EventCapture capture({0.5f, 2.0, 2.0}, sink);
    const float value = state.range(0) != 0 ? 0.6f : 0.1f;
    double t = 0.0;
    for (int i = 0; i < 400; ++i) {
        capture.sampleDelivered({t += kInterval, {0.0, 0.0, -1.0}, value});
    }
    for (auto _ : state) {
        capture.sampleDelivered({t += kInterval, {0.0, 0.0, -1.0}, value});
        if (capture.wantsPicture()) {
            capture.takePicture(nullptr);
        }
    }
}
BENCHMARK(BM_EventSample)->ArgName("inEvent")->Arg(0)->Arg(1);

// An event of two seconds (400 samples with those before it) ending: its picture copied from a
// window's frame at the given scale, into the pixels of the last event's picture as the writer
// spares them, and the event handed on.
void BM_EventEnd(benchmark::State& state) {
    const int scale = static_cast<int>(state.range(0));
    const platform::CairoSurfacePtr frame = platform::makeImageSurface(320 * scale, 480 * scale);
    // Pixels of its own, as a composed frame has: untouched, they would all be one page of zeros.
    cairo_surface_flush(frame.get());
    std::fill_n(cairo_image_surface_get_data(frame.get()),
                cairo_image_surface_get_stride(frame.get()) * cairo_image_surface_get_height(frame.get()),
                0x80);
    cairo_surface_mark_dirty(frame.get());
    Kept sink;
    EventCapture capture({0.5f, 0.0, 1.0}, sink);
    double t = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < 399; ++i) {
            capture.sampleDelivered({t += kInterval, {0.0, 0.0, -1.0}, i < 200 ? 0.1f : 0.6f});
            if (capture.wantsPicture()) {
                capture.takePicture(nullptr);
            }
        }
        platform::CairoSurfacePtr spare = std::move(sink.last.picture);
        sink.last = {};
        state.ResumeTiming();
        capture.sampleDelivered({t += kInterval, {0.0, 0.0, -1.0}, 0.1f});
        capture.takePicture(platform::copyImageSurface(frame.get(), std::move(spare)));
    }
}
BENCHMARK(BM_EventEnd)->ArgName("scale")->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

} // namespace
