#include "platform/ui/AnnotationView.h"

#include "platform/foundation/Thread.h"
#include "platform/ui/GraphicsContext.h"

namespace platform {

AnnotationView::AnnotationView(const Rect& frame) : View(frame) { setOpaque(false); }

void AnnotationView::setImage(std::shared_ptr<Image> image) {
  assertMainThread("AnnotationView::setImage");
  image_ = std::move(image);
  if (image_) {
    Rect f = frame();
    Size s = image_->size();
    setFrame({f.midX() - s.width / 2, f.midY() - s.height / 2, s.width, s.height});
  }
  setNeedsDisplay();
}

void AnnotationView::drawRect(GraphicsContext& context, const Rect&) {
  if (image_) context.drawImage(*image_, bounds());
}

}  // namespace platform
