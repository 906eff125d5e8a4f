#include "platform/ui/Responder.h"

#include "platform/foundation/Thread.h"
#include "platform/ui/View.h"

namespace platform {

namespace {
std::weak_ptr<Responder>& firstResponder() {
  static std::weak_ptr<Responder> current;
  return current;
}
}  // namespace

Point Touch::locationInView(const View* target) const {
  if (!target) return windowLocation;
  return target->convertPointFromWindow(windowLocation);
}

Responder::~Responder() = default;

bool Responder::becomeFirstResponder() {
  assertMainThread("Responder::becomeFirstResponder");
  if (isFirstResponder()) return true;
  if (!canBecomeFirstResponder()) return false;
  if (auto current = currentFirstResponder()) {
    if (!current->resignFirstResponder()) return false;
  }
  firstResponder() = weak_from_this();
  didBecomeFirstResponder();
  return true;
}

bool Responder::resignFirstResponder() {
  assertMainThread("Responder::resignFirstResponder");
  if (!isFirstResponder()) return true;
  if (!canResignFirstResponder()) return false;
  firstResponder().reset();
  didResignFirstResponder();
  return true;
}

bool Responder::isFirstResponder() const {
  auto current = firstResponder().lock();
  return current && current.get() == this;
}

std::shared_ptr<Responder> Responder::currentFirstResponder() { return firstResponder().lock(); }

void Responder::touchesBegan(const std::vector<Touch>& touches) {
  if (auto next = nextResponder()) next->touchesBegan(touches);
}
void Responder::touchesMoved(const std::vector<Touch>& touches) {
  if (auto next = nextResponder()) next->touchesMoved(touches);
}
void Responder::touchesEnded(const std::vector<Touch>& touches) {
  if (auto next = nextResponder()) next->touchesEnded(touches);
}
void Responder::touchesCancelled(const std::vector<Touch>& touches) {
  if (auto next = nextResponder()) next->touchesCancelled(touches);
}

}  // namespace platform
