#include <gtest/gtest.h>

#include "util/ViewUtil.h"

namespace {

class ViewUtilTest : public ::testing::Test {
 protected:
  void TearDown() override { ViewUtil::setTextMeasurer(nullptr); }
};

TEST_F(ViewUtilTest, AbsentTextIsZeroHigh) {
  EXPECT_EQ(ViewUtil::heightForString(std::nullopt, 14, 280), 0.0f);
  EXPECT_EQ(ViewUtil::heightForString(std::string(), 14, 280), 0.0f);
}

TEST_F(ViewUtilTest, UsesTheInstalledMeasurer) {
  class Fixed : public TextMeasurer {
   public:
    float heightForText(std::string_view text, float fontSize, float width) const override {
      return static_cast<float>(text.size()) + fontSize + width;
    }
  };
  ViewUtil::setTextMeasurer(std::make_shared<Fixed>());
  EXPECT_EQ(ViewUtil::heightForString("abc", 10, 100), 113.0f);
  EXPECT_EQ(ViewUtil::heightForString(std::nullopt, 10, 100), 0.0f);
}

TEST_F(ViewUtilTest, DefaultMeasurerWrapsWithRealFontMetrics) {
  float oneLine = ViewUtil::heightForString(std::string("学习记录"), 14, 280);
  float wrapped =
      ViewUtil::heightForString(std::string(40, 'w') + " " + std::string(40, 'w'), 14, 100);
  float chinese = ViewUtil::heightForString(std::string("继续教育学习时长记录上传成功"), 14, 60);
  EXPECT_GT(oneLine, 14.0f);
  EXPECT_LT(oneLine, 14.0f * 2);
  EXPECT_GT(wrapped, oneLine * 2);
  EXPECT_GT(chinese, oneLine * 2);
}

}  // namespace
