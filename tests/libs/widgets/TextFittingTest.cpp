// Text fitting: cutting a text to a box with an ellipsis on whole characters, and the largest
// bold font that lets a text fit a box.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Utf16.h"
#include "platform/ui/TextMeasurer.h"
#include "widgets/FontAlert.h"
#include "widgets/StringTrim.h"

using platform::Font;
using platform::Size;
using platform::TextMeasurer;

namespace {

const Font kBody = Font::boldSystemFont(20);

double lineHeight(const Font& font) { return TextMeasurer::sizeOfLine("Ag", font).height; }

// The height `text` needs at `width`.
double heightAt(const std::string& text, double width, const Font& font = kBody) {
  return TextMeasurer::sizeOfText(text, font, {width, 0}).height;
}

TEST(TextFittingTest, TruncationTable) {
  const std::string sentence = "the quick brown fox jumps over the lazy dog again and again";
  const double line = lineHeight(kBody);
  struct Case {
    const char* name;
    std::string text;
    Size size;
    bool quotes;
  };
  std::vector<Case> cases{
      {"fits with room", "确定", {200, 100}, false},
      {"fits its own measured size", sentence, {240, heightAt(sentence, 240)}, false},
      {"two lines of a longer text", sentence, {120, line * 2}, false},
      {"two lines, with quotes", sentence, {120, line * 2}, true},
      {"Chinese cut to one line", "此课件未下载，请在线登录播放此课件未下载", {100, line}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string cut = StringTrim::stringByTruncatingToSize(c.text, c.size, kBody, c.quotes);
    std::string ellipsis = c.quotes ? "...\"" : "...";
    if (heightAt(c.text, c.size.width) <= c.size.height) {
      EXPECT_EQ(cut, c.text) << "a text that fits comes back whole";
      continue;
    }
    ASSERT_GT(cut.size(), ellipsis.size());
    EXPECT_EQ(cut.substr(cut.size() - ellipsis.size()), ellipsis);
    std::string kept = cut.substr(0, cut.size() - ellipsis.size());
    EXPECT_EQ(c.text.compare(0, kept.size(), kept), 0) << "a prefix of the text: " << cut;
    // The prefix before the ellipsis came from the longest prefix that fits.
    std::size_t units = platform::utf16Length(kept) + (c.quotes ? 4 : 3);
    std::string longest = platform::substringWithUtf16Range(c.text, {0, units});
    EXPECT_LE(heightAt(longest, c.size.width), c.size.height);
    std::string oneMore = platform::substringWithUtf16Range(c.text, {0, units + 1});
    EXPECT_GT(heightAt(oneMore, c.size.width), c.size.height);
  }
}

TEST(TextFittingTest, CutsFallBetweenWholeCharacters) {
  // An accented letter (e + combining acute) and an emoji are two units each.
  const std::string accent = "e\xCC\x81";
  const std::string grin = "\xF0\x9F\x98\x80";
  std::string text;
  for (int i = 0; i < 40; ++i) text += accent + grin + "x";
  std::string cut =
      StringTrim::stringByTruncatingToSize(text, {60, lineHeight(kBody)}, kBody, false);
  ASSERT_GT(cut.size(), 3u);
  std::string kept = cut.substr(0, cut.size() - 3);
  std::size_t units = platform::utf16Length(kept);
  EXPECT_EQ(platform::rangeOfComposedCharacterSequencesForRange(text, {0, units}),
            (platform::Utf16Range{0, units}))
      << "no accent or emoji is split: " << cut;
}

TEST(TextFittingTest, BelowOneLineNothingFitsAndNoEllipsisIsAdded) {
  EXPECT_EQ(StringTrim::stringByTruncatingToSize("没有视频可以切换", {200, 5}, kBody, false), "");
  EXPECT_EQ(StringTrim::stringByTruncatingToSize("", {200, 50}, kBody, true), "");
}

TEST(TextFittingTest, FontFittingTable) {
  const std::string body = "网络切换到3G是否继续听课?";
  double width = 240;
  struct Case {
    const char* name;
    Size size;
    int max, min;
    double expected;
  };
  std::vector<Case> cases{
      {"room for the largest", {width, 200}, 22, 20, 22},
      {"one line of 21 points fits, 22 does not",
       {TextMeasurer::sizeOfLine(body, Font::boldSystemFont(21)).width,
        lineHeight(Font::boldSystemFont(21))},
       22,
       20,
       21},
      {"nothing fits: the smallest", {10, 5}, 22, 20, 20},
      {"max equal to min", {width, 200}, 20, 20, 20},
      {"max below min", {width, 200}, 11, 26, 26},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Font font = FontAlert::boldSystemFontThatFitsSize(c.size, c.max, c.min, body);
    EXPECT_EQ(font.pointSize(), c.expected);
    EXPECT_TRUE(font.isBold());
  }
}

}  // namespace
