// The quick PNG decoder against Cairo's own reader: the same pixels for the files it takes, and
// nothing (so Cairo reads them) for every other kind and every damaged file.
#include "platform/gfx/PngFormat.h"
#include "platform/gfx/PngReader.h"
#include "tests/support/Files.h"
#include "tests/support/Pixels.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <png.h>
#include <string>
#include <vector>

using platform::CairoSurfacePtr;
using Bytes = std::vector<unsigned char>;

namespace {

unsigned char gradient(int x, int y, int c) {
    return static_cast<unsigned char>(c == 3 ? 255 : x * 29 + y * 7 + c * 90);
}

/// A PNG written by libpng with the given settings, each byte (channel c of pixel x, y) from `byte`.
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
    unsigned char (*byte)(int x, int y, int c) = gradient;
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
                 w.colourType, w.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
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
        text.key = key.data();
        text.text = words.data();
        text.compression = PNG_TEXT_COMPRESSION_NONE;
        png_set_text(png, info, &text, 1);
    }
    png_write_info(png, info);
    const int channels = png_get_channels(png, info);
    const int bytesPerPixel = channels * w.bitDepth / 8;
    std::vector<Bytes> rows(static_cast<std::size_t>(w.height), Bytes(png_get_rowbytes(png, info)));
    std::vector<png_bytep> pointers;
    for (int y = 0; y < w.height; ++y) {
        Bytes& row = rows[static_cast<std::size_t>(y)];
        for (std::size_t i = 0; i < row.size(); ++i) {
            const int x = static_cast<int>(i) / bytesPerPixel;
            const auto value = w.byte(x, y, static_cast<int>(i) % bytesPerPixel * channels / bytesPerPixel);
            row[i] = w.colourType == PNG_COLOR_TYPE_PALETTE ? value % 4 : value;
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
    const testing_support::TempDir dir;
    const std::string path = testing_support::writeFile(dir / "t.png", {reinterpret_cast<const char*>(bytes.data()),
                                                                      bytes.size()});
    CairoSurfacePtr surface(cairo_image_surface_create_from_png(path.c_str()));
    return cairo_surface_status(surface.get()) == CAIRO_STATUS_SUCCESS ? std::move(surface) : nullptr;
}

unsigned char everyAlpha(int x, int y, int c) {
    return static_cast<unsigned char>(c == 3 ? x * 37 + y * 101 : c == 0 ? x * 5 : c == 1 ? y * 3 : x ^ y);
}

// Every channel unrelated to its neighbours, so that each predictor's ties and wrap-arounds occur.
unsigned char noise(int x, int y, int c) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 0x9e3779b1u ^ static_cast<std::uint32_t>(y) * 0x85ebca77u;
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    return static_cast<unsigned char>((h ^ (h >> 12)) >> (8 * c));
}

TEST(PngReaderTest, DecodesWhatItTakesAsCairoDoes) {
    constexpr int kRgb = PNG_COLOR_TYPE_RGB;
    std::vector<std::pair<std::string, Bytes>> cases = {
        {"RGBA, every alpha, libpng choosing per row", write({.width = 64, .height = 40, .byte = everyAlpha})},
        {"RGBA, noise, Paeth", write({.width = 64, .height = 64, .filters = PNG_FILTER_PAETH, .byte = noise})},
        {"RGB, noise, Paeth",
         write({.width = 64, .height = 64, .colourType = kRgb, .filters = PNG_FILTER_PAETH, .byte = noise})},
        {"one pixel", write({.width = 1, .height = 1})},
        {"one column", write({.width = 1, .height = 50, .filters = PNG_FILTER_PAETH})},
        {"data in many chunks, notes between",
         write({.width = 100, .height = 80, .notes = true, .dataChunkBytes = 256, .byte = everyAlpha})},
    };
    for (const int filter : {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH}) {
        cases.emplace_back("RGB, filter " + std::to_string(filter), write({.colourType = kRgb, .filters = filter}));
    }
    for (const auto& [name, file] : cases) {
        SCOPED_TRACE(name);
        const CairoSurfacePtr expected = cairoReads(file);
        ASSERT_TRUE(expected) << "Cairo cannot read the test file";
        const CairoSurfacePtr ours = platform::decodeSimplePng(file);
        ASSERT_TRUE(ours) << "not decoded";
        EXPECT_TRUE(testing_support::samePixels(expected.get(), ours.get()));
    }
}

TEST(PngReaderTest, LeavesOtherKindsToCairo) {
    const std::pair<const char*, Written> cases[] = {
        {"grey", {.colourType = PNG_COLOR_TYPE_GRAY}},
        {"grey and alpha", {.colourType = PNG_COLOR_TYPE_GRAY_ALPHA}},
        {"palette", {.colourType = PNG_COLOR_TYPE_PALETTE}},
        {"16 bits a channel", {.bitDepth = 16}},
        {"interlaced", {.interlaced = true}},
        {"a transparent colour", {.colourType = PNG_COLOR_TYPE_RGB, .transparentColour = true}},
        {"a suggested palette", {.colourType = PNG_COLOR_TYPE_RGB, .palette = true}},
    };
    for (const auto& [name, written] : cases) {
        SCOPED_TRACE(name);
        const Bytes file = write(written);
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
    return chunk("IHDR", body);
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
    const Bytes image = chunk("IDAT", data);
    const Bytes end = chunk("IEND", {});
    const Bytes good = join({header(2, 2), image, end});
    ASSERT_TRUE(platform::decodeSimplePng(good)) << "the undamaged file";

    Bytes flipped = good;
    flipped[8 + 25 + 8 + 3] ^= 0x10; // a byte of the image data; its chunk's checksum now fails
    Bytes badFilter = rows;
    badFilter[7] = 5;
    const auto half = data.begin() + static_cast<std::ptrdiff_t>(data.size() / 2);
    Bytes badAdler = data;
    badAdler.back() ^= 1;

    const std::pair<const char*, Bytes> cases[] = {
        {"empty", {}},
        {"the signature alone", join({})},
        {"cut short in the data", Bytes(good.begin(), good.begin() + 8 + 25 + 10)},
        {"no end chunk", Bytes(good.begin(), good.end() - 12)},
        {"a checksum wrong", flipped},
        {"the data's own check wrong", join({header(2, 2), chunk("IDAT", badAdler), end})},
        {"data for fewer rows", join({header(2, 3), image, end})},
        {"data for more rows", join({header(2, 1), image, end})},
        {"a filter that does not exist", join({header(2, 2), chunk("IDAT", zlib(badFilter)), end})},
        {"no width", join({header(0, 2), image, end})},
        {"wider than Cairo holds", join({header(40000, 2), image, end})},
        {"claiming far more than the data can hold", join({header(32767, 32767), image, end})},
        {"no header first", join({image, header(2, 2), end})},
        {"two headers", join({header(2, 2), header(2, 2), image, end})},
        {"no data", join({header(2, 2), end})},
        {"data in two runs", join({header(2, 2), chunk("IDAT", Bytes(data.begin(), half)), chunk("tEXt", {'a', 0, 'b'}),
                                   chunk("IDAT", Bytes(half, data.end())), end})},
        {"an unknown critical chunk", join({header(2, 2), chunk("ZZZZ", {}), image, end})},
        {"a chunk type that is not letters", join({header(2, 2), chunk("a1b2", {}), image, end})},
        {"a length past the end", join({header(2, 2), Bytes{0x7f, 0xff, 0xff, 0xff, 'I', 'D', 'A', 'T'}})},
    };
    for (const auto& [name, file] : cases) {
        EXPECT_FALSE(platform::decodeSimplePng(file)) << name;
    }
}

} // namespace
