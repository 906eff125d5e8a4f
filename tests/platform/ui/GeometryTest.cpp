#include <gtest/gtest.h>

#include <cmath>

#include "platform/ui/Geometry.h"

namespace platform {
namespace {

TEST(GeometryTest, RectContainsIsHalfOpen) {
  Rect r{10, 20, 30, 40};
  EXPECT_TRUE(r.contains({10, 20}));
  EXPECT_TRUE(r.contains({39.9, 59.9}));
  EXPECT_FALSE(r.contains({40, 30}));
  EXPECT_FALSE(r.contains({20, 60}));
}

TEST(GeometryTest, TransformInverseUndoesRotationAndScale) {
  AffineTransform t = AffineTransform::rotation(-M_PI / 2).concat(AffineTransform::scale(2, 3));
  Point p = t.inverted().apply(t.apply({5, 7}));
  EXPECT_NEAR(p.x, 5, 1e-9);
  EXPECT_NEAR(p.y, 7, 1e-9);
}

}  // namespace
}  // namespace platform
