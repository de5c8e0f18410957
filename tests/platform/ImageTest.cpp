#include "platform/gfx/Image.h"

#include "platform/gfx/PngWriter.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/ImageView.h"
#include "tests/support/Files.h"
#include "tests/support/Pixels.h"
#include "tests/support/Png.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <tuple>

namespace fs = std::filesystem;
using platform::CairoSurfacePtr;
using platform::Image;
using testing_support::Bytes;
using testing_support::pixelAt;
using testing_support::pngChunk;
using testing_support::pngFile;
using testing_support::pngHeader;
using testing_support::writeFile;

namespace {

constexpr std::uint32_t kRed = 0xffff0000u;
constexpr std::uint32_t kBlue = 0xff0000ffu;
constexpr std::uint32_t kGreen = 0xff00ff00u;

// A scratch folder of image files, removed with the fixture.
class ImageFilesTest : public ::testing::Test {
protected:
    // Writes `surface` as the PNG `name`.
    fs::path writePng(const std::string& name, const CairoSurfacePtr& surface) const {
        const fs::path path = dir_ / name;
        EXPECT_EQ(cairo_surface_write_to_png(surface.get(), path.c_str()), CAIRO_STATUS_SUCCESS);
        return path;
    }
    // A PNG of one opaque colour, written without an alpha channel.
    fs::path writePng(const std::string& name, int width, int height, std::uint32_t word) const {
        return writePng(name, testing_support::surfaceOfWords(CAIRO_FORMAT_RGB24, width, height,
                                                              [&](int, int) { return word; }));
    }

    testing_support::TempDir dir_;
};

} // namespace

TEST_F(ImageFilesTest, HeaderGivesSizeAndOpacityWithoutDecoding) {
    const Bytes data = pngChunk("IDAT", {});
    const Bytes palette = pngChunk("PLTE", {1, 2, 3});
    const std::tuple<const char*, Bytes, bool> cases[] = {
        {"rgb", pngFile({pngHeader(2, 3, 2), data}), true},
        {"rgba", pngFile({pngHeader(2, 3, 6), data}), false},
        {"grey with alpha", pngFile({pngHeader(2, 3, 4), data}), false},
        {"palette", pngFile({pngHeader(2, 3, 3), palette, data}), true},
        {"palette with a transparent entry",
         pngFile({pngHeader(2, 3, 3), palette, pngChunk("tRNS", {1}), data}), false},
    };
    for (const auto& [name, bytes, opaque] : cases) {
        SCOPED_TRACE(name);
        const platform::PngHeader header = platform::readPngHeader(writeFile(dir_ / "h.png", bytes));
        EXPECT_EQ(header.width, 2);
        EXPECT_EQ(header.height, 3);
        EXPECT_EQ(header.opaque, opaque);
    }
}

TEST_F(ImageFilesTest, BadFilesAreNamedWithTheProblem) {
    const Bytes header = pngFile({pngHeader(2, 3)});
    const std::pair<const char*, Bytes> cases[] = {
        {"text", {'h', 'e', 'l', 'l', 'o'}},
        {"signature only", pngFile({})},
        {"cut in the header", Bytes(header.begin(), header.begin() + 20)},
        {"no image data", header},
        {"zero width", pngFile({pngHeader(0, 3)})},
    };
    for (const auto& [name, bytes] : cases) {
        const fs::path path = writeFile(dir_ / "bad.png", bytes);
        EXPECT_EQ(testing_support::errorOf([&] { platform::readPngHeader(path); }),
                  "cannot load image " + path.string() + ": not a readable PNG file")
            << name;
    }
}

TEST_F(ImageFilesTest, CopyMadeForTheScaleIsUsedOnlyWhenItIsExactlyTheWantedSize) {
    // The original is red; a copy that is used shows blue.
    const struct {
        const char* name;
        const char* copyFile; // nullptr: no copy
        Bytes copyBytes;      // empty: a blue PNG of copyWidth x 4
        int copyWidth;
        bool copyUsed;
    } cases[] = {
        {"exact copy", "art@2x.png", {}, 4, true},
        {"no copy", nullptr, {}, 0, false},
        {"copy of another size", "art@2x.png", {}, 5, false},
        {"copy for another scale", "art@1x.png", {}, 4, false},
        {"damaged copy", "art@2x.png", pngFile({pngHeader(2, 3), pngChunk("IDAT", {'j', 'u', 'n', 'k'})}), 0,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dir_.clear();
        const fs::path original = writePng("art.png", 6, 6, kRed);
        if (c.copyFile != nullptr) {
            c.copyBytes.empty() ? writePng(c.copyFile, c.copyWidth, 4, kBlue)
                                : writeFile(dir_ / c.copyFile, c.copyBytes);
        }
        const std::shared_ptr<const Image> image = Image::fromPngFile(original);
        EXPECT_EQ(image->widthPixels(), 6) << "the original's size is the image's";
        const CairoSurfacePtr pixels = image->pixelsForSize(4, 4, 2);
        ASSERT_TRUE(pixels);
        EXPECT_EQ(cairo_image_surface_get_width(pixels.get()), c.copyUsed ? 4 : 6);
        EXPECT_EQ(testing_support::wordAt(pixels.get(), 1, 1), c.copyUsed ? kBlue : kRed);
    }
}

TEST_F(ImageFilesTest, AnOriginalGoneAfterLoadingDrawsNothing) {
    const std::shared_ptr<const Image> image = Image::fromPngFile(writePng("art.png", 6, 6, kRed));
    fs::remove(dir_ / "art.png");
    EXPECT_FALSE(image->pixelsForSize(6, 6, 3));
    EXPECT_FALSE(image->pixelsForSize(6, 6, 3)) << "and again";
}

// A view keeps the decoded copy itself as its picture, and an image decoded ahead is the one drawn.
// Each case is drawn twice over green (the second pass redraws the view) and must show, at both,
// red on the copy's right half and, where the copy is clear on its left half, green through it;
// an image held in memory is never drawn over.
TEST_F(ImageFilesTest, ImageViewKeepsTheDecodedCopyOnlyWhereItShowsTheSamePicture) {
    const struct {
        const char* name;
        bool translucent;  // the copy's left half is clear (else the whole copy is opaque red)
        int prefetchScale; // 0: none
        bool inMemory;     // the image is a surface held in memory rather than a file
    } cases[] = {
        {"opaque copy", false, 0, false},   {"copy with a clear half", true, 0, false},
        {"decoded ahead", true, 2, false},  {"decoded ahead for another scale", true, 3, false},
        {"image in memory", true, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dir_.clear();
        CairoSurfacePtr copy =
            testing_support::surfaceOfWords(c.translucent ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, 8, 4,
                                            [&](int x, int) { return x >= 4 || !c.translucent ? kRed : 0u; });
        writePng("art@2x.png", copy);
        const fs::path original =
            writePng("art.png", testing_support::paintedSurface(12, 6, 0, 0, 1, c.translucent ? 0.5 : 1.0,
                                                                c.translucent ? CAIRO_FORMAT_ARGB32
                                                                              : CAIRO_FORMAT_RGB24));
        const std::shared_ptr<const Image> image =
            c.inMemory ? std::make_shared<const Image>(CairoSurfacePtr(cairo_surface_reference(copy.get())))
                       : Image::fromPngFile(original);

        auto root = std::make_shared<platform::View>(platform::Rect(0, 0, 4, 2));
        root->setBackgroundColor(platform::Color{0, 1, 0, 1});
        auto view = std::make_shared<platform::ImageView>(platform::Rect(0, 0, 4, 2));
        view->setImage(image);
        root->addSubview(view);
        if (c.prefetchScale != 0) {
            root->prefetchContents(c.prefetchScale);
        }
        platform::Compositor compositor(platform::Size{4, 2}, 2);
        for (const int pass : {1, 2}) {
            view->setNeedsDisplay();
            compositor.render(*root);
            EXPECT_EQ(testing_support::wordAt(compositor.surface(), 1, 1), c.translucent ? kGreen : kRed)
                << pass;
            EXPECT_EQ(testing_support::wordAt(compositor.surface(), 6, 2), kRed) << pass;
        }
        EXPECT_EQ(testing_support::wordAt(copy.get(), 6, 2), kRed) << "the image itself is untouched";
    }
}

// Screenshots are written by our own PNG writer: what a program reading our file sees must be what
// it sees reading Cairo's own file of the same surface, whatever the alpha and colour.
TEST_F(ImageFilesTest, PngWriterFileReadsBackAsCairosOwnFileDoes) {
    const struct {
        const char* name;
        cairo_format_t format;
        int width;
        int height;
        std::function<std::uint32_t(int, int)> word;
    } cases[] = {
        // Every alpha (across) with colours from 0 up to that alpha (down): the rounding of each.
        {"every alpha", CAIRO_FORMAT_ARGB32, 256, 64,
         [](int x, int y) {
             const auto a = static_cast<std::uint32_t>(x);
             const std::uint32_t c = a * static_cast<std::uint32_t>(y) / 63u;
             return (a << 24) | (c << 16) | ((a - c) << 8) | (c / 2);
         }},
        // An opaque picture whose unused top byte is not 0xff, as in a window's own pixels.
        {"opaque, junk in the unused byte", CAIRO_FORMAT_RGB24, 40, 30,
         [](int x, int y) {
             return (static_cast<std::uint32_t>(x * 7 + y) << 24) |
                    (static_cast<std::uint32_t>(x * 6) << 16) | (static_cast<std::uint32_t>(y * 8) << 8) |
                    0x5au;
         }},
        {"one pixel", CAIRO_FORMAT_ARGB32, 1, 1, [](int, int) { return 0x80402010u; }},
        // A window's size: opaque rows (written the quick way) between rows of translucent detail
        // that does not repeat.
        {"opaque and translucent rows", CAIRO_FORMAT_ARGB32, 601, 701,
         [](int x, int y) {
             if (y % 90 < 45) {
                 return 0xff336699u;
             }
             const std::uint32_t a = 0x40u + static_cast<std::uint32_t>((x * 31 + y * 17) % 0xc0);
             return (a << 24) | ((static_cast<std::uint32_t>(x * y) % a) << 16) |
                    ((static_cast<std::uint32_t>(x) % a) << 8) | (static_cast<std::uint32_t>(y) % a);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CairoSurfacePtr surface = testing_support::surfaceOfWords(c.format, c.width, c.height, c.word);
        platform::writeSurfacePng(surface.get(), dir_ / "ours.png");
        writePng("cairo.png", surface);
        const CairoSurfacePtr fromOurs(cairo_image_surface_create_from_png((dir_ / "ours.png").c_str()));
        const CairoSurfacePtr fromCairo(cairo_image_surface_create_from_png((dir_ / "cairo.png").c_str()));
        EXPECT_TRUE(testing_support::samePixels(fromCairo.get(), fromOurs.get()));
    }
    // A mask is written as its colour over nothing.
    const std::uint32_t alphas[] = {0, 0x80, 0xff};
    const CairoSurfacePtr mask =
        testing_support::surfaceOfWords(CAIRO_FORMAT_A8, 3, 1, [&](int x, int) { return alphas[x]; });
    platform::writeSurfacePng(mask.get(), dir_ / "mask.png");
    const CairoSurfacePtr back(cairo_image_surface_create_from_png((dir_ / "mask.png").c_str()));
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(testing_support::wordAt(back.get(), x, 0) >> 24, alphas[x]) << "pixel " << x;
    }
}
