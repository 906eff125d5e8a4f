#pragma once
// View: a rectangle of the headless view tree. A view has a frame in its superview's
// coordinates, bounds in its own (the bounds origin is where scrolling views keep their content
// offset), a centre and a transform; it owns its subviews (later ones in front) and knows its
// superview and window. It draws its background, corner radius and border, then `drawRect`,
// then its subviews; it answers hit-tests as the platform does (hidden views, views with alpha
// below 0.01 and views without user interaction are skipped; `pointInside` decides); it lays
// out its subviews in `layoutSubviews` when asked through `setNeedsLayout`/`layoutIfNeeded`,
// resizing them first by their autoresizing masks when its own size changes.
//
// Animations (`animate`) apply their end state at once and call their completion on the main
// run loop once the shared clock has moved by the delay plus the duration. An animation with a
// delay changes the model values at once too, but the view goes on drawing the values it showed
// before (its presentation) until the delay has passed, so a view that waits to fade out stays
// on screen meanwhile. Hit-testing reads the model values, as the platform's does.
//
// The superview and window back-pointers are plain pointers: a view clears the back-pointers
// of its subviews and gesture recognizers when it lets them go or is destroyed, so they never
// dangle.
//
// Views are made with `create` (CH_SHARED_OBJECT, in every class of the hierarchy) and are
// main-thread objects: debug builds check the thread where the tree changes, lays out, draws
// and is touched. Much of this interface (appearance flags, tree hooks, conversions) is the
// platform's, kept for the screens that call it; the tests cover what the tree itself does.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Responder.h"

namespace platform {

class GestureRecognizer;
class GraphicsContext;
class ViewController;
class Window;

namespace Autoresizing {
enum : unsigned {
  None = 0,
  FlexibleLeftMargin = 1,
  FlexibleWidth = 2,
  FlexibleRightMargin = 4,
  FlexibleTopMargin = 8,
  FlexibleHeight = 16,
  FlexibleBottomMargin = 32,
};
}

enum class ContentMode { ScaleToFill, ScaleAspectFit, ScaleAspectFill, Redraw, Center, Top, Left };

namespace AnimationOption {
enum : unsigned {
  None = 0,
  BeginFromCurrentState = 1 << 2,
  CurveEaseInOut = 0,
  CurveEaseIn = 1 << 16,
  CurveEaseOut = 2 << 16,
  CurveLinear = 3 << 16,
};
}

class View : public Responder {
  CH_SHARED_OBJECT(View)

 public:
  ~View() override;
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  // Geometry.
  Rect frame() const;
  void setFrame(const Rect& frame);
  Rect bounds() const { return bounds_; }
  void setBounds(const Rect& bounds);
  Point center() const { return center_; }
  void setCenter(Point center);
  AffineTransform transform() const { return transform_; }
  void setTransform(const AffineTransform& t);

  // Appearance.
  double alpha() const { return alpha_; }
  void setAlpha(double alpha);
  bool isHidden() const { return hidden_; }
  virtual void setHidden(bool hidden);
  std::optional<Color> backgroundColor() const { return backgroundColor_; }
  virtual void setBackgroundColor(std::optional<Color> color);
  bool isOpaque() const { return opaque_; }
  void setOpaque(bool opaque) { opaque_ = opaque; }
  bool clipsToBounds() const { return clipsToBounds_; }
  void setClipsToBounds(bool clips) { clipsToBounds_ = clips; }
  ContentMode contentMode() const { return contentMode_; }
  void setContentMode(ContentMode mode) { contentMode_ = mode; }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
  void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }
  unsigned autoresizingMask() const { return autoresizingMask_; }
  void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
  bool autoresizesSubviews() const { return autoresizesSubviews_; }
  void setAutoresizesSubviews(bool a) { autoresizesSubviews_ = a; }
  Layer& layer() { return layer_; }
  const Layer& layer() const { return layer_; }

  // Hierarchy.
  std::shared_ptr<View> superview() const;
  View* superviewPointer() const { return superview_; }
  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
  void addSubview(const std::shared_ptr<View>& view);
  void insertSubview(const std::shared_ptr<View>& view, std::size_t index);
  void insertSubviewBelow(const std::shared_ptr<View>& view, const View* sibling);
  void insertSubviewAbove(const std::shared_ptr<View>& view, const View* sibling);
  void removeFromSuperview();
  void bringSubviewToFront(const View* view);
  void sendSubviewToBack(const View* view);
  bool isDescendantOfView(const View* view) const;
  // This view or the first descendant (depth first, in subview order) with `tag`.
  std::shared_ptr<View> viewWithTag(int tag);
  Window* window() const { return window_; }
  // The view controller whose root view this is, if any.
  ViewController* viewController() const { return viewController_; }

  // Layout.
  void setNeedsLayout() { needsLayout_ = true; }
  bool needsLayout() const { return needsLayout_; }
  // Lays out this view (when needed) and then its subviews, top down.
  void layoutIfNeeded();
  virtual void layoutSubviews() {}
  virtual Size sizeThatFits(Size size) const;
  void sizeToFit();

  // Drawing.
  void setNeedsDisplay() { needsDisplay_ = true; }
  bool needsDisplay() const { return needsDisplay_; }
  virtual void drawRect(GraphicsContext& context, const Rect& rect);
  // Draws this view and its subviews into `context`, whose origin is this view's frame origin
  // in the superview.
  void render(GraphicsContext& context);

  // Hit-testing and coordinates.
  virtual std::shared_ptr<View> hitTest(Point point);
  virtual bool pointInside(Point point) const;
  Point convertPointToView(Point point, const View* view) const;
  Point convertPointFromView(Point point, const View* view) const;
  Rect convertRectToView(const Rect& rect, const View* view) const;
  Rect convertRectFromView(const Rect& rect, const View* view) const;
  // Coordinates of the root of this view's tree (the window for a view on screen).
  Point convertPointToWindow(Point point) const;
  Point convertPointFromWindow(Point point) const;
  // Whether the view and all its ancestors are shown (not hidden, alpha at least 0.01) and it
  // hangs in a window.
  bool isVisibleOnScreen() const;

  // Gestures.
  void addGestureRecognizer(const std::shared_ptr<GestureRecognizer>& recognizer);
  void removeGestureRecognizer(const GestureRecognizer* recognizer);
  const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const {
    return gestureRecognizers_;
  }

  // Objects kept on the view under a key (the view holds them), for code that adds state to
  // views it does not own.
  void setAssociatedObject(const void* key, std::shared_ptr<void> object);
  std::shared_ptr<void> associatedObject(const void* key) const;

  // Makes the first responder among this view and its descendants resign; true when none is
  // left.
  bool endEditing(bool force);

  std::shared_ptr<Responder> nextResponder() const override;

  // Notifications of the tree changing.
  virtual void willMoveToSuperview(View*) {}
  virtual void didMoveToSuperview() {}
  virtual void willMoveToWindow(Window*) {}
  virtual void didMoveToWindow() {}
  virtual void didAddSubview(View&) {}
  virtual void willRemoveSubview(View&) {}

  // "Label(0, 0, 320, 44) tag 3": for test failures and logs.
  std::string description() const;
  std::string className() const;
  // The unqualified name of a class, for messages.
  static std::string classNameOf(const std::type_info& type);

  // View animations: `animations` runs at once (its changes are the end state); `completion`
  // runs on the main run loop after `delay` + `duration` of clock time, with finished = true.
  // The views it changes keep drawing their earlier geometry, alpha and background colour until
  // `delay` has passed.
  static void animate(double duration, const std::function<void()>& animations,
                      std::function<void(bool)> completion = {}, double delay = 0,
                      unsigned options = AnimationOption::None);

  // What is drawn now: the model values, or those a delayed animation keeps showing.
  struct Presentation {
    Point center;
    Rect bounds;
    AffineTransform transform;
    double alpha = 1;
    std::optional<Color> backgroundColor;
  };
  Presentation presentation() const;

 protected:
  explicit View(const Rect& frame = {});

  // Subviews' frames follow their masks when this view's size changes from `oldSize`.
  void resizeSubviews(Size oldSize);

 private:
  friend class ViewController;
  friend class Window;
  void setWindowRecursively(Window* window);
  void detachFromSuperview();
  // Called before a change of an animatable value: inside a delayed animation the values shown
  // so far are kept for the delay; outside any animation the change shows at once.
  void willChangeAnimatable();

  Point center_;
  Rect bounds_;
  AffineTransform transform_;
  double alpha_ = 1;
  bool hidden_ = false;
  std::optional<Color> backgroundColor_;
  bool opaque_ = true;
  bool clipsToBounds_ = false;
  ContentMode contentMode_ = ContentMode::ScaleToFill;
  int tag_ = 0;
  bool userInteractionEnabled_ = true;
  unsigned autoresizingMask_ = Autoresizing::None;
  bool autoresizesSubviews_ = true;
  bool needsLayout_ = true;
  bool needsDisplay_ = true;
  Layer layer_{*this};
  View* superview_ = nullptr;
  Window* window_ = nullptr;
  ViewController* viewController_ = nullptr;
  std::vector<std::shared_ptr<View>> subviews_;
  std::vector<std::shared_ptr<GestureRecognizer>> gestureRecognizers_;
  std::map<const void*, std::shared_ptr<void>> associated_;
  std::optional<Presentation> presented_;
  std::uint64_t presentedSerial_ = 0;
};

}  // namespace platform
