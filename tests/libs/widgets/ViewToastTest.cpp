// Toasts: the box built around a message, a title and an image, where it is placed, how long it
// stays on the clock, and the activity box a view keeps until it is hidden.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextMeasurer.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/Window.h"
#include "widgets/ViewToast.h"

using platform::Font;
using platform::Point;
using platform::Rect;
using platform::Size;
using platform::UITestDriver;
using platform::View;

namespace {

class ViewToastTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UITestDriver::reset();
    host = View::create(Rect{0, 0, 320, 416});
  }
  void TearDown() override { UITestDriver::reset(); }
  std::shared_ptr<View> host;
  platform::ScopedManualClock clock;
};

TEST_F(ViewToastTest, MessageAloneIsFramedTenPointsAllRound) {
  const std::string message = "开始下载选中课程，请到本地课程查看下载详情";
  auto box = ViewToast::viewForMessage(*host, message, std::nullopt, nullptr);
  ASSERT_TRUE(box);
  ASSERT_EQ(box->subviews().size(), 1u);
  auto label = std::dynamic_pointer_cast<platform::Label>(box->subviews()[0]);
  ASSERT_TRUE(label);
  Size text = platform::TextMeasurer::sizeOfText(message, Font::systemFont(16), {256, 332.8});
  EXPECT_EQ(label->frame(), Rect(10, 10, text.width, text.height));
  EXPECT_EQ(box->frame().size, (Size{text.width + 20, text.height + 20}));
  EXPECT_LE(label->frame().width(), 320 * 0.8) << "wraps within 0.8 of the host's width";
  EXPECT_EQ(box->layer().cornerRadius(), 10);
  EXPECT_EQ(box->layer().shadowOffset(), (Size{4, 4}));
  EXPECT_EQ(box->backgroundColor(), platform::Color::blackColor().withAlpha(0.8));
}

TEST_F(ViewToastTest, ImagePushesTheTextAHundredPointsIn) {
  auto box =
      ViewToast::viewForMessage(*host, "好", std::string("标题"), platform::Image::named("logo"));
  ASSERT_TRUE(box);
  ASSERT_EQ(box->subviews().size(), 3u) << "title, message, image";
  EXPECT_EQ(box->subviews()[0]->frame().x(), 100);
  EXPECT_EQ(box->subviews()[1]->frame().x(), 100);
  EXPECT_EQ(box->subviews()[1]->frame().y(), box->subviews()[0]->frame().maxY() + 10);
  EXPECT_EQ(box->subviews()[2]->frame(), Rect(10, 10, 80, 80));
  EXPECT_GE(box->frame().width(), 100);
  EXPECT_GE(box->frame().height(), 100);

  auto titleOnly = ViewToast::viewForMessage(*host, std::nullopt, std::string("标题"), nullptr);
  ASSERT_TRUE(titleOnly);
  EXPECT_EQ(titleOnly->frame().height(), titleOnly->subviews()[0]->frame().maxY() + 10)
      << "a title alone is framed like a message";
  EXPECT_EQ(ViewToast::viewForMessage(*host, std::nullopt, std::nullopt, nullptr), nullptr);
}

TEST_F(ViewToastTest, LongMessageIsCutAtEightTenthsOfTheHostsHeight) {
  std::string message;
  for (int i = 0; i < 400; ++i) message += "请稍候";
  auto box = ViewToast::viewForMessage(*host, message, std::nullopt, nullptr);
  EXPECT_LE(box->subviews()[0]->frame().height(), 416 * 0.8);
  EXPECT_GT(box->subviews()[0]->frame().height(), 416 * 0.8 - 30);
}

TEST_F(ViewToastTest, PositionsPlaceTheCentre) {
  auto toast = View::create(Rect{0, 0, 100, 40});
  struct Case {
    ToastPosition position;
    Point center;
  };
  std::vector<Case> cases{
      {std::string("top"), {160, 30}},     {std::string("CENTER"), {160, 208}},
      {std::string("Bottom"), {160, 386}}, {std::string("middle"), {160, 386}},
      {std::monostate{}, {160, 386}},      {Point{50, 60}, {50, 60}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ViewToast::centerPointForPosition(*host, c.position, *toast), c.center);
  }
}

TEST_F(ViewToastTest, ToastLivesItsDurationPlusTwoFades) {
  ViewToast::makeToast(*host, "开始下载选中课程，请到本地课程查看下载详情", 1.5,
                       std::string("center"), std::shared_ptr<platform::Image>());
  ASSERT_EQ(host->subviews().size(), 1u);
  auto toast = host->subviews()[0];
  EXPECT_EQ(toast->center(), (Point{160, 208}));
  UITestDriver::settle(0.2);
  EXPECT_EQ(toast->presentation().alpha, 1) << "faded in";
  UITestDriver::settle(1.5 - 0.01);
  EXPECT_EQ(toast->presentation().alpha, 1) << "still shown to the end of its duration";
  UITestDriver::settle(0.2);
  EXPECT_EQ(toast->presentation().alpha, 0) << "fading out";
  EXPECT_EQ(toast->superview(), host);
  UITestDriver::settle(0.02);
  EXPECT_TRUE(host->subviews().empty()) << "gone after 1.5 + 0.4 seconds";
}

TEST_F(ViewToastTest, NothingToShowShowsNothing) {
  ViewToast::makeToast(*host, std::nullopt);
  EXPECT_TRUE(host->subviews().empty());
}

TEST_F(ViewToastTest, ToastsAreNotQueued) {
  ViewToast::makeToast(*host, "一");
  ViewToast::makeToast(*host, "二", 1, std::string("top"));
  EXPECT_EQ(host->subviews().size(), 2u);
  UITestDriver::settle(1.45);
  EXPECT_EQ(host->subviews().size(), 1u) << "each on its own timing";
}

TEST_F(ViewToastTest, HostKeepsOneActivityBoxUntilItIsHidden) {
  ViewToast::hideToastActivity(*host);  // none yet: nothing happens
  ViewToast::makeToastActivity(*host);
  auto box = ViewToast::toastActivity(*host);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->frame(), Rect(110, 158, 100, 100));
  EXPECT_EQ(box->subviews()[0]->center(), (Point{50, 50}));
  ViewToast::makeToastActivity(*host, std::string("top"));
  EXPECT_EQ(host->subviews().size(), 1u) << "a second one is not made";
  ViewToast::hideToastActivity(*host);
  EXPECT_EQ(ViewToast::toastActivity(*host), box) << "remembered until its fade ends";
  UITestDriver::settle(0.2);
  EXPECT_TRUE(host->subviews().empty());
  EXPECT_EQ(ViewToast::toastActivity(*host), nullptr);
  ViewToast::makeToastActivity(*host);
  EXPECT_NE(ViewToast::toastActivity(*host), nullptr) << "a new one can be made";
}

}  // namespace
