#include "platform/ui/Window.h"

#include <cairo.h>

#include <algorithm>

#include "platform/foundation/Thread.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Control.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Screen.h"
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
  if (root_) {
    auto view = root_->view();
    view->setFrame(Screen::mainScreen().applicationFrame());
    insertSubview(view, 0);
  }
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
  double scale = Screen::mainScreen().scale();
  Rect f = frame();
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(f.width() * scale),
                                 static_cast<int>(f.height() * scale));
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  cairo_scale(cr, scale, scale);
  GraphicsContext context(cr);
  bool hidden = isHidden();
  View::setHidden(false);
  cairo_save(cr);
  cairo_translate(cr, -f.x(), -f.y());
  render(context);
  cairo_restore(cr);
  View::setHidden(hidden);
  for (const auto& alert : AlertView::visibleAlerts()) {
    alert->layoutIfNeeded();
    alert->render(context);
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
