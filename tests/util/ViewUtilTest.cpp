#include <gtest/gtest.h>

#include "util/SimpleTextMeasurer.h"
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

TEST(SimpleTextMeasurerTest, WrapsAtWordsAndBetweenChineseCharacters) {
  // Font size 10: ASCII characters are 5 wide, Chinese ones 10; width 50.
  struct Case {
    const char* text;
    int lines;
  } cases[] = {
      {"", 0},
      {"hello", 1},         // 25 wide
      {"hello world", 2},   // 55: "world" moves down
      {"abcdefghij", 1},    // exactly 50
      {"abcdefghijk", 2},   // a long word breaks between characters
      {"hello     ", 1},    // trailing spaces take no room
      {"一二三四五", 1},    // exactly 50
      {"一二三四五六", 2},  // breaks between Chinese characters
      {"ab\n\ncd", 3},      // an empty line still counts
      {"ab\n", 2},
      {"ab cd ef gh ij kl", 2},  // "ab cd ef g" fits, "gh" moves down at 45+10
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SimpleTextMeasurer::lineCount(c.text, 10, 50), c.lines) << c.text;
  }
}

TEST(SimpleTextMeasurerTest, HeightIsLinesTimesOnePointTwoFontSizesRoundedUp) {
  SimpleTextMeasurer measurer;
  EXPECT_EQ(measurer.heightForText("hello", 10, 50), 12.0f);
  EXPECT_EQ(measurer.heightForText("hello world", 10, 50), 24.0f);
  EXPECT_EQ(measurer.heightForText("hello", 15, 500), 18.0f);
  EXPECT_EQ(measurer.heightForText("a", 13, 500), 16.0f);  // 15.6 rounds up
}

TEST(SimpleTextMeasurerTest, TinyWidthsPutOneCharacterOnALine) {
  EXPECT_EQ(SimpleTextMeasurer::lineCount("abc", 10, 0), 3);
  EXPECT_EQ(SimpleTextMeasurer::lineCount("一二", 10, 1), 2);
  EXPECT_EQ(SimpleTextMeasurer::lineCount("a b", 10, 0), 2);
}

}  // namespace
