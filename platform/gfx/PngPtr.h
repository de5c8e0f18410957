#pragma once

#include <png.h>

// The one home of libpng handles, as CairoPtr.h is for Cairo's.

namespace platform {

/// libpng's write structures, made and released together. Either may be null when libpng cannot
/// make them; callers check png() before use. The error and warning handlers may be null.
class PngWriteStructs {
public:
    explicit PngWriteStructs(png_error_ptr onError = nullptr, png_error_ptr onWarning = nullptr)
        : png_(png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning)) {
        if (png_ != nullptr) {
            info_ = png_create_info_struct(png_);
        }
    }
    ~PngWriteStructs() { png_destroy_write_struct(&png_, &info_); }
    PngWriteStructs(const PngWriteStructs&) = delete;
    PngWriteStructs& operator=(const PngWriteStructs&) = delete;

    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

} // namespace platform
