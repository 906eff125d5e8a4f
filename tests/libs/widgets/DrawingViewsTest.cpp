// The drawn views: check marks in their four sizes, the spinning circle's arc and rotation, and
// the round progress view's pie and ring, read back from real drawings.

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/UITestDriver.h"
#include "support/Surfaces.h"
#include "widgets/CheckMarkView.h"
#include "widgets/RoundProgressView.h"
#include "widgets/SpinningCircle.h"

using platform::Color;
using platform::Point;
using platform::Rect;
using platform::UITestDriver;
using platform::View;

namespace {

// Draws `view` alone on a transparent surface at scale 2; the caller destroys it.
cairo_surface_t* draw(View& view) {
  Rect b = view.bounds();
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(b.width() * 2) + 2,
                                 static_cast<int>(b.height() * 2) + 2);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, 2, 2);
  platform::GraphicsContext context(cr);
  view.drawRect(context, b);
  cairo_destroy(cr);
  return surface;
}

TEST(DrawingViewsTest, CheckMarksComeInFourSizesAndLetTouchesThrough) {
  struct Case {
    int size;
    double side;
  };
  for (const Case& c : {Case{0, 8}, Case{1, 14}, Case{2, 30}, Case{3, 50}, Case{5, 0}}) {
    auto mark = CheckMarkView::checkMarkWithSize(c.size, Color::whiteColor());
    EXPECT_EQ(mark->frame(), Rect(0, 0, c.side, c.side)) << "size " << c.size;
    EXPECT_FALSE(mark->isOpaque());
  }
  auto large = CheckMarkView::checkMarkWithSize(3, Color::whiteColor());
  cairo_surface_t* surface = draw(*large);
  // On the 90-unit grid: the corner of the mark (32, 60) is inked, the hollow above it (32, 20)
  // is not.
  double u = 50.0 / 90;
  EXPECT_GT(testsupport::alphaAt(surface, 32 * u, 60 * u), 0u);
  EXPECT_EQ(testsupport::alphaAt(surface, 32 * u, 20 * u), 0u);
  cairo_surface_destroy(surface);

  auto behind = View::create(Rect{0, 0, 100, 100});
  behind->addSubview(large);
  EXPECT_EQ(behind->hitTest({20, 20}), behind) << "a tap on the mark reaches the view behind";
}

TEST(DrawingViewsTest, SpinningCircleSizesAndTouches) {
  struct Case {
    int size;
    double side;
  };
  for (const Case& c : {Case{0, 40}, Case{1, 50}, Case{2, 10}, Case{3, 0}}) {
    auto circle = SpinningCircle::circleWithSize(c.size, Color::redColor());
    EXPECT_EQ(circle->frame(), Rect(0, 0, c.side, c.side)) << "size " << c.size;
    EXPECT_EQ(circle->circleSize(), 0) << "left for the caller";
  }
  auto circle = SpinningCircle::circleWithSize(1, Color::redColor());
  auto behind = View::create(Rect{0, 0, 100, 100});
  behind->addSubview(circle);
  EXPECT_EQ(behind->hitTest({25, 25}), behind) << "without subviews touches go through";
  auto knob = View::create(Rect{20, 20, 10, 10});
  circle->addSubview(knob);
  EXPECT_EQ(behind->hitTest({25, 25}), knob);
}

TEST(DrawingViewsTest, SpinningCircleArcMovesOnWithEachDrawing) {
  auto circle = SpinningCircle::circleWithSize(1, Color::rgb(50 / 255.0, 155 / 255.0, 1));
  circle->setCircleSize(1);
  EXPECT_EQ(circle->lineWidth(), 3.25);
  cairo_surface_t* surface = draw(*circle);
  EXPECT_NEAR(circle->arcStart(), 0.05, 1e-12);
  // Radius ((50 - 16) - 3.25) / 2 = 15.375 around (25, 25); the first half turn runs from the
  // top through the right side: ink on the right, none on the left.
  EXPECT_GT(testsupport::alphaAt(surface, 25 + 15.375, 25), 0u);
  EXPECT_EQ(testsupport::alphaAt(surface, 25 - 15.375, 25), 0u);
  cairo_surface_destroy(surface);
  for (int i = 0; i < 62; ++i) cairo_surface_destroy(draw(*circle));
  EXPECT_LT(circle->arcStart(), M_PI) << "the start goes back to 0 once past pi";
}

TEST(DrawingViewsTest, SpinningCircleTurnsWhileAnimatingAndFadesWhenStopped) {
  platform::ScopedManualClock clock;
  UITestDriver::reset();
  auto circle = SpinningCircle::circleWithSize(1, Color::whiteColor());
  circle->setSpeed(0.55);
  circle->setIsAnimating(true);
  const platform::Animation* turn = circle->layer().animationForKey("rotationAnimation1");
  ASSERT_TRUE(turn);
  EXPECT_EQ(turn->keyPath, "transform.rotation.z");
  EXPECT_EQ(turn->values, (std::vector<double>{M_PI}));
  EXPECT_EQ(turn->duration, 0.55);
  EXPECT_TRUE(turn->cumulative);
  EXPECT_EQ(turn->repeatCount, std::numeric_limits<double>::infinity());
  circle->setIsAnimating(false);
  EXPECT_EQ(circle->alpha(), 0);
  UITestDriver::settle(0.45);
  EXPECT_TRUE(circle->layer().animationKeys().empty());
}

TEST(DrawingViewsTest, QuarterProgressPieFillsTheTopRightQuarter) {
  auto pie = RoundProgressView::create();
  EXPECT_EQ(pie->frame(), Rect(0, 0, 37, 37));
  pie->setProgressTintColor(Color::redColor());
  pie->setBackgroundTintColor(Color::clearColor());
  pie->setProgress(0.25);
  cairo_surface_t* surface = draw(*pie);
  // The wedge is white; the outline red; the rest of the disc clear.
  EXPECT_EQ(testsupport::pixelAt(surface, 24, 13), 0xFFFFFFu) << "top right";
  EXPECT_EQ(testsupport::alphaAt(surface, 24, 24), 0u) << "bottom right";
  EXPECT_EQ(testsupport::alphaAt(surface, 13, 24), 0u) << "bottom left";
  EXPECT_EQ(testsupport::alphaAt(surface, 13, 13), 0u) << "top left";
  cairo_surface_destroy(surface);
}

TEST(DrawingViewsTest, RingShowsProgressOverAFaintFullRing) {
  auto ring = RoundProgressView::create();
  ring->setAnnular(true);
  ring->setProgressTintColor(Color::redColor());
  ring->setBackgroundTintColor(Color::blueColor());
  ring->setProgress(0.5);
  cairo_surface_t* surface = draw(*ring);
  // Radius (37 - 5) / 2 = 16: the right half is the progress, the left half the background.
  EXPECT_EQ(testsupport::pixelAt(surface, 18.5 + 16, 18.5), 0xFF0000u);
  EXPECT_EQ(testsupport::pixelAt(surface, 18.5 - 16, 18.5), 0x0000FFu);
  cairo_surface_destroy(surface);
}

}  // namespace
