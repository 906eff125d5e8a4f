// The rule predicates: string tests (contains, starts, ends, equals, regular expression) and
// number tests (greater, less, or equal), over arguments of any value kind.

#include <gtest/gtest.h>

#include <optional>

#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/TagValues.h"
#include "tagmanager/runtime/TAGExpandedResourceBuilder.h"
#include "tagmanager/runtime/TAGRuntime.h"

namespace {

using namespace tagtest;
using testsupport::TagLogRecorder;

struct PredicateCase {
  const char* functionId;
  TAGPValue::Ref arg0;
  TAGPValue::Ref arg1;
  bool expected;
  std::optional<bool> ignoreCase = std::nullopt;
};

class TAGPredicatesTest : public ::testing::Test {
 protected:
  TAGPValue::Ref evaluate(const std::string& functionId, const TAGPropertyMap& properties) {
    return runtime_->predicateMap().at(functionId)->evaluate(properties);
  }
  bool answer(const PredicateCase& c) {
    TAGPropertyMap properties{{"arg0", c.arg0}, {"arg1", c.arg1}};
    if (c.ignoreCase) properties["ignore_case"] = boolean(*c.ignoreCase);
    TAGPValue::Ref result = evaluate(c.functionId, properties);
    EXPECT_EQ(result->type(), TAGPValue_Type::Boolean);
    return result->boolean();
  }

  std::shared_ptr<TAGRuntime> runtime_ = TAGRuntime::runtimeWithResource(
      TAGExpandedResource::builder().build(), nullptr, nullptr, nullptr);
};

TEST_F(TAGPredicatesTest, StringTestsCompareTheArgumentsAsCaseSensitiveText) {
  const PredicateCase cases[] = {
      {"_eq", str("5"), integer(5), true},  // the integer's text is "5"
      {"_eq", str(""), str(""), true},
      {"_eq", str("a"), str("A"), false},
      {"_eq", boolean(true), str("true"), true},
      {"_cn", str("abc"), str("bc"), true},
      {"_cn", str("abc"), str("x"), false},
      {"_cn", str("abc"), str(""), true},
      {"_cn", str(""), str(""), true},
      {"_sw", str("abc"), str("ab"), true},
      {"_sw", str("abc"), str("bc"), false},
      {"_sw", str("ab"), str("abc"), false},
      {"_sw", str("abc"), str(""), true},
      {"_ew", str("abc"), str("bc"), true},
      {"_ew", str("abc"), str("ab"), false},
      {"_ew", str("bc"), str("abc"), false},
      {"_ew", str(""), str(""), true},
      {"_cn", list({str("a"), str("b")}), str("a"), true},  // a list reads as its text
  };
  for (const auto& c : cases) {
    EXPECT_EQ(answer(c), c.expected)
        << c.functionId << "(" << c.arg0->description() << ", " << c.arg1->description() << ")";
  }
}

TEST_F(TAGPredicatesTest, RegularExpressionsSearchAnywhereInIcuDialect) {
  const PredicateCase cases[] = {
      {"_re", str("ABC"), str("b"), false},
      {"_re", str("ABC"), str("b"), true, true},
      {"_re", str("ABC"), str("b"), false, false},
      {"_re", str("abc"), str("b"), true},  // unanchored
      {"_re", str("abc"), str("^b"), false},
      {"_re", str("anything"), str(""), true},
      {"_re", str("ab"), str("(?<=a)b"), true},                              // lookbehind
      {"_re", str("\xE4\xB8\xAD\xE6\x96\x87"), str("^\\p{Han}{2}$"), true},  // by code point
      {"_re", str("\xC3\xA9"), str("^.$"), true},  // one character, two bytes
      {"_re", str("("), str("("), false},          // does not compile
  };
  for (const auto& c : cases) {
    EXPECT_EQ(answer(c), c.expected) << c.arg0->string() << " ~ " << c.arg1->string();
  }
}

TEST_F(TAGPredicatesTest, APatternThatDoesNotCompileIsFalseAndNotLogged) {
  TagLogRecorder log;
  EXPECT_FALSE(answer({"_re", str("("), str("("), false}));
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(TAGPredicatesTest, NumberTestsCompareNumericallyAndIntegersExactly) {
  const PredicateCase cases[] = {
      {"_gt", str("10"), str("9"), true},  // numbers, not text
      {"_lt", str("10"), str("9"), false},
      {"_ge", integer(3), str("3.0"), true},
      {"_gt", integer(3), str("3.0"), false},
      {"_le", integer(3), str("3.0"), true},
      {"_lt", str("-1.5"), integer(-1), true},
      {"_ge", integer(2), integer(2), true},
      {"_le", integer(2), integer(1), false},
      // Beyond a double's precision only an integer comparison tells these apart.
      {"_gt", integer(9007199254740993), str("9007199254740992"), true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(answer(c), c.expected)
        << c.functionId << "(" << c.arg0->description() << ", " << c.arg1->description() << ")";
  }
}

TEST_F(TAGPredicatesTest, ANonNumberIsFalseWithOneConversionError) {
  TagLogRecorder log;
  EXPECT_FALSE(answer({"_lt", str("abc"), integer(1), false}));
  EXPECT_EQ(log.lines("error").size(), 1u);
}

TEST_F(TAGPredicatesTest, AFailedArgumentOrAMissingOneIsFalseWithoutTheTest) {
  for (const char* id : {"_eq", "_cn", "_sw", "_ew", "_re", "_ge", "_le"}) {
    // "" would pass every one of these tests; the failure marker does not.
    EXPECT_FALSE(evaluate(id, {{"arg0", str("")}, {"arg1", TAGTypes::defaultValue()}})->boolean())
        << id;
    EXPECT_FALSE(evaluate(id, {{"arg0", str("")}})->boolean()) << id;
    // Any property that failed counts, not only the arguments.
    EXPECT_FALSE(
        evaluate(
            id, {{"arg0", str("1")}, {"arg1", str("1")}, {"ignore_case", TAGTypes::defaultValue()}})
            ->boolean())
        << id;
  }
}

TEST_F(TAGPredicatesTest, AnArgumentWithoutTextIsFalse) {
  // A macro reference that was never expanded has no string form.
  EXPECT_FALSE(answer({"_eq", macroRef("m"), macroRef("m"), false}));
  EXPECT_FALSE(answer({"_cn", str("abc"), TAGTypes::functionIdToValue("_x"), false}));
}

TEST_F(TAGPredicatesTest, EveryPredicateRequiresBothArgumentsAndIsCacheable) {
  EXPECT_EQ(runtime_->predicateMap().size(), 9u);
  for (const auto& [id, predicate] : runtime_->predicateMap()) {
    EXPECT_TRUE(predicate->isCacheable()) << id;
    EXPECT_TRUE(predicate->hasRequiredKeys({"arg0", "arg1", "function"})) << id;
    EXPECT_FALSE(predicate->hasRequiredKeys({"arg0", "function"})) << id;
  }
}

}  // namespace
