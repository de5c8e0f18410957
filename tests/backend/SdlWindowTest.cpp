#include "platform/backend/SdlWindow.h"

#include "platform/gfx/CairoPtr.h"

#include <SDL.h>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(SdlWindowScaleTest, LargestScaleLeavingATenthForDecorationsAndOnlyOneToThree) {
    // 960 needs 1066.7, so 1066 is just short of scale 2; 1440 is exactly nine tenths of 1600.
    const std::pair<int, int> cases[] = {{-1, 1},   {0, 1},    {600, 1},  {1066, 1}, {1067, 2},
                                         {1599, 2}, {1600, 3}, {2160, 3}, {4320, 3}};
    for (const auto& [usableHeightPixels, scale] : cases) {
        EXPECT_EQ(SdlWindow::scaleForUsableHeight(usableHeightPixels), scale) << usableHeightPixels;
    }
    for (const int scale : {0, 4, -1}) {
        EXPECT_THROW(SdlWindow("Trembit", scale, false), std::invalid_argument) << "scale " << scale;
    }
}

// The picture fits centred in the output, and an output pixel becomes the window point drawn there.
TEST(SdlWindowMappingTest, PictureFitsCentredAndPixelsBecomePoints) {
    const struct {
        int width, height;
        Rect picture;
        Point pixel, point;
    } cases[] = {
        {320, 480, {0, 0, 320, 480}, {100, 200}, {100, 200}},        // the window at scale 1
        {960, 1440, {0, 0, 960, 1440}, {300, 600}, {100, 200}},      // at scale 3
        {1920, 1080, {600, 0, 720, 1080}, {1320, 1080}, {320, 480}}, // landscape: bars left and right
        {1920, 1080, {600, 0, 720, 1080}, {510, 540}, {-40, 240}},   // in the left bar: outside the picture
        {1080, 1920, {0, 150, 1080, 1620}, {540, 960}, {160, 240}},  // portrait: bars above and below
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << ", pixel " << c.pixel.x);
        EXPECT_EQ(SdlWindow::pictureRectInOutput(c.width, c.height), c.picture);
        EXPECT_EQ(SdlWindow::pointForOutputPixel(c.pixel, c.width, c.height), c.point);
    }
}

// A real window on SDL's offscreen driver, which needs no display.
class OffscreenWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::vector<std::string> drivers = SdlWindow::videoDrivers();
        if (std::find(drivers.begin(), drivers.end(), "offscreen") == drivers.end()) {
            GTEST_SKIP() << "this SDL was built without the offscreen video driver";
        }
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        window_ = std::make_unique<SdlWindow>("Trembit test", 1, false);
        // Let the window's own start-up events (shown, exposed) go by.
        for (int i = 0; i < 3; ++i) {
            window_->waitEvents(0.0);
        }
    }

    std::unique_ptr<SdlWindow> window_;
};

// What the window shows at window pixel (x, y), as 0xRRGGBB.
std::uint32_t shownPixel(SDL_Window* window, int x, int y) {
    SDL_Surface* shown = SDL_GetWindowSurface(window);
    std::uint32_t pixel = 0;
    std::memcpy(&pixel,
                static_cast<const Uint8*>(shown->pixels) + y * shown->pitch +
                    x * shown->format->BytesPerPixel,
                sizeof pixel);
    std::array<Uint8, 3> rgb{};
    SDL_GetRGB(pixel, shown->format, &rgb[0], &rgb[1], &rgb[2]);
    return (std::uint32_t{rgb[0]} << 16) | (std::uint32_t{rgb[1]} << 8) | rgb[2];
}

// At the window's own scale a picture is copied; at another it is scaled to fit.
TEST_F(OffscreenWindowTest, PicturesReachTheWindowsPixelsAtItsSizeOrScaledIntoIt) {
    ASSERT_EQ(window_->presentation(), SdlWindow::Presentation::WindowSurface);
    for (const auto& [scale, format] :
         {std::pair{1, CAIRO_FORMAT_ARGB32}, std::pair{1, CAIRO_FORMAT_RGB24},
          std::pair{2, CAIRO_FORMAT_ARGB32}, std::pair{3, CAIRO_FORMAT_ARGB32}}) {
        SCOPED_TRACE(testing::Message() << "scale " << scale << " format " << format);
        CairoSurfacePtr picture{cairo_image_surface_create(format, 320 * scale, 480 * scale)};
        CairoContextPtr cr{cairo_create(picture.get())};
        cairo_set_source_rgb(cr.get(), 1.0, 0.0, 0.0);
        cairo_paint(cr.get());
        cairo_set_source_rgb(cr.get(), 0.0, 0.0, 1.0);
        cairo_rectangle(cr.get(), 160 * scale, 0, 160 * scale, 480 * scale);
        cairo_fill(cr.get());
        window_->present(picture.get());
        EXPECT_EQ(shownPixel(window_->handle(), 159, 240), 0xff0000u);
        EXPECT_EQ(shownPixel(window_->handle(), 160, 240), 0x0000ffu);
    }
    EXPECT_THROW(window_->present(nullptr), std::invalid_argument);
    CairoSurfacePtr mask{cairo_image_surface_create(CAIRO_FORMAT_A8, 320, 480)};
    EXPECT_THROW(window_->present(mask.get()), std::invalid_argument);
}

// The window's own pixels are drawn into and shown as drawn; when the window is resized away from
// the picture's size they are no longer offered, and the surface over the freed pixels is finished.
TEST_F(OffscreenWindowTest, FrameDrawnIntoTheWindowsPixelsIsShownAndFinishedWhenResized) {
    cairo_surface_t* frame = window_->frameSurface();
    ASSERT_NE(frame, nullptr) << "the offscreen driver has window pixels of the picture's size";
    EXPECT_EQ(std::tuple(cairo_image_surface_get_format(frame), cairo_image_surface_get_width(frame),
                         cairo_image_surface_get_height(frame)),
              std::tuple(CAIRO_FORMAT_ARGB32, 320, 480));
    EXPECT_EQ(window_->frameSurface(), frame) << "the same pixels give the same surface";
    {
        CairoContextPtr cr{cairo_create(frame)};
        cairo_set_source_rgb(cr.get(), 0.0, 1.0, 0.0);
        cairo_paint(cr.get());
    }
    window_->present(frame);
    EXPECT_EQ(shownPixel(window_->handle(), 10, 10), 0x00ff00u);

    CairoSurfacePtr old{cairo_surface_reference(frame)};
    SDL_SetWindowSize(window_->handle(), 400, 500);
    window_->waitEvents(0.0);
    EXPECT_EQ(window_->frameSurface(), nullptr);
    CairoContextPtr cr{cairo_create(old.get())};
    EXPECT_EQ(cairo_status(cr.get()), CAIRO_STATUS_SURFACE_FINISHED)
        << "drawing would write into freed pixels";
    SDL_SetWindowSize(window_->handle(), 320, 480);
    window_->waitEvents(0.0);
    cairo_surface_t* again = window_->frameSurface();
    ASSERT_NE(again, nullptr) << "back at the picture's size, the new pixels are drawn into";
    EXPECT_NO_THROW(window_->present(again));
}

// A poll returns at once; a wait with nothing happening lasts its time rather than spin the loop,
// unless a descriptor (a signal's or a sample reader's pipe, written from another thread) is readable.
TEST_F(OffscreenWindowTest, WaitsLastTheirTimeUnlessADescriptorIsReadable) {
    Clock::time_point start = Clock::now();
    window_->waitEvents(0.0);
    EXPECT_LT(secondsSince(start), 0.1);
    start = Clock::now();
    EXPECT_TRUE(window_->waitEvents(0.3).empty());
    EXPECT_GE(secondsSince(start), 0.25);
    EXPECT_LT(secondsSince(start), 2.0);

    std::array<int, 2> pipe{};
    ASSERT_EQ(::pipe(pipe.data()), 0);
    start = Clock::now();
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(::write(pipe[1], "x", 1), 1);
    });
    const std::array<int, 2> watched{-1, pipe[0]};
    window_->waitEvents(5.0, watched);
    EXPECT_LT(secondsSince(start), 1.0);
    writer.join();
    ::close(pipe[0]);
    ::close(pipe[1]);
}

} // namespace
} // namespace platform
