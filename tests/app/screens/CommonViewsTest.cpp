// The pieces several screens share: the area header's looks, the course and lecture rows, the
// check box and the portrait-only base screen.

#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "platform/ui/Image.h"
#include "platform/ui/UITestDriver.h"
#include "platform/ui/Window.h"
#include "screens/common/AreaTableHeaderView.h"
#include "screens/common/BaseViewController.h"
#include "screens/common/CheckBox.h"
#include "screens/common/CourseWareCell.h"
#include "screens/common/ReclassCell.h"

namespace {

using platform::Color;

constexpr Color kOrange = Color::rgb255(244, 142, 59);
constexpr Color kLight = Color::rgb255(248, 249, 244);
constexpr Color kGrey = Color::rgb255(150, 150, 150);
constexpr Color kFinished = Color::rgb255(200, 200, 200);
constexpr Color kAccent = Color::rgb255(240, 142, 59);

class CommonViewsTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::UITestDriver::reset(); }
  void TearDown() override { platform::UITestDriver::reset(); }
};

TEST_F(CommonViewsTest, HeaderCentresItsPictureAndShowsEachState) {
  auto header = AreaTableHeaderView::create(platform::Rect{0, 0, 320, 45});
  EXPECT_EQ(header->expendImageView()->center().y, 22.5);
  EXPECT_EQ(header->expendImageView()->tag(), 1);
  EXPECT_EQ(header->titleLabel()->tag(), 0);

  header->setSelectState(AreaTableHeaderView::kExpanded);
  EXPECT_EQ(header->expendImageView()->image()->name(), "head_jian");
  EXPECT_EQ(header->backgroundColor(), kOrange);
  EXPECT_EQ(header->titleLabel()->textColor(), Color::whiteColor());

  header->setSelectState(AreaTableHeaderView::kCollapsed);
  EXPECT_EQ(header->expendImageView()->image()->name(), "head_jia");
  EXPECT_EQ(header->backgroundColor(), kLight);
  EXPECT_EQ(header->titleLabel()->textColor(), Color::blackColor());

  header->setSelectState(7);
  EXPECT_EQ(header->selectState(), 7);
  EXPECT_EQ(header->expendImageView()->image()->name(), "head_jia") << "other values only store";
}

TEST_F(CommonViewsTest, HighlightHidesThePictureForGoodAndRestoresTheBackgroundLater) {
  platform::ScopedManualClock clock;
  auto header = AreaTableHeaderView::create(platform::Rect{0, 0, 320, 55});
  header->setSelectState(AreaTableHeaderView::kHighlighted);
  EXPECT_TRUE(header->expendImageView()->isHidden());
  const Color pressed = Color::rgb255(224, 224, 224);
  header->setBackgroundColor(pressed);
  platform::UITestDriver::settle(0.49);
  EXPECT_EQ(header->backgroundColor(), pressed);
  platform::UITestDriver::settle(0.02);
  EXPECT_EQ(header->backgroundColor(), kLight);

  header->setSelectState(AreaTableHeaderView::kExpanded);
  EXPECT_EQ(header->backgroundColor(), kOrange);
  EXPECT_EQ(header->titleLabel()->textColor(), Color::whiteColor());
  EXPECT_TRUE(header->expendImageView()->isHidden());
}

TEST_F(CommonViewsTest, CourseRowLooksFollowTheState) {
  auto cell = ReclassCell::create(platform::TableViewCellStyle::Default, std::string("IDENTIFIER"));
  struct Case {
    int state;
    const char* arrow;
    Color name, caption, listened;
  };
  const Case cases[] = {
      {0, "arraw", Color::blackColor(), kGrey, kAccent},
      {1, "arraw_finish", kFinished, kFinished, kFinished},
      {5, "arraw_finish", kFinished, kFinished, kFinished},
  };
  for (const auto& c : cases) {
    cell->setState(c.state);
    SCOPED_TRACE(c.state);
    EXPECT_EQ(cell->state(), c.state);
    EXPECT_EQ(cell->reclassNameLabel()->textColor(), c.name);
    EXPECT_EQ(cell->totalMinsLabel()->textColor(), c.caption);
    EXPECT_EQ(cell->lisMinsLabel()->textColor(), c.listened);
    auto arrow = std::dynamic_pointer_cast<platform::ImageView>(cell->contentView()->subviews()[0]);
    ASSERT_TRUE(arrow);
    EXPECT_EQ(arrow->image()->name(), c.arrow);
  }
  EXPECT_EQ(cell->reclassNameLabel()->frame(), (platform::Rect{23, 15, 280, 20}));
  EXPECT_EQ(cell->lisMinsLabel()->frame(), (platform::Rect{210, 37, 100, 20}));
}

TEST_F(CommonViewsTest, LectureRowLooksFollowTheState) {
  auto cell = CourseWareCell::create(platform::TableViewCellStyle::Default, std::string("cw"));
  cell->setState(3);
  EXPECT_EQ(cell->reclassNameLabel()->textColor(), kFinished);
  cell->setState(0);
  EXPECT_EQ(cell->reclassNameLabel()->textColor(), Color::blackColor());
  EXPECT_EQ(cell->reclassNameLabel()->frame(), (platform::Rect{10, 15, 280, 20}));
}

class BoxWatcher : public CheckBoxDelegate {
 public:
  void viewChecked(CheckBox& box) override { marks.push_back(box.checked()); }
  std::vector<bool> marks;
};

TEST_F(CommonViewsTest, CheckBoxIsSixteenPointsAndReportsEveryChange) {
  auto box = CheckBox::create(platform::Rect{30, 142, 100, 80});
  EXPECT_EQ(box->frame(), (platform::Rect{30, 142, 16, 16}));
  EXPECT_EQ(box->bgImageView()->image()->name(), "checkbox_uncheck_big");
  auto watcher = std::make_shared<BoxWatcher>();
  box->setDelegate(watcher);

  box->setChecked(true);  // by code: the delegate hears it too
  EXPECT_EQ(box->bgImageView()->image()->name(), "checkbox_check_big");

  auto window = platform::Window::create();
  window->addSubview(box);
  window->makeKeyAndVisible();
  platform::UITestDriver::tap(box);
  EXPECT_FALSE(box->checked());
  EXPECT_EQ(watcher->marks, (std::vector<bool>{true, false}));
}

TEST_F(CommonViewsTest, BaseScreensStayInPortrait) {
  auto screen = BaseViewController::create(std::string("AreaViewController"));
  EXPECT_TRUE(screen->shouldAutorotate());
  EXPECT_EQ(screen->supportedInterfaceOrientations(), platform::InterfaceOrientationMask::Portrait);
  EXPECT_TRUE(
      screen->shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation::Portrait));
  EXPECT_FALSE(screen->shouldAutorotateToInterfaceOrientation(
      platform::InterfaceOrientation::LandscapeLeft));
}

}  // namespace
