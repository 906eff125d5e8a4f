#pragma once
// MirelTabBarController: the four-tab main screen. It shows one of its screens in a transition
// view above a MirelTabBar and switches on the bar's taps; the views of tabs shown before stay
// behind the shown one. Made with the selected index 1, its gate is on: a tap on the first tab
// only asks the delegate (tabBarControllerShouldSelectIndex with 0) and changes nothing. A tap
// on the tab already shown pops that tab to its root when it is a navigation controller.
//
// It forwards viewDidAppear, viewWillDisappear and viewDidDisappear to the shown screen by hand,
// so the shown tab hears viewDidAppear each time the main screen comes back on top. It can
// slide the bar out of sight, just below its view, and back to the view's bottom edge (0.3 s
// when animated). The most recently made
// controller is kept (not owned) for `ViewControllerMirelTabBarControllerSupport`.
//
// Portrait only; main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/ui/ViewController.h"
#include "widgets/MirelTabBar.h"

class MirelTabBarController;

class MirelTabBarControllerDelegate {
 public:
  virtual ~MirelTabBarControllerDelegate() = default;
  // Absent: the delegate does not answer; false stops the switch.
  virtual std::optional<bool> tabBarControllerShouldSelectViewController(
      MirelTabBarController&, platform::ViewController&) {
    return std::nullopt;
  }
  virtual void tabBarControllerDidSelectViewController(MirelTabBarController&,
                                                       platform::ViewController&) {}
  // The controller uses no answer.
  virtual void tabBarControllerShouldSelectIndex(MirelTabBarController&, unsigned /*index*/) {}
};

class MirelTabBarController : public platform::ViewController, public MirelTabBarDelegate {
 public:
  static constexpr double kBarHeight = 49;
  static constexpr double kHideDuration = 0.3;

  // initWithViewControllers:imageArray:titleName:selectedInedx:
  static std::shared_ptr<MirelTabBarController> create(
      std::vector<std::shared_ptr<platform::ViewController>> viewControllers,
      const std::vector<platform::Dictionary>& imageArray,
      const std::vector<std::string>& titleName, unsigned selectedInedx);
  ~MirelTabBarController() override;

  // The most recently made controller, if it still lives.
  static std::shared_ptr<MirelTabBarController> mostRecent();

  const std::vector<std::shared_ptr<platform::ViewController>>& viewControllers() const {
    return _viewControllers;
  }
  void setViewControllers(std::vector<std::shared_ptr<platform::ViewController>> controllers) {
    _viewControllers = std::move(controllers);
  }
  std::shared_ptr<platform::View> containerView() const { return _containerView; }
  std::shared_ptr<platform::View> transitionView() const { return _transitionView; }
  std::shared_ptr<MirelTabBar> tabBar() const { return _tabBar; }
  unsigned selectedIndex() const { return _selectedIndex; }
  void setSelectedIndex(unsigned index);
  std::shared_ptr<platform::ViewController> selectedViewController() const;
  unsigned newSelectedIndex() const { return _newSelectedIndex; }
  std::shared_ptr<MirelTabBarControllerDelegate> delegate() const { return _delegate.lock(); }
  void setDelegate(std::weak_ptr<MirelTabBarControllerDelegate> delegate) {
    _delegate = std::move(delegate);
  }
  // Stored only; it moves nothing.
  bool tabBarHidden() const { return _tabBarHidden; }
  void setTabBarHidden(bool hidden) { _tabBarHidden = hidden; }
  // Reads false whatever setTabBarTransparent was told, which only resizes the transition view.
  bool tabBarTransparent() const { return _tabBarTransparent; }
  void setTabBarTransparent(bool transparent);
  int animateDriect() const { return _animateDriect; }
  void setAnimateDriect(int direction) { _animateDriect = direction; }

  void displayViewAtIndex(unsigned index);
  // The bar's report of a tap.
  void tabBar(MirelTabBar& bar, unsigned index) override;
  void hidesTabBar(bool hide, bool animated);
  // Does nothing.
  void hidesTabBar(bool hide, bool animated, int driect);
  void removeViewControllerAtIndex(unsigned index);
  void insertViewController(const std::shared_ptr<platform::ViewController>& controller,
                            const platform::Dictionary& imageDic, unsigned index);

  void loadView() override;
  void viewDidLoad() override;
  void viewDidUnload() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void viewDidDisappear(bool animated) override;
  bool shouldAutorotate() const override { return true; }
  unsigned supportedInterfaceOrientations() const override {
    return platform::InterfaceOrientationMask::Portrait;
  }
  bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation o) const override {
    return o == platform::InterfaceOrientation::Portrait;
  }

 private:
  MirelTabBarController(std::vector<std::shared_ptr<platform::ViewController>> viewControllers,
                        const std::vector<platform::Dictionary>& imageArray,
                        const std::vector<std::string>& titleName, unsigned selectedInedx);

  std::vector<std::shared_ptr<platform::ViewController>> _viewControllers;
  std::shared_ptr<platform::View> _containerView;
  std::shared_ptr<platform::View> _transitionView;
  std::shared_ptr<MirelTabBar> _tabBar;
  unsigned _selectedIndex = 0;
  unsigned _newSelectedIndex = 0;
  std::weak_ptr<MirelTabBarControllerDelegate> _delegate;
  bool _tabBarHidden = false;
  bool _tabBarTransparent = false;
  int _animateDriect = 0;
};
