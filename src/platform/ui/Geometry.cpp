#include "platform/ui/Geometry.h"

#include <cstdio>

namespace platform {

namespace {
std::string number(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", v);
  return buffer;
}
}  // namespace

std::string toString(Point p) { return "(" + number(p.x) + ", " + number(p.y) + ")"; }

std::string toString(Size s) { return "(" + number(s.width) + " x " + number(s.height) + ")"; }

std::string toString(const Rect& r) {
  return "(" + number(r.x()) + ", " + number(r.y()) + ", " + number(r.width()) + ", " +
         number(r.height()) + ")";
}

}  // namespace platform
