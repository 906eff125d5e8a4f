#include "platform/ui/ImageView.h"

#include <algorithm>

#include "platform/ui/GraphicsContext.h"

namespace platform {

ImageView::ImageView(const Rect& frame) : View(frame) {
  setUserInteractionEnabled(false);
  setOpaque(false);
}

ImageView::ImageView(std::shared_ptr<Image> image) : ImageView(Rect{}) {
  setImage(std::move(image));
  if (image_) setFrame({0, 0, image_->size().width, image_->size().height});
}

void ImageView::setImage(std::shared_ptr<Image> image) {
  image_ = std::move(image);
  setNeedsDisplay();
}

void ImageView::setHighlightedImage(std::shared_ptr<Image> image) {
  highlightedImage_ = std::move(image);
  setNeedsDisplay();
}

void ImageView::setHighlighted(bool h) {
  highlighted_ = h;
  setNeedsDisplay();
}

Size ImageView::sizeThatFits(Size) const { return image_ ? image_->size() : Size{}; }

void ImageView::drawRect(GraphicsContext& context, const Rect&) {
  auto image = highlighted_ && highlightedImage_ ? highlightedImage_ : image_;
  if (!image) return;
  Rect b = bounds();
  Size s = image->size();
  Rect target = b;
  if (!image->isMissing() && s.width > 0 && s.height > 0) {
    double sx = b.width() / s.width, sy = b.height() / s.height;
    switch (contentMode()) {
      case ContentMode::ScaleAspectFit:
      case ContentMode::ScaleAspectFill: {
        double k =
            contentMode() == ContentMode::ScaleAspectFit ? std::min(sx, sy) : std::max(sx, sy);
        Size scaled{s.width * k, s.height * k};
        target = {b.midX() - scaled.width / 2, b.midY() - scaled.height / 2, scaled.width,
                  scaled.height};
        break;
      }
      case ContentMode::Center:
        target = {b.midX() - s.width / 2, b.midY() - s.height / 2, s.width, s.height};
        break;
      default:
        break;
    }
  }
  context.drawImage(*image, target);
}

}  // namespace platform
