#pragma once
// Control: a view that turns touches into control events (touch down, touch up inside, value
// changed, editing events) and runs the actions registered for them. State: enabled,
// selected, highlighted. A disabled control receives touches but sends no events.
//
// Actions are callbacks keyed by event masks; `addTarget` with a weak owner calls a member
// function of the owner while it lives, so screens do not keep themselves alive through the
// controls they own.

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/View.h"

namespace platform {

namespace ControlEvent {
enum : unsigned {
  TouchDown = 1 << 0,
  TouchDownRepeat = 1 << 1,
  TouchDragInside = 1 << 2,
  TouchDragOutside = 1 << 3,
  TouchDragEnter = 1 << 4,
  TouchDragExit = 1 << 5,
  TouchUpInside = 1 << 6,
  TouchUpOutside = 1 << 7,
  TouchCancel = 1 << 8,
  ValueChanged = 1 << 12,
  EditingDidBegin = 1 << 16,
  EditingChanged = 1 << 17,
  EditingDidEnd = 1 << 18,
  EditingDidEndOnExit = 1 << 19,
  AllTouchEvents = 0x0FFF,
  AllEditingEvents = 0x000F0000,
  AllEvents = 0xFFFFFFFF,
};
}

namespace ControlState {
enum : unsigned { Normal = 0, Highlighted = 1 << 0, Disabled = 1 << 1, Selected = 1 << 2 };
}

class Control : public View {
  CH_SHARED_OBJECT(Control)

 public:
  using Action = std::function<void(Control& sender)>;

  void addAction(Action action, unsigned events);
  void addAction(std::function<void()> action, unsigned events);
  template <class T>
  void addTarget(const std::shared_ptr<T>& target, void (T::*method)(Control&), unsigned events) {
    std::weak_ptr<T> weak = target;
    addAction(Action([weak, method](Control& c) {
                if (auto t = weak.lock()) ((*t).*method)(c);
              }),
              events);
  }
  template <class T>
  void addTarget(const std::shared_ptr<T>& target, void (T::*method)(), unsigned events) {
    std::weak_ptr<T> weak = target;
    addAction(Action([weak, method](Control&) {
                if (auto t = weak.lock()) ((*t).*method)();
              }),
              events);
  }
  // Drops the actions registered for any of `events`.
  void removeActions(unsigned events);
  // The events some action is registered for.
  unsigned allControlEvents() const;
  // Runs the actions registered for any of `events`, in the order they were added.
  void sendActionsForControlEvents(unsigned events);

  bool isEnabled() const { return enabled_; }
  virtual void setEnabled(bool enabled);
  bool isSelected() const { return selected_; }
  virtual void setSelected(bool selected);
  bool isHighlighted() const { return highlighted_; }
  virtual void setHighlighted(bool highlighted);
  unsigned state() const;

  // Whether a tap on this control is its own: tap recognizers of its ancestors then leave it
  // alone. True for buttons, switches, sliders and page controls; text inputs answer false.
  virtual bool handlesTapsItself() const { return true; }

  void touchesBegan(const std::vector<Touch>& touches) override;
  void touchesEnded(const std::vector<Touch>& touches) override;
  void touchesCancelled(const std::vector<Touch>& touches) override;

 protected:
  explicit Control(const Rect& frame = {});

  // A completed tap inside the control (after touch-up-inside was sent).
  virtual void didTap(const Touch&) {}

 private:
  struct Entry {
    Action action;
    unsigned events;
  };
  std::vector<Entry> actions_;
  bool enabled_ = true;
  bool selected_ = false;
  bool highlighted_ = false;
  bool tracking_ = false;
};

}  // namespace platform
