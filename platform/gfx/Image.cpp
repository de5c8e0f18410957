#include "platform/gfx/Image.h"

#include "platform/gfx/PngFormat.h"
#include "platform/gfx/Resources.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

namespace platform {

namespace {

constexpr std::uint32_t kIhdrLength = 13;
// Colour types with an alpha channel (grey + alpha 4, RGBA 6) have this bit set.
constexpr unsigned kAlphaChannelBit = 4;
// Decoders refuse sizes beyond 2^31 - 1 pixels a side; so do we, before the number reaches an int.
constexpr std::uint32_t kLargestSide = 0x7fffffffu;

[[noreturn]] void throwLoadError(const std::filesystem::path& path, const char* reason) {
    throw std::runtime_error("cannot load image " + path.string() + ": " + reason);
}

bool everyPixelOpaque(cairo_surface_t* surface) {
    if (cairo_image_surface_get_format(surface) == CAIRO_FORMAT_RGB24) {
        return true;
    }
    if (cairo_image_surface_get_format(surface) != CAIRO_FORMAT_ARGB32) {
        return false;
    }
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    for (int y = 0; y < height; ++y) {
        const auto* row =
            reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width; ++x) {
            if ((row[x] >> 24) != 0xffu) {
                return false;
            }
        }
    }
    return true;
}

/// Decodes a PNG file; a null pointer if it cannot be, with the reason in `reason`.
CairoSurfacePtr decodePng(const std::filesystem::path& path, std::string& reason) {
    CairoSurfacePtr surface(cairo_image_surface_create_from_png(path.c_str()));
    const cairo_status_t status = cairo_surface_status(surface.get());
    if (status == CAIRO_STATUS_SUCCESS) {
        return surface;
    }
    reason = status == CAIRO_STATUS_FILE_NOT_FOUND ? "file not found"
             : status == CAIRO_STATUS_READ_ERROR   ? "not a readable PNG file"
                                                   : cairo_status_to_string(status);
    return nullptr;
}

} // namespace

PngHeader readPngHeader(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code error;
        throwLoadError(path,
                       std::filesystem::exists(path, error) ? "not a readable PNG file" : "file not found");
    }
    std::array<unsigned char, png::kSignature.size()> signature{};
    in.read(reinterpret_cast<char*>(signature.data()), signature.size());
    if (!in || signature != png::kSignature) {
        throwLoadError(path, "not a readable PNG file");
    }

    PngHeader header;
    bool seenHeader = false;
    bool transparentColour = false;
    // Chunks are length, type, data, checksum. The header comes first; a transparent colour
    // (tRNS) may come anywhere before the image data, which ends the look.
    for (;;) {
        std::array<unsigned char, 8> chunk{};
        in.read(reinterpret_cast<char*>(chunk.data()), chunk.size());
        if (!in) {
            throwLoadError(path, "not a readable PNG file");
        }
        const std::uint32_t length = png::bigEndian(chunk.data());
        const std::string type(reinterpret_cast<const char*>(chunk.data() + 4), 4);
        if (!seenHeader) {
            std::array<unsigned char, kIhdrLength> ihdr{};
            if (type != "IHDR" || length != kIhdrLength ||
                !in.read(reinterpret_cast<char*>(ihdr.data()), ihdr.size())) {
                throwLoadError(path, "not a readable PNG file");
            }
            const std::uint32_t width = png::bigEndian(ihdr.data());
            const std::uint32_t height = png::bigEndian(ihdr.data() + 4);
            if (width == 0 || height == 0 || width > kLargestSide || height > kLargestSide) {
                throwLoadError(path, "not a readable PNG file");
            }
            header.width = static_cast<int>(width);
            header.height = static_cast<int>(height);
            header.opaque = (ihdr[9] & kAlphaChannelBit) == 0;
            seenHeader = true;
            in.seekg(4, std::ios::cur); // checksum
            continue;
        }
        if (type == "IDAT" || type == "IEND") {
            break;
        }
        if (type == "tRNS") {
            transparentColour = true;
        }
        in.seekg(static_cast<std::streamoff>(length) + 4, std::ios::cur);
    }
    header.opaque = header.opaque && !transparentColour;
    return header;
}

std::filesystem::path Image::scaledVariantPath(const std::filesystem::path& original, int scale) {
    std::filesystem::path variant = original;
    variant.replace_filename(original.stem().string() + "@" + std::to_string(scale) + "x" +
                             original.extension().string());
    return variant;
}

std::shared_ptr<const Image> Image::fromPngFile(const std::filesystem::path& path) {
    const PngHeader header = readPngHeader(path);
    return std::make_shared<const Image>(FileKey{}, path, header.width, header.height, header.opaque);
}

std::shared_ptr<const Image> Image::named(std::string_view name) {
    try {
        return fromPngFile(resourcePath(name));
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "trembit: %s\n", error.what());
        return nullptr;
    }
}

Image::Image(CairoSurfacePtr surface)
    : surface_(std::move(surface)), width_(cairo_image_surface_get_width(surface_.get())),
      height_(cairo_image_surface_get_height(surface_.get())), opaque_(everyPixelOpaque(surface_.get())) {}

Image::Image(FileKey, std::filesystem::path path, int width, int height, bool opaque)
    : path_(std::move(path)), width_(width), height_(height), opaque_(opaque) {}

Image::Decoded Image::decode(int widthPixels, int heightPixels, int scale) const {
    Decoded decoded;
    if (widthPixels != width_ || heightPixels != height_) {
        // A copy is used only when it is exactly the size wanted; anything else (none for this
        // scale, another size, a damaged file) leaves the original to be scaled as before.
        const std::filesystem::path variant = scaledVariantPath(path_, scale);
        try {
            const PngHeader header = readPngHeader(variant);
            if (header.width == widthPixels && header.height == heightPixels && header.opaque == opaque_) {
                decoded.pixels = decodePng(variant, decoded.reason);
                if (decoded.pixels) {
                    return decoded;
                }
            }
        } catch (const std::runtime_error&) {
        }
    }
    decoded.pixels = decodePng(path_, decoded.reason);
    return decoded;
}

void Image::prefetch(int widthPixels, int heightPixels, int scale) const {
    if (surface_) {
        return;
    }
    const std::lock_guard lock(prefetchMutex_);
    if (prefetched_ && prefetched_->widthPixels == widthPixels && prefetched_->heightPixels == heightPixels &&
        prefetched_->scale == scale) {
        return;
    }
    try {
        // The image outlives the decoding: taking the result, or dropping it, waits for the thread.
        prefetched_ = Prefetched{widthPixels, heightPixels, scale,
                                 std::async(std::launch::async, [this, widthPixels, heightPixels, scale] {
                                     return decode(widthPixels, heightPixels, scale);
                                 })};
    } catch (const std::system_error&) {
        // No thread to be had: the pixels are decoded when drawn, as without a prefetch.
        prefetched_.reset();
    }
}

CairoSurfacePtr Image::pixelsForSize(int widthPixels, int heightPixels, int scale) const {
    if (surface_) {
        return CairoSurfacePtr(cairo_surface_reference(surface_.get()));
    }
    std::optional<Prefetched> prefetched;
    {
        const std::lock_guard lock(prefetchMutex_);
        prefetched.swap(prefetched_);
    }
    Decoded decoded = prefetched && prefetched->widthPixels == widthPixels &&
                              prefetched->heightPixels == heightPixels && prefetched->scale == scale
                          ? prefetched->decoded.get()
                          : decode(widthPixels, heightPixels, scale);
    if (!decoded.pixels && !failureSaid_) {
        std::fprintf(stderr, "trembit: cannot load image %s: %s\n", path_.c_str(), decoded.reason.c_str());
        failureSaid_ = true;
    }
    return std::move(decoded.pixels);
}

} // namespace platform
