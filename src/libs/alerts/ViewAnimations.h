#pragma once
// ViewAnimations: what the alert and notice views do to views: stack views vertically centred
// on a container, close any keyboard under a view, and the layer animations they add (a fade,
// a pop and a pulse). Main thread only.

#include <memory>
#include <vector>

#include "platform/ui/Layer.h"
#include "platform/ui/View.h"

class ViewAnimations {
 public:
  static constexpr const char* kFadeKey = "reloadAnimation";
  static constexpr const char* kPopKey = "popup";
  static constexpr const char* kPulseKey = "pulse";

  // One view to stack and how far it (and every later view) moves down.
  struct StackEntry {
    std::shared_ptr<platform::View> view;
    double offset = 0;
  };

  // Stacks the views from top to bottom, the pile (offsets aside) centred on the container:
  // each view's top is the running y plus its offset; x, width and height stay.
  static void centerViewsVerticallyWithin(const platform::View& container,
                                          const std::vector<StackEntry>& entries);

  // Every text field and text view among the view's descendants gives up the keyboard.
  static void resignFirstRespondersForSubviews(platform::View& view);
  static void resignFirstRespondersForView(platform::View& view);

  // A fade transition from the bottom, under kFadeKey; 0.5 s without a duration.
  static void addFadingAnimationWithDuration(platform::View& view, double duration);
  static void addFadingAnimation(platform::View& view);
  // Scales 1, 1.35, 0.8, 1 over 0.4 s under kPopKey.
  static void animationPop(platform::View& view);
  // Scales 1, 1.15, 0.8, 1 over 0.6 s, back and forth for ever, under kPulseKey.
  static void addPulsingAnimation(platform::View& view);
  static bool hasPulseAnimation(const platform::View& view);
  static void removePulseAnimation(platform::View& view);
};
