#include "widgets/MirelTabBarController.h"

#include <algorithm>

#include "platform/foundation/Thread.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"

using platform::Rect;
using platform::View;
using platform::ViewController;

namespace {

// The most recently made controller; not owned.
std::weak_ptr<MirelTabBarController>& mostRecentController() {
  static std::weak_ptr<MirelTabBarController> controller;
  return controller;
}

}  // namespace

MirelTabBarController::MirelTabBarController(
    std::vector<std::shared_ptr<ViewController>> viewControllers,
    const std::vector<platform::Dictionary>& imageArray, const std::vector<std::string>& titleName,
    unsigned selectedInedx)
    : _viewControllers(std::move(viewControllers)) {
  _containerView = View::create(platform::Screen::mainScreen().applicationFrame());
  double height = _containerView->bounds().height();
  _transitionView = View::create(Rect{0, 0, 320, height - 44});
  _transitionView->setBackgroundColor(platform::Color::groupTableViewBackground());
  _newSelectedIndex = selectedInedx;
  _tabBar = MirelTabBar::create(Rect{0, height - 44, 320, kBarHeight}, imageArray, titleName,
                                selectedInedx);
}

std::shared_ptr<MirelTabBarController> MirelTabBarController::create(
    std::vector<std::shared_ptr<ViewController>> viewControllers,
    const std::vector<platform::Dictionary>& imageArray, const std::vector<std::string>& titleName,
    unsigned selectedInedx) {
  std::shared_ptr<MirelTabBarController> controller(
      new MirelTabBarController(std::move(viewControllers), imageArray, titleName, selectedInedx));
  controller->_tabBar->setDelegate(controller);
  mostRecentController() = controller;
  controller->_animateDriect = 0;
  return controller;
}

MirelTabBarController::~MirelTabBarController() {
  if (_tabBar) _tabBar->setDelegate({});
}

std::shared_ptr<MirelTabBarController> MirelTabBarController::mostRecent() {
  return mostRecentController().lock();
}

void MirelTabBarController::loadView() {
  ViewController::loadView();
  _containerView->addSubview(_transitionView);
  if (_tabBar) _containerView->addSubview(_tabBar);
  setView(_containerView);
}

void MirelTabBarController::viewDidLoad() {
  ViewController::viewDidLoad();
  setSelectedIndex(_newSelectedIndex);
}

void MirelTabBarController::viewDidUnload() {
  ViewController::viewDidUnload();
  _tabBar.reset();
  _viewControllers.clear();
}

std::shared_ptr<ViewController> MirelTabBarController::selectedViewController() const {
  return _selectedIndex < _viewControllers.size() ? _viewControllers[_selectedIndex] : nullptr;
}

void MirelTabBarController::setSelectedIndex(unsigned index) {
  platform::assertMainThread("MirelTabBarController::setSelectedIndex");
  displayViewAtIndex(index);
  if (_tabBar) _tabBar->selectTabAtIndex(index);
}

void MirelTabBarController::displayViewAtIndex(unsigned index) {
  platform::assertMainThread("MirelTabBarController::displayViewAtIndex");
  if (index >= _viewControllers.size()) return;
  auto keep = shared_from_this();
  auto screen = _viewControllers[index];
  auto d = delegate();
  if (d && d->tabBarControllerShouldSelectViewController(*this, *screen) == false) return;
  if (index == _selectedIndex && !_transitionView->subviews().empty()) return;
  _selectedIndex = index;
  auto view = screen->view();
  view->setFrame(_transitionView->frame());
  screen->viewWillAppear(true);
  if (view->superviewPointer() == _transitionView.get()) {
    _transitionView->bringSubviewToFront(view.get());
  } else {
    _transitionView->addSubview(view);
  }
  screen->viewDidAppear(true);
  if (d) d->tabBarControllerDidSelectViewController(*this, *screen);
}

void MirelTabBarController::tabBar(MirelTabBar&, unsigned index) {
  if (_newSelectedIndex == 1 && index == 0) {
    if (auto d = delegate()) d->tabBarControllerShouldSelectIndex(*this, 0);
    return;
  }
  if (index != _selectedIndex) return displayViewAtIndex(index);
  // A tap on the tab already shown returns a navigation tab to its root; any other screen
  // has nowhere to go back to.
  if (index >= _viewControllers.size()) return;
  if (auto nav =
          std::dynamic_pointer_cast<platform::NavigationController>(_viewControllers[index])) {
    nav->popToRootViewControllerAnimated(true);
  }
}

void MirelTabBarController::viewWillAppear(bool animated) {
  ViewController::viewWillAppear(animated);
}

void MirelTabBarController::viewDidAppear(bool animated) {
  ViewController::viewDidAppear(animated);
  if (auto shown = selectedViewController()) shown->viewDidAppear(true);
}

void MirelTabBarController::viewWillDisappear(bool animated) {
  ViewController::viewWillDisappear(animated);
  if (auto shown = selectedViewController()) shown->viewWillDisappear(true);
}

void MirelTabBarController::viewDidDisappear(bool animated) {
  ViewController::viewDidDisappear(animated);
  if (auto shown = selectedViewController()) shown->viewDidDisappear(true);
}

void MirelTabBarController::hidesTabBar(bool hide, bool animated) {
  platform::assertMainThread("MirelTabBarController::hidesTabBar");
  if (!_tabBar) return;
  // Placed, not moved: shown, the bar's bottom edge is the view's; hidden, it lies just below.
  // A bar moved by a relative step would drift for good once it was measured against another
  // size of the view.
  double height = view()->bounds().height();
  Rect frame = _tabBar->frame();
  const double y = hide ? height : height - kBarHeight;
  if (frame.y() == y) return;
  Rect moved{frame.x(), y, frame.width(), frame.height()};
  auto bar = _tabBar;
  if (animated) {
    View::animate(kHideDuration, [bar, moved] { bar->setFrame(moved); });
  } else {
    bar->setFrame(moved);
  }
}

void MirelTabBarController::hidesTabBar(bool, bool, int) {}

void MirelTabBarController::setTabBarTransparent(bool transparent) {
  Rect container = _containerView->bounds();
  _transitionView->setFrame(transparent ? container
                                        : Rect{0, 0, 320, container.height() - kBarHeight});
}

void MirelTabBarController::removeViewControllerAtIndex(unsigned index) {
  platform::assertMainThread("MirelTabBarController::removeViewControllerAtIndex");
  if (index >= _viewControllers.size()) return;
  auto screen = _viewControllers[index];
  if (screen->isViewLoaded()) screen->view()->removeFromSuperview();
  _viewControllers.erase(_viewControllers.begin() + index);
  if (_tabBar) _tabBar->removeTabAtIndex(index);
}

void MirelTabBarController::insertViewController(const std::shared_ptr<ViewController>& controller,
                                                 const platform::Dictionary& imageDic,
                                                 unsigned index) {
  platform::assertMainThread("MirelTabBarController::insertViewController");
  if (!controller) return;
  index = std::min<unsigned>(index, static_cast<unsigned>(_viewControllers.size()));
  _viewControllers.insert(_viewControllers.begin() + index, controller);
  if (_tabBar) _tabBar->insertTabWithImageDic(imageDic, index);
}
