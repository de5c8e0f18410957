#include "Classes/TremView.h"
#include "platform/ui/Compositor.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstddef>

namespace {

constexpr platform::Rect kPage(0, 0, 320, 411);

// Values spread over the whole width: the trace's worst case for the stroker.
float worstCaseValue(int i) { return static_cast<float>(std::sin(i * 2.4) * 0.95); }

// One full recorder frame as the program makes it: a new value, then the display pass and the
// composition of paper, trace, shadow and needle into the page.
void BM_RecorderFrame(benchmark::State& state) {
    const int scale = static_cast<int>(state.range(0));
    TremView page(kPage);
    for (int i = 0; i < 200; ++i) {
        page.handleMove(worstCaseValue(i));
    }
    platform::Compositor compositor(kPage.size, scale);
    compositor.render(page);
    int i = 200;
    for (auto _ : state) {
        page.handleMove(worstCaseValue(i++));
        compositor.render(page);
        benchmark::DoNotOptimize(compositor.surface());
    }
}
BENCHMARK(BM_RecorderFrame)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_HandleMove(benchmark::State& state) {
    TremView page(kPage);
    // Values made beforehand, so only handleMove is timed.
    std::array<float, 1024> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = worstCaseValue(static_cast<int>(i));
    }
    std::size_t i = 0;
    for (auto _ : state) {
        page.handleMove(values[i++ & (values.size() - 1)]);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HandleMove);

} // namespace
