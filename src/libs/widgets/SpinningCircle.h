#pragma once
// SpinningCircle: half a ring, stroked in one colour (with a glow when asked), that turns half a
// turn every `speed` seconds while it animates. Sizes: 0 (40 points, line 2), 1 (50, line 3.25),
// 2 (10, line 3.25); any other size gives a view of no size. Each drawing moves the arc's start
// on by 0.05 radians. Touches go through it unless they land on a subview. Main thread only.

#include <memory>
#include <vector>

#include "platform/ui/View.h"

class SpinningCircle : public platform::View {
  CH_SHARED_OBJECT(SpinningCircle)

 public:
  static constexpr const char* kRotationAnimationKey = "rotationAnimation1";

  // A circle view at (0, 0) with the side length of `size` and that colour; its `circleSize`
  // stays 0 for the caller to set.
  static std::shared_ptr<SpinningCircle> circleWithSize(int size, platform::Color color);
  static double sideForSize(int size);

  platform::Color color() const { return _color; }
  void setColor(platform::Color color);
  bool hasGlow() const { return _hasGlow; }
  void setHasGlow(bool glow);
  bool isAnimating() const { return _isAnimating; }
  // YES fades the circle in over 0.9 s and starts turning it; NO hides it.
  void setIsAnimating(bool animating);
  double speed() const { return _speed; }
  void setSpeed(double speed) { _speed = speed; }
  int circleSize() const { return _circleSize; }
  void setCircleSize(int size);
  // Where the arc starts (radians), moved on by each drawing.
  double arcStart() const { return progress; }
  double lineWidth() const { return _circleSize == 0 ? 2.0 : 3.25; }

  // Fades out over 0.45 s, then drops every animation of the layer.
  void hide();
  void addRotationAnimation();
  void drawAnnular(platform::GraphicsContext& context);

  // A gradient of red, light grey and red; kept for callers, nothing draws it.
  struct Gradient {
    std::vector<platform::Color> colors;
    std::vector<double> locations;
  };
  Gradient gradient() const;

  bool pointInside(platform::Point point) const override;
  void drawRect(platform::GraphicsContext& context, const platform::Rect& rect) override;

 protected:
  explicit SpinningCircle(const platform::Rect& frame = {});

 private:
  double progress = 0;
  platform::Color _color = platform::Color::blackColor();
  bool _hasGlow = false;
  bool _isAnimating = false;
  double _speed = 0;
  int _circleSize = 0;
};
