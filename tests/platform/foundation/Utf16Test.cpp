// UTF-16 positions and composed character sequences: lengths count UTF-16 units, and ranges widen
// to whole characters as a reader sees them, so a cut never splits an accent from its letter or
// an emoji in half.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/foundation/Utf16.h"

namespace platform {
namespace {

// "e" followed by a combining acute accent, a surrogate-pair emoji, a family joined with
// zero-width joiners, and a flag made of two regional indicators.
const std::string kAcute = "e\xCC\x81";                                      // 2 units
const std::string kGrin = "\xF0\x9F\x98\x80";                                // 2 units
const std::string kFamily = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9";  // 5 units
const std::string kFlag = "\xF0\x9F\x87\xA8\xF0\x9F\x87\xB3";                // 4 units

TEST(Utf16Test, LengthCountsUtf16Units) {
  struct Case {
    std::string text;
    std::size_t length;
  };
  std::vector<Case> cases{{"", 0},
                          {"abc", 3},
                          {"请检查网络", 5},
                          {kAcute, 2},
                          {kGrin, 2},
                          {kFamily, 5},
                          {kFlag, 4},
                          {"a\xFF"
                           "b",
                           3}};
  for (const auto& c : cases) EXPECT_EQ(utf16Length(c.text), c.length) << c.text;
}

TEST(Utf16Test, ComposedRangesWidenToWholeCharacters) {
  struct Case {
    const char* name;
    std::string text;
    Utf16Range range;
    Utf16Range expected;
  };
  std::vector<Case> cases{
      {"plain text stays", "abcdef", {1, 3}, {1, 3}},
      {"Chinese stays", "没有视频可以切换", {0, 4}, {0, 4}},
      {"end inside an accent", "ab" + kAcute + "c", {0, 3}, {0, 4}},
      {"start inside an accent", "ab" + kAcute + "c", {3, 1}, {2, 2}},
      {"end inside a surrogate pair", "a" + kGrin, {0, 2}, {0, 3}},
      {"end inside a joined family", kFamily + "x", {0, 3}, {0, 5}},
      {"end between two flag halves", kFlag, {0, 2}, {0, 4}},
      {"empty range inside a pair", "a" + kGrin, {2, 0}, {1, 0}},
      {"empty range at the start", "abc", {0, 0}, {0, 0}},
      {"range beyond the end is clamped", "abc", {1, 99}, {1, 2}},
      {"location beyond the end", "abc", {7, 2}, {3, 0}},
      {"empty text", "", {0, 3}, {0, 0}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rangeOfComposedCharacterSequencesForRange(c.text, c.range), c.expected) << c.name;
  }
}

TEST(Utf16Test, SubstringsNeverSplitACharacter) {
  struct Case {
    const char* name;
    std::string text;
    Utf16Range range;
    std::string expected;
  };
  std::vector<Case> cases{
      {"prefix", "abcdef", {0, 3}, "abc"},
      {"middle of Chinese", "请稍候", {1, 1}, "稍"},
      {"end inside a pair moves out", "a" + kGrin + "b", {0, 2}, "a" + kGrin},
      {"start inside a pair moves out", "a" + kGrin + "b", {2, 2}, kGrin + "b"},
      {"combining marks are separate units", "ab" + kAcute, {0, 3}, "abe"},
      {"clamped", "abc", {2, 10}, "c"},
      {"empty", "abc", {1, 0}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(substringWithUtf16Range(c.text, c.range), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace platform
