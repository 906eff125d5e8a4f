#include <gtest/gtest.h>

#include <limits>

#include "platform/foundation/Value.h"

using namespace platform;

TEST(ValueTest, KindsAndExactReads) {
  EXPECT_TRUE(Value().isNull());
  EXPECT_EQ(Value(true).kind(), Value::Kind::Bool);
  EXPECT_EQ(Value(3).asInteger(), 3);
  EXPECT_EQ(Value(3).asDouble(), 3.0);
  EXPECT_EQ(Value(2.5).asInteger(), std::nullopt);
  EXPECT_EQ(Value("x").asInteger(), std::nullopt);
  EXPECT_EQ(*Value("x").asText(), "x");
  EXPECT_EQ(Value(1).asText(), nullptr);
  EXPECT_EQ(Value(Bytes{1, 2}).asBytes()->size(), 2u);
  EXPECT_EQ(Value(Array{1, "a"}).asArray()->size(), 2u);
}

TEST(ValueTest, PlatformConversions) {
  struct Case {
    Value value;
    std::int64_t integer;
    double dbl;
    bool boolean;
    std::string text;
  };
  const Case cases[] = {
      {Value("42abc"), 42, 42.0, true, "42abc"},
      {Value("  -7"), -7, -7.0, true, "  -7"},
      {Value("abc"), 0, 0.0, false, "abc"},
      {Value(""), 0, 0.0, false, ""},
      {Value("YES"), 0, 0.0, true, "YES"},
      {Value(3.9), 3, 3.9, true, "3.9"},
      {Value(3.0), 3, 3.0, true, "3"},
      {Value(-0.5), 0, -0.5, true, "-0.5"},
      {Value(true), 1, 1.0, true, "1"},
      {Value(12), 12, 12.0, true, "12"},
      {Value(), 0, 0.0, false, ""},
      {Value(Array{}), 0, 0.0, false, ""},
      {Value("99999999999999999999"), INT64_MAX, 1e20, true, "99999999999999999999"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.description());
    EXPECT_EQ(c.value.integerValue(), c.integer);
    EXPECT_DOUBLE_EQ(c.value.doubleValue(), c.dbl);
    EXPECT_EQ(c.value.boolValue(), c.boolean);
    EXPECT_EQ(c.value.stringValue(), c.text);
  }
}

TEST(ValueTest, FormatNumberDropsIntegralFractionAndRoundTrips) {
  EXPECT_EQ(formatNumber(1.0), "1");
  EXPECT_EQ(formatNumber(-20.0), "-20");
  EXPECT_EQ(formatNumber(0.1), "0.1");
  EXPECT_EQ(formatNumber(1.0 / 3.0), "0.3333333333333333");
  EXPECT_EQ(std::stod(formatNumber(123.456)), 123.456);
}

TEST(ValueTest, DictionaryLookupAndObjects) {
  Value d(Dictionary{{"a", 1}, {"b", Dictionary{{"c", "x"}}}});
  EXPECT_EQ(d["a"].intValue(), 1);
  EXPECT_EQ(d["b"]["c"].stringValue(), "x");
  EXPECT_TRUE(d["missing"].isNull());
  EXPECT_TRUE(Value(5)["a"].isNull());

  struct Thing {
    int n = 7;
  };
  auto thing = std::make_shared<Thing>();
  Value o = Value::object(thing);
  EXPECT_EQ(o.object<Thing>(), thing);
  EXPECT_EQ(o.object<std::string>(), nullptr);
  EXPECT_EQ(o.identity(), thing.get());
  EXPECT_TRUE(Value::object(std::shared_ptr<Thing>()).isNull());
  EXPECT_EQ(o, Value::object(thing));
  EXPECT_FALSE(o == Value::object(std::make_shared<Thing>()));
}

TEST(ValueTest, DatesAsSeconds) {
  Date d = dateFromSeconds(1234.5);
  EXPECT_DOUBLE_EQ(toSeconds(d), 1234.5);
  EXPECT_EQ(Value(d).asDate(), d);
}

// Dates hold 64-bit nanoseconds (about 1678 to 2262); seconds past either end give that end
// instead of a date wrapped to the other side of the calendar.
TEST(ValueTest, DatesFromSecondsSaturateOutsideTheRepresentableYears) {
  const std::pair<double, Date> cases[] = {
      {1e10, Date::max()},
      {1e300, Date::max()},
      {std::numeric_limits<double>::infinity(), Date::max()},
      {-1e10, Date::min()},
      {-31556952000.0, Date::min()},  // the year 970
      {-std::numeric_limits<double>::infinity(), Date::min()},
      {std::numeric_limits<double>::quiet_NaN(), Date()},
      {9e9, Date(std::chrono::seconds(9000000000))},
      {-9e9, Date(std::chrono::seconds(-9000000000))},
  };
  for (const auto& [secs, expected] : cases) {
    SCOPED_TRACE(secs);
    EXPECT_EQ(dateFromSeconds(secs), expected);
  }
}
