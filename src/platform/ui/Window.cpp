#include "platform/ui/Window.h"

#include <cairo.h>

#include <algorithm>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Control.h"
#include "platform/ui/Device.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Screen.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/UIRecorder.h"
#include "platform/ui/ViewController.h"

namespace platform {

Window::Window(const Rect& frame) : View(frame) {
  View::setHidden(true);
  window_ = this;
}

Window::Window() : Window(Screen::mainScreen().bounds()) {}

Window::~Window() {
  if (root_ && root_->isViewLoaded() && root_->view()->superviewPointer() == this) {
    root_->view()->removeFromSuperview();
  }
}

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
  assertMainThread("Window::setRootViewController");
  if (controller == root_) return;
  auto old = root_;
  if (controller) controller->view();
  bool visible = !isHidden();
  if (old && visible) old->viewWillDisappear(false);
  if (controller && visible) controller->viewWillAppear(false);
  if (old && old->isViewLoaded()) old->view()->removeFromSuperview();
  root_ = controller;
  if (root_) insertSubview(root_->view(), 0);
  updateInterfaceOrientation();
  if (old && visible) old->viewDidDisappear(false);
  if (controller && visible) controller->viewDidAppear(false);
  if (root_) UIRecorder::record({UIRecorder::Kind::Root, root_->className(), {}, {}, {}, 0, 0});
}

void Window::setHidden(bool hidden) {
  bool appearing = isHidden() && !hidden;
  View::setHidden(hidden);
  if (!appearing) return;
  Application::sharedApplication().registerWindow(
      std::static_pointer_cast<Window>(shared_from_this()));
  updateInterfaceOrientation();
  if (root_) {
    root_->viewWillAppear(false);
    root_->viewDidAppear(false);
  }
}

void Window::makeKeyAndVisible() {
  assertMainThread("Window::makeKeyAndVisible");
  makeKeyWindow();
  setHidden(false);
}

void Window::makeKeyWindow() {
  assertMainThread("Window::makeKeyWindow");
  Application::sharedApplication().setKeyWindow(
      std::static_pointer_cast<Window>(shared_from_this()));
}

bool Window::isKeyWindow() const {
  return Application::sharedApplication().keyWindow().get() == this;
}

std::shared_ptr<ViewController> Window::topViewController() const {
  auto top = root_;
  while (top && top->presentedViewController()) top = top->presentedViewController();
  return top;
}

void Window::updateInterfaceOrientation() {
  assertMainThread("Window::updateInterfaceOrientation");
  Screen& screen = Screen::mainScreen();
  auto top = topViewController();
  if (top && !isHidden() && isKeyWindow()) {
    unsigned supported = top->supportedInterfaceOrientations();
    InterfaceOrientation current = screen.statusBarOrientation();
    auto held = interfaceOrientationForDevice(Device::currentDevice().orientation());
    InterfaceOrientation wanted = current;
    if (held && (supported & orientationMask(*held)) && top->shouldAutorotate()) {
      wanted = *held;
    } else if (!(supported & orientationMask(current))) {
      wanted = top->preferredInterfaceOrientationForPresentation();
      for (auto o :
           {InterfaceOrientation::Portrait, InterfaceOrientation::LandscapeRight,
            InterfaceOrientation::LandscapeLeft, InterfaceOrientation::PortraitUpsideDown}) {
        if (supported & orientationMask(wanted)) break;
        wanted = o;
      }
    }
    if (supported & orientationMask(wanted)) screen.setStatusBarOrientation(wanted);
    AlertView::layoutVisibleAlerts();
  }
  layoutRootViews();
}

void Window::layoutRootViews() {
  Screen& screen = Screen::mainScreen();
  Rect frame = screen.applicationFrame();
  Size size = screen.interfaceApplicationSize();
  AffineTransform turn = screen.interfaceTransform();
  for (auto c = root_; c; c = c->presentedViewController()) {
    if (!c->isViewLoaded()) continue;
    auto view = c->view();
    if (view->superviewPointer() != this) continue;
    view->setTransform(turn);
    view->setBounds({view->bounds().origin, size});
    view->setCenter(frame.center());
  }
}

std::shared_ptr<View> Window::sendTap(Point point, int tapCount) {
  assertMainThread("Window::sendTap");
  return deliverTap(std::static_pointer_cast<View>(shared_from_this()), point, tapCount);
}

std::shared_ptr<View> Window::deliverTap(const std::shared_ptr<View>& root, Point point,
                                         int tapCount) {
  assertMainThread("Window::deliverTap");
  root->layoutIfNeeded();
  auto hit = root->hitTest(root->convertPointFromWindow(point));
  if (!hit) return nullptr;
  // Tap recognizers of the hit view win; those of its ancestors do not take a tap from a
  // control that handles its own taps.
  auto* control = dynamic_cast<Control*>(hit.get());
  bool onControl = control && control->handlesTapsItself();
  std::shared_ptr<GestureRecognizer> recognizer;
  for (View* v = hit.get(); v && !recognizer; v = v->superviewPointer()) {
    if (onControl && v != hit.get()) break;
    for (const auto& g : v->gestureRecognizers()) {
      if (g->isEnabled()) {
        recognizer = g;
        break;
      }
    }
  }
  Touch touch{point, hit, tapCount};
  hit->touchesBegan({touch});
  if (recognizer && recognizer->handleTap(point, tapCount) && recognizer->cancelsTouchesInView()) {
    hit->touchesCancelled({touch});
    return hit;
  }
  hit->touchesEnded({touch});
  return hit;
}

cairo_surface_t* Window::renderToSurface() {
  assertMainThread("Window::renderToSurface");
  layoutIfNeeded();
  Screen& screen = Screen::mainScreen();
  double scale = screen.scale();
  Rect f = frame();
  // Upright as the phone is held: a landscape interface gives a landscape picture.
  InterfaceOrientation orientation = screen.statusBarOrientation();
  Size picture = isLandscape(orientation) ? Size{f.height(), f.width()} : f.size;
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(picture.width * scale),
                                 static_cast<int>(picture.height * scale));
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  cairo_scale(cr, scale, scale);
  cairo_translate(cr, picture.width / 2, picture.height / 2);
  cairo_rotate(cr, -interfaceRotation(orientation));
  cairo_translate(cr, -f.midX(), -f.midY());
  GraphicsContext context(cr);
  bool hidden = isHidden();
  View::setHidden(false);
  render(context);
  View::setHidden(hidden);
  for (const auto& alert : AlertView::visibleAlerts()) {
    alert->layoutIfNeeded();
    alert->render(context);
  }
  // The system's band over everything, along the top of the picture as the phone is held.
  if (!screen.statusBarHidden()) {
    cairo_identity_matrix(cr);
    cairo_scale(cr, scale, scale);
    StatusBar::draw(context, {0, 0, picture.width, StatusBar::kHeight},
                    Application::sharedApplication().statusBarStyle(), Clock::shared()->now());
  }
  cairo_destroy(cr);
  return surface;
}

bool Window::snapshot(const std::string& path, std::string* error) {
  assertMainThread("Window::snapshot");
  cairo_surface_t* surface = renderToSurface();
  cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    if (error) *error = std::string("cannot write ") + path + ": " + cairo_status_to_string(status);
    return false;
  }
  return true;
}

}  // namespace platform
