#include "platform/ui/Geometry.h"

#include <cstdio>

namespace platform {

// Formatted in one go: GCC 12 warns falsely (-Wrestrict) on chains of string concatenation here.
std::string toString(Point p) {
  char buffer[80];
  std::snprintf(buffer, sizeof buffer, "(%g, %g)", p.x, p.y);
  return buffer;
}

std::string toString(Size s) {
  char buffer[80];
  std::snprintf(buffer, sizeof buffer, "(%g x %g)", s.width, s.height);
  return buffer;
}

std::string toString(const Rect& r) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "(%g, %g, %g, %g)", r.x(), r.y(), r.width(), r.height());
  return buffer;
}

}  // namespace platform
