// The floor under any renderer of the page: its bytes written once, a page copied over them once
// and a translucent page blended over that once, with the widest vectors the machine has. A frame
// can come near it but not under it. Its ratio to a frame holds as the machine's speed drifts,
// where absolute times do not.
#include "platform/gfx/PixelMath.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kPageWidth = 320;
constexpr std::size_t kPageHeight = 411;
constexpr std::uint32_t kPaper = 0xffe8e0d0u;
constexpr std::uint32_t kShade = 0x40000000u;

// Premultiplied OVER, two channels at a time, each scaled by the source's remaining alpha / 255.
TREMBIT_WIDE_VECTORS void blendOver(std::uint32_t* destination, const std::uint32_t* source,
                                    std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t s = source[i];
        const std::uint32_t d = destination[i];
        const std::uint32_t remaining = 255u - (s >> 24);
        std::uint32_t redBlue = (d & 0x00ff00ffu) * remaining + 0x00800080u;
        redBlue = ((redBlue + ((redBlue >> 8) & 0x00ff00ffu)) >> 8) & 0x00ff00ffu;
        std::uint32_t alphaGreen = ((d >> 8) & 0x00ff00ffu) * remaining + 0x00800080u;
        alphaGreen = (alphaGreen + ((alphaGreen >> 8) & 0x00ff00ffu)) & 0xff00ff00u;
        destination[i] = s + (redBlue | alphaGreen);
    }
}

void BM_MemoryFloor(benchmark::State& state) {
    const auto scale = static_cast<std::size_t>(state.range(0));
    const std::size_t count = kPageWidth * kPageHeight * scale * scale;
    std::vector<std::uint32_t> page(count);
    const std::vector<std::uint32_t> paper(count, kPaper);
    const std::vector<std::uint32_t> shade(count, kShade);
    for (auto _ : state) {
        std::fill(page.begin(), page.end(), 0u);
        benchmark::ClobberMemory();
        std::memcpy(page.data(), paper.data(), count * sizeof(std::uint32_t));
        benchmark::ClobberMemory();
        blendOver(page.data(), shade.data(), count);
        benchmark::DoNotOptimize(page.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MemoryFloor)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

} // namespace
