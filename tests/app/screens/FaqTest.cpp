// The FAQ screen: its six fixed rows in order, the row heights from the measured texts, the row
// layout and the back button.

#include <gtest/gtest.h>

#include <map>

#include "ScreenTestSupport.h"
#include "platform/ui/Button.h"
#include "platform/ui/UIRecorder.h"
#include "platform/ui/UITestDriver.h"
#include "screens/settings/AboutViewController.h"
#include "screens/settings/AnswerCell.h"
#include "screens/settings/AnswerViewController.h"
#include "util/ViewUtil.h"

namespace {

// Heights by text: the test decides how many lines each text takes.
class TableMeasurer : public TextMeasurer {
 public:
  float heightForText(std::string_view text, float, float width) const override {
    widths.push_back(width);
    auto found = heights.find(std::string(text));
    return found == heights.end() ? 40 : found->second;
  }
  std::map<std::string, float> heights;
  mutable std::vector<float> widths;
};

const char* const kQuestions[] = {
    "如果地区选择错误，可以登录吗？",
    "听课学时是如何记录的呢？重复听同一讲课，学习时间会累加吗？",
    "课程学习时间是如何累计的？",
    "如何知道我的课程已经学完？",
    "是否在移动设备上学习完毕就可以完成继续教育课程了呢？",
    "学习记录是如何同步的呢？",
};

class FaqTest : public screentest::ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    for (const char* question : kQuestions) measurer->heights[question] = 16;
    ViewUtil::setTextMeasurer(measurer);
  }
  void TearDown() override {
    ViewUtil::setTextMeasurer(nullptr);
    ScreenTest::TearDown();
  }

  double rowHeight(int row) { return *faq->heightForRowAtIndexPath(*faq->ansTable(), {0, row}); }

  std::shared_ptr<TableMeasurer> measurer = std::make_shared<TableMeasurer>();
  std::shared_ptr<AnswerViewController> faq = AnswerViewController::create();
};

TEST_F(FaqTest, SixQuestionsInOrderWithTheirAnswers) {
  show(faq);
  auto table = faq->ansTable();
  ASSERT_EQ(table->numberOfRowsInSection(0), 6);
  EXPECT_EQ(table->frame(), (platform::Rect{0, 0, 320, 416}));
  for (int row = 0; row < 6; ++row) {
    table->scrollToRowAtIndexPath({0, row}, platform::TableViewScrollPosition::None, false);
    auto cell = std::dynamic_pointer_cast<AnswerCell>(table->cellForRowAtIndexPath({0, row}));
    ASSERT_TRUE(cell) << row;
    EXPECT_EQ(cell->questionLabel()->text(), kQuestions[row]);
  }
  auto last = std::dynamic_pointer_cast<AnswerCell>(table->cellForRowAtIndexPath({0, 5}));
  EXPECT_EQ(last->answerLabel()->text(),
            "学习记录需要您在连接网络的情况下，系统会实时向服务器上传您的学习情况。");
}

TEST_F(FaqTest, RowHeightsGrowWithTwoLineQuestionsAndTheThirdRow) {
  show(faq);
  struct Case {
    int row;
    float questionHeight;
    double expected;
  };
  const Case cases[] = {
      {0, 16, 40 + 30},       // one line: the answer and the margins
      {1, 24, 40 + 30},       // a line and a half adds nothing
      {1, 32, 40 + 16 + 30},  // two lines: one more line
      {4, 48, 40 + 32 + 30},  // three lines: two more
      {2, 16, 40 + 15 + 30},  // the third row's extra room
  };
  for (const auto& c : cases) {
    measurer->heights[kQuestions[c.row]] = c.questionHeight;
    EXPECT_EQ(rowHeight(c.row), c.expected) << "row " << c.row << ", question " << c.questionHeight;
    measurer->heights[kQuestions[c.row]] = 16;
  }
  measurer->widths.clear();
  rowHeight(3);
  EXPECT_EQ(measurer->widths, (std::vector<float>{300, 300})) << "heights are measured at 300";
}

TEST_F(FaqTest, RowsLayTheAnswerUnderTheMeasuredQuestion) {
  measurer->heights[kQuestions[0]] = 32;
  show(faq);
  auto cell = std::dynamic_pointer_cast<AnswerCell>(faq->ansTable()->cellForRowAtIndexPath({0, 0}));
  ASSERT_TRUE(cell);
  EXPECT_EQ(cell->questionLabel()->frame(), (platform::Rect{25, 5, 290, 32}));
  EXPECT_EQ(cell->headIV()->frame(), (platform::Rect{10, 7, 12, 12}));
  EXPECT_EQ(cell->answerLabel()->frame(), (platform::Rect{25, 37, 290, 40}));
  EXPECT_EQ(cell->answerIV()->frame(), (platform::Rect{10, 39, 12, 12}));
  EXPECT_EQ(cell->selectionStyle(), platform::TableViewCellSelectionStyle::None);
}

TEST_F(FaqTest, BackButtonPopsTheScreen) {
  auto nav = show(platform::ViewController::create());
  nav->pushViewController(faq, false);
  auto back = std::dynamic_pointer_cast<platform::Button>(
      faq->navigationItem().leftBarButtonItem()->customView());
  ASSERT_TRUE(back);
  platform::UIRecorder recorder;
  platform::UITestDriver::tap(back);
  EXPECT_EQ(recorder.lines(), (std::vector<std::string>{"pop AnswerViewController"}));
}

TEST_F(FaqTest, AboutPageShowsItsLines) {
  auto about = AboutViewController::create();
  auto nav = show(platform::ViewController::create());
  nav->pushViewController(about, false);
  auto brand = std::dynamic_pointer_cast<platform::Label>(about->view()->subviews()[1]);
  ASSERT_TRUE(brand);
  EXPECT_EQ(brand->text(), "澄衡会计在线");
  EXPECT_EQ(brand->frame(), (platform::Rect{40, 85, 1000, 48}));
  auto version = std::dynamic_pointer_cast<platform::Label>(about->view()->subviews()[6]);
  ASSERT_TRUE(version);
  EXPECT_EQ(version->text(), " 版本  V1.0.0");
  EXPECT_EQ(version->frame().y(), 355);
}

}  // namespace
