#include "platform/ui/PageControl.h"

#include <algorithm>

#include "platform/ui/GraphicsContext.h"

namespace platform {

namespace {
constexpr double kDot = 7;
constexpr double kSpacing = 9;
}  // namespace

PageControl::PageControl(const Rect& frame) : Control(frame) { setOpaque(false); }

void PageControl::setNumberOfPages(int n) {
  pages_ = std::max(0, n);
  setCurrentPage(current_);
}

void PageControl::setCurrentPage(int page) {
  current_ = std::clamp(page, 0, std::max(0, pages_ - 1));
  setNeedsDisplay();
}

double PageControl::dotCentreX(int page) const {
  double width = pages_ * kDot + std::max(0, pages_ - 1) * kSpacing;
  return bounds().midX() - width / 2 + page * (kDot + kSpacing) + kDot / 2;
}

void PageControl::didTap(const Touch& touch) {
  if (pages_ == 0) return;
  double x = touch.locationInView(this).x;
  int target = x > dotCentreX(current_) ? current_ + 1 : current_ - 1;
  if (target < 0 || target >= pages_) return;
  setCurrentPage(target);
  sendActionsForControlEvents(ControlEvent::ValueChanged);
}

void PageControl::drawRect(GraphicsContext& context, const Rect&) {
  if (hidesForSinglePage_ && pages_ <= 1) return;
  Rect b = bounds();
  for (int i = 0; i < pages_; ++i) {
    context.setFillColor(i == current_ ? Color::whiteColor() : Color::white(1, 0.35));
    context.fillEllipse({dotCentreX(i) - kDot / 2, b.midY() - kDot / 2, kDot, kDot});
  }
}

}  // namespace platform
