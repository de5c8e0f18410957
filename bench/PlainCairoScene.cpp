// The bar to beat: the recorder scene drawn the straightforward way, straight onto one Cairo
// surface each frame, with the images scaled to their shown size once beforehand.
#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/Resources.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <numbers>

namespace {

using platform::CairoContextPtr;
using platform::CairoSurfacePtr;

// An image file scaled once to its shown size at the pixel scale.
CairoSurfacePtr presized(const char* name, double widthPoints, double heightPoints, int scale) {
    CairoSurfacePtr source(cairo_image_surface_create_from_png(platform::resourcePath(name).c_str()));
    CairoSurfacePtr sized =
        platform::makeImageSurface(static_cast<int>(widthPoints * scale), static_cast<int>(heightPoints * scale));
    CairoContextPtr cr = platform::makeContext(sized.get());
    cairo_scale(cr.get(), widthPoints * scale / cairo_image_surface_get_width(source.get()),
                heightPoints * scale / cairo_image_surface_get_height(source.get()));
    cairo_set_source_surface(cr.get(), source.get(), 0, 0);
    cairo_paint(cr.get());
    return sized;
}

void BM_PlainCairoFrame(benchmark::State& state) {
    const int scale = static_cast<int>(state.range(0));
    CairoSurfacePtr page = platform::makeImageSurface(320 * scale, 411 * scale);
    CairoSurfacePtr paper = presized("paperbig.png", 320, 860, scale);
    CairoSurfacePtr needle = presized("needle.png", 33, 248, scale);
    CairoSurfacePtr shadow = presized("shadow.png", 320, 411, scale);
    std::array<float, 200> history{};
    unsigned next = 0;
    int i = 0;
    for (auto _ : state) {
        const float value = static_cast<float>(std::sin(i++ * 2.4) * 0.95);
        history[next] = value;
        next = (next + 1) % 200;
        const double offset = ((next + 1) / 200.0 - 1.0) * 291.0;
        const double angle = value * -18.0 * std::numbers::pi / 180.0;

        CairoContextPtr cr = platform::makeContext(page.get());
        cairo_scale(cr.get(), scale, scale);
        // Paper at its exact sub-pixel offset.
        cairo_save(cr.get());
        cairo_translate(cr.get(), 0, offset);
        cairo_scale(cr.get(), 1.0 / scale, 1.0 / scale);
        cairo_set_source_surface(cr.get(), paper.get(), 0, 0);
        cairo_paint(cr.get());
        cairo_restore(cr.get());
        // Trace.
        cairo_save(cr.get());
        cairo_translate(cr.get(), 0, 120);
        cairo_rectangle(cr.get(), 0, 0, 320, 291);
        cairo_clip(cr.get());
        for (unsigned k = 0; k < 200; ++k) {
            const double x = 160 + 160 * history[(k + next) % 200];
            const double y = 291 - k / 199.0 * 291;
            k == 0 ? cairo_move_to(cr.get(), x, y) : cairo_line_to(cr.get(), x, y);
        }
        cairo_set_source_rgba(cr.get(), 0, 0.2, 0.9, 0.7);
        cairo_set_line_width(cr.get(), 2);
        cairo_set_line_join(cr.get(), CAIRO_LINE_JOIN_ROUND);
        cairo_set_line_cap(cr.get(), CAIRO_LINE_CAP_ROUND);
        cairo_stroke(cr.get());
        cairo_restore(cr.get());
        // Shadow.
        cairo_save(cr.get());
        cairo_scale(cr.get(), 1.0 / scale, 1.0 / scale);
        cairo_set_source_surface(cr.get(), shadow.get(), 0, 0);
        cairo_paint(cr.get());
        cairo_restore(cr.get());
        // Needle about its pivot.
        cairo_translate(cr.get(), 159, -371);
        cairo_rotate(cr.get(), angle);
        cairo_translate(cr.get(), -16.5, 248);
        cairo_scale(cr.get(), 1.0 / scale, 1.0 / scale);
        cairo_set_source_surface(cr.get(), needle.get(), 0, 0);
        cairo_paint(cr.get());
        cr.reset();
        cairo_surface_flush(page.get());
        benchmark::DoNotOptimize(page.get());
    }
}
BENCHMARK(BM_PlainCairoFrame)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

} // namespace
