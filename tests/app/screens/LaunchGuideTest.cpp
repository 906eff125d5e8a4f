// The first-run guide: its pages, the paging between the dots and the scroll view, picture
// frames from picture sizes, the tall screen, and the start button.

#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"
#include "platform/ui/UIRecorder.h"
#include "platform/ui/UITestDriver.h"
#include "screens/login/AreaViewController.h"
#include "screens/start/LaunchController.h"
#include "screens/start/NetStateView.h"

namespace {

using platform::UITestDriver;

class LaunchGuideTest : public screentest::ScreenTest {
 protected:
  std::shared_ptr<LaunchController> showGuide() {
    auto guide = LaunchController::create();
    window->setRootViewController(guide);
    window->makeKeyAndVisible();
    return guide;
  }

  // The texts of the labels on page `page` (1 to 6), top to bottom.
  std::vector<std::string> pageTexts(LaunchController& guide, int page) {
    std::vector<std::string> texts;
    auto pageView = guide.launchScroll()->subviews()[page - 1];
    for (const auto& view : pageView->subviews())
      if (auto label = std::dynamic_pointer_cast<platform::Label>(view))
        texts.push_back(label->text());
    return texts;
  }
};

TEST_F(LaunchGuideTest, PagesCarryTheirTextsAndPictures) {
  auto guide = showGuide();
  EXPECT_EQ(guide->launchScroll()->contentSize(), (platform::Size{320 * 7, 480}));
  EXPECT_TRUE(guide->launchScroll()->isPagingEnabled());
  EXPECT_EQ(pageTexts(*guide, 1),
            (std::vector<std::string>{"选择地区", "选择您参加继续教育的地区"}));
  EXPECT_EQ(pageTexts(*guide, 2),
            (std::vector<std::string>{"登录", "根据地区账号，", "选择在线登录/离线登录方式"}));
  EXPECT_EQ(pageTexts(*guide, 6),
            (std::vector<std::string>{"学习记录", "同步累计 “我的课程” 和 “本地课程” ",
                                      "学习记录，连网同步学习记录到系统中"}));
  auto lastPage =
      std::dynamic_pointer_cast<platform::ImageView>(guide->launchScroll()->subviews()[6]);
  ASSERT_TRUE(lastPage);
  EXPECT_EQ(lastPage->image()->name(), "help7.png");
  EXPECT_EQ(lastPage->frame(), (platform::Rect{1920, 0, 320, 480}));
  EXPECT_EQ(guide->beginButton()->frame(), (platform::Rect{112, 230, 100, 30}));
}

TEST_F(LaunchGuideTest, PictureFramesFollowThePictureSize) {
  struct Case {
    int page;
    platform::Rect expected;
  };
  const Case cases[] = {
      {1, {60, 100, 200, 135}},   {2, {60, 115, 200, 135}},   {3, {67.5, 115, 185, 150}},
      {4, {67.5, 115, 185, 150}}, {5, {67.5, 115, 185, 150}}, {6, {60, 115, 200, 135}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(LaunchController::pictureFrame(c.page, {400, 300}), c.expected) << "page " << c.page;
}

TEST_F(LaunchGuideTest, SwipingMovesTheDotsAndTheDotsScroll) {
  platform::ScopedManualClock clock;
  auto guide = showGuide();
  UITestDriver::scrollTo(guide->launchScroll(), {640, 0});
  EXPECT_EQ(guide->launchPage()->currentPage(), 2);

  // A tap right of the current dot.
  UITestDriver::tapAt(*window, guide->launchPage()->convertPointToWindow({58, 10}));
  EXPECT_EQ(guide->launchPage()->currentPage(), 3);
  UITestDriver::settle(0.5);
  EXPECT_EQ(guide->launchScroll()->contentOffset(), (platform::Point{960, 0}));
}

TEST_F(LaunchGuideTest, TallScreenPagesAreTallerAndTheDotsSitAboveTheBottom) {
  platform::Screen::mainScreen().setTall(true);
  auto guide = showGuide();
  EXPECT_EQ(guide->launchScroll()->frame().height(), 568);
  EXPECT_EQ(guide->launchPage()->frame().maxY(), guide->view()->frame().height() - 15);
  EXPECT_EQ(guide->launchPage()->frame().y(), guide->view()->frame().height() - 35);
}

TEST_F(LaunchGuideTest, StartClearsTheVersionsFlagAndPresentsTheAreaScreen) {
  const std::string key = "fistLaunched_" + platform::Bundle::main().version();
  platform::UserDefaults::standard().set(key, true);
  auto guide = showGuide();
  UITestDriver::scrollTo(guide->launchScroll(), {1920, 0});
  UITestDriver::tap(guide->beginButton());
  EXPECT_FALSE(platform::UserDefaults::standard().boolForKey(key));
  EXPECT_FALSE(platform::UserDefaults(platform::UserDefaults::standard().path()).boolForKey(key))
      << "written out at once";
  auto presented =
      std::dynamic_pointer_cast<platform::NavigationController>(guide->presentedViewController());
  ASSERT_TRUE(presented);
  EXPECT_TRUE(std::dynamic_pointer_cast<AreaViewController>(presented->topViewController()));
  EXPECT_EQ(window->rootViewController(), guide) << "the guide stays the root underneath";
}

TEST_F(LaunchGuideTest, NetStateViewAlertsOnlyOnceToldYes) {
  auto quiet = NetStateView::create();
  quiet->addNetState("NO");
  auto listening = NetStateView::create();
  listening->addNetState("YES");
  platform::UIRecorder recorder;
  platform::NotificationCenter::defaultCenter().post(kReachableViaWWANNotification);
  ASSERT_EQ(recorder.alerts().size(), 1u);
  EXPECT_EQ(recorder.alerts()[0].title, "提示");
  EXPECT_EQ(recorder.alerts()[0].buttons, (std::vector<std::string>{"确定"}));
}

}  // namespace
