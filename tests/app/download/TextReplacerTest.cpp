#include <gtest/gtest.h>

#include "download/TextReplacer.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::string replaced(const Pairs& pairs, const std::string& text) {
  TextReplacer replacer;
  for (const auto& [from, to] : pairs) replacer.add(from, to);
  return replacer.apply(text);
}

TEST(TextReplacerTest, ReplacementsTable) {
  struct Case {
    Pairs pairs;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {{}, "unchanged", "unchanged"},
      {{{"a", "b"}}, "", ""},
      {{{"img/x.png", "x.png"}},
       "<img src=\"img/x.png\"> see img/x.png.",
       "<img src=\"x.png\"> see x.png."},
      // Of texts starting at one place the longest wins; an earlier start wins over a longer one.
      {{{"x.png", "X"}, {"img/x.png", "Y"}}, "img/x.png x.png", "Y X"},
      {{{"ab", "1"}, {"bcd", "2"}}, "abcd", "1cd"},
      // Replacements are not searched again.
      {{{"a", "aa"}, {"aa", "b"}}, "a-aa", "aa-b"},
      {{{"a", "b"}, {"b", "a"}}, "ab", "ba"},
      // A text added twice keeps its first replacement; an empty one is ignored.
      {{{"k", "1"}, {"k", "2"}, {"", "never"}}, "kk", "11"},
      // Texts that are suffixes of others are still found on their own.
      {{{"she", "S"}, {"he", "H"}, {"hers", "R"}}, "ushers he", "uSrs H"},
      {{{"aaa", "3"}, {"a", "1"}}, "aaaaa", "311"},
      {{{"\xE8\xAE\xB2", "L"}},
       "\xE7\xAC\xAC\xE8\xAE\xB2",
       "\xE7\xAC\xAC"
       "L"},
      {{{std::string("\0x", 2), "z"}}, std::string("a\0xb", 4), "azb"},
  };
  for (const auto& c : cases) EXPECT_EQ(replaced(c.pairs, c.text), c.expected) << c.text;
}

TEST(TextReplacerTest, AReplacerServesTextsAddedAfterItsFirstUse) {
  TextReplacer replacer;
  replacer.add("one", "1");
  EXPECT_EQ(replacer.apply("one two"), "1 two");
  replacer.add("two", "2");
  EXPECT_EQ(replacer.apply("one two"), "1 2");
}

}  // namespace
