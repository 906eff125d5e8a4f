#include "platform/ui/Layer.h"

#include <cmath>

#include "platform/foundation/RunLoop.h"
#include "platform/ui/View.h"

namespace platform {

double Animation::totalDuration() const {
  double repeats = repeatCount > 0 ? repeatCount : 1;
  return duration * repeats * (autoreverses ? 2 : 1);
}

void Layer::addAnimation(Animation animation, const std::string& key) {
  removeAnimationForKey(key);
  std::uint64_t serial = nextSerial_++;
  bool ends = std::isfinite(animation.totalDuration()) && animation.removedOnCompletion;
  double total = animation.totalDuration();
  animations_[key] = Running{std::move(animation), serial};
  if (!ends) return;
  std::weak_ptr<View> view = std::static_pointer_cast<View>(owner_.weak_from_this().lock());
  if (view.expired()) {
    // A layer of a view not held by anyone yet: nothing can observe it, end it now.
    finish(key, serial);
    return;
  }
  RunLoop::main()->performAfter(seconds(total), [view, key, serial] {
    if (auto v = view.lock()) v->layer().finish(key, serial);
  });
}

void Layer::finish(const std::string& key, std::uint64_t serial) {
  auto it = animations_.find(key);
  if (it == animations_.end() || it->second.serial != serial) return;
  auto completion = std::move(it->second.animation.completion);
  animations_.erase(it);
  if (completion) completion(true);
}

const Animation* Layer::animationForKey(const std::string& key) const {
  auto it = animations_.find(key);
  return it == animations_.end() ? nullptr : &it->second.animation;
}

std::vector<std::string> Layer::animationKeys() const {
  std::vector<std::string> keys;
  for (const auto& [key, running] : animations_) keys.push_back(key);
  return keys;
}

void Layer::removeAnimationForKey(const std::string& key) {
  auto it = animations_.find(key);
  if (it == animations_.end()) return;
  auto completion = std::move(it->second.animation.completion);
  animations_.erase(it);
  if (completion) completion(false);
}

void Layer::removeAllAnimations() {
  while (!animations_.empty()) removeAnimationForKey(animations_.begin()->first);
}

void Layer::setNeedsDisplay() { owner_.setNeedsDisplay(); }

}  // namespace platform
