// Regular expressions from containers: ICU's dialect, first match and its groups, and the limits
// that end a runaway search without a match.

#include <gtest/gtest.h>

#include <string>

#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/TagValues.h"
#include "tagmanager/predicates/TAGRegularExpression.h"
#include "tagmanager/runtime/TAGExpandedResourceBuilder.h"
#include "tagmanager/runtime/TAGRuntime.h"

namespace {

using namespace tagtest;
using Outcome = TAGRegularExpression::Outcome;

// Nested quantifiers over a text that almost matches: the backtracking grows exponentially with
// the text, far past any limit, whatever the machine.
const char* kRunawayPattern = "^(a+)+$";
const std::string kRunawayText = std::string(64, 'a') + "!";

TEST(TAGRegularExpressionTest, FirstMatchGivesEveryGroupAndNoneForOneThatTookNoPart) {
  auto expression = TAGRegularExpression::compile("(a)|(b)", false);
  ASSERT_TRUE(expression);
  auto match = expression->firstMatch("xbx");
  ASSERT_EQ(match.outcome, Outcome::Match);
  ASSERT_EQ(match.groups.size(), 3u);
  EXPECT_EQ(match.groups[0], "b");
  EXPECT_EQ(match.groups[1], std::nullopt);
  EXPECT_EQ(match.groups[2], "b");
  EXPECT_EQ(expression->firstMatch("xyz").outcome, Outcome::NoMatch);
}

TEST(TAGRegularExpressionTest, PatternsAreIcusDialectOverCodePoints) {
  struct Case {
    const char* pattern;
    const char* text;
    bool ignoreCase;
    bool matches;
  };
  const Case cases[] = {
      {"(?<=a)b", "ab", false, true},
      {"(?<=a)b", "cb", false, false},
      {"^\\p{Lu}+$", "\xC3\x89T\xC3\x89", false, true},  // "ÉTÉ"
      {"^.{3}$", "\xC3\xA9t\xC3\xA9", false, true},      // three characters, five bytes
      {"\xC3\xA9", "\xC3\x89", true, true},              // case folding beyond ASCII
      {"\\bword\\b", "a word here", false, true},
  };
  for (const auto& c : cases) {
    auto expression = TAGRegularExpression::compile(c.pattern, c.ignoreCase);
    ASSERT_TRUE(expression) << c.pattern;
    EXPECT_EQ(expression->findsMatch(c.text), c.matches) << c.pattern << " ~ " << c.text;
  }
}

TEST(TAGRegularExpressionTest, APatternThatDoesNotCompileSaysWhy) {
  std::string error;
  EXPECT_FALSE(TAGRegularExpression::compile("(", false, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(TAGRegularExpression::compile("a{2,1}", false));
}

TEST(TAGRegularExpressionTest, ARunawaySearchEndsAtTheLimitWithoutAMatch) {
  auto expression = TAGRegularExpression::compile(kRunawayPattern, false);
  ASSERT_TRUE(expression);
  EXPECT_EQ(expression->firstMatch(kRunawayText).outcome, Outcome::LimitReached);
  // The same pattern on a text it matches is quick.
  EXPECT_EQ(expression->firstMatch("aaaa").outcome, Outcome::Match);
}

TEST(TAGRegularExpressionTest, ARunawayPatternInAContainerIsNoMatch) {
  auto runtime = TAGRuntime::runtimeWithResource(TAGExpandedResource::builder().build(), nullptr,
                                                 nullptr, nullptr);
  testsupport::TagLogRecorder log;
  auto predicate = runtime->predicateMap().at("_re");
  EXPECT_FALSE(predicate->evaluate({{"arg0", str(kRunawayText)}, {"arg1", str(kRunawayPattern)}})
                   ->boolean());
  auto group = runtime->macroMap().at("_reg");
  EXPECT_EQ(group->evaluate({{"arg0", str(kRunawayText)}, {"arg1", str(kRunawayPattern)}}),
            TAGTypes::defaultValue());
  EXPECT_TRUE(log.lines().empty());
}

}  // namespace
