#include "alerts/ViewAnimations.h"

#include <limits>

#include "platform/ui/TextField.h"
#include "platform/ui/TextView.h"

using platform::Animation;
using platform::View;

void ViewAnimations::centerViewsVerticallyWithin(const View& container,
                                                 const std::vector<StackEntry>& entries) {
  double total = 0;
  for (const auto& entry : entries) {
    if (entry.view) total += entry.view->bounds().height();
  }
  double y = container.frame().y() + container.bounds().height() / 2 - total / 2;
  for (const auto& entry : entries) {
    if (!entry.view) continue;
    platform::Rect frame = entry.view->frame();
    entry.view->setFrame({frame.x(), y + entry.offset, frame.width(), frame.height()});
    y += entry.offset + entry.view->bounds().height();
  }
}

void ViewAnimations::resignFirstRespondersForSubviews(View& view) {
  resignFirstRespondersForView(view);
}

void ViewAnimations::resignFirstRespondersForView(View& view) {
  auto subviews = view.subviews();
  for (const auto& sub : subviews) {
    if (dynamic_cast<platform::TextField*>(sub.get()) ||
        dynamic_cast<platform::TextView*>(sub.get())) {
      sub->resignFirstResponder();
    }
    resignFirstRespondersForView(*sub);
  }
}

void ViewAnimations::addFadingAnimationWithDuration(View& view, double duration) {
  Animation fade;
  fade.keyPath = "opacity";
  fade.type = "transition";
  fade.subtype = "fromBottom";
  fade.duration = duration;
  fade.timingFunction = "easeInEaseOut";
  fade.fillMode = "extended";
  view.layer().addAnimation(std::move(fade), kFadeKey);
}

void ViewAnimations::addFadingAnimation(View& view) { addFadingAnimationWithDuration(view, 0.5); }

namespace {

Animation scaleKeyframes(std::vector<double> values, double duration) {
  Animation animation;
  animation.keyPath = "transform";
  animation.type = "keyframe";
  animation.values = std::move(values);
  animation.keyTimes = {0, 0.5, 0.9, 1.0};
  animation.timingFunction = "easeInEaseOut";
  animation.fillMode = "forwards";
  animation.duration = duration;
  return animation;
}

}  // namespace

void ViewAnimations::animationPop(View& view) {
  view.layer().addAnimation(scaleKeyframes({1, 1.35, 0.8, 1}, 0.4), kPopKey);
}

void ViewAnimations::addPulsingAnimation(View& view) {
  Animation pulse = scaleKeyframes({1, 1.15, 0.8, 1}, 0.6);
  pulse.autoreverses = true;
  pulse.repeatCount = std::numeric_limits<double>::infinity();
  view.layer().addAnimation(std::move(pulse), kPulseKey);
}

bool ViewAnimations::hasPulseAnimation(const View& view) {
  return view.layer().animationForKey(kPulseKey) != nullptr;
}

void ViewAnimations::removePulseAnimation(View& view) {
  view.layer().removeAnimationForKey(kPulseKey);
}
