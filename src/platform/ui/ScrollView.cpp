#include "platform/ui/ScrollView.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/RunLoop.h"

namespace platform {

ScrollView::ScrollView(const Rect& frame) : View(frame) { setClipsToBounds(true); }

void ScrollView::setContentOffset(Point offset, bool animated) {
  Rect b = bounds();
  bool moved = b.origin != offset;
  b.origin = offset;
  setBounds(b);
  if (moved) {
    didChangeContentOffset();
    if (auto d = delegate()) d->scrollViewDidScroll(*this);
  }
  if (!animated) return;
  std::weak_ptr<ScrollView> weak = std::static_pointer_cast<ScrollView>(shared_from_this());
  RunLoop::main()->performAfter(seconds(kScrollAnimationDuration), [weak] {
    auto self = weak.lock();
    if (!self) return;
    if (auto d = self->delegate()) d->scrollViewDidEndScrollingAnimation(*self);
  });
}

Point ScrollView::maximumContentOffset() const {
  Size b = bounds().size;
  return {std::max(0.0, contentSize_.width + contentInset_.right - b.width),
          std::max(0.0, contentSize_.height + contentInset_.bottom - b.height)};
}

void ScrollView::userScroll(Point offset) {
  if (!scrollEnabled_) return;
  Point max = maximumContentOffset();
  Point target{std::clamp(offset.x, -contentInset_.left, max.x),
               std::clamp(offset.y, -contentInset_.top, max.y)};
  Size b = bounds().size;
  if (pagingEnabled_) {
    if (b.width > 0) target.x = std::round(target.x / b.width) * b.width;
    if (b.height > 0) target.y = std::round(target.y / b.height) * b.height;
    target.x = std::min(target.x, max.x);
    target.y = std::min(target.y, max.y);
  }
  auto keep = shared_from_this();
  dragging_ = true;
  if (auto d = delegate()) d->scrollViewWillBeginDragging(*this);
  setContentOffset(target, false);
  dragging_ = false;
  if (auto d = delegate()) d->scrollViewDidEndDragging(*this, true);
  if (auto d = delegate()) d->scrollViewDidEndDecelerating(*this);
}

void ScrollView::scrollRectToVisible(const Rect& rect, bool animated) {
  Rect b = bounds();
  Point offset = b.origin;
  if (rect.minY() < b.minY())
    offset.y = rect.minY();
  else if (rect.maxY() > b.maxY())
    offset.y = rect.maxY() - b.height();
  if (rect.minX() < b.minX())
    offset.x = rect.minX();
  else if (rect.maxX() > b.maxX())
    offset.x = rect.maxX() - b.width();
  Point max = maximumContentOffset();
  offset = {std::clamp(offset.x, 0.0, max.x), std::clamp(offset.y, 0.0, max.y)};
  if (offset != b.origin) setContentOffset(offset, animated);
}

}  // namespace platform
