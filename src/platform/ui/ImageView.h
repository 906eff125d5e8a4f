#pragma once
// ImageView: shows an image (or its highlighted image while highlighted), scaled by its content
// mode. A missing image draws as its labelled placeholder. Image views take no touches unless
// user interaction is switched on, like the platform's.

#include <memory>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace platform {

class ImageView : public View {
  CH_SHARED_OBJECT(ImageView)

 public:
  std::shared_ptr<Image> image() const { return image_; }
  void setImage(std::shared_ptr<Image> image);
  std::shared_ptr<Image> highlightedImage() const { return highlightedImage_; }
  void setHighlightedImage(std::shared_ptr<Image> image);
  bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool h);

  Size sizeThatFits(Size size) const override;
  void drawRect(GraphicsContext& context, const Rect& rect) override;

 protected:
  explicit ImageView(const Rect& frame = {});

  explicit ImageView(std::shared_ptr<Image> image);

 private:
  std::shared_ptr<Image> image_;
  std::shared_ptr<Image> highlightedImage_;
  bool highlighted_ = false;
};

}  // namespace platform
