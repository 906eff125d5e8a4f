#pragma once
// PageControl: a row of dots, one per page, the current one bright. A tap right of the current
// dot moves one page on, left of it one page back, and sends ValueChanged.

#include "platform/ui/Control.h"

namespace platform {

class PageControl : public Control {
  CH_SHARED_OBJECT(PageControl)

 public:
  int numberOfPages() const { return pages_; }
  void setNumberOfPages(int n);
  int currentPage() const { return current_; }
  void setCurrentPage(int page);
  bool hidesForSinglePage() const { return hidesForSinglePage_; }
  void setHidesForSinglePage(bool h) { hidesForSinglePage_ = h; }

  void drawRect(GraphicsContext& context, const Rect& rect) override;

 protected:
  explicit PageControl(const Rect& frame = {});

  void didTap(const Touch& touch) override;

 private:
  double dotCentreX(int page) const;
  int pages_ = 0;
  int current_ = 0;
  bool hidesForSinglePage_ = false;
};

}  // namespace platform
