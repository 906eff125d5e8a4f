#include "widgets/SpinningCircle.h"

#include <cmath>
#include <limits>

#include "platform/ui/GraphicsContext.h"

using platform::Color;
using platform::GraphicsContext;
using platform::Point;
using platform::Rect;

SpinningCircle::SpinningCircle(const Rect& frame) : View(frame) {
  setOpaque(false);
  setAutoresizingMask(platform::Autoresizing::FlexibleLeftMargin);
}

std::shared_ptr<SpinningCircle> SpinningCircle::circleWithSize(int size, Color color) {
  double side = sideForSize(size);
  auto circle = create(Rect{0, 0, side, side});
  circle->_color = color;
  return circle;
}

double SpinningCircle::sideForSize(int size) {
  switch (size) {
    case 0:
      return 40;
    case 1:
      return 50;
    case 2:
      return 10;
    default:
      return 0;
  }
}

void SpinningCircle::setColor(Color color) {
  _color = color;
  setNeedsDisplay();
}

void SpinningCircle::setHasGlow(bool glow) {
  _hasGlow = glow;
  setNeedsDisplay();
}

void SpinningCircle::setCircleSize(int size) {
  _circleSize = size;
  setNeedsDisplay();
}

void SpinningCircle::setIsAnimating(bool animating) {
  _isAnimating = animating;
  if (!animating) return hide();
  View::animate(0.9, [this] { setAlpha(1); });
  addRotationAnimation();
}

void SpinningCircle::hide() {
  std::weak_ptr<SpinningCircle> weak =
      std::static_pointer_cast<SpinningCircle>(weak_from_this().lock());
  View::animate(
      0.45, [this] { setAlpha(0); },
      [weak](bool) {
        if (auto circle = weak.lock()) circle->layer().removeAllAnimations();
      });
}

void SpinningCircle::addRotationAnimation() {
  platform::Animation rotation;
  rotation.keyPath = "transform.rotation.z";
  rotation.type = "basic";
  rotation.values = {M_PI};
  rotation.duration = _speed;
  rotation.repeatCount = std::numeric_limits<double>::infinity();
  rotation.cumulative = true;
  layer().addAnimation(std::move(rotation), kRotationAnimationKey);
}

SpinningCircle::Gradient SpinningCircle::gradient() const {
  return {{Color::redColor(), Color::lightGrayColor(), Color::redColor()}, {0, 0.5, 1.0}};
}

bool SpinningCircle::pointInside(Point point) const {
  for (const auto& sub : subviews()) {
    if (sub->pointInside(sub->convertPointFromView(point, this))) return true;
  }
  return false;
}

void SpinningCircle::drawRect(GraphicsContext& context, const Rect&) { drawAnnular(context); }

void SpinningCircle::drawAnnular(GraphicsContext& context) {
  progress += 0.05;
  if (progress > M_PI) progress = 0;
  Rect b = bounds();
  double width = lineWidth();
  double radius = ((b.width() - 16) - width) / 2;
  context.save();
  if (_hasGlow) context.setShadow({0, 0}, 6, _color);
  context.setLineWidth(width);
  context.setLineCap(GraphicsContext::LineCap::Square);
  context.setStrokeColor(_color);
  context.beginPath();
  context.addArc(b.midX(), b.midY(), radius, 2 * progress - M_PI / 2, 2 * progress + M_PI / 2, 0);
  context.strokePath();
  context.setShadow({0, 0}, 0, std::nullopt);
  context.restore();
  if (_isAnimating) addRotationAnimation();
}
