#pragma once
// Responder: the base of views, view controllers and the application: the chain along which
// touches that a view does not handle travel upwards (view, its view controller, its superview,
// ..., the window, the application), and the one first responder of the application (the text
// input that has the keyboard).

#include <memory>
#include <vector>

#include "platform/foundation/SharedObject.h"
#include "platform/ui/Geometry.h"

namespace platform {

class View;
class Window;

// One finger on the screen; the test drivers make one per tap.
struct Touch {
  Point windowLocation;
  std::weak_ptr<View> view;
  int tapCount = 1;
  // The touch's location in `view`'s coordinates.
  Point locationInView(const View* view) const;
};

class Responder : public std::enable_shared_from_this<Responder> {
 public:
  virtual ~Responder();

  virtual std::shared_ptr<Responder> nextResponder() const { return nullptr; }

  virtual bool canBecomeFirstResponder() const { return false; }
  virtual bool canResignFirstResponder() const { return true; }
  // True when this is now the first responder.
  virtual bool becomeFirstResponder();
  // True when this is no longer the first responder.
  virtual bool resignFirstResponder();
  bool isFirstResponder() const;
  static std::shared_ptr<Responder> currentFirstResponder();

  // By default a responder passes touches on to the next one.
  virtual void touchesBegan(const std::vector<Touch>& touches);
  virtual void touchesMoved(const std::vector<Touch>& touches);
  virtual void touchesEnded(const std::vector<Touch>& touches);
  virtual void touchesCancelled(const std::vector<Touch>& touches);

 protected:
  // Responders live in shared pointers from birth (views and controllers hand out
  // `shared_from_this`): each class of the hierarchy declares CH_SHARED_OBJECT and is made
  // with `Class::create(...)`.
  Responder() = default;

  // Hooks for subclasses that take the keyboard (called after the change).
  virtual void didBecomeFirstResponder() {}
  virtual void didResignFirstResponder() {}
};

}  // namespace platform
