#include "platform/ui/ViewController.h"

#include <algorithm>
#include <iostream>

#include "platform/foundation/Thread.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UIRecorder.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace platform {

ViewController::ViewController(std::optional<std::string> nibName) : nibName_(std::move(nibName)) {}

ViewController::~ViewController() {
  if (view_ && view_->viewController_ == this) view_->viewController_ = nullptr;
  for (auto& child : children_) child->parent_ = nullptr;
  if (presented_) presented_->presenting_ = nullptr;
}

std::shared_ptr<View> ViewController::view() {
  assertMainThread("ViewController::view");
  if (!view_) {
    loadView();
    if (!view_) setView(View::create(Screen::mainScreen().applicationFrame()));
    viewDidLoad();
  }
  return view_;
}

void ViewController::setView(std::shared_ptr<View> view) {
  assertMainThread("ViewController::setView");
  if (view_ && view_->viewController_ == this) view_->viewController_ = nullptr;
  view_ = std::move(view);
  if (view_) view_->viewController_ = this;
}

void ViewController::loadView() { setView(View::create(Screen::mainScreen().applicationFrame())); }

void ViewController::setTitle(std::optional<std::string> title) {
  title_ = title;
  navigationItem_->setTitle(std::move(title));
}

std::shared_ptr<NavigationController> ViewController::navigationController() const {
  for (const ViewController* c = this; c; c = c->parent_) {
    if (c->navigationController_) {
      return std::static_pointer_cast<NavigationController>(
          c->navigationController_->weak_from_this().lock());
    }
  }
  return nullptr;
}

std::shared_ptr<ViewController> ViewController::parentViewController() const {
  if (parent_) return std::static_pointer_cast<ViewController>(parent_->weak_from_this().lock());
  if (navigationController_) {
    return std::static_pointer_cast<ViewController>(navigationController_->weak_from_this().lock());
  }
  return nullptr;
}

void ViewController::addChildViewController(const std::shared_ptr<ViewController>& child) {
  assertMainThread("ViewController::addChildViewController");
  if (!child || child.get() == this) return;
  child->removeFromParentViewController();
  child->parent_ = this;
  children_.push_back(child);
}

void ViewController::removeFromParentViewController() {
  assertMainThread("ViewController::removeFromParentViewController");
  if (!parent_) return;
  auto& siblings = parent_->children_;
  auto keep = weak_from_this().lock();
  siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                [this](const auto& c) { return c.get() == this; }),
                 siblings.end());
  parent_ = nullptr;
}

ViewController* ViewController::presentationRoot() {
  ViewController* c = this;
  while (true) {
    if (c->navigationController_) {
      c = c->navigationController_;
    } else if (c->parent_) {
      c = c->parent_;
    } else {
      return c;
    }
  }
}

std::shared_ptr<ViewController> ViewController::presentingViewController() const {
  if (!presenting_) return nullptr;
  return std::static_pointer_cast<ViewController>(presenting_->weak_from_this().lock());
}

std::shared_ptr<ViewController> ViewController::visibleChild() {
  return std::static_pointer_cast<ViewController>(shared_from_this());
}

void ViewController::presentViewController(const std::shared_ptr<ViewController>& controller,
                                           bool animated, std::function<void()> completion) {
  assertMainThread("ViewController::presentViewController");
  if (!controller) return;
  ViewController* root = presentationRoot();
  Window* window = root->isViewLoaded() ? root->view_->window() : nullptr;
  if (root->presented_ || controller->presenting_ || !window) {
    std::cerr << "Warning: attempt to present " << controller->className() << " on "
              << root->className()
              << (window ? " which is already presenting" : " whose view is not in a window")
              << "\n";
    UIRecorder::record(
        {UIRecorder::Kind::PresentIgnored, controller->className(), {}, {}, {}, 0, 0});
    return;
  }
  auto rootShared = std::static_pointer_cast<ViewController>(root->shared_from_this());
  root->presented_ = controller;
  controller->presenting_ = root;
  auto presentedView = controller->view();
  rootShared->viewWillDisappear(animated);
  controller->viewWillAppear(animated);
  window->addSubview(presentedView);
  window->updateInterfaceOrientation();
  // A full-screen presentation takes the presenting screen out of the window, so the window's
  // first subview is the screen on show; dismissal puts it back.
  if (root->view_->superviewPointer() == window) {
    root->view_->removeFromSuperview();
    controller->removedPresentingView_ = true;
  }
  rootShared->viewDidDisappear(animated);
  controller->viewDidAppear(animated);
  UIRecorder::record({UIRecorder::Kind::Present,
                      controller->className(),
                      controller->title().value_or(""),
                      {},
                      {},
                      0,
                      0});
  if (completion) completion();
}

void ViewController::dismissViewControllerAnimated(bool animated,
                                                   std::function<void()> completion) {
  assertMainThread("ViewController::dismissViewControllerAnimated");
  ViewController* root = presentationRoot();
  if (!root->presented_) {
    if (root->presenting_)
      return root->presenting_->dismissViewControllerAnimated(animated, completion);
    if (completion) completion();
    return;
  }
  auto presented = root->presented_;
  // A presentation on top of the one being dismissed goes first.
  if (presented->presented_) presented->dismissViewControllerAnimated(false);
  auto rootShared = std::static_pointer_cast<ViewController>(root->shared_from_this());
  presented->viewWillDisappear(animated);
  rootShared->viewWillAppear(animated);
  View* presentedView = presented->isViewLoaded() ? presented->view_.get() : nullptr;
  Window* window = presentedView ? presentedView->window() : nullptr;
  if (presented->removedPresentingView_ && window && root->isViewLoaded()) {
    window->insertSubviewBelow(root->view_, presentedView);
  }
  presented->removedPresentingView_ = false;
  if (presentedView) presentedView->removeFromSuperview();
  root->presented_ = nullptr;
  presented->presenting_ = nullptr;
  if (window) window->updateInterfaceOrientation();
  presented->viewDidDisappear(animated);
  rootShared->viewDidAppear(animated);
  UIRecorder::record({UIRecorder::Kind::Dismiss,
                      presented->className(),
                      presented->title().value_or(""),
                      {},
                      {},
                      0,
                      0});
  if (completion) completion();
}

std::shared_ptr<Responder> ViewController::nextResponder() const {
  if (view_) return view_->superview();
  return nullptr;
}

InterfaceOrientation ViewController::interfaceOrientation() const {
  return Screen::mainScreen().statusBarOrientation();
}

std::string ViewController::className() const { return View::classNameOf(typeid(*this)); }

}  // namespace platform
