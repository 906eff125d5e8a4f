#pragma once
// AnnotationView: the view that marks a place on a map with a picture. This headless platform has
// no map; the view stands alone so that the picture extensions that serve map markers have
// something to set. Setting a picture sizes the view to it, keeping its centre. Main thread only.

#include <memory>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace platform {

class AnnotationView : public View {
  CH_SHARED_OBJECT(AnnotationView)

 public:
  std::shared_ptr<Image> image() const { return image_; }
  void setImage(std::shared_ptr<Image> image);

  void drawRect(GraphicsContext& context, const Rect& rect) override;

 protected:
  explicit AnnotationView(const Rect& frame = {});

 private:
  std::shared_ptr<Image> image_;
};

}  // namespace platform
