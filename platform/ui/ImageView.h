#pragma once

#include "platform/gfx/Image.h"
#include "platform/ui/View.h"

#include <memory>
#include <utility>

namespace platform {

/// A view that shows an image scaled to fill its bounds. The scaled picture is made once per
/// pixel scale and kept as the view's picture, so composing a frame never rescales the image; where
/// the image has a copy drawn for the pixel scale in use, that copy is used as it is.
class ImageView : public View {
public:
    explicit ImageView(Rect frame) : View(frame) {}

    const std::shared_ptr<const Image>& image() const { return image_; }
    /// Shows `image` (nullptr shows nothing); the view keeps a reference.
    void setImage(std::shared_ptr<const Image> image);

    void drawRect(GraphicsContext& context, const Rect& rect) override;
    void prefetchContents(int scale) override;
    /// The decoded copy itself when it is exactly the picture's size and format, so that a first
    /// frame does not copy it pixel by pixel.
    CairoSurfacePtr takeFinishedContents(int scale, int widthPixels, int heightPixels) override;
    bool drawsContent() const override { return image_ != nullptr; }
    bool drawsOpaqueContent() const override { return image_ != nullptr && image_->isOpaque(); }

private:
    /// The image's size in device pixels at `scale`, as drawRect shows it.
    std::pair<int, int> pixelSize(int scale) const;

    std::shared_ptr<const Image> image_;
    /// Pixels takeFinishedContents() decoded but could not hand over, for the drawRect that
    /// follows it in the same display pass, so the file is not decoded twice.
    CairoSurfacePtr decoded_;
};

} // namespace platform
