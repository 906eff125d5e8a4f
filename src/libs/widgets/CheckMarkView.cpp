#include "widgets/CheckMarkView.h"

#include "platform/ui/GraphicsContext.h"

using platform::Color;
using platform::GraphicsContext;
using platform::Point;
using platform::Rect;

CheckMarkView::CheckMarkView(int size, Color color)
    : View(Rect{0, 0, sideForSize(size), sideForSize(size)}), _size(size), _color(color) {
  setOpaque(false);
}

std::shared_ptr<CheckMarkView> CheckMarkView::checkMarkWithSize(int size, Color color) {
  return create(size, color);
}

double CheckMarkView::sideForSize(int size) {
  switch (size) {
    case 0:
      return 8;
    case 1:
      return 14;
    case 2:
      return 30;
    case 3:
      return 50;
    default:
      return 0;
  }
}

bool CheckMarkView::pointInside(Point) const { return false; }

void CheckMarkView::drawRect(GraphicsContext& context, const Rect&) {
  context.setFillColor(_color);
  switch (_size) {
    case 0:
      return drawVerySmall(context);
    case 1:
      return drawSmall(context);
    case 2:
      return drawMedium(context);
    case 3:
      return drawLarge(context);
    default:
      return;
  }
}

void CheckMarkView::drawVerySmall(GraphicsContext& context) { drawShape(context, 8); }
void CheckMarkView::drawSmall(GraphicsContext& context) { drawShape(context, 14); }
void CheckMarkView::drawMedium(GraphicsContext& context) { drawShape(context, 30); }
void CheckMarkView::drawLarge(GraphicsContext& context) { drawShape(context, 50); }

void CheckMarkView::drawShape(GraphicsContext& context, double h) {
  // The mark on a 90-unit grid: the short stroke down to the corner and the long one up.
  static constexpr Point kShape[] = {{0, 42}, {16, 26}, {32, 42}, {74, 0}, {90, 16}, {32, 74}};
  double u = h / 90;
  context.beginPath();
  context.moveTo(kShape[0].x * u, kShape[0].y * u);
  for (const Point& p : kShape) context.lineTo(p.x * u, p.y * u);
  context.closePath();
  context.fillPath();
}
