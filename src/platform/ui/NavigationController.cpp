#include "platform/ui/NavigationController.h"

#include <algorithm>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UIRecorder.h"
#include "platform/ui/View.h"

namespace platform {

NavigationController::NavigationController(std::shared_ptr<ViewController> root) {
  if (root) {
    adopt(root);
    stack_.push_back(std::move(root));
  }
}

NavigationController::~NavigationController() {
  for (auto& c : stack_) c->setNavigationController(nullptr);
}

void NavigationController::adopt(const std::shared_ptr<ViewController>& c) {
  c->setNavigationController(this);
}

void NavigationController::release(const std::shared_ptr<ViewController>& c) {
  if (std::find(stack_.begin(), stack_.end(), c) == stack_.end())
    c->setNavigationController(nullptr);
}

std::shared_ptr<ViewController> NavigationController::topViewController() const {
  return stack_.empty() ? nullptr : stack_.back();
}

std::shared_ptr<ViewController> NavigationController::visibleViewController() const {
  auto top = presentedViewController();
  if (top) {
    while (top->presentedViewController()) top = top->presentedViewController();
    return top;
  }
  return topViewController();
}

std::shared_ptr<NavigationBar> NavigationController::navigationBar() {
  if (!bar_) bar_ = NavigationBar::create(Rect{0, 0, Screen::mainScreen().bounds().width(), 44});
  return bar_;
}

void NavigationController::setNavigationBarHidden(bool hidden, bool) {
  barHidden_ = hidden;
  if (isViewLoaded()) layoutContent();
}

void NavigationController::loadView() {
  setView(View::create(Screen::mainScreen().applicationFrame()));
  view()->addSubview(navigationBar());
  shown_ = topViewController();
  if (shown_) view()->insertSubview(shown_->view(), 0);
  layoutContent();
  refreshBar();
}

bool NavigationController::isOnScreen() { return isViewLoaded() && view()->window() != nullptr; }

void NavigationController::layoutContent() {
  Rect b = view()->bounds();
  auto bar = navigationBar();
  bar->setHidden(barHidden_);
  bar->setFrame({0, 0, b.width(), 44});
  view()->bringSubviewToFront(bar.get());
  if (shown_) placeContent(*shown_->view());
}

void NavigationController::placeContent(View& content) {
  Rect b = view()->bounds();
  double top = barHidden_ ? 0 : 44;
  content.setFrame({0, top, b.width(), b.height() - top});
  // The screen follows the container's size when the interface turns.
  content.setAutoresizingMask(content.autoresizingMask() | Autoresizing::FlexibleWidth |
                              Autoresizing::FlexibleHeight);
}

void NavigationController::refreshBar() {
  auto top = topViewController();
  if (!top) {
    navigationBar()->showItem(nullptr, std::nullopt, {});
    return;
  }
  std::optional<std::string> back;
  if (stack_.size() > 1) {
    auto& previous = stack_[stack_.size() - 2];
    auto item = previous->navigationItem().backBarButtonItem();
    back = item && item->title() ? *item->title()
                                 : previous->navigationItem().title().value_or("返回");
  }
  std::weak_ptr<NavigationController> weak =
      std::static_pointer_cast<NavigationController>(shared_from_this());
  navigationBar()->showItem(top->sharedNavigationItem(), back, [weak] {
    if (auto nav = weak.lock()) nav->popViewControllerAnimated(true);
  });
}

void NavigationController::transition(const std::shared_ptr<ViewController>& from,
                                      const std::shared_ptr<ViewController>& to, bool animated) {
  if (!isOnScreen()) {
    if (isViewLoaded()) {
      if (from && from->isViewLoaded() && from->view()->superviewPointer() == view().get()) {
        from->view()->removeFromSuperview();
      }
      shown_ = to;
      if (to) view()->insertSubview(to->view(), 0);
      layoutContent();
      refreshBar();
    }
    return;
  }
  if (from == to) {
    refreshBar();
    return;
  }
  auto self = std::static_pointer_cast<NavigationController>(shared_from_this());
  // The screen takes its place before anyone hears of it: a delegate that measures the
  // screen's view (a tab bar that places itself at the bottom) must see its final size.
  if (to) placeContent(*to->view());
  auto d = delegate();
  if (d && to) d->navigationControllerWillShowViewController(*this, *to, animated);
  if (from) from->viewWillDisappear(animated);
  if (to) to->viewWillAppear(animated);
  if (from && from->isViewLoaded() && from->view()->superviewPointer() == view().get()) {
    from->view()->removeFromSuperview();
  }
  shown_ = to;
  if (to) view()->insertSubview(to->view(), 0);
  layoutContent();
  refreshBar();
  if (from) from->viewDidDisappear(animated);
  if (to) to->viewDidAppear(animated);
  if (d && to) d->navigationControllerDidShowViewController(*this, *to, animated);
}

void NavigationController::pushViewController(const std::shared_ptr<ViewController>& controller,
                                              bool animated) {
  assertMainThread("NavigationController::pushViewController");
  if (!controller) return;
  if (std::find(stack_.begin(), stack_.end(), controller) != stack_.end()) {
    throw Exception("NSInvalidArgumentException",
                    "Pushing the same view controller instance more than once is not supported");
  }
  auto from = topViewController();
  adopt(controller);
  stack_.push_back(controller);
  UIRecorder::record({UIRecorder::Kind::Push,
                      controller->className(),
                      controller->title().value_or(""),
                      {},
                      {},
                      0,
                      0});
  transition(from, controller, animated);
}

std::shared_ptr<ViewController> NavigationController::popViewControllerAnimated(bool animated) {
  assertMainThread("NavigationController::popViewControllerAnimated");
  if (stack_.size() <= 1) return nullptr;
  auto from = stack_.back();
  stack_.pop_back();
  UIRecorder::record(
      {UIRecorder::Kind::Pop, from->className(), from->title().value_or(""), {}, {}, 0, 0});
  transition(from, topViewController(), animated);
  release(from);
  return from;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::popToViewController(
    const ViewController* controller, bool animated) {
  assertMainThread("NavigationController::popToViewController");
  auto it = std::find_if(stack_.begin(), stack_.end(),
                         [controller](const auto& c) { return c.get() == controller; });
  if (it == stack_.end() || it + 1 == stack_.end()) return {};
  std::vector<std::shared_ptr<ViewController>> popped(it + 1, stack_.end());
  auto from = stack_.back();
  stack_.erase(it + 1, stack_.end());
  for (auto p = popped.rbegin(); p != popped.rend(); ++p) {
    UIRecorder::record(
        {UIRecorder::Kind::Pop, (*p)->className(), (*p)->title().value_or(""), {}, {}, 0, 0});
  }
  transition(from, topViewController(), animated);
  for (auto& p : popped) release(p);
  return popped;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::popToRootViewControllerAnimated(
    bool animated) {
  assertMainThread("NavigationController::popToRootViewControllerAnimated");
  if (stack_.empty()) return {};
  return popToViewController(stack_.front().get(), animated);
}

void NavigationController::setViewControllers(
    std::vector<std::shared_ptr<ViewController>> controllers, bool animated) {
  assertMainThread("NavigationController::setViewControllers");
  auto from = topViewController();
  auto old = stack_;
  stack_ = std::move(controllers);
  for (auto& c : stack_) adopt(c);
  transition(from, topViewController(), animated);
  for (auto& c : old) release(c);
}

void NavigationController::viewWillAppear(bool animated) {
  auto top = topViewController();
  if (top != shown_) transition(shown_, top, false);
  if (shown_) shown_->viewWillAppear(animated);
}

void NavigationController::viewDidAppear(bool animated) {
  if (shown_) shown_->viewDidAppear(animated);
}

void NavigationController::viewWillDisappear(bool animated) {
  if (shown_) shown_->viewWillDisappear(animated);
}

void NavigationController::viewDidDisappear(bool animated) {
  if (shown_) shown_->viewDidDisappear(animated);
}

bool NavigationController::shouldAutorotate() const {
  auto top = topViewController();
  return top ? top->shouldAutorotate() : ViewController::shouldAutorotate();
}

unsigned NavigationController::supportedInterfaceOrientations() const {
  auto top = topViewController();
  return top ? top->supportedInterfaceOrientations()
             : ViewController::supportedInterfaceOrientations();
}

}  // namespace platform
