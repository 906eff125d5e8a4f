#pragma once
// CheckMarkView: a filled check mark drawn in one colour, in four sizes: 0 (8 points), 1 (14),
// 2 (30) and 3 (50); any other size gives a view of no size that draws nothing. Touches go
// through it to the view behind. Main thread only.

#include <memory>

#include "platform/ui/View.h"

class CheckMarkView : public platform::View {
  CH_SHARED_OBJECT(CheckMarkView)

 public:
  // A view at (0, 0) with the side length of `size`, not opaque.
  static std::shared_ptr<CheckMarkView> checkMarkWithSize(int size, platform::Color color);
  // The side length of a size.
  static double sideForSize(int size);

  int size() const { return _size; }
  platform::Color color() const { return _color; }

  bool pointInside(platform::Point point) const override;
  void drawRect(platform::GraphicsContext& context, const platform::Rect& rect) override;

 protected:
  CheckMarkView(int size, platform::Color color);

 private:
  void drawVerySmall(platform::GraphicsContext& context);
  void drawSmall(platform::GraphicsContext& context);
  void drawMedium(platform::GraphicsContext& context);
  void drawLarge(platform::GraphicsContext& context);
  // The check-mark shape for a height of `h`, from the view's origin.
  void drawShape(platform::GraphicsContext& context, double h);

  int _size;
  platform::Color _color;
};
