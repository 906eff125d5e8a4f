#include "platform/ui/Control.h"

#include <algorithm>

namespace platform {

Control::Control(const Rect& frame) : View(frame) {}

void Control::addAction(Action action, unsigned events) {
  if (action && events) actions_.push_back({std::move(action), events});
}

void Control::addAction(std::function<void()> action, unsigned events) {
  if (!action) return;
  addAction(Action([action = std::move(action)](Control&) { action(); }), events);
}

void Control::removeActions(unsigned events) {
  for (auto& entry : actions_) entry.events &= ~events;
  actions_.erase(std::remove_if(actions_.begin(), actions_.end(),
                                [](const Entry& e) { return e.events == 0; }),
                 actions_.end());
}

unsigned Control::allControlEvents() const {
  unsigned all = 0;
  for (const auto& entry : actions_) all |= entry.events;
  return all;
}

void Control::sendActionsForControlEvents(unsigned events) {
  // Keep the control alive and the list stable while actions run (an action may remove it).
  auto keep = weak_from_this().lock();
  auto entries = actions_;
  for (auto& entry : entries) {
    if (entry.events & events) entry.action(*this);
  }
}

void Control::setEnabled(bool enabled) {
  enabled_ = enabled;
  setNeedsDisplay();
}

void Control::setSelected(bool selected) {
  selected_ = selected;
  setNeedsLayout();
  setNeedsDisplay();
}

void Control::setHighlighted(bool highlighted) {
  highlighted_ = highlighted;
  setNeedsLayout();
  setNeedsDisplay();
}

unsigned Control::state() const {
  unsigned s = ControlState::Normal;
  if (highlighted_) s |= ControlState::Highlighted;
  if (!enabled_) s |= ControlState::Disabled;
  if (selected_) s |= ControlState::Selected;
  return s;
}

void Control::touchesBegan(const std::vector<Touch>&) {
  if (!enabled_) return;
  tracking_ = true;
  setHighlighted(true);
  sendActionsForControlEvents(ControlEvent::TouchDown);
}

void Control::touchesEnded(const std::vector<Touch>& touches) {
  if (!enabled_ || !tracking_) return;
  tracking_ = false;
  setHighlighted(false);
  bool inside = !touches.empty() && pointInside(touches.front().locationInView(this));
  sendActionsForControlEvents(inside ? ControlEvent::TouchUpInside : ControlEvent::TouchUpOutside);
  if (inside) didTap(touches.front());
}

void Control::touchesCancelled(const std::vector<Touch>&) {
  if (!tracking_) return;
  tracking_ = false;
  setHighlighted(false);
  sendActionsForControlEvents(ControlEvent::TouchCancel);
}

}  // namespace platform
