#pragma once
// ScrollView: a view whose bounds origin is its content offset over a content of
// `contentSize`. Setting the offset tells the delegate at once (didScroll); an animated change
// also tells it didEndScrollingAnimation once the clock has moved by the scrolling time. A
// user's drag (the test driver's `scrollTo`) is told as willBeginDragging, didScroll,
// didEndDragging and didEndDecelerating, and with paging ends on a page boundary.

#include <memory>

#include "platform/ui/View.h"

namespace platform {

class ScrollView;

class ScrollViewDelegate {
 public:
  virtual ~ScrollViewDelegate() = default;
  virtual void scrollViewDidScroll(ScrollView&) {}
  virtual void scrollViewWillBeginDragging(ScrollView&) {}
  virtual void scrollViewDidEndDragging(ScrollView&, bool /*willDecelerate*/) {}
  virtual void scrollViewDidEndDecelerating(ScrollView&) {}
  virtual void scrollViewDidEndScrollingAnimation(ScrollView&) {}
};

class ScrollView : public View {
  CH_SHARED_OBJECT(ScrollView)

 public:
  static constexpr double kScrollAnimationDuration = 0.3;

  Size contentSize() const { return contentSize_; }
  void setContentSize(Size size) { contentSize_ = size; }
  Point contentOffset() const { return bounds().origin; }
  void setContentOffset(Point offset, bool animated = false);
  EdgeInsets contentInset() const { return contentInset_; }
  void setContentInset(EdgeInsets inset) { contentInset_ = inset; }
  bool isPagingEnabled() const { return pagingEnabled_; }
  void setPagingEnabled(bool p) { pagingEnabled_ = p; }
  bool isScrollEnabled() const { return scrollEnabled_; }
  void setScrollEnabled(bool s) { scrollEnabled_ = s; }
  bool bounces() const { return bounces_; }
  void setBounces(bool b) { bounces_ = b; }
  bool showsHorizontalScrollIndicator() const { return showsH_; }
  void setShowsHorizontalScrollIndicator(bool s) { showsH_ = s; }
  bool showsVerticalScrollIndicator() const { return showsV_; }
  void setShowsVerticalScrollIndicator(bool s) { showsV_ = s; }
  bool isDragging() const { return dragging_; }

  std::shared_ptr<ScrollViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<ScrollViewDelegate> d) { delegate_ = std::move(d); }

  // The offset range the content allows (at least 0).
  Point maximumContentOffset() const;
  // A user's drag to `offset` (clamped to the content; on a page boundary when paging).
  void userScroll(Point offset);
  void scrollRectToVisible(const Rect& rect, bool animated);

 protected:
  explicit ScrollView(const Rect& frame = {});

  virtual void didChangeContentOffset() {}

 private:
  Size contentSize_;
  EdgeInsets contentInset_;
  bool pagingEnabled_ = false;
  bool scrollEnabled_ = true;
  bool bounces_ = true;
  bool showsH_ = true;
  bool showsV_ = true;
  bool dragging_ = false;
  std::weak_ptr<ScrollViewDelegate> delegate_;
};

}  // namespace platform
