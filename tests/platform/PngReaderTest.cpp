// The quick PNG decoder against Cairo's own reader: the same pixels for the files it takes, and
// nothing (so Cairo reads them) for every other kind and every damaged file.
#include "platform/gfx/PngReader.h"
#include "tests/support/Files.h"
#include "tests/support/Pixels.h"
#include "tests/support/Png.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using platform::CairoSurfacePtr;
using testing_support::Bytes;
using testing_support::pngChunk;
using testing_support::pngFile;
using testing_support::pngHeader;
using testing_support::zlib;

namespace {

/// What Cairo's reader makes of the bytes; null if it cannot read them.
CairoSurfacePtr cairoReads(const Bytes& bytes) {
    const testing_support::TempDir dir;
    CairoSurfacePtr surface(
        cairo_image_surface_create_from_png(testing_support::writeFile(dir / "t.png", bytes).c_str()));
    return cairo_surface_status(surface.get()) == CAIRO_STATUS_SUCCESS ? std::move(surface) : nullptr;
}

// Every byte unrelated to its neighbours, so that each predictor's ties and wrap-arounds occur.
unsigned char noise(int i, int y) {
    std::uint32_t h = static_cast<std::uint32_t>(i) * 0x9e3779b1u ^ static_cast<std::uint32_t>(y) * 0x85ebca77u;
    h ^= h >> 15;
    h *= 0x2c1b3c6du;
    return static_cast<unsigned char>(h ^ (h >> 12));
}

// An 8-bit RGB (colour type 2) or RGBA (6) file whose row y is led by the filter `filter(y)` and
// holds the bytes `byte(i, y)`: any bytes are valid data after any filter. The image data comes
// in chunks of `chunkBytes` (0: one chunk), after notes when `notes`.
Bytes picture(unsigned char colourType, int width, int height, const std::function<int(int)>& filter,
              const std::function<unsigned char(int, int)>& byte, std::size_t chunkBytes = 0, bool notes = false) {
    Bytes raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(static_cast<unsigned char>(filter(y)));
        for (int i = 0; i < width * (colourType == 6 ? 4 : 3); ++i) {
            raw.push_back(byte(i, y));
        }
    }
    const Bytes data = zlib(raw);
    std::vector<Bytes> parts{pngHeader(width, height, colourType)};
    if (notes) {
        parts.insert(parts.end(), {pngChunk("gAMA", {0, 0, 0xb1, 0x8f}), pngChunk("tEXt", {'a', 0, 'b'})});
    }
    const std::size_t step = chunkBytes == 0 ? data.size() : chunkBytes;
    for (std::size_t at = 0; at < data.size(); at += step) {
        parts.push_back(pngChunk("IDAT", Bytes(data.begin() + at, data.begin() + std::min(data.size(), at + step))));
    }
    parts.push_back(pngChunk("IEND", {}));
    return pngFile(parts);
}

TEST(PngReaderTest, DecodesWhatItTakesAsCairoDoes) {
    const auto none = [](int) { return 0; };
    // Unfiltered, so each alpha (every fourth byte) meets colours from 0 to past it: the rounding of each.
    const auto everyAlpha = [](int i, int y) { return static_cast<unsigned char>(i % 4 == 3 ? i * 9 + y : i * y); };
    std::vector<std::pair<std::string, Bytes>> cases = {
        {"RGBA, every alpha", picture(6, 64, 40, none, everyAlpha)},
        {"RGBA, a filter of each kind by turns", picture(6, 33, 40, [](int y) { return y % 5; }, noise)},
        {"one pixel", picture(6, 1, 1, none, noise)},
        {"one column", picture(2, 1, 50, [](int) { return 4; }, noise)},
        {"data in many chunks, notes before", picture(6, 100, 80, [](int y) { return y % 5; }, noise, 256, true)},
    };
    for (const unsigned char colourType : {2, 6}) {
        for (int filter = 0; filter <= 4; ++filter) {
            cases.emplace_back("colour type " + std::to_string(colourType) + ", filter " + std::to_string(filter),
                               picture(colourType, 64, 64, [&](int) { return filter; }, noise));
        }
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

// One pixel of each kind, whole and valid, that the decoder leaves to Cairo.
TEST(PngReaderTest, LeavesOtherKindsToCairo) {
    const Bytes end = pngChunk("IEND", {});
    const Bytes palette = pngChunk("PLTE", {10, 200, 30});
    const std::pair<const char*, Bytes> cases[] = {
        {"grey", pngFile({pngHeader(1, 1, 0), pngChunk("IDAT", zlib({0, 128})), end})},
        {"grey and alpha", pngFile({pngHeader(1, 1, 4), pngChunk("IDAT", zlib({0, 128, 200})), end})},
        {"palette", pngFile({pngHeader(1, 1, 3), palette, pngChunk("IDAT", zlib({0, 0})), end})},
        {"16 bits a channel",
         pngFile({pngHeader(1, 1, 6, 16), pngChunk("IDAT", zlib({0, 1, 2, 3, 4, 5, 6, 7, 8})), end})},
        {"interlaced", pngFile({pngHeader(1, 1, 6, 8, 1), pngChunk("IDAT", zlib({0, 1, 2, 3, 4})), end})},
        {"a transparent colour", pngFile({pngHeader(1, 1, 2), pngChunk("tRNS", {0, 1, 0, 2, 0, 3}),
                                          pngChunk("IDAT", zlib({0, 1, 2, 3})), end})},
        {"a suggested palette",
         pngFile({pngHeader(1, 1, 2), palette, pngChunk("IDAT", zlib({0, 1, 2, 3})), end})},
    };
    for (const auto& [name, file] : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(cairoReads(file)) << "Cairo cannot read the test file";
        EXPECT_FALSE(platform::decodeSimplePng(file));
    }
}

TEST(PngReaderTest, RefusesDamagedFiles) {
    // Two rows of two RGB pixels, each row led by its filter type.
    const Bytes rows{0, 1, 2, 3, 4, 5, 6, 1, 7, 8, 9, 10, 11, 12};
    const Bytes data = zlib(rows);
    const Bytes image = pngChunk("IDAT", data);
    const Bytes end = pngChunk("IEND", {});
    const Bytes good = pngFile({pngHeader(2, 2), image, end});
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
        {"the signature alone", pngFile({})},
        {"cut short in the data", Bytes(good.begin(), good.begin() + 8 + 25 + 10)},
        {"no end chunk", Bytes(good.begin(), good.end() - 12)},
        {"a checksum wrong", flipped},
        {"the data's own check wrong", pngFile({pngHeader(2, 2), pngChunk("IDAT", badAdler), end})},
        {"data for fewer rows", pngFile({pngHeader(2, 3), image, end})},
        {"data for more rows", pngFile({pngHeader(2, 1), image, end})},
        {"a filter that does not exist", pngFile({pngHeader(2, 2), pngChunk("IDAT", zlib(badFilter)), end})},
        {"no width", pngFile({pngHeader(0, 2), image, end})},
        {"wider than Cairo holds", pngFile({pngHeader(40000, 2), image, end})},
        {"claiming far more than the data can hold", pngFile({pngHeader(32767, 32767), image, end})},
        {"no header first", pngFile({image, pngHeader(2, 2), end})},
        {"two headers", pngFile({pngHeader(2, 2), pngHeader(2, 2), image, end})},
        {"no data", pngFile({pngHeader(2, 2), end})},
        {"data in two runs",
         pngFile({pngHeader(2, 2), pngChunk("IDAT", Bytes(data.begin(), half)),
                  pngChunk("tEXt", {'a', 0, 'b'}), pngChunk("IDAT", Bytes(half, data.end())), end})},
        {"an unknown critical chunk", pngFile({pngHeader(2, 2), pngChunk("ZZZZ", {}), image, end})},
        {"a chunk type that is not letters", pngFile({pngHeader(2, 2), pngChunk("a1b2", {}), image, end})},
        {"a length past the end",
         pngFile({pngHeader(2, 2), Bytes{0x7f, 0xff, 0xff, 0xff, 'I', 'D', 'A', 'T'}})},
    };
    for (const auto& [name, file] : cases) {
        EXPECT_FALSE(platform::decodeSimplePng(file)) << name;
    }
}

} // namespace
