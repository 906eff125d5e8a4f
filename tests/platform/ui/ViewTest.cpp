#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/foundation/Assert.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

// Views and controllers hand out `shared_from_this`, so only `create` makes them.
static_assert(!std::is_constructible_v<View>);
static_assert(!std::is_constructible_v<Window, Rect>);
static_assert(!std::is_constructible_v<ViewController>);

// A view whose touch area is a circle inscribed in its bounds.
class RoundView : public View {
  CH_SHARED_OBJECT(RoundView)

 public:
  using View::View;
  bool pointInside(Point p) const override {
    Rect b = bounds();
    double dx = p.x - b.midX(), dy = p.y - b.midY();
    return dx * dx + dy * dy <= (b.width() / 2) * (b.width() / 2);
  }
};

TEST(ViewTest, HitTestFollowsThePlatformsRules) {
  struct Case {
    const char* name;
    std::function<void(View& parent, View& child)> setUp;
    Point point;           // in the root's coordinates
    const char* expected;  // "child", "parent", "root" or "none"
  };
  std::vector<Case> cases{
      {"child under the point", [](View&, View&) {}, {60, 60}, "child"},
      {"parent around the child", [](View&, View&) {}, {15, 15}, "parent"},
      {"hidden child", [](View&, View& c) { c.setHidden(true); }, {60, 60}, "parent"},
      {"child with alpha below 0.01",
       [](View&, View& c) { c.setAlpha(0.009); },
       {60, 60},
       "parent"},
      {"child with alpha 0.01", [](View&, View& c) { c.setAlpha(0.01); }, {60, 60}, "child"},
      {"child without interaction",
       [](View&, View& c) { c.setUserInteractionEnabled(false); },
       {60, 60},
       "parent"},
      {"parent without interaction hides its child",
       [](View& p, View&) { p.setUserInteractionEnabled(false); },
       {60, 60},
       "root"},
      {"child sticking out of its parent",
       [](View&, View& c) {
         c.setFrame({40, 40, 200, 200});
       },
       {150, 150},
       "root"},
      {"child moved by the parent's bounds origin",
       [](View& p, View&) {
         p.setBounds({30, 30, 100, 100});
       },
       {25, 25},
       "child"},
      {"far edge is outside", [](View&, View&) {}, {90, 60}, "parent"},
      {"outside everything", [](View&, View&) {}, {500, 500}, "none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto root = View::create(Rect{0, 0, 320, 480});
    auto parent = View::create(Rect{10, 10, 100, 100});
    auto child = View::create(Rect{40, 40, 40, 40});
    root->addSubview(parent);
    parent->addSubview(child);
    c.setUp(*parent, *child);
    auto hit = root->hitTest(c.point);
    std::string got = !hit ? "none" : hit == child ? "child" : hit == parent ? "parent" : "root";
    EXPECT_EQ(got, c.expected);
  }
}

TEST(ViewTest, PointInsideCanBeOverridden) {
  auto root = View::create(Rect{0, 0, 200, 200});
  auto round = RoundView::create(Rect{0, 0, 100, 100});
  root->addSubview(round);
  EXPECT_EQ(root->hitTest({50, 50}), round);
  EXPECT_EQ(root->hitTest({3, 3}), root) << "the corner is outside the circle";
}

TEST(ViewTest, LaterSubviewsAreInFront) {
  auto root = View::create(Rect{0, 0, 100, 100});
  auto back = View::create(Rect{0, 0, 100, 100});
  auto front = View::create(Rect{0, 0, 100, 100});
  root->addSubview(back);
  root->addSubview(front);
  EXPECT_EQ(root->hitTest({5, 5}), front);
  root->bringSubviewToFront(back.get());
  EXPECT_EQ(root->hitTest({5, 5}), back);
  root->insertSubviewBelow(back, front.get());
  EXPECT_EQ(root->subviews(), (std::vector<std::shared_ptr<View>>{back, front}));
}

TEST(ViewTest, CoordinatesConvertThroughScrollingAndTransforms) {
  auto window = Window::create();
  auto scroll = ScrollView::create(Rect{0, 100, 320, 200});
  scroll->setContentSize({640, 200});
  window->addSubview(scroll);
  auto page = View::create(Rect{320, 10, 320, 50});
  scroll->addSubview(page);
  scroll->setContentOffset({320, 0});
  EXPECT_EQ(page->convertPointToView({0, 0}, nullptr), (Point{0, 110}));
  EXPECT_EQ(page->convertPointFromView({5, 115}, nullptr), (Point{5, 5}));

  auto turned = View::create(Rect{100, 100, 100, 30});
  window->addSubview(turned);
  turned->setTransform(AffineTransform::rotation(-M_PI / 2));
  Rect f = turned->frame();
  EXPECT_NEAR(f.width(), 30, 1e-9);
  EXPECT_NEAR(f.height(), 100, 1e-9);
  Point back = turned->convertPointFromView(turned->convertPointToView({10, 5}, nullptr), nullptr);
  EXPECT_NEAR(back.x, 10, 1e-9);
  EXPECT_NEAR(back.y, 5, 1e-9);
}

TEST(ViewTest, AutoresizingMasksFollowTheSuperviewsSize) {
  struct Case {
    unsigned mask;
    Rect expected;
  };
  using namespace Autoresizing;
  // A 100 x 100 child at (20, 30) in a 200 x 200 parent that grows to 300 x 260.
  std::vector<Case> cases{
      {None, {20, 30, 100, 100}},
      {FlexibleWidth, {20, 30, 200, 100}},
      {FlexibleHeight, {20, 30, 100, 160}},
      {FlexibleLeftMargin, {120, 30, 100, 100}},
      {FlexibleTopMargin, {20, 90, 100, 100}},
      {FlexibleLeftMargin | FlexibleRightMargin, {20 + 100 * 20.0 / 100, 30, 100, 100}},
      {FlexibleWidth | FlexibleHeight, {20, 30, 200, 160}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask);
    auto parent = View::create(Rect{0, 0, 200, 200});
    auto child = View::create(Rect{20, 30, 100, 100});
    child->setAutoresizingMask(c.mask);
    parent->addSubview(child);
    parent->setFrame({0, 0, 300, 260});
    Rect f = child->frame();
    EXPECT_NEAR(f.x(), c.expected.x(), 1e-9);
    EXPECT_NEAR(f.y(), c.expected.y(), 1e-9);
    EXPECT_NEAR(f.width(), c.expected.width(), 1e-9);
    EXPECT_NEAR(f.height(), c.expected.height(), 1e-9);
  }
}

TEST(ViewTest, ViewWithTagSearchesDepthFirstIncludingItself) {
  auto root = View::create();
  auto a = View::create();
  auto b = View::create();
  auto deep = View::create();
  a->setTag(1);
  b->setTag(2);
  deep->setTag(2);
  a->addSubview(deep);
  root->addSubview(a);
  root->addSubview(b);
  EXPECT_EQ(root->viewWithTag(2), deep);
  EXPECT_EQ(root->viewWithTag(0), root);
  EXPECT_EQ(root->viewWithTag(7), nullptr);
}

TEST(ViewTest, RemovingAndDestroyingParentsClearsBackPointers) {
  auto window = Window::create();
  auto child = View::create();
  {
    auto parent = View::create();
    parent->addSubview(child);
    window->addSubview(parent);
    EXPECT_EQ(child->window(), window.get());
    parent->removeFromSuperview();
    EXPECT_EQ(child->window(), nullptr);
    EXPECT_EQ(child->superview(), parent);
  }
  EXPECT_EQ(child->superview(), nullptr);
  EXPECT_EQ(child->superviewPointer(), nullptr);
}

class CountingLayout : public View {
  CH_SHARED_OBJECT(CountingLayout)

 public:
  using View::View;
  void layoutSubviews() override { ++layouts; }
  int layouts = 0;
};

TEST(ViewTest, LayoutRunsOnlyWhenNeeded) {
  auto view = CountingLayout::create(Rect{0, 0, 10, 10});
  view->layoutIfNeeded();
  view->layoutIfNeeded();
  EXPECT_EQ(view->layouts, 1);
  view->setFrame({0, 0, 20, 10});
  view->layoutIfNeeded();
  EXPECT_EQ(view->layouts, 2) << "a size change asks for layout";
  view->setFrame({5, 5, 20, 10});
  view->layoutIfNeeded();
  EXPECT_EQ(view->layouts, 2) << "moving does not";
}

#ifndef NDEBUG
// Debug builds refuse a change of the tree from another thread instead of racing the main one.
TEST(ViewTest, TreeChangesOffTheMainThreadFailInDebugBuilds) {
  auto root = View::create(Rect{0, 0, 10, 10});
  auto child = View::create();
  std::string failure;
  std::thread([&] {
    try {
      root->addSubview(child);
    } catch (const AssertionFailure& e) {
      failure = e.what();
    }
  }).join();
  EXPECT_NE(failure.find("View::addSubview"), std::string::npos) << failure;
  EXPECT_TRUE(root->subviews().empty());
  root->addSubview(child);
  EXPECT_EQ(child->superview(), root);
}
#endif

}  // namespace
}  // namespace platform
