#pragma once
// Geometry of the view tree, in points: points, sizes, rectangles, edge insets and affine
// transforms. Plain values with the handful of operations the views and screens need.

#include <cmath>
#include <string>

namespace platform {

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  Point origin;
  Size size;

  Rect() = default;
  Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}
  Rect(Point o, Size s) : origin(o), size(s) {}

  double x() const { return origin.x; }
  double y() const { return origin.y; }
  double width() const { return size.width; }
  double height() const { return size.height; }
  double minX() const { return origin.x; }
  double minY() const { return origin.y; }
  double maxX() const { return origin.x + size.width; }
  double maxY() const { return origin.y + size.height; }
  double midX() const { return origin.x + size.width / 2; }
  double midY() const { return origin.y + size.height / 2; }
  Point center() const { return {midX(), midY()}; }
  bool isEmpty() const { return size.width <= 0 || size.height <= 0; }

  // Half-open on the far edges, as the platform's hit-testing is.
  bool contains(Point p) const {
    return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
  }
  bool intersects(const Rect& r) const {
    return !isEmpty() && !r.isEmpty() && r.minX() < maxX() && minX() < r.maxX() &&
           r.minY() < maxY() && minY() < r.maxY();
  }
  Rect insetBy(double dx, double dy) const {
    return {origin.x + dx, origin.y + dy, size.width - 2 * dx, size.height - 2 * dy};
  }
  Rect offsetBy(double dx, double dy) const {
    return {origin.x + dx, origin.y + dy, size.width, size.height};
  }
  bool operator==(const Rect&) const = default;
};

struct EdgeInsets {
  double top = 0;
  double left = 0;
  double bottom = 0;
  double right = 0;
  bool operator==(const EdgeInsets&) const = default;
};

// x' = a x + c y + tx, y' = b x + d y + ty.
struct AffineTransform {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

  static AffineTransform identity() { return {}; }
  static AffineTransform scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
  // Quarter turns come out exact (cos(pi/2) is not 0 in doubles), so frames of turned views stay
  // whole numbers.
  static AffineTransform rotation(double angle) {
    auto exact = [](double v) { return std::abs(v) < 1e-12 ? 0.0 : v; };
    double c = exact(std::cos(angle)), s = exact(std::sin(angle));
    return {c, s, -s, c, 0, 0};
  }
  static AffineTransform translation(double x, double y) { return {1, 0, 0, 1, x, y}; }

  bool isIdentity() const { return *this == AffineTransform{}; }
  // This transform followed by `t`.
  AffineTransform concat(const AffineTransform& t) const {
    return {a * t.a + b * t.c, a * t.b + b * t.d,          c * t.a + d * t.c,
            c * t.b + d * t.d, tx * t.a + ty * t.c + t.tx, tx * t.b + ty * t.d + t.ty};
  }
  Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
  AffineTransform inverted() const {
    double det = a * d - b * c;
    if (det == 0) return *this;
    return {d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det, (b * tx - a * ty) / det};
  }
  bool operator==(const AffineTransform&) const = default;
};

std::string toString(Point p);
std::string toString(Size s);
std::string toString(const Rect& r);

}  // namespace platform
