#include "platform/gfx/Image.h"
#include "platform/ui/Compositor.h"
#include "platform/ui/ImageView.h"
#include "tests/support/Pixels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::CairoSurfacePtr;
using platform::Image;
using testing_support::pixelAt;
using testing_support::Rgba;

namespace {

struct Colour {
    double r, g, b, a;
};

// A scratch folder of image files, removed with the fixture.
class ImageFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "trembit-images-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A PNG of one colour; RGB24 when opaque, so it is written without an alpha channel.
    fs::path writePng(const std::string& name, int width, int height, Colour c) const {
        const cairo_format_t format = c.a == 1.0 ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32;
        CairoSurfacePtr surface = platform::makeImageSurface(width, height, format);
        platform::CairoContextPtr cr = platform::makeContext(surface.get());
        cairo_set_source_rgba(cr.get(), c.r, c.g, c.b, c.a);
        cairo_paint(cr.get());
        const fs::path path = dir_ / name;
        EXPECT_EQ(cairo_surface_write_to_png(surface.get(), path.c_str()), CAIRO_STATUS_SUCCESS);
        return path;
    }

    fs::path writeBytes(const std::string& name, const std::string& bytes) const {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    fs::path dir_;
};

bool isColour(Rgba p, Colour c) {
    return std::abs(p.r - static_cast<int>(c.r * 255)) <= 1 && std::abs(p.g - static_cast<int>(c.g * 255)) <= 1 &&
           std::abs(p.b - static_cast<int>(c.b * 255)) <= 1;
}

constexpr Colour kRed{1, 0, 0, 1};
constexpr Colour kBlue{0, 0, 1, 1};

// The start of a PNG: signature and a header chunk for a 2 x 3 picture of the given colour type.
std::string pngStart(unsigned char colourType) {
    std::string bytes("\x89PNG\r\n\x1a\n", 8);
    bytes += std::string("\0\0\0\x0dIHDR", 8);
    bytes += std::string("\0\0\0\x02\0\0\0\x03\x08", 9) + static_cast<char>(colourType) + std::string(3, '\0');
    bytes += std::string(4, '\0'); // checksum, not checked
    return bytes;
}

std::string chunk(const std::string& type, const std::string& data) {
    const auto n = static_cast<unsigned char>(data.size());
    return std::string("\0\0\0", 3) + static_cast<char>(n) + type + data + std::string(4, '\0');
}

} // namespace

TEST_F(ImageFilesTest, HeaderGivesSizeAndOpacityWithoutDecoding) {
    struct Case {
        const char* name;
        std::string bytes;
        int width;
        int height;
        bool opaque;
    };
    const Case cases[] = {
        {"rgb", pngStart(2) + chunk("IDAT", ""), 2, 3, true},
        {"rgba", pngStart(6) + chunk("IDAT", ""), 2, 3, false},
        {"grey with alpha", pngStart(4) + chunk("IDAT", ""), 2, 3, false},
        {"palette", pngStart(3) + chunk("PLTE", "abc") + chunk("IDAT", ""), 2, 3, true},
        {"palette with a transparent entry", pngStart(3) + chunk("PLTE", "abc") + chunk("tRNS", "\x01") + chunk("IDAT", ""),
         2, 3, false},
    };
    for (const Case& c : cases) {
        const platform::PngHeader header = platform::readPngHeader(writeBytes("h.png", c.bytes));
        EXPECT_EQ(header.width, c.width) << c.name;
        EXPECT_EQ(header.height, c.height) << c.name;
        EXPECT_EQ(header.opaque, c.opaque) << c.name;
    }
}

TEST_F(ImageFilesTest, BadFilesAreNamedWithTheProblem) {
    struct Case {
        const char* name;
        std::string bytes; // empty name in `missing`: the file is not written
        bool missing;
        const char* said;
    };
    const Case cases[] = {
        {"missing", "", true, "file not found"},
        {"text", "hello, world", false, "not a readable PNG file"},
        {"signature only", std::string("\x89PNG\r\n\x1a\n", 8), false, "not a readable PNG file"},
        {"cut in the header", pngStart(2).substr(0, 20), false, "not a readable PNG file"},
        {"no image data", pngStart(2), false, "not a readable PNG file"},
        {"zero width", std::string(pngStart(2)).replace(16, 4, std::string(4, '\0')), false,
         "not a readable PNG file"},
    };
    for (const Case& c : cases) {
        const fs::path path = c.missing ? dir_ / "absent.png" : writeBytes("bad.png", c.bytes);
        try {
            platform::readPngHeader(path);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const std::runtime_error& error) {
            const std::string what = error.what();
            EXPECT_NE(what.find(path.string() + ": " + c.said), std::string::npos) << c.name << ": " << what;
        }
    }
}

TEST_F(ImageFilesTest, CopyMadeForTheScaleIsUsedOnlyWhenItIsExactlyTheWantedSize) {
    // The original is red; a copy that is used shows blue.
    struct Case {
        const char* name;
        const char* copyFile;  // nullptr: no copy
        std::string copyBytes; // empty: a blue PNG of copyWidth x copyHeight
        int copyWidth;
        int copyHeight;
        bool copyUsed;
    };
    const Case cases[] = {
        {"exact copy", "art@2x.png", "", 4, 4, true},
        {"no copy", nullptr, "", 0, 0, false},
        {"copy of another size", "art@2x.png", "", 5, 4, false},
        {"copy for another scale", "art@1x.png", "", 4, 4, false},
        {"damaged copy", "art@2x.png", pngStart(2) + chunk("IDAT", "junk"), 0, 0, false},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const fs::path original = writePng("art.png", 6, 6, kRed);
        if (c.copyFile != nullptr) {
            c.copyBytes.empty() ? writePng(c.copyFile, c.copyWidth, c.copyHeight, kBlue)
                                : writeBytes(c.copyFile, c.copyBytes);
        }
        const std::shared_ptr<const Image> image = Image::fromPngFile(original);
        EXPECT_EQ(image->widthPixels(), 6) << c.name << ": the original's size is the image's";
        const CairoSurfacePtr pixels = image->pixelsForSize(4, 4, 2);
        ASSERT_TRUE(pixels) << c.name;
        EXPECT_EQ(cairo_image_surface_get_width(pixels.get()), c.copyUsed ? 4 : 6) << c.name;
        EXPECT_TRUE(isColour(pixelAt(pixels.get(), 1, 1), c.copyUsed ? kBlue : kRed))
            << c.name << ": " << pixelAt(pixels.get(), 1, 1);
    }
}

TEST_F(ImageFilesTest, AnOriginalGoneAfterLoadingDrawsNothing) {
    const std::shared_ptr<const Image> image = Image::fromPngFile(writePng("art.png", 6, 6, kRed));
    fs::remove(dir_ / "art.png");
    EXPECT_FALSE(image->pixelsForSize(6, 6, 3));
    EXPECT_FALSE(image->pixelsForSize(6, 6, 3)) << "and again, said only once";
}

TEST_F(ImageFilesTest, ImageViewShowsTheFileOfItsPixelSizeUnfilteredAndScalesOtherwise) {
    // A copy with a one-pixel pattern survives only if it is copied, not filtered.
    CairoSurfacePtr checker = platform::makeImageSurface(4, 4, CAIRO_FORMAT_RGB24);
    {
        platform::CairoContextPtr cr = platform::makeContext(checker.get());
        cairo_set_source_rgb(cr.get(), 1, 0, 0);
        cairo_paint(cr.get());
        cairo_set_source_rgb(cr.get(), 0, 0, 1);
        cairo_rectangle(cr.get(), 1, 0, 1, 4);
        cairo_fill(cr.get());
    }
    ASSERT_EQ(cairo_surface_write_to_png(checker.get(), (dir_ / "art@2x.png").c_str()), CAIRO_STATUS_SUCCESS);
    const fs::path original = writePng("art.png", 6, 6, kRed);

    for (const int scale : {1, 2, 3}) {
        auto view = std::make_shared<platform::ImageView>(platform::Rect(0, 0, 2, 2));
        view->setImage(Image::fromPngFile(original));
        platform::Compositor compositor(platform::Size{2, 2}, scale);
        compositor.render(*view);
        const Rgba second = pixelAt(compositor.surface(), 1, 0);
        if (scale == 2) {
            EXPECT_TRUE(isColour(second, kBlue)) << "the copy, unfiltered: " << second;
            EXPECT_TRUE(isColour(pixelAt(compositor.surface(), 2, 3), kRed)) << pixelAt(compositor.surface(), 2, 3);
        } else {
            EXPECT_TRUE(isColour(second, kRed)) << "the original at " << scale << "x: " << second;
        }
    }
}

// A view keeps the decoded copy itself as its picture, and an image decoded ahead is the one drawn.
// Each case is drawn twice over green (the second pass redraws the view) and must show, at both,
// red on the copy's right half and, where the copy is clear on its left half, green through it;
// an image held in memory is never drawn over.
TEST_F(ImageFilesTest, ImageViewKeepsTheDecodedCopyOnlyWhereItShowsTheSamePicture) {
    struct Case {
        const char* name;
        bool translucent;   // the copy's left half is clear (else the whole copy is opaque red)
        int prefetchScale;  // 0: none
        bool inMemory;      // the image is a surface held in memory rather than a file
    };
    const Case cases[] = {
        {"opaque copy", false, 0, false},
        {"copy with a clear half", true, 0, false},
        {"decoded ahead", true, 2, false},
        {"decoded ahead for another scale", true, 3, false},
        {"image in memory", true, 0, true},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        CairoSurfacePtr copy = platform::makeImageSurface(8, 4, c.translucent ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24);
        {
            platform::CairoContextPtr cr = platform::makeContext(copy.get());
            cairo_set_source_rgb(cr.get(), 1, 0, 0);
            cairo_rectangle(cr.get(), c.translucent ? 4 : 0, 0, c.translucent ? 4 : 8, 4);
            cairo_fill(cr.get());
        }
        ASSERT_EQ(cairo_surface_write_to_png(copy.get(), (dir_ / "art@2x.png").c_str()), CAIRO_STATUS_SUCCESS);
        const fs::path original = writePng("art.png", 12, 6, c.translucent ? Colour{0, 0, 1, 0.5} : kBlue);
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
            EXPECT_TRUE(isColour(pixelAt(compositor.surface(), 1, 1), c.translucent ? Colour{0, 1, 0, 1} : kRed))
                << c.name << ", pass " << pass << ": " << pixelAt(compositor.surface(), 1, 1);
            EXPECT_TRUE(isColour(pixelAt(compositor.surface(), 6, 2), kRed))
                << c.name << ", pass " << pass << ": " << pixelAt(compositor.surface(), 6, 2);
        }
        if (c.inMemory) {
            EXPECT_TRUE(isColour(pixelAt(copy.get(), 6, 2), kRed)) << c.name << ": the image itself is untouched";
        }
    }
}

// Screenshots are written by our own PNG writer.
namespace {

class PngWriterTest : public ImageFilesTest {};

CairoSurfacePtr readBack(const fs::path& path) {
    CairoSurfacePtr surface(cairo_image_surface_create_from_png(path.c_str()));
    EXPECT_EQ(cairo_surface_status(surface.get()), CAIRO_STATUS_SUCCESS) << path;
    return surface;
}

std::uint32_t wordAt(cairo_surface_t* surface, int x, int y) {
    std::uint32_t word = 0;
    std::memcpy(&word, cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface) + 4 * x, 4);
    return word;
}

// What a program reading our file sees must be what it sees reading Cairo's own file of the same
// surface: the same format and every pixel the same, whatever the alpha and colour.
TEST_F(PngWriterTest, ReadsBackAsCairosOwnFileDoes) {
    struct Case {
        const char* name;
        cairo_format_t format;
        int width;
        int height;
        std::function<std::uint32_t(int, int)> word;
    };
    const Case cases[] = {
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
             return (static_cast<std::uint32_t>(x * 7 + y) << 24) | (static_cast<std::uint32_t>(x * 6) << 16) |
                    (static_cast<std::uint32_t>(y * 8) << 8) | 0x5au;
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
             return (a << 24) | ((static_cast<std::uint32_t>(x * y) % a) << 16) | ((static_cast<std::uint32_t>(x) % a) << 8) |
                    (static_cast<std::uint32_t>(y) % a);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CairoSurfacePtr surface = testing_support::surfaceOfWords(c.format, c.width, c.height, c.word);
        const fs::path ours = dir_ / "ours.png";
        const fs::path cairos = dir_ / "cairo.png";
        platform::writeSurfacePng(surface.get(), ours);
        ASSERT_EQ(cairo_surface_write_to_png(surface.get(), cairos.c_str()), CAIRO_STATUS_SUCCESS);
        const CairoSurfacePtr fromOurs = readBack(ours);
        const CairoSurfacePtr fromCairo = readBack(cairos);
        ASSERT_EQ(cairo_image_surface_get_format(fromOurs.get()), cairo_image_surface_get_format(fromCairo.get()));
        int differing = 0;
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                const std::uint32_t expected = wordAt(fromCairo.get(), x, y);
                const std::uint32_t actual = wordAt(fromOurs.get(), x, y);
                if (expected != actual && ++differing <= 5) {
                    ADD_FAILURE() << "pixel (" << x << ", " << y << "): expected " << std::hex << expected << ", got "
                                  << actual;
                }
            }
        }
        EXPECT_EQ(differing, 0);
    }
}

TEST_F(PngWriterTest, MaskIsWrittenAsItsColourOverNothing) {
    CairoSurfacePtr mask = platform::makeImageSurface(3, 1, CAIRO_FORMAT_A8);
    cairo_surface_flush(mask.get());
    const unsigned char alphas[] = {0, 0x80, 0xff};
    std::memcpy(cairo_image_surface_get_data(mask.get()), alphas, sizeof alphas);
    cairo_surface_mark_dirty(mask.get());
    platform::writeSurfacePng(mask.get(), dir_ / "mask.png");
    const CairoSurfacePtr back = readBack(dir_ / "mask.png");
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(wordAt(back.get(), x, 0) >> 24, alphas[x]) << "pixel " << x;
    }
}

} // namespace
