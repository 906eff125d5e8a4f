#include "platform/ui/View.h"

#include <cairo.h>
#include <cxxabi.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <utility>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace platform {

namespace {

// The animation whose `animations` block is running (main thread only), so that setters know
// whether their change is delayed.
struct AnimationCapture {
  double delay = 0;
  std::set<const View*> touched;
};
AnimationCapture*& currentCapture() {
  static AnimationCapture* capture = nullptr;
  return capture;
}

}  // namespace

View::View(const Rect& frame) { setFrame(frame); }

View::~View() {
  // A recognizer may outlive its view (a screen keeps it in a field); it must not keep pointing
  // here.
  for (auto& recognizer : gestureRecognizers_) recognizer->view_ = nullptr;
  for (auto& sub : subviews_) {
    sub->superview_ = nullptr;
    sub->setWindowRecursively(nullptr);
  }
}

Rect View::frame() const {
  Size size = bounds_.size;
  if (transform_.isIdentity()) {
    return {center_.x - size.width / 2, center_.y - size.height / 2, size.width, size.height};
  }
  // The bounding box of the transformed bounds around the centre.
  double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
  for (Point corner :
       {Point{-size.width / 2, -size.height / 2}, Point{size.width / 2, -size.height / 2},
        Point{-size.width / 2, size.height / 2}, Point{size.width / 2, size.height / 2}}) {
    Point p = transform_.apply(corner);
    minX = std::min(minX, p.x);
    maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y);
    maxY = std::max(maxY, p.y);
  }
  return {center_.x + minX, center_.y + minY, maxX - minX, maxY - minY};
}

void View::setFrame(const Rect& frame) {
  willChangeAnimatable();
  Size old = bounds_.size;
  center_ = frame.center();
  if (transform_.isIdentity()) bounds_.size = frame.size;
  if (old != bounds_.size) {
    resizeSubviews(old);
    setNeedsLayout();
    setNeedsDisplay();
  }
}

void View::setBounds(const Rect& bounds) {
  willChangeAnimatable();
  Size old = bounds_.size;
  bounds_ = bounds;
  if (old != bounds_.size) resizeSubviews(old);
  setNeedsLayout();
}

void View::setCenter(Point center) {
  willChangeAnimatable();
  center_ = center;
}

void View::setTransform(const AffineTransform& t) {
  willChangeAnimatable();
  transform_ = t;
}

void View::setAlpha(double alpha) {
  willChangeAnimatable();
  alpha_ = std::clamp(alpha, 0.0, 1.0);
}

void View::setHidden(bool hidden) { hidden_ = hidden; }

void View::setBackgroundColor(std::optional<Color> color) {
  willChangeAnimatable();
  backgroundColor_ = color;
  setNeedsDisplay();
}

std::shared_ptr<View> View::superview() const {
  if (!superview_) return nullptr;
  return std::static_pointer_cast<View>(superview_->weak_from_this().lock());
}

void View::detachFromSuperview() {
  View* parent = superview_;
  if (!parent) return;
  parent->willRemoveSubview(*this);
  willMoveToSuperview(nullptr);
  if (window_) willMoveToWindow(nullptr);
  auto keep = std::static_pointer_cast<View>(shared_from_this());
  auto& siblings = parent->subviews_;
  siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                [this](const auto& v) { return v.get() == this; }),
                 siblings.end());
  superview_ = nullptr;
  bool hadWindow = window_ != nullptr;
  setWindowRecursively(nullptr);
  didMoveToSuperview();
  if (hadWindow) didMoveToWindow();
}

void View::insertSubview(const std::shared_ptr<View>& view, std::size_t index) {
  assertMainThread("View::insertSubview");
  if (!view || view.get() == this) return;
  if (view->superview_ == this) {
    auto& subs = subviews_;
    auto it = std::find(subs.begin(), subs.end(), view);
    subs.erase(it);
    subs.insert(subs.begin() + std::min(index, subs.size()), view);
    return;
  }
  view->detachFromSuperview();
  view->willMoveToSuperview(this);
  if (window_) view->willMoveToWindow(window_);
  subviews_.insert(subviews_.begin() + std::min(index, subviews_.size()), view);
  view->superview_ = this;
  view->setWindowRecursively(window_);
  view->didMoveToSuperview();
  if (window_) view->didMoveToWindow();
  didAddSubview(*view);
}

void View::addSubview(const std::shared_ptr<View>& view) {
  assertMainThread("View::addSubview");
  if (view && view->superview_ == this) {
    bringSubviewToFront(view.get());
    return;
  }
  insertSubview(view, subviews_.size());
}

void View::insertSubviewBelow(const std::shared_ptr<View>& view, const View* sibling) {
  assertMainThread("View::insertSubviewBelow");
  auto it = std::find_if(subviews_.begin(), subviews_.end(),
                         [sibling](const auto& v) { return v.get() == sibling; });
  if (it == subviews_.end()) return addSubview(view);
  std::size_t index = it - subviews_.begin();
  if (view->superview_ == this) {
    auto cur = std::find(subviews_.begin(), subviews_.end(), view) - subviews_.begin();
    if (static_cast<std::size_t>(cur) < index) --index;
  }
  insertSubview(view, index);
}

void View::insertSubviewAbove(const std::shared_ptr<View>& view, const View* sibling) {
  assertMainThread("View::insertSubviewAbove");
  auto it = std::find_if(subviews_.begin(), subviews_.end(),
                         [sibling](const auto& v) { return v.get() == sibling; });
  if (it == subviews_.end()) return addSubview(view);
  std::size_t index = it - subviews_.begin() + 1;
  if (view->superview_ == this) {
    auto cur = std::find(subviews_.begin(), subviews_.end(), view) - subviews_.begin();
    if (static_cast<std::size_t>(cur) < index) --index;
  }
  insertSubview(view, index);
}

void View::removeFromSuperview() {
  assertMainThread("View::removeFromSuperview");
  detachFromSuperview();
}

void View::bringSubviewToFront(const View* view) {
  assertMainThread("View::bringSubviewToFront");
  auto it = std::find_if(subviews_.begin(), subviews_.end(),
                         [view](const auto& v) { return v.get() == view; });
  if (it == subviews_.end()) return;
  auto keep = *it;
  subviews_.erase(it);
  subviews_.push_back(keep);
}

void View::sendSubviewToBack(const View* view) {
  assertMainThread("View::sendSubviewToBack");
  auto it = std::find_if(subviews_.begin(), subviews_.end(),
                         [view](const auto& v) { return v.get() == view; });
  if (it == subviews_.end()) return;
  auto keep = *it;
  subviews_.erase(it);
  subviews_.insert(subviews_.begin(), keep);
}

bool View::isDescendantOfView(const View* view) const {
  for (const View* v = this; v; v = v->superview_) {
    if (v == view) return true;
  }
  return false;
}

std::shared_ptr<View> View::viewWithTag(int tag) {
  if (tag_ == tag) return std::static_pointer_cast<View>(shared_from_this());
  for (auto& sub : subviews_) {
    if (auto found = sub->viewWithTag(tag)) return found;
  }
  return nullptr;
}

void View::setWindowRecursively(Window* window) {
  window_ = window;
  for (auto& sub : subviews_) {
    if (sub->window_ != window) {
      if (window) sub->willMoveToWindow(window);
      sub->setWindowRecursively(window);
      sub->didMoveToWindow();
    }
  }
}

void View::layoutIfNeeded() {
  assertMainThread("View::layoutIfNeeded");
  if (needsLayout_) {
    needsLayout_ = false;
    layoutSubviews();
  }
  // Copy: layout may change the subviews.
  auto subs = subviews_;
  for (auto& sub : subs) sub->layoutIfNeeded();
}

Size View::sizeThatFits(Size) const { return bounds_.size; }

void View::sizeToFit() {
  Size size = sizeThatFits(bounds_.size);
  Rect f = frame();
  setFrame({f.origin, size});
}

void View::resizeSubviews(Size oldSize) {
  if (!autoresizesSubviews_) return;
  double dw = bounds_.size.width - oldSize.width;
  double dh = bounds_.size.height - oldSize.height;
  if (dw == 0 && dh == 0) return;
  // Spreads `delta` over the flexible parts in proportion to their current lengths.
  auto spread = [](double delta, double parts[3], bool flexible[3]) {
    double total = 0;
    int count = 0;
    for (int i = 0; i < 3; ++i) {
      if (flexible[i]) {
        total += parts[i];
        ++count;
      }
    }
    if (count == 0) return;
    for (int i = 0; i < 3; ++i) {
      if (!flexible[i]) continue;
      parts[i] += total > 0 ? delta * parts[i] / total : delta / count;
    }
  };
  for (auto& sub : subviews_) {
    unsigned m = sub->autoresizingMask_;
    if (m == Autoresizing::None) continue;
    Rect f = sub->frame();
    double h[3] = {f.x(), f.width(), oldSize.width - f.maxX()};
    bool hf[3] = {(m & Autoresizing::FlexibleLeftMargin) != 0,
                  (m & Autoresizing::FlexibleWidth) != 0,
                  (m & Autoresizing::FlexibleRightMargin) != 0};
    spread(dw, h, hf);
    double v[3] = {f.y(), f.height(), oldSize.height - f.maxY()};
    bool vf[3] = {(m & Autoresizing::FlexibleTopMargin) != 0,
                  (m & Autoresizing::FlexibleHeight) != 0,
                  (m & Autoresizing::FlexibleBottomMargin) != 0};
    spread(dh, v, vf);
    sub->setFrame({h[0], v[0], h[1], v[1]});
  }
}

void View::drawRect(GraphicsContext&, const Rect&) {}

View::Presentation View::presentation() const {
  if (presented_) return *presented_;
  return {center_, bounds_, transform_, alpha_, backgroundColor_};
}

void View::willChangeAnimatable() {
  AnimationCapture* capture = currentCapture();
  if (!capture) {
    presented_.reset();
    return;
  }
  if (capture->delay <= 0 || !capture->touched.insert(this).second) return;
  std::weak_ptr<View> weak = std::static_pointer_cast<View>(weak_from_this().lock());
  if (weak.expired()) return;  // not on screen yet: nothing shows the earlier values
  if (!presented_) presented_ = presentation();
  std::uint64_t serial = ++presentedSerial_;
  RunLoop::main()->performAfter(seconds(capture->delay), [weak, serial] {
    auto view = weak.lock();
    if (view && view->presentedSerial_ == serial) view->presented_.reset();
  });
}

void View::render(GraphicsContext& context) {
  assertMainThread("View::render");
  const Presentation shown = presentation();
  if (hidden_ || shown.alpha < 0.01) return;
  needsDisplay_ = false;
  const Rect& bounds = shown.bounds;
  cairo_t* cr = context.cairo();
  cairo_save(cr);
  cairo_translate(cr, shown.center.x, shown.center.y);
  if (!shown.transform.isIdentity()) context.concat(shown.transform);
  cairo_translate(cr, -bounds.size.width / 2, -bounds.size.height / 2);
  Rect local{0, 0, bounds.size.width, bounds.size.height};
  if (shown.alpha < 1) cairo_push_group(cr);

  double radius = layer_.cornerRadius();
  if (layer_.shadowOpacity() > 0 && layer_.shadowColor()) {
    Rect shadow = layer_.shadowPath().value_or(local);
    context.setFillColor(layer_.shadowColor()->withAlpha(layer_.shadowOpacity()));
    context.fillRoundedRect(
        shadow.offsetBy(layer_.shadowOffset().width, layer_.shadowOffset().height), radius);
  }
  if (shown.backgroundColor && !shown.backgroundColor->isClear()) {
    context.setFillColor(*shown.backgroundColor);
    context.fillRoundedRect(local, radius);
  }
  bool clip = clipsToBounds_ || layer_.masksToBounds();
  cairo_save(cr);
  if (clip) context.clipToRoundedRect(local, radius);
  cairo_translate(cr, -bounds.origin.x, -bounds.origin.y);
  cairo_save(cr);
  drawRect(context, bounds_);
  cairo_restore(cr);
  auto subs = subviews_;
  for (auto& sub : subs) sub->render(context);
  cairo_restore(cr);

  if (layer_.borderWidth() > 0) {
    double w = layer_.borderWidth();
    context.setLineWidth(w);
    context.setStrokeColor(layer_.borderColor());
    context.beginPath();
    context.addRoundedRect(local.insetBy(w / 2, w / 2), std::max(0.0, radius - w / 2));
    context.strokePath();
  }
  if (shown.alpha < 1) {
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, shown.alpha);
  }
  cairo_restore(cr);
}

std::shared_ptr<View> View::hitTest(Point point) {
  assertMainThread("View::hitTest");
  if (hidden_ || !userInteractionEnabled_ || alpha_ < 0.01) return nullptr;
  if (!pointInside(point)) return nullptr;
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
    auto sub = *it;
    if (auto hit = sub->hitTest(sub->convertPointFromView(point, this))) return hit;
  }
  return std::static_pointer_cast<View>(shared_from_this());
}

bool View::pointInside(Point point) const { return bounds_.contains(point); }

Point View::convertPointToWindow(Point point) const {
  Point p = point;
  for (const View* v = this; v; v = v->superview_) {
    Point local{p.x - v->bounds_.origin.x - v->bounds_.size.width / 2,
                p.y - v->bounds_.origin.y - v->bounds_.size.height / 2};
    Point t = v->transform_.apply(local);
    p = {v->center_.x + t.x, v->center_.y + t.y};
  }
  return p;
}

Point View::convertPointFromWindow(Point point) const {
  std::vector<const View*> chain;
  for (const View* v = this; v; v = v->superview_) chain.push_back(v);
  Point p = point;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const View* v = *it;
    Point rel{p.x - v->center_.x, p.y - v->center_.y};
    Point t = v->transform_.inverted().apply(rel);
    p = {t.x + v->bounds_.size.width / 2 + v->bounds_.origin.x,
         t.y + v->bounds_.size.height / 2 + v->bounds_.origin.y};
  }
  return p;
}

Point View::convertPointToView(Point point, const View* view) const {
  Point w = convertPointToWindow(point);
  return view ? view->convertPointFromWindow(w) : w;
}

Point View::convertPointFromView(Point point, const View* view) const {
  Point w = view ? view->convertPointToWindow(point) : point;
  return convertPointFromWindow(w);
}

Rect View::convertRectToView(const Rect& rect, const View* view) const {
  Point a = convertPointToView(rect.origin, view);
  Point b = convertPointToView({rect.maxX(), rect.maxY()}, view);
  return {std::min(a.x, b.x), std::min(a.y, b.y), std::abs(b.x - a.x), std::abs(b.y - a.y)};
}

Rect View::convertRectFromView(const Rect& rect, const View* view) const {
  Point a = convertPointFromView(rect.origin, view);
  Point b = convertPointFromView({rect.maxX(), rect.maxY()}, view);
  return {std::min(a.x, b.x), std::min(a.y, b.y), std::abs(b.x - a.x), std::abs(b.y - a.y)};
}

bool View::isVisibleOnScreen() const {
  if (!window_) return false;
  for (const View* v = this; v; v = v->superview_) {
    if (v->hidden_ || v->alpha_ < 0.01) return false;
  }
  return true;
}

void View::addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer) {
  assertMainThread("View::addGestureRecognizer");
  if (!recognizer) return;
  if (View* old = recognizer->view()) old->removeGestureRecognizer(recognizer.get());
  recognizer->view_ = this;
  gestureRecognizers_.push_back(recognizer);
}

void View::removeGestureRecognizer(const GestureRecognizer* recognizer) {
  assertMainThread("View::removeGestureRecognizer");
  auto it = std::find_if(gestureRecognizers_.begin(), gestureRecognizers_.end(),
                         [recognizer](const auto& g) { return g.get() == recognizer; });
  if (it == gestureRecognizers_.end()) return;
  (*it)->view_ = nullptr;
  gestureRecognizers_.erase(it);
}

void View::setAssociatedObject(const void* key, std::shared_ptr<void> object) {
  if (object) {
    associated_[key] = std::move(object);
  } else {
    associated_.erase(key);
  }
}

std::shared_ptr<void> View::associatedObject(const void* key) const {
  auto it = associated_.find(key);
  return it == associated_.end() ? nullptr : it->second;
}

bool View::endEditing(bool force) {
  assertMainThread("View::endEditing");
  auto current = Responder::currentFirstResponder();
  auto* view = dynamic_cast<View*>(current.get());
  if (!view || !view->isDescendantOfView(this)) return true;
  if (view->resignFirstResponder()) return true;
  if (!force) return false;
  return view->resignFirstResponder();
}

std::shared_ptr<Responder> View::nextResponder() const {
  if (viewController_) return viewController_->shared_from_this();
  return superview();
}

std::string View::classNameOf(const std::type_info& type) {
  int status = 0;
  char* name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string result = status == 0 && name ? name : type.name();
  std::free(name);
  // The class's own name, without namespaces.
  auto colon = result.rfind("::");
  if (colon != std::string::npos && result.find('<') == std::string::npos)
    result = result.substr(colon + 2);
  return result;
}

std::string View::className() const { return classNameOf(typeid(*this)); }

std::string View::description() const {
  std::string d = className() + toString(frame());
  if (tag_ != 0) d += " tag " + std::to_string(tag_);
  return d;
}

void View::animate(double duration, const std::function<void()>& animations,
                   std::function<void(bool)> completion, double delay, unsigned) {
  assertMainThread("View::animate");
  double wait = std::max(0.0, delay);
  if (animations) {
    AnimationCapture capture{wait, {}};
    AnimationCapture* outer = std::exchange(currentCapture(), &capture);
    try {
      animations();
    } catch (...) {
      currentCapture() = outer;
      throw;
    }
    currentCapture() = outer;
  }
  if (!completion) return;
  RunLoop::main()->performAfter(seconds(wait + std::max(0.0, duration)),
                                [completion = std::move(completion)] { completion(true); });
}

}  // namespace platform
