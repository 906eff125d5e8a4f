#pragma once
// Layer: the drawing properties a view keeps beside its geometry (corner radius, border, shadow,
// masking) and the animations added to it by key. A layer animation never changes the model
// values: it is kept under its key for its duration (times its repeat count) and then removed,
// on the main run loop as the shared clock moves, calling its completion. Animations that
// repeat for ever or are not removed on completion stay until removed.

#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

namespace platform {

class View;

struct Animation {
  std::string keyPath;  // "transform", "opacity", "transform.rotation.z", ...
  std::string type;     // "basic", "keyframe" or "transition"
  std::string subtype;  // a transition's direction: "fromBottom", ...
  double duration = 0.25;
  double repeatCount = 0;  // infinity: for ever
  bool removedOnCompletion = true;
  bool autoreverses = false;
  // Each repeat goes on from where the last one ended (a rotation that keeps turning).
  bool cumulative = false;
  // Kept for the record (nothing is drawn in between): "easeIn", "easeOut", "easeInEaseOut",
  // "linear"; "removed", "forwards", "backwards" or "both".
  std::string timingFunction;
  std::string fillMode;
  std::vector<double> values;
  std::vector<double> keyTimes;
  std::function<void(bool finished)> completion;

  double totalDuration() const;
};

class Layer {
 public:
  explicit Layer(View& owner) : owner_(owner) {}

  double cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(double r) { cornerRadius_ = r; }
  double borderWidth() const { return borderWidth_; }
  void setBorderWidth(double w) { borderWidth_ = w; }
  Color borderColor() const { return borderColor_; }
  void setBorderColor(Color c) { borderColor_ = c; }
  bool masksToBounds() const { return masksToBounds_; }
  void setMasksToBounds(bool m) { masksToBounds_ = m; }

  std::optional<Color> shadowColor() const { return shadowColor_; }
  void setShadowColor(std::optional<Color> c) { shadowColor_ = c; }
  double shadowOpacity() const { return shadowOpacity_; }
  void setShadowOpacity(double o) { shadowOpacity_ = o; }
  double shadowRadius() const { return shadowRadius_; }
  void setShadowRadius(double r) { shadowRadius_ = r; }
  Size shadowOffset() const { return shadowOffset_; }
  void setShadowOffset(Size s) { shadowOffset_ = s; }
  std::optional<Rect> shadowPath() const { return shadowPath_; }
  void setShadowPath(std::optional<Rect> r) { shadowPath_ = r; }

  // Adds (or replaces, ending the old one unfinished) the animation under `key`.
  void addAnimation(Animation animation, const std::string& key);
  const Animation* animationForKey(const std::string& key) const;
  std::vector<std::string> animationKeys() const;
  void removeAnimationForKey(const std::string& key);
  void removeAllAnimations();

  void setNeedsDisplay();

 private:
  void finish(const std::string& key, std::uint64_t serial);

  View& owner_;
  double cornerRadius_ = 0;
  double borderWidth_ = 0;
  Color borderColor_ = Color::blackColor();
  bool masksToBounds_ = false;
  std::optional<Color> shadowColor_ = Color::blackColor();
  double shadowOpacity_ = 0;
  double shadowRadius_ = 3;
  Size shadowOffset_{0, -3};
  std::optional<Rect> shadowPath_;
  struct Running {
    Animation animation;
    std::uint64_t serial;
  };
  std::map<std::string, Running> animations_;
  std::uint64_t nextSerial_ = 1;
};

}  // namespace platform
