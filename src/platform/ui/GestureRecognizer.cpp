#include "platform/ui/GestureRecognizer.h"

#include "platform/ui/View.h"

namespace platform {

GestureRecognizer::GestureRecognizer(Action action) {
  if (action) actions_.push_back(std::move(action));
}

GestureRecognizer::~GestureRecognizer() = default;

void GestureRecognizer::addAction(Action action) {
  if (action) actions_.push_back(std::move(action));
}

Point GestureRecognizer::locationInView(const View* view) const {
  return view ? view->convertPointFromWindow(location_) : location_;
}

bool GestureRecognizer::handleTap(Point, int) { return false; }

void GestureRecognizer::fire() {
  auto actions = actions_;  // an action may remove the recognizer
  for (auto& action : actions) action(*this);
  state_ = State::Possible;
}

}  // namespace platform
