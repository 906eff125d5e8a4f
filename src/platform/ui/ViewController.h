#pragma once
// ViewController: manages one screen's root view. The view is made on first use (`loadView`,
// then `viewDidLoad`). Containers (navigation controller, window, modal presentation) call the
// appearance operations in this order for a change from screen A to screen B:
//   B.viewDidLoad (first time only), A.viewWillDisappear, B.viewWillAppear, (views swapped),
//   A.viewDidDisappear, B.viewDidAppear.
// Transitions finish at once, animated or not, so the did-calls have run when push, pop,
// present or dismiss return.
//
// A controller knows its navigation controller, its parent and the controller it presents or
// is presented by through plain back-pointers that those containers clear when they let it go.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/NavigationItem.h"
#include "platform/ui/Orientation.h"
#include "platform/ui/Responder.h"

namespace platform {

class NavigationController;
class View;

class ViewController : public Responder {
  CH_SHARED_OBJECT(ViewController)

 public:
  ~ViewController() override;

  std::shared_ptr<View> view();
  bool isViewLoaded() const { return view_ != nullptr; }
  void setView(std::shared_ptr<View> view);
  const std::optional<std::string>& nibName() const { return nibName_; }

  virtual void loadView();
  virtual void viewDidLoad() {}
  virtual void viewDidUnload() {}
  virtual void viewWillAppear(bool /*animated*/) {}
  virtual void viewDidAppear(bool /*animated*/) {}
  virtual void viewWillDisappear(bool /*animated*/) {}
  virtual void viewDidDisappear(bool /*animated*/) {}
  virtual void didReceiveMemoryWarning() {}

  const std::optional<std::string>& title() const { return title_; }
  // Also the navigation item's title.
  void setTitle(std::optional<std::string> title);
  NavigationItem& navigationItem() { return *navigationItem_; }
  // The same item as a shared object, for the bar that shows it.
  std::shared_ptr<NavigationItem> sharedNavigationItem() const { return navigationItem_; }

  // The navigation controller this screen is on (directly, or through its parent).
  std::shared_ptr<NavigationController> navigationController() const;
  std::shared_ptr<ViewController> parentViewController() const;
  void addChildViewController(const std::shared_ptr<ViewController>& child);
  void removeFromParentViewController();
  const std::vector<std::shared_ptr<ViewController>>& childViewControllers() const {
    return children_;
  }

  bool hidesBottomBarWhenPushed() const { return hidesBottomBarWhenPushed_; }
  void setHidesBottomBarWhenPushed(bool h) { hidesBottomBarWhenPushed_ = h; }

  // Modal presentation over the whole screen. Presenting while this controller (or the
  // container it is in) already presents another does nothing, as on the platform.
  void presentViewController(const std::shared_ptr<ViewController>& controller, bool animated,
                             std::function<void()> completion = {});
  void presentModalViewController(const std::shared_ptr<ViewController>& controller,
                                  bool animated) {
    presentViewController(controller, animated);
  }
  // Dismisses the controller this one presents, or, when it presents none, the presentation
  // it is part of.
  void dismissViewControllerAnimated(bool animated, std::function<void()> completion = {});
  void dismissModalViewControllerAnimated(bool animated) {
    dismissViewControllerAnimated(animated);
  }
  std::shared_ptr<ViewController> presentedViewController() const { return presented_; }
  std::shared_ptr<ViewController> presentingViewController() const;

  virtual bool shouldAutorotate() const { return true; }
  virtual unsigned supportedInterfaceOrientations() const {
    return InterfaceOrientationMask::AllButUpsideDown;
  }
  virtual bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation o) const {
    return o == InterfaceOrientation::Portrait;
  }
  virtual InterfaceOrientation preferredInterfaceOrientationForPresentation() const {
    return InterfaceOrientation::Portrait;
  }
  // The orientation the interface is in (the status bar's).
  InterfaceOrientation interfaceOrientation() const;

  std::shared_ptr<Responder> nextResponder() const override;
  std::string className() const;

  // The screen that is showing for this controller: itself, or for containers the one they
  // show. The presented controller on top of it is not included.
  virtual std::shared_ptr<ViewController> visibleChild();

 protected:
  // `nibName` is kept for the record; every view is built in code.
  explicit ViewController(std::optional<std::string> nibName = std::nullopt);

  // The navigation controller sets and clears itself as the screen's container.
  friend class NavigationController;
  friend class Window;
  void setNavigationController(NavigationController* nav) { navigationController_ = nav; }

 private:
  // The root of this controller's container chain (the one a presentation hangs on).
  ViewController* presentationRoot();

  std::optional<std::string> nibName_;
  std::shared_ptr<View> view_;
  std::optional<std::string> title_;
  std::shared_ptr<NavigationItem> navigationItem_ = std::make_shared<NavigationItem>();
  NavigationController* navigationController_ = nullptr;
  ViewController* parent_ = nullptr;
  std::vector<std::shared_ptr<ViewController>> children_;
  std::shared_ptr<ViewController> presented_;
  ViewController* presenting_ = nullptr;
  // Set on a presented controller whose presentation took the presenting view out of the
  // window.
  bool removedPresentingView_ = false;
  bool hidesBottomBarWhenPushed_ = false;
};

}  // namespace platform
