#pragma once
// GestureRecognizer: the base of gesture recognizers attached to a view. When a touch sequence
// that the recognizer's view (or a subview) receives forms its gesture, the recognizer runs its
// actions. By default it then cancels the touches in the view (`cancelsTouchesInView`), so a
// control under it does not also act; a recognizer that lets the touch through leaves them.
//
// Actions are callbacks; `addTarget` with a weak owner calls a member function of the owner
// while it lives, so a screen holding its recognizer does not keep itself alive.

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/Geometry.h"

namespace platform {

class View;

class GestureRecognizer {
 public:
  enum class State { Possible, Began, Changed, Ended, Cancelled, Failed, Recognized = Ended };
  using Action = std::function<void(GestureRecognizer&)>;

  explicit GestureRecognizer(Action action = {});
  virtual ~GestureRecognizer();

  void addAction(Action action);
  template <class T>
  void addTarget(const std::shared_ptr<T>& target, void (T::*method)(GestureRecognizer&)) {
    std::weak_ptr<T> weak = target;
    addAction([weak, method](GestureRecognizer& g) {
      if (auto t = weak.lock()) ((*t).*method)(g);
    });
  }
  template <class T>
  void addTarget(const std::shared_ptr<T>& target, void (T::*method)()) {
    std::weak_ptr<T> weak = target;
    addAction([weak, method](GestureRecognizer&) {
      if (auto t = weak.lock()) ((*t).*method)();
    });
  }
  void removeAllActions() { actions_.clear(); }

  // The view it is attached to (the view keeps the recognizer); null once it is removed or
  // the view is destroyed, since the view clears it then.
  View* view() const { return view_; }
  State state() const { return state_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  bool cancelsTouchesInView() const { return cancelsTouchesInView_; }
  void setCancelsTouchesInView(bool c) { cancelsTouchesInView_ = c; }

  // Where the gesture happened, in `view`'s coordinates (the window's when null).
  Point locationInView(const View* view) const;

  // Called by the touch delivery with a completed tap at `windowLocation`; true when the
  // recognizer recognized it (and ran its actions).
  virtual bool handleTap(Point windowLocation, int tapCount);

 protected:
  void fire();
  Point location_;
  State state_ = State::Possible;

 private:
  friend class View;
  View* view_ = nullptr;
  bool enabled_ = true;
  bool cancelsTouchesInView_ = true;
  std::vector<Action> actions_;
};

}  // namespace platform
