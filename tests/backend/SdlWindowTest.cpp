#include "platform/backend/SdlWindow.h"
#include "platform/gfx/CairoPtr.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <unistd.h>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(SdlWindowScaleTest, LargestScaleLeavingATenthForDecorations) {
    struct Case {
        int usableHeightPixels;
        int expectedScale;
    };
    const Case cases[] = {
        {-1, 1},   {0, 1},    {300, 1},  {480, 1},  {600, 1},
        {1066, 1}, // 960 needs 1066.7: just short
        {1067, 2}, {1080, 2}, {1599, 2},
        {1600, 3}, // 1440 is exactly nine tenths of 1600
        {2160, 3}, {4320, 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SdlWindow::scaleForUsableHeight(c.usableHeightPixels), c.expectedScale)
            << "usable height " << c.usableHeightPixels;
    }
}

TEST(SdlWindowMappingTest, PictureFitsCentredInTheOutput) {
    struct Case {
        int outputWidth;
        int outputHeight;
        Rect expected;
    };
    const Case cases[] = {
        {320, 480, {0, 0, 320, 480}},       // the window at scale 1
        {960, 1440, {0, 0, 960, 1440}},     // the window at scale 3
        {1920, 1080, {600, 0, 720, 1080}},  // landscape display: bars left and right
        {1080, 1920, {0, 150, 1080, 1620}}, // portrait display: bars above and below
        {800, 480, {240, 0, 320, 480}},
    };
    for (const Case& c : cases) {
        const Rect actual = SdlWindow::pictureRectInOutput(c.outputWidth, c.outputHeight);
        EXPECT_EQ(actual, c.expected) << c.outputWidth << " x " << c.outputHeight << ": got (" << actual.minX() << ", "
                                      << actual.minY() << ", " << actual.size.width << ", " << actual.size.height << ")";
    }
}

TEST(SdlWindowMappingTest, OutputPixelsBecomeWindowPoints) {
    struct Case {
        int outputWidth;
        int outputHeight;
        Point pixel;
        Point expected;
    };
    const Case cases[] = {
        {320, 480, {100, 200}, {100, 200}},
        {960, 1440, {300, 600}, {100, 200}},     // pixels divided by the scale
        {1920, 1080, {600, 0}, {0, 0}},          // letterbox offset undone
        {1920, 1080, {1320, 1080}, {320, 480}},  // and its scale
        {1920, 1080, {960, 540}, {160, 240}},    // centre stays centre
        {1920, 1080, {510, 540}, {-40, 240}},    // in the left bar: outside the picture
        {1080, 1920, {540, 150 + 810}, {160, 240}},
    };
    for (const Case& c : cases) {
        const Point actual = SdlWindow::pointForOutputPixel(c.pixel, c.outputWidth, c.outputHeight);
        EXPECT_FLOAT_EQ(actual.x, c.expected.x) << "pixel " << c.pixel.x << ", " << c.pixel.y << " in " << c.outputWidth
                                                << " x " << c.outputHeight;
        EXPECT_FLOAT_EQ(actual.y, c.expected.y) << "pixel " << c.pixel.x << ", " << c.pixel.y << " in " << c.outputWidth
                                                << " x " << c.outputHeight;
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

TEST_F(OffscreenWindowTest, PresentsPicturesOfEachScaleAndRejectsOthers) {
    for (int scale = 1; scale <= 3; ++scale) {
        CairoSurfacePtr picture{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 320 * scale, 480 * scale)};
        CairoContextPtr cr{cairo_create(picture.get())};
        cairo_set_source_rgb(cr.get(), 1.0, 0.0, 0.0);
        cairo_paint(cr.get());
        EXPECT_NO_THROW(window_->present(picture.get())) << "scale " << scale;
        EXPECT_NO_THROW(window_->present(picture.get())) << "scale " << scale << ", same texture again";
    }
    EXPECT_THROW(window_->present(nullptr), std::invalid_argument);
    CairoSurfacePtr mask{cairo_image_surface_create(CAIRO_FORMAT_A8, 320, 480)};
    EXPECT_THROW(window_->present(mask.get()), std::invalid_argument);
}

// What the window shows at window pixel (x, y), as 0xRRGGBB.
std::uint32_t shownPixel(SDL_Window* window, int x, int y) {
    SDL_Surface* shown = SDL_GetWindowSurface(window);
    const auto* row = static_cast<const unsigned char*>(shown->pixels) + static_cast<std::ptrdiff_t>(y) * shown->pitch;
    std::uint32_t pixel = 0;
    std::memcpy(&pixel, row + static_cast<std::ptrdiff_t>(x) * shown->format->BytesPerPixel, sizeof pixel);
    Uint8 r = 0;
    Uint8 g = 0;
    Uint8 b = 0;
    SDL_GetRGB(pixel, shown->format, &r, &g, &b);
    return (std::uint32_t{r} << 16) | (std::uint32_t{g} << 8) | b;
}

TEST_F(OffscreenWindowTest, PicturesReachTheWindowsPixelsAtItsSizeOrScaledIntoIt) {
    ASSERT_EQ(window_->presentation(), SdlWindow::Presentation::WindowSurface);
    struct Case {
        int scale;
        cairo_format_t format;
    };
    // At the window's own scale the picture is copied; at another it is scaled to fit.
    const Case cases[] = {{1, CAIRO_FORMAT_ARGB32}, {1, CAIRO_FORMAT_RGB24}, {2, CAIRO_FORMAT_ARGB32}};
    for (const Case& c : cases) {
        CairoSurfacePtr picture{cairo_image_surface_create(c.format, 320 * c.scale, 480 * c.scale)};
        CairoContextPtr cr{cairo_create(picture.get())};
        cairo_set_source_rgb(cr.get(), 1.0, 0.0, 0.0);
        cairo_paint(cr.get());
        cairo_set_source_rgb(cr.get(), 0.0, 0.0, 1.0);
        cairo_rectangle(cr.get(), 160 * c.scale, 0, 160 * c.scale, 480 * c.scale);
        cairo_fill(cr.get());
        window_->present(picture.get());
        const std::uint32_t left = shownPixel(window_->handle(), 159, 240);
        const std::uint32_t right = shownPixel(window_->handle(), 160, 240);
        EXPECT_EQ(left, 0xff0000u) << "scale " << c.scale << " format " << c.format << ": got " << std::hex << left;
        EXPECT_EQ(right, 0x0000ffu) << "scale " << c.scale << " format " << c.format << ": got " << std::hex << right;
    }
}

TEST_F(OffscreenWindowTest, FrameDrawnIntoTheWindowsPixelsIsShownAsDrawn) {
    cairo_surface_t* frame = window_->frameSurface();
    ASSERT_NE(frame, nullptr) << "the offscreen driver has window pixels of the picture's size";
    EXPECT_EQ(cairo_image_surface_get_format(frame), CAIRO_FORMAT_ARGB32);
    EXPECT_EQ(cairo_image_surface_get_width(frame), 320);
    EXPECT_EQ(cairo_image_surface_get_height(frame), 480);
    EXPECT_EQ(window_->frameSurface(), frame) << "the same pixels give the same surface";
    {
        CairoContextPtr cr{cairo_create(frame)};
        cairo_set_source_rgb(cr.get(), 0.0, 1.0, 0.0);
        cairo_paint(cr.get());
    }
    window_->present(frame);
    EXPECT_EQ(shownPixel(window_->handle(), 10, 10), 0x00ff00u) << std::hex << shownPixel(window_->handle(), 10, 10);
}

TEST_F(OffscreenWindowTest, FrameOfAResizedWindowIsFinishedAndNotReplacedAtAnotherSize) {
    CairoSurfacePtr old{cairo_surface_reference(window_->frameSurface())};
    ASSERT_NE(old.get(), nullptr);
    SDL_SetWindowSize(window_->handle(), 400, 500);
    window_->waitEvents(0.0);
    // The window's pixels are no longer the picture's size: it is copied and scaled instead.
    EXPECT_EQ(window_->frameSurface(), nullptr);
    // The old surface points at pixels SDL has freed; drawing into it must fail, not write there.
    CairoContextPtr cr{cairo_create(old.get())};
    EXPECT_EQ(cairo_status(cr.get()), CAIRO_STATUS_SURFACE_FINISHED);

    SDL_SetWindowSize(window_->handle(), 320, 480);
    window_->waitEvents(0.0);
    cairo_surface_t* again = window_->frameSurface();
    ASSERT_NE(again, nullptr) << "back at the picture's size, the new pixels are drawn into";
    EXPECT_NO_THROW(window_->present(again));
}

TEST_F(OffscreenWindowTest, PollingDoesNotBlockAndWaitingDoes) {
    const Clock::time_point pollStart = Clock::now();
    window_->waitEvents(0.0);
    EXPECT_LT(secondsSince(pollStart), 0.1);

    // A wait with nothing happening must last its time, not return at once and spin the loop.
    const Clock::time_point waitStart = Clock::now();
    const std::vector<InputEvent> events = window_->waitEvents(0.3);
    const double waited = secondsSince(waitStart);
    EXPECT_TRUE(events.empty());
    EXPECT_GE(waited, 0.25);
    EXPECT_LT(waited, 2.0);
}

TEST_F(OffscreenWindowTest, AReadableDescriptorEndsTheWait) {
    // A pipe written from another thread, as a signal or a sample reader would.
    std::array<int, 2> pipe{};
    ASSERT_EQ(::pipe(pipe.data()), 0);
    const Clock::time_point start = Clock::now();
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(::write(pipe[1], "x", 1), 1);
    });
    const std::array<int, 2> watched{-1, pipe[0]};
    window_->waitEvents(5.0, watched);
    const double waited = secondsSince(start);
    writer.join();
    EXPECT_LT(waited, 1.0);
    ::close(pipe[0]);
    ::close(pipe[1]);
}

TEST(SdlWindowArgumentsTest, ScaleOutsideOneToThreeIsRefused) {
    for (const int scale : {0, 4, -1}) {
        EXPECT_THROW(SdlWindow("Trembit", scale, false), std::invalid_argument) << "scale " << scale;
    }
}

} // namespace
} // namespace platform
