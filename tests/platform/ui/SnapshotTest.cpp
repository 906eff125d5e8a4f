// Drawing a window to PNG: Chinese text must come out as real glyphs of the CJK face, not as
// blank space and not as the boxes drawn for characters no font has; missing pictures draw as
// labelled placeholders; the status bar is drawn as the phone draws it.

#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/foundation/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/GraphicsContext.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"
#include "platform/ui/StatusBar.h"
#include "platform/ui/TextMeasurer.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "support/Surfaces.h"
#include "support/TempHome.h"

namespace platform {
namespace {

// Counts the pixels of `surface` inside `rect` (points, at scale 2) that are darker than mid grey.
int darkPixels(cairo_surface_t* surface, const Rect& rect) {
  cairo_surface_flush(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  int stride = cairo_image_surface_get_stride(surface);
  int count = 0;
  for (int y = static_cast<int>(rect.minY() * 2); y < static_cast<int>(rect.maxY() * 2); ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + y * stride);
    for (int x = static_cast<int>(rect.minX() * 2); x < static_cast<int>(rect.maxX() * 2); ++x) {
      uint32_t p = row[x];
      int luminance = (((p >> 16) & 0xff) + ((p >> 8) & 0xff) + (p & 0xff)) / 3;
      if (luminance < 128) ++count;
    }
  }
  return count;
}

// Pixels that differ between two surfaces of the same size inside `rect`.
int differingPixels(cairo_surface_t* a, cairo_surface_t* b, const Rect& rect) {
  cairo_surface_flush(a);
  cairo_surface_flush(b);
  int stride = cairo_image_surface_get_stride(a);
  int count = 0;
  for (int y = static_cast<int>(rect.minY() * 2); y < static_cast<int>(rect.maxY() * 2); ++y) {
    auto* ra = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(a) + y * stride);
    auto* rb = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(b) + y * stride);
    for (int x = static_cast<int>(rect.minX() * 2); x < static_cast<int>(rect.maxX() * 2); ++x) {
      if (ra[x] != rb[x]) ++count;
    }
  }
  return count;
}

class SnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UITestDriver::reset();
    screen = ViewController::create();
    screen->view()->setBackgroundColor(Color::whiteColor());
    label = Label::create(Rect{10, 40, 300, 40});
    label->setFont(Font::boldSystemFont(20));
    screen->view()->addSubview(label);
    window = Window::create();
    window->setRootViewController(screen);
    window->makeKeyAndVisible();
    folder = testsupport::makeTempFolder("ui-snapshot");
  }
  void TearDown() override {
    UITestDriver::reset();
    std::filesystem::remove_all(folder);
  }

  // The label's rectangle in the window.
  Rect labelRect() const { return label->convertRectToView(label->bounds(), nullptr); }

  std::shared_ptr<ViewController> screen;
  std::shared_ptr<Label> label;
  std::shared_ptr<Window> window;
  std::string folder;
};

TEST_F(SnapshotTest, ChineseTextIsDrawnWithRealGlyphs) {
  const std::string text = "澄衡会计继续教育";
  ASSERT_TRUE(TextMeasurer::fontCovers(text, label->font())) << "the CJK face is not installed";
  label->setText(text);
  std::string path = folder + "/window.png";
  std::string error;
  ASSERT_TRUE(window->snapshot(path, &error)) << error;

  cairo_surface_t* drawn = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(drawn), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(drawn), 640);
  EXPECT_EQ(cairo_image_surface_get_height(drawn), 960);
  int ink = darkPixels(drawn, labelRect());
  EXPECT_GT(ink, 400) << "the text is blank";

  // The same number of characters that no font has: pango draws its missing-glyph boxes.
  const std::string missing = "\uE000\uE001\uE002\uE003\uE004\uE005\uE006\uE007";
  EXPECT_FALSE(TextMeasurer::fontCovers(missing, label->font()));
  label->setText(missing);
  cairo_surface_t* boxes = window->renderToSurface();
  EXPECT_GT(differingPixels(drawn, boxes, labelRect()), ink / 2)
      << "the text looks like missing-glyph boxes";
  cairo_surface_destroy(boxes);
  cairo_surface_destroy(drawn);
}

TEST_F(SnapshotTest, LabelWithAnyNumberOfLinesWrapsItsText) {
  std::string text;
  for (int i = 0; i < 30; ++i) text += "澄衡";
  label->setFrame({10, 40, 300, 100});
  label->setFont(Font::systemFont(14));
  label->setNumberOfLines(0);
  label->setText(text);
  Size needed = label->sizeThatFits({300, 0});
  EXPECT_GT(needed.height, 3 * 14) << "sixty characters of 14 points need several lines of 300";
  cairo_surface_t* surface = window->renderToSurface();
  Rect rect = labelRect();
  int firstLine = darkPixels(surface, {rect.x(), rect.y(), rect.width(), rect.height() / 3});
  int lastLine = darkPixels(
      surface, {rect.x(), rect.y() + rect.height() * 2 / 3, rect.width(), rect.height() / 3});
  EXPECT_GT(firstLine, 100);
  EXPECT_GT(lastLine, 100) << "the text runs on to the lower lines";
  cairo_surface_destroy(surface);
}

// A view that fills a 10-point square at its own (10, 10) in red.
class RedSquare : public View {
  CH_SHARED_OBJECT(RedSquare)

 public:
  using View::View;
  void drawRect(GraphicsContext& context, const Rect&) override {
    context.setFillColor(Color::redColor());
    context.fillRect({10, 10, 10, 10});
  }
};

uint32_t pixelAt(cairo_surface_t* surface, Point p) {
  cairo_surface_flush(surface);
  int stride = cairo_image_surface_get_stride(surface);
  auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface) +
                                                static_cast<int>(p.y * 2) * stride);
  return row[static_cast<int>(p.x * 2)] & 0xffffff;
}

TEST_F(SnapshotTest, ViewsDrawBackgroundCornersBordersAndTheirOwnDrawing) {
  auto square = RedSquare::create(Rect{100, 300, 40, 40});
  screen->view()->addSubview(square);
  auto rounded = View::create(Rect{200, 300, 60, 60});
  rounded->setBackgroundColor(Color::rgb255(0, 0, 255));
  rounded->layer().setCornerRadius(20);
  rounded->layer().setBorderWidth(4);
  rounded->layer().setBorderColor(Color::rgb255(0, 255, 0));
  screen->view()->addSubview(rounded);
  cairo_surface_t* surface = window->renderToSurface();
  Point origin = square->convertPointToView({0, 0}, nullptr);
  EXPECT_EQ(pixelAt(surface, {origin.x + 15, origin.y + 15}), 0xff0000u) << "drawRect's square";
  EXPECT_EQ(pixelAt(surface, {origin.x + 5, origin.y + 5}), 0xffffffu) << "outside it";
  Point r = rounded->convertPointToView({0, 0}, nullptr);
  EXPECT_EQ(pixelAt(surface, {r.x + 30, r.y + 30}), 0x0000ffu) << "background";
  EXPECT_EQ(pixelAt(surface, {r.x + 30, r.y + 1}), 0x00ff00u) << "border";
  EXPECT_EQ(pixelAt(surface, {r.x + 1, r.y + 1}), 0xffffffu) << "the rounded corner is cut";
  cairo_surface_destroy(surface);
}

TEST_F(SnapshotTest, DelayedFadeKeepsTheViewOnScreenUntilItsDelayHasPassed) {
  ScopedManualClock clock;
  auto box = View::create(Rect{100, 300, 40, 40});
  box->setBackgroundColor(Color::blackColor());
  box->setAlpha(0);
  screen->view()->addSubview(box);
  Rect rect = box->convertRectToView(box->bounds(), nullptr);
  auto inkNow = [&] {
    cairo_surface_t* surface = window->renderToSurface();
    int ink = darkPixels(surface, rect);
    cairo_surface_destroy(surface);
    return ink;
  };
  bool gone = false;
  View::animate(
      0.2, [&] { box->setAlpha(1); },
      [&](bool) {
        View::animate(
            0.2, [&] { box->setAlpha(0); }, [&](bool) { gone = true; }, 1.5);
      });
  EXPECT_EQ(box->alpha(), 1) << "no delay: the end state at once";
  EXPECT_GT(inkNow(), 0);
  UITestDriver::settle(0.2);
  EXPECT_EQ(box->alpha(), 0) << "the model value changes at once";
  EXPECT_EQ(box->presentation().alpha, 1) << "but the view shows what it showed before";
  EXPECT_GT(inkNow(), 0);
  UITestDriver::settle(1.49);
  EXPECT_GT(inkNow(), 0) << "still there just before the delay ends";
  UITestDriver::settle(0.02);
  EXPECT_EQ(inkNow(), 0) << "the fade runs once the delay has passed";
  EXPECT_FALSE(gone);
  UITestDriver::settle(0.2);
  EXPECT_TRUE(gone);
}

TEST_F(SnapshotTest, ChangeOutsideAnAnimationShowsAtOnce) {
  ScopedManualClock clock;
  auto box = View::create(Rect{100, 300, 40, 40});
  View::animate(
      0.3,
      [&] {
        box->setCenter({10, 10});
      },
      {}, 2);
  EXPECT_EQ(box->presentation().center, (Point{120, 320}));
  box->setCenter({50, 50});
  EXPECT_EQ(box->presentation().center, (Point{50, 50}));
}

TEST_F(SnapshotTest, ArcFlagFollowsThePlatformsConvention) {
  struct Case {
    int clockwise;
    bool quarterFilled[4];  // top right, bottom right, bottom left, top left
  };
  // A pie from twelve o'clock to a quarter turn on, as a 25% progress pie is drawn.
  std::vector<Case> cases{{0, {true, false, false, false}}, {1, {false, true, true, true}}};
  for (const auto& c : cases) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 200, 200);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, 2, 2);
    GraphicsContext context(cr);
    context.setFillColor(Color::blackColor());
    context.beginPath();
    context.moveTo(50, 50);
    context.addArc(50, 50, 40, -M_PI / 2, 0.25 * 2 * M_PI - M_PI / 2, c.clockwise);
    context.closePath();
    context.fillPath();
    cairo_destroy(cr);
    Point probes[4] = {{70, 30}, {70, 70}, {30, 70}, {30, 30}};
    for (int q = 0; q < 4; ++q) {
      bool filled = testsupport::alphaAt(surface, probes[q].x, probes[q].y) != 0;
      EXPECT_EQ(filled, c.quarterFilled[q]) << "flag " << c.clockwise << " quarter " << q;
    }
    cairo_surface_destroy(surface);
  }
}

TEST_F(SnapshotTest, TallScreenModeGivesATallerPicture) {
  Screen::mainScreen().setTall(true);
  auto tall = Window::create();
  tall->makeKeyAndVisible();
  cairo_surface_t* surface = tall->renderToSurface();
  EXPECT_EQ(cairo_image_surface_get_height(surface), 1136);
  cairo_surface_destroy(surface);
  EXPECT_TRUE(Screen::mainScreen().isTallMode());
}

TEST_F(SnapshotTest, MissingImageDrawsAsAPlaceholderOfItsSize) {
  auto image = Image::named("no_such_picture_here");
  ASSERT_TRUE(image);
  EXPECT_TRUE(image->isMissing());
  EXPECT_EQ(image->size(), Size{});
  auto view = ImageView::create(Rect{100, 200, 80, 60});
  view->setImage(image);
  screen->view()->addSubview(view);
  cairo_surface_t* surface = window->renderToSurface();
  Rect rect = view->convertRectToView(view->bounds(), nullptr);
  EXPECT_GT(darkPixels(surface, rect), 50) << "the placeholder has its outline, cross and name";
  EXPECT_EQ(darkPixels(surface, rect.offsetBy(0, 70)), 0) << "and nothing outside its frame";
  cairo_surface_destroy(surface);
}

TEST_F(SnapshotTest, TheStatusBarIsDrawnAsThePhoneDrawsItUnlessHidden) {
  ScopedManualClock clock;
  auto& app = Application::sharedApplication();
  const int style = app.statusBarStyle();
  cairo_surface_t* light = window->renderToSurface();
  EXPECT_EQ(testsupport::pixelsNotOf(light, 0, 0, 320, StatusBar::kHeight, 0x000000), 320 * 20 * 4)
      << "no black band: the default style is light";
  EXPECT_GT(darkPixels(light, {130, 0, 60, StatusBar::kHeight}), 20) << "the time in the middle";
  EXPECT_GT(darkPixels(light, {260, 0, 60, StatusBar::kHeight}), 20) << "the battery";

  clock->advanceSeconds(60);
  cairo_surface_t* later = window->renderToSurface();
  EXPECT_GT(differingPixels(light, later, {130, 0, 60, StatusBar::kHeight}), 0)
      << "the time follows the clock";
  EXPECT_EQ(differingPixels(light, later, {0, 0, 120, StatusBar::kHeight}), 0);

  app.setStatusBarStyle(1);
  cairo_surface_t* black = window->renderToSurface();
  EXPECT_EQ(testsupport::pixelAt(black, 1, 1), 0x000000u);
  EXPECT_GT(differingPixels(black, later, {130, 0, 60, StatusBar::kHeight}), 20)
      << "white text on black";
  app.setStatusBarStyle(style);

  app.setStatusBarHidden(true);
  window->updateInterfaceOrientation();
  cairo_surface_t* hidden = window->renderToSurface();
  EXPECT_EQ(testsupport::pixelsNotOf(hidden, 0, 0, 320, StatusBar::kHeight, 0xFFFFFF), 0)
      << "the screen's own white reaches the top";
  app.setStatusBarHidden(false);
  window->updateInterfaceOrientation();
  for (auto* surface : {light, later, black, hidden}) cairo_surface_destroy(surface);
}

TEST_F(SnapshotTest, TheStatusBarShowsTheLocalHourAndMinutes) {
  const char* zone = std::getenv("TZ");
  const std::string previous = zone ? zone : "";
  ::setenv("TZ", "CST-8", 1);  // China's time, eight hours ahead of UTC, in POSIX form
  ::tzset();
  const std::pair<double, const char*> cases[] = {
      {1767225600, "8:00"},  // 2026-01-01 00:00 UTC
      {1767268800 + 59, "20:00"},
      {1767225600 + 15 * 3600 + 41 * 60, "23:41"},
  };
  for (const auto& [seconds, text] : cases)
    EXPECT_EQ(StatusBar::timeText(dateFromSeconds(seconds)), text) << seconds;
  if (zone) {
    ::setenv("TZ", previous.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

TEST_F(SnapshotTest, UnwritablePathIsReported) {
  std::string error;
  EXPECT_FALSE(window->snapshot(folder + "/missing/dir/x.png", &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace platform
