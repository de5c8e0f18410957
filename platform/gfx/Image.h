#pragma once

#include "platform/gfx/CairoPtr.h"
#include "platform/gfx/Geometry.h"

#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

/// A picture in device pixels. Image views scale it to fill their bounds, so resources are drawn
/// large (three times their point size) and stay crisp at every pixel scale.
///
/// A resource may come with copies drawn for smaller pixel scales beside it: `paperbig@2x.png` and
/// `paperbig@1x.png` next to `paperbig.png`. Scaling the large original down is most of the work of
/// a first frame, so a copy whose size is exactly the size shown is used instead; the original
/// stays the image's identity (its size, its opacity, whether it exists) and is what a missing or
/// unusable copy falls back to.
class Image {
public:
    /// A resource by file name from the resources folder. Only the file's header is read here; the
    /// pixels are decoded when the image is drawn. A missing file, or one that is not a PNG, gives
    /// nullptr and one line on standard error naming the file and the problem; the caller goes on
    /// without the image.
    static std::shared_ptr<const Image> named(std::string_view name);

    /// A resource file by path, its header read now and its pixels when drawn; throws
    /// std::runtime_error naming the file if it is missing or not a PNG.
    static std::shared_ptr<const Image> fromPngFile(const std::filesystem::path& path);

    /// An image held in memory; it keeps the surface.
    explicit Image(CairoSurfacePtr surface);

    int widthPixels() const { return width_; }
    int heightPixels() const { return height_; }
    /// True when every pixel is fully opaque. For a file: its colour type has no alpha channel
    /// and no transparent colour (what Cairo loads as RGB24).
    bool isOpaque() const { return opaque_; }

    /// Pixels to show the image at `widthPixels` x `heightPixels` for pixel scale `scale`: the copy
    /// made for that scale when there is one of exactly that size, else the original. The caller
    /// owns the returned reference; a file is decoded anew on each call (views draw an image once
    /// into their own picture, so nothing is kept here). Null, said once on standard error, when
    /// the file can no longer be read.
    CairoSurfacePtr pixelsForSize(int widthPixels, int heightPixels, int scale) const;

    /// Starts decoding, on a thread of its own, what pixelsForSize() will be asked for with the
    /// same arguments, so that a first frame finds the pixels ready while other work goes on. The
    /// next pixelsForSize() with those arguments takes them; one with others decodes as usual.
    /// Does nothing for an image held in memory.
    void prefetch(int widthPixels, int heightPixels, int scale) const;

    /// The file of the copy made for `scale`: `dir/name@2x.png` for `dir/name.png` and 2.
    static std::filesystem::path scaledVariantPath(const std::filesystem::path& original, int scale);

private:
    struct FileKey {}; ///< Only fromPngFile() makes images that read a file.

public:
    Image(FileKey, std::filesystem::path path, int width, int height, bool opaque);

private:
    struct Decoded {
        CairoSurfacePtr pixels;
        std::string reason; ///< Why there are none.
    };
    /// Pixels decoded ahead by prefetch(), and the arguments they were decoded for.
    struct Prefetched {
        int widthPixels;
        int heightPixels;
        int scale;
        std::future<Decoded> decoded;
    };

    Decoded decode(int widthPixels, int heightPixels, int scale) const;

    std::filesystem::path path_; ///< Empty for an image held in memory.
    CairoSurfacePtr surface_;    ///< Null for an image read from a file.
    int width_ = 0;
    int height_ = 0;
    bool opaque_ = false;
    mutable bool failureSaid_ = false; ///< A decoding failure was said; not said every frame.
    mutable std::mutex prefetchMutex_;
    mutable std::optional<Prefetched> prefetched_;
};

/// What a PNG file's header says about its picture.
struct PngHeader {
    int width = 0;
    int height = 0;
    bool opaque = false; ///< No alpha channel and no transparent colour.
};

/// Reads the chunks of a PNG file up to its first image data; throws std::runtime_error with
/// "file not found" or "not a readable PNG file" (prefixed with the path) otherwise.
PngHeader readPngHeader(const std::filesystem::path& path);

} // namespace platform
