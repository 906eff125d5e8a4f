#pragma once
// NavigationController: a stack of screens under a navigation bar. Push, pop, pop to root, pop
// to a screen and replacing the stack change the stack at once; when the controller is on
// screen the shown screen changes with the appearance calls of ViewController (the delegate's
// willShow comes first and its didShow last; by willShow the shown screen's view already has
// its place and size under the bar). The screens of the stack are owned by it and
// know it as their navigation controller while they are on it.

#include <memory>
#include <vector>

#include "platform/ui/NavigationBar.h"
#include "platform/ui/ViewController.h"

namespace platform {

class NavigationController;

class NavigationControllerDelegate {
 public:
  virtual ~NavigationControllerDelegate() = default;
  virtual void navigationControllerWillShowViewController(NavigationController&, ViewController&,
                                                          bool /*animated*/) {}
  virtual void navigationControllerDidShowViewController(NavigationController&, ViewController&,
                                                         bool /*animated*/) {}
};

class NavigationController : public ViewController {
  CH_SHARED_OBJECT(NavigationController)

 public:
  ~NavigationController() override;

  const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return stack_; }
  void setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers, bool animated);
  std::shared_ptr<ViewController> topViewController() const;
  // The top screen, or the screen presented over the stack.
  std::shared_ptr<ViewController> visibleViewController() const;

  // Pushing a screen that is already on the stack raises NSInvalidArgumentException.
  void pushViewController(const std::shared_ptr<ViewController>& controller, bool animated);
  // The popped screen; null (nothing popped) when only the root is left.
  std::shared_ptr<ViewController> popViewControllerAnimated(bool animated);
  std::vector<std::shared_ptr<ViewController>> popToRootViewControllerAnimated(bool animated);
  std::vector<std::shared_ptr<ViewController>> popToViewController(const ViewController* controller,
                                                                   bool animated);

  std::shared_ptr<NavigationBar> navigationBar();
  bool isNavigationBarHidden() const { return barHidden_; }
  void setNavigationBarHidden(bool hidden, bool animated = false);

  std::shared_ptr<NavigationControllerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<NavigationControllerDelegate> d) { delegate_ = std::move(d); }

  void loadView() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void viewDidDisappear(bool animated) override;
  bool shouldAutorotate() const override;
  unsigned supportedInterfaceOrientations() const override;
  std::shared_ptr<ViewController> visibleChild() override { return topViewController(); }

 protected:
  explicit NavigationController(std::shared_ptr<ViewController> root = nullptr);

 private:
  bool isOnScreen();
  // Shows `to` in place of `from` (either may be null) with the appearance calls.
  void transition(const std::shared_ptr<ViewController>& from,
                  const std::shared_ptr<ViewController>& to, bool animated);
  void layoutContent();
  // Gives a screen's view the content area: below the bar when it shows, the rest of the view.
  void placeContent(View& content);
  void refreshBar();
  void adopt(const std::shared_ptr<ViewController>& c);
  void release(const std::shared_ptr<ViewController>& c);

  std::vector<std::shared_ptr<ViewController>> stack_;
  std::shared_ptr<ViewController> shown_;
  std::shared_ptr<NavigationBar> bar_;
  bool barHidden_ = false;
  std::weak_ptr<NavigationControllerDelegate> delegate_;
};

}  // namespace platform
