#pragma once

#include "platform/gfx/Image.h"
#include "platform/ui/View.h"

#include <memory>

namespace platform {

/// A view that shows an image scaled to fill its bounds. The scaled picture is made once per
/// pixel scale and kept in the view's cache, so composing a frame never rescales the image; where
/// the image has a copy drawn for the pixel scale in use, that copy is used as it is.
class ImageView : public View {
public:
    explicit ImageView(Rect frame) : View(frame) {}

    const std::shared_ptr<const Image>& image() const { return image_; }
    /// Shows `image` (nullptr shows nothing); the view keeps a reference.
    void setImage(std::shared_ptr<const Image> image);

    void drawRect(GraphicsContext& context, const Rect& rect) override;
    bool drawsContent() const override { return image_ != nullptr; }
    bool drawsOpaqueContent() const override { return image_ != nullptr && image_->isOpaque(); }

private:
    std::shared_ptr<const Image> image_;
};

} // namespace platform
