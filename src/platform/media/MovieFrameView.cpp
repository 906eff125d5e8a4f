#include "platform/media/MovieFrameView.h"

#include <algorithm>

#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"

namespace platform {

MovieFrameView::MovieFrameView(const Rect& frame) : View(frame) {
  setBackgroundColor(Color::blackColor());
}

void MovieFrameView::setFrameImage(std::shared_ptr<Image> frame) {
  frame_ = std::move(frame);
  setNeedsDisplay();
}

void MovieFrameView::drawRect(GraphicsContext& context, const Rect& rect) {
  View::drawRect(context, rect);
  if (observer_) observer_();
  if (!frame_ || frame_->isMissing()) return;
  Size picture = frame_->size();
  Rect b = bounds();
  if (picture.width <= 0 || picture.height <= 0 || b.isEmpty()) return;
  double scale = std::min(b.width() / picture.width, b.height() / picture.height);
  double width = picture.width * scale;
  double height = picture.height * scale;
  context.drawImage(*frame_, Rect{b.x() + (b.width() - width) / 2,
                                  b.y() + (b.height() - height) / 2, width, height});
}

}  // namespace platform
