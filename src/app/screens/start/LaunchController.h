#pragma once
// LaunchController: the first-run guide, the window's root at the first launch of each bundle
// version. Seven horizontally paged pictures: six pages on the background "help.png" that
// introduce the steps of the application (region, login, my courses, local courses, video
// lectures, study records), each with a title, one or two lines and its picture ("help1.png" to
// "help6.png"), and a last page "help7.png" with the start button ("begin.png"). Page dots below
// follow the scrolling and scroll when tapped.
//
// The start button clears the version's "fistLaunched_%@" flag at once and presents, without
// animation, a new navigation controller on a new area selection screen; the guide stays the
// window's root underneath. Main thread only.

#include <memory>

#include "platform/ui/Button.h"
#include "platform/ui/PageControl.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/ViewController.h"
#include "screens/common/PortraitOnly.h"

class LaunchController : public PortraitOnly<platform::ViewController>,
                         public platform::ScrollViewDelegate {
  CH_SHARED_OBJECT(LaunchController)

 public:
  static constexpr int kPageCount = 7;

  void viewDidLoad() override;
  void beginBtnClick();
  // The page dots changed: scrolls to the chosen page, animated.
  void pageChage();
  void scrollViewDidEndDecelerating(platform::ScrollView& scrollView) override;

  const std::shared_ptr<platform::ScrollView>& launchScroll() const { return _launchScroll; }
  const std::shared_ptr<platform::PageControl>& launchPage() const { return _launchPage; }
  // The start button of the last page.
  const std::shared_ptr<platform::Button>& beginButton() const { return beginButton_; }

  // Where page `page` (1 to 6) puts a picture of `size` (points) inside its page.
  static platform::Rect pictureFrame(int page, platform::Size size);

 protected:
  LaunchController() = default;

 private:
  void addPage(int page, double height);

  std::shared_ptr<platform::ScrollView> _launchScroll;
  std::shared_ptr<platform::PageControl> _launchPage;
  std::shared_ptr<platform::Button> beginButton_;
};
