// The quick PNG decoder against Cairo's own reader: the same pixels for the files it takes, and
// nothing (so Cairo reads them) for every other kind and every damaged file.
#include "platform/gfx/PngFormat.h"
#include "platform/gfx/PngReader.h"

#include "platform/gfx/Resources.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <libdeflate.h>
#include <png.h>
#include <string>
#include <vector>

using platform::CairoSurfacePtr;
using Bytes = std::vector<unsigned char>;

namespace {

/// A PNG written by libpng with the given settings; pixels are straight RGBA from `pixel`.
struct Written {
    int width = 8;
    int height = 6;
    int colourType = PNG_COLOR_TYPE_RGB_ALPHA;
    int bitDepth = 8;
    int filters = PNG_ALL_FILTERS;
    bool interlaced = false;
    bool transparentColour = false;
    bool palette = false;           ///< a suggested palette beside RGB
    bool notes = false;             ///< gamma and text chunks
    std::size_t dataChunkBytes = 0; ///< 0: libpng's own size
    std::function<std::uint32_t(int, int)> pixel = [](int x, int y) {
        return 0xff000000u | static_cast<std::uint32_t>(x * 29 + y * 7) << 16 |
               static_cast<std::uint32_t>(x * y) << 8 | static_cast<std::uint32_t>(255 - y * 11);
    };
};

void append(png_structp png, png_bytep data, std::size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

Bytes write(const Written& w) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Bytes out;
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng could not write the test file";
        return {};
    }
    png_set_write_fn(png, &out, append, nullptr);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, w.filters);
    if (w.dataChunkBytes > 0) {
        png_set_compression_buffer_size(png, w.dataChunkBytes);
    }
    png_set_IHDR(png, info, static_cast<png_uint_32>(w.width), static_cast<png_uint_32>(w.height), w.bitDepth,
                 w.colourType, w.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    std::vector<png_color> colours(4, png_color{10, 200, 30});
    if (w.palette || w.colourType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
    }
    png_color_16 transparent{0, 1, 2, 3, 0};
    if (w.transparentColour) {
        png_set_tRNS(png, info, nullptr, 0, &transparent);
    }
    png_text text{};
    std::string key = "Comment";
    std::string words = "drawn for a test";
    if (w.notes) {
        png_set_gAMA(png, info, 0.45455);
        text.compression = PNG_TEXT_COMPRESSION_NONE;
        text.key = key.data();
        text.text = words.data();
        png_set_text(png, info, &text, 1);
    }
    png_write_info(png, info);
    if (w.bitDepth == 16) {
        png_set_swap(png);
    }
    const int channels = w.colourType == PNG_COLOR_TYPE_RGB_ALPHA    ? 4
                         : w.colourType == PNG_COLOR_TYPE_RGB        ? 3
                         : w.colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                     : 1;
    const int bytesPerSample = w.bitDepth / 8;
    std::vector<Bytes> rows(static_cast<std::size_t>(w.height),
                            Bytes(static_cast<std::size_t>(w.width * channels * bytesPerSample)));
    std::vector<png_bytep> pointers;
    for (int y = 0; y < w.height; ++y) {
        Bytes& row = rows[static_cast<std::size_t>(y)];
        for (int x = 0; x < w.width; ++x) {
            const std::uint32_t p = w.pixel(x, y);
            const unsigned char rgba[4] = {static_cast<unsigned char>(p >> 16),
                                           static_cast<unsigned char>(p >> 8), static_cast<unsigned char>(p),
                                           static_cast<unsigned char>(p >> 24)};
            for (int c = 0; c < channels; ++c) {
                const unsigned char value = channels <= 2 && c == 0 ? rgba[0] : rgba[channels == 2 ? 3 : c];
                for (int b = 0; b < bytesPerSample; ++b) {
                    row[static_cast<std::size_t>((x * channels + c) * bytesPerSample + b)] =
                        w.colourType == PNG_COLOR_TYPE_PALETTE ? static_cast<unsigned char>(value % 4)
                                                               : value;
                }
            }
        }
        pointers.push_back(row.data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

/// What Cairo's reader makes of the bytes; null if it cannot read them.
CairoSurfacePtr cairoReads(const Bytes& bytes) {
    struct Reader {
        const Bytes* bytes;
        std::size_t at = 0;
    } reader{&bytes};
    CairoSurfacePtr surface(cairo_image_surface_create_from_png_stream(
        [](void* closure, unsigned char* data, unsigned length) {
            auto* r = static_cast<Reader*>(closure);
            if (r->bytes->size() - r->at < length) {
                return CAIRO_STATUS_READ_ERROR;
            }
            std::memcpy(data, r->bytes->data() + r->at, length);
            r->at += length;
            return CAIRO_STATUS_SUCCESS;
        },
        &reader));
    return cairo_surface_status(surface.get()) == CAIRO_STATUS_SUCCESS ? std::move(surface) : nullptr;
}

/// Every pixel word of two image surfaces equal, and their formats and sizes.
void expectSamePicture(cairo_surface_t* expected, cairo_surface_t* actual) {
    ASSERT_EQ(cairo_image_surface_get_format(actual), cairo_image_surface_get_format(expected));
    const int width = cairo_image_surface_get_width(expected);
    const int height = cairo_image_surface_get_height(expected);
    ASSERT_EQ(cairo_image_surface_get_width(actual), width);
    ASSERT_EQ(cairo_image_surface_get_height(actual), height);
    int differing = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint32_t want = 0;
            std::uint32_t got = 0;
            std::memcpy(&want,
                        cairo_image_surface_get_data(expected) +
                            y * cairo_image_surface_get_stride(expected) + 4 * x,
                        4);
            std::memcpy(
                &got,
                cairo_image_surface_get_data(actual) + y * cairo_image_surface_get_stride(actual) + 4 * x, 4);
            if (want != got && ++differing <= 3) {
                ADD_FAILURE() << "pixel (" << x << ", " << y << "): Cairo " << std::hex << want << ", ours "
                              << got;
            }
        }
    }
    EXPECT_EQ(differing, 0);
}

Bytes fileBytes(const std::string& name) {
    std::ifstream in(platform::resourcePath(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t everyAlpha(int x, int y) {
    const auto a = static_cast<std::uint32_t>((x * 37 + y * 101) % 256);
    return (a << 24) | (static_cast<std::uint32_t>(x * 5) % 256) << 16 |
           (static_cast<std::uint32_t>(y * 3) % 256) << 8 | static_cast<std::uint32_t>(x ^ y) % 256;
}

// Every channel unrelated to its neighbours, so that each predictor's ties and wrap-arounds occur.
std::uint32_t noise(int x, int y) {
    std::uint32_t h =
        static_cast<std::uint32_t>(x) * 0x9e3779b1u ^ static_cast<std::uint32_t>(y) * 0x85ebca77u;
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    return h ^ (h >> 12);
}

TEST(PngReaderTest, DecodesWhatItTakesAsCairoDoes) {
    struct Case {
        const char* name;
        Bytes file;
    };
    constexpr int kRgb = PNG_COLOR_TYPE_RGB;
    const Case cases[] = {
        {"RGB, no filter", write({.colourType = kRgb, .filters = PNG_FILTER_NONE})},
        {"RGB, sub", write({.colourType = kRgb, .filters = PNG_FILTER_SUB})},
        {"RGB, up", write({.colourType = kRgb, .filters = PNG_FILTER_UP})},
        {"RGB, average", write({.colourType = kRgb, .filters = PNG_FILTER_AVG})},
        {"RGB, Paeth", write({.colourType = kRgb, .filters = PNG_FILTER_PAETH})},
        {"RGBA, every alpha, libpng choosing per row",
         write({.width = 64, .height = 40, .pixel = everyAlpha})},
        {"RGBA, noise, Paeth",
         write({.width = 64, .height = 64, .filters = PNG_FILTER_PAETH, .pixel = noise})},
        {"RGB, noise, Paeth",
         write({.width = 64, .height = 64, .colourType = kRgb, .filters = PNG_FILTER_PAETH, .pixel = noise})},
        {"one pixel", write({.width = 1, .height = 1})},
        {"one column", write({.width = 1, .height = 50, .filters = PNG_FILTER_PAETH})},
        {"data in many chunks, notes between",
         write({.width = 100, .height = 80, .notes = true, .dataChunkBytes = 256, .pixel = everyAlpha})},
        {"the artwork: paper", fileBytes("paperbig@1x.png")},
        {"the artwork: shadow", fileBytes("shadow@1x.png")},
        {"the artwork: needle", fileBytes("needle@1x.png")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CairoSurfacePtr expected = cairoReads(c.file);
        ASSERT_TRUE(expected) << "Cairo cannot read the test file";
        const CairoSurfacePtr ours = platform::decodeSimplePng(c.file);
        ASSERT_TRUE(ours) << "not decoded";
        expectSamePicture(expected.get(), ours.get());
    }
}

TEST(PngReaderTest, LeavesOtherKindsToCairo) {
    struct Case {
        const char* name;
        Written file;
    };
    const Case cases[] = {
        {"grey", {.colourType = PNG_COLOR_TYPE_GRAY}},
        {"grey and alpha", {.colourType = PNG_COLOR_TYPE_GRAY_ALPHA}},
        {"palette", {.colourType = PNG_COLOR_TYPE_PALETTE}},
        {"16 bits a channel", {.bitDepth = 16}},
        {"interlaced", {.interlaced = true}},
        {"a transparent colour", {.colourType = PNG_COLOR_TYPE_RGB, .transparentColour = true}},
        {"a suggested palette", {.colourType = PNG_COLOR_TYPE_RGB, .palette = true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = write(c.file);
        ASSERT_TRUE(cairoReads(file)) << "Cairo cannot read the test file";
        EXPECT_FALSE(platform::decodeSimplePng(file));
    }
}

// A file put together chunk by chunk, to damage it in ways no encoder would.
using platform::png::putBigEndian;

Bytes chunk(const char* type, const Bytes& body) {
    Bytes out(12 + body.size());
    putBigEndian(out.data(), static_cast<std::uint32_t>(body.size()));
    std::memcpy(out.data() + 4, type, 4);
    std::copy(body.begin(), body.end(), out.begin() + 8);
    putBigEndian(out.data() + 8 + body.size(), platform::png::chunkChecksum(out.data() + 4, body.size()));
    return out;
}

Bytes header(std::uint32_t width, std::uint32_t height) {
    Bytes body{0, 0, 0, 0, 0, 0, 0, 0, 8, PNG_COLOR_TYPE_RGB, 0, 0, 0};
    putBigEndian(body.data(), width);
    putBigEndian(body.data() + 4, height);
    return body;
}

Bytes zlib(const Bytes& raw) {
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
    Bytes out(libdeflate_zlib_compress_bound(compressor, raw.size()));
    out.resize(libdeflate_zlib_compress(compressor, raw.data(), raw.size(), out.data(), out.size()));
    libdeflate_free_compressor(compressor);
    return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

TEST(PngReaderTest, RefusesDamagedFiles) {
    // Two rows of two RGB pixels, each row led by its filter type.
    const Bytes rows{0, 1, 2, 3, 4, 5, 6, 1, 7, 8, 9, 10, 11, 12};
    const Bytes data = zlib(rows);
    const Bytes good = join({chunk("IHDR", header(2, 2)), chunk("IDAT", data), chunk("IEND", {})});
    ASSERT_TRUE(platform::decodeSimplePng(good)) << "the undamaged file";

    Bytes flipped = good;
    flipped[8 + 25 + 8 + 3] ^= 0x10; // a byte of the image data; its chunk's checksum now fails
    Bytes badFilter = rows;
    badFilter[7] = 5;
    Bytes firstHalf(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(data.size() / 2));
    Bytes secondHalf(data.begin() + static_cast<std::ptrdiff_t>(data.size() / 2), data.end());
    Bytes badAdler = data;
    badAdler.back() ^= 1;

    struct Case {
        const char* name;
        Bytes file;
    };
    const Case cases[] = {
        {"empty", {}},
        {"the signature alone", join({})},
        {"cut short in the data", Bytes(good.begin(), good.begin() + 8 + 25 + 10)},
        {"no end chunk", Bytes(good.begin(), good.end() - 12)},
        {"a checksum wrong", flipped},
        {"the data's own check wrong",
         join({chunk("IHDR", header(2, 2)), chunk("IDAT", badAdler), chunk("IEND", {})})},
        {"data for fewer rows", join({chunk("IHDR", header(2, 3)), chunk("IDAT", data), chunk("IEND", {})})},
        {"data for more rows", join({chunk("IHDR", header(2, 1)), chunk("IDAT", data), chunk("IEND", {})})},
        {"a filter that does not exist",
         join({chunk("IHDR", header(2, 2)), chunk("IDAT", zlib(badFilter)), chunk("IEND", {})})},
        {"no width", join({chunk("IHDR", header(0, 2)), chunk("IDAT", data), chunk("IEND", {})})},
        {"wider than Cairo holds",
         join({chunk("IHDR", header(40000, 2)), chunk("IDAT", data), chunk("IEND", {})})},
        {"claiming far more than the data can hold",
         join({chunk("IHDR", header(32767, 32767)), chunk("IDAT", data), chunk("IEND", {})})},
        {"no header first", join({chunk("IDAT", data), chunk("IHDR", header(2, 2)), chunk("IEND", {})})},
        {"two headers", join({chunk("IHDR", header(2, 2)), chunk("IHDR", header(2, 2)), chunk("IDAT", data),
                              chunk("IEND", {})})},
        {"no data", join({chunk("IHDR", header(2, 2)), chunk("IEND", {})})},
        {"data in two runs",
         join({chunk("IHDR", header(2, 2)), chunk("IDAT", firstHalf), chunk("tEXt", {'a', 0, 'b'}),
               chunk("IDAT", secondHalf), chunk("IEND", {})})},
        {"an unknown critical chunk",
         join({chunk("IHDR", header(2, 2)), chunk("ZZZZ", {}), chunk("IDAT", data), chunk("IEND", {})})},
        {"a chunk type that is not letters",
         join({chunk("IHDR", header(2, 2)), chunk("a1b2", {}), chunk("IDAT", data), chunk("IEND", {})})},
        {"a length past the end",
         join({chunk("IHDR", header(2, 2)), Bytes{0x7f, 0xff, 0xff, 0xff, 'I', 'D', 'A', 'T'}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(platform::decodeSimplePng(c.file));
    }
}

} // namespace
