// The tag manager's value conversions: numbers from text, plain objects to value nodes and back,
// the string forms, and the shared failure sentinels callers recognise by identity.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/values/TAGTypes.h"

namespace {

using testsupport::TagLogRecorder;

TAGObject str(const std::string& s) { return TAGObject::string(s); }
TAGObject integer(std::int64_t v) { return TAGObject::number(platform::Value(v)); }
TAGObject real(double v) { return TAGObject::number(platform::Value(v)); }
TAGPValue::Ref stringValue(const std::string& s) { return TAGTypes::objectToValue(str(s)); }

struct NumberCase {
  const char* text;
  bool parses;
  bool isInt64;
  std::int64_t int64;
  double value;
};

TEST(TAGTypesTest, NumberWithStringReadsWholeTextsOnly) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  const NumberCase cases[] = {
      {"12", true, true, 12, 12},
      {" 12", true, true, 12, 12},
      {"\t\n12", true, true, 12, 12},
      {"\xE3\x80\x80"
       "12",
       true, true, 12, 12},  // an ideographic space is white space too
      {"+7", true, true, 7, 7},
      {"-0", true, true, 0, 0},
      {"-42", true, true, -42, -42},
      {"99999999999999999999", true, true, kMax, 0},
      {"-99999999999999999999", true, true, kMin, 0},
      {"1.5", true, false, 0, 1.5},
      {"1e3", true, false, 0, 1000},
      {"-2.5E-1", true, false, 0, -0.25},
      {".5", true, false, 0, 0.5},
      {"5.", true, false, 0, 5},
      {"1e999", true, false, 0, std::numeric_limits<double>::infinity()},
      {"1e-999", true, false, 0, 0},
      {"12 ", false, false, 0, 0},
      {"", false, false, 0, 0},
      {" ", false, false, 0, 0},
      {"abc", false, false, 0, 0},
      {"1e", false, false, 0, 0},
      {"12abc", false, false, 0, 0},
      {"-", false, false, 0, 0},
      {".", false, false, 0, 0},
      {"inf", false, false, 0, 0},
      {"nan", false, false, 0, 0},
      {"0x10", false, false, 0, 0},
  };
  for (const auto& c : cases) {
    auto number = TAGTypedNumber::numberWithString(c.text);
    ASSERT_EQ(number != nullptr, c.parses) << '"' << c.text << '"';
    if (!number) continue;
    EXPECT_EQ(number->isInt64(), c.isInt64) << c.text;
    if (c.isInt64) {
      EXPECT_EQ(number->int64Value(), c.int64) << c.text;
    } else {
      EXPECT_EQ(number->doubleValue(), c.value) << c.text;
    }
  }
}

TEST(TAGTypesTest, TypedNumbersReadAcrossTheirForms) {
  auto d = TAGTypedNumber::numberWithDouble(-2.9);
  EXPECT_EQ(d->int64Value(), -2);
  EXPECT_EQ(TAGTypedNumber::numberWithDouble(1e300)->int64Value(),
            std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(TAGTypedNumber::numberWithDouble(std::nan(""))->int64Value(), 0);
  auto big = TAGTypedNumber::numberWithInt64(0x1234567890);
  EXPECT_EQ(big->int32Value(), 0x34567890);
  EXPECT_EQ(TAGTypedNumber::numberWithInt64(0x18000)->int16Value(), -32768);
  EXPECT_EQ(big->doubleValue(), static_cast<double>(0x1234567890));

  EXPECT_EQ(TAGTypedNumber::numberWithInt64(3)->compare(*TAGTypedNumber::numberWithDouble(3.0)), 0);
  EXPECT_EQ(TAGTypedNumber::numberWithInt64(-1)->compare(*TAGTypedNumber::numberWithInt64(1)), -1);
  EXPECT_EQ(TAGTypedNumber::numberWithDouble(2.5)->compare(*TAGTypedNumber::numberWithInt64(2)), 1);
  EXPECT_EQ(
      TAGTypedNumber::numberWithDouble(std::nan(""))->compare(*TAGTypedNumber::numberWithInt64(2)),
      0);
  EXPECT_TRUE(TAGTypedNumber::numberWithInt64(1)->isEqual(*TAGTypedNumber::numberWithDouble(1.0)));
  EXPECT_EQ(TAGTypedNumber::numberWithInt64(-5)->description(), "-5");
  EXPECT_EQ(TAGTypedNumber::numberWithDouble(2.5)->description(), "2.5");
  EXPECT_EQ(TAGTypedNumber::numberWithInt64(0x100000001)->hash(), 0u);
  EXPECT_EQ(TAGTypedNumber::numberWithInt64(7)->hash(), 7u);
}

TEST(TAGTypesTest, BooleansAreNewInstancesExceptTheSharedTwo) {
  auto yes = TAGBoolean::booleanWithBool(true);
  EXPECT_TRUE(yes->isEqual(*TAGBoolean::yes()));
  EXPECT_NE(yes.get(), TAGBoolean::yes().get());
  EXPECT_EQ(TAGBoolean::yes().get(), TAGBoolean::yes().get());
  EXPECT_EQ(TAGBoolean::yes()->hash(), 123u);
  EXPECT_EQ(TAGBoolean::no()->hash(), 838u);
  EXPECT_TRUE(TAGBoolean::booleanWithString("TRUE")->boolValue());
  EXPECT_FALSE(TAGBoolean::booleanWithString("False")->boolValue());
  EXPECT_EQ(TAGBoolean::booleanWithString("yes"), nullptr);
  EXPECT_EQ(TAGBoolean::booleanWithString("1"), nullptr);
  EXPECT_NE(TAGTypes::defaultBoolean().get(), TAGBoolean::no().get());
  EXPECT_FALSE(TAGTypes::defaultBoolean()->boolValue());
}

TEST(TAGTypesTest, FailuresAnswerTheSharedSentinelsThemselves) {
  TagLogRecorder log;
  EXPECT_EQ(TAGTypes::parseNumber("abc"), TAGTypes::defaultNumber());
  EXPECT_TRUE(TAGTypes::parseInt64("abc").isSameObject(TAGTypes::defaultInt64()));
  EXPECT_TRUE(TAGTypes::parseDouble("abc").isSameObject(TAGTypes::defaultDouble()));
  EXPECT_EQ(TAGTypes::parseBoolean("abc"), TAGTypes::defaultBoolean());
  EXPECT_EQ(TAGTypes::objectToString(TAGObject()), TAGTypes::defaultString());
  EXPECT_EQ(TAGTypes::objectToValue(TAGObject()), TAGTypes::defaultValue());

  // Successes that look like defaults are not the defaults.
  auto zero = TAGTypes::parseNumber("0");
  EXPECT_NE(zero, TAGTypes::defaultNumber());
  EXPECT_TRUE(zero->isEqual(*TAGTypes::defaultNumber()));
  auto empty = TAGTypes::valueToString(stringValue(""));
  EXPECT_EQ(*empty, "");
  EXPECT_NE(empty, TAGTypes::defaultString());
  EXPECT_NE(TAGTypes::objectToValue(str("")), TAGTypes::defaultValue());

  // Arguments that are sentinels come back as themselves.
  EXPECT_EQ(TAGTypes::objectToString(TAGObject(TAGTypes::defaultString())),
            TAGTypes::defaultString());
  EXPECT_EQ(TAGTypes::objectToValue(TAGObject(TAGTypes::defaultValue())), TAGTypes::defaultValue());
  EXPECT_EQ(TAGTypes::objectToNumber(TAGObject(TAGTypes::defaultNumber())),
            TAGTypes::defaultNumber());
  EXPECT_EQ(TAGTypes::defaultValue()->type(), TAGPValue_Type::String);
  EXPECT_EQ(TAGTypes::defaultValue()->string(), "");
}

TEST(TAGTypesTest, MacroReferencesAndUnparsableTextLogAndAnswerDefaults) {
  TagLogRecorder log;
  EXPECT_EQ(TAGTypes::valueToString(TAGTypes::macroReferenceToValue("m")),
            TAGTypes::defaultString());
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"error: Trying to convert a macro reference to object"}));

  log.clear();
  EXPECT_EQ(TAGTypes::valueToNumber(stringValue("abc")), TAGTypes::defaultNumber());
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"error: Failed to convert abc to a number."}));

  log.clear();
  EXPECT_EQ(TAGTypes::valueToString(TAGTypes::functionIdToValue("_c")), TAGTypes::defaultString());
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"error: Trying to convert a function ID to object"}));

  log.clear();
  auto boolean = TAGTypes::objectToBoolean(str("yes"));
  EXPECT_EQ(boolean, TAGTypes::defaultBoolean());
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"error: Failed to parse an invalid boolean: yes"}));
  EXPECT_TRUE(TAGTypes::objectToBoolean(str("TRUE"))->boolValue());
}

TEST(TAGTypesTest, StringFormsOfObjects) {
  const std::vector<std::pair<TAGObject, std::string>> cases = {
      {TAGObject::list({str("a"), integer(1), TAGObject::list({str("b")})}), "[a, 1, [b]]"},
      {TAGObject::map({}), "{}"},
      {TAGObject::map({{str("k"), str("v")}, {str("n"), integer(5)}}), "{k=v, n=5}"},
      {TAGObject::list({}), "[]"},
      {integer(-3), "-3"},
      {real(2.5), "2.5"},
      {TAGObject::number(platform::Value(true)), "1"},
      {TAGObject(TAGBoolean::booleanWithBool(true)), "true"},
      {TAGObject(TAGTypedNumber::numberWithDouble(0.1)), "0.1"},
      {str("text"), "text"},
  };
  for (const auto& [object, text] : cases) EXPECT_EQ(*TAGTypes::objectToString(object), text);
}

TEST(TAGTypesTest, ObjectsBecomeValueNodes) {
  TagLogRecorder log;
  auto fromDouble = TAGTypes::objectToValue(real(2.5));
  EXPECT_EQ(fromDouble->type(), TAGPValue_Type::String);
  EXPECT_EQ(fromDouble->string(), "2.5");
  auto fromInteger = TAGTypes::objectToValue(integer(7));
  EXPECT_EQ(fromInteger->type(), TAGPValue_Type::Integer);
  EXPECT_EQ(fromInteger->integer(), 7);
  auto fromTypedDouble = TAGTypes::objectToValue(TAGObject(TAGTypedNumber::numberWithDouble(1.25)));
  EXPECT_EQ(fromTypedDouble->string(), "1.25");
  auto fromBoolean = TAGTypes::objectToValue(TAGObject(TAGBoolean::yes()));
  EXPECT_EQ(fromBoolean->type(), TAGPValue_Type::Boolean);
  EXPECT_TRUE(fromBoolean->boolean());
  // A platform boolean is an integer kind.
  EXPECT_EQ(TAGTypes::objectToValue(TAGObject::number(platform::Value(true)))->integer(), 1);

  auto withReference = TAGTypes::objectToValue(
      TAGObject::list({str("a"), TAGObject(TAGTypes::macroReferenceToValue("m"))}));
  EXPECT_TRUE(withReference->containsReferences());
  EXPECT_FALSE(TAGTypes::objectToValue(TAGObject::list({str("a")}))->hasContainsReferences());
  EXPECT_TRUE(log.lines().empty());

  auto unsupported = TAGObject::other("Null", "<null>");
  EXPECT_EQ(TAGTypes::objectToValue(TAGObject::list({str("a"), unsupported, unsupported})),
            TAGTypes::defaultValue());
  EXPECT_EQ(
      log.lines(),
      (std::vector<std::string>{"error: Converting to Value from unknown object type: Null"}));
  log.clear();
  EXPECT_EQ(TAGTypes::objectToValue(TAGObject::map({{str("k"), unsupported}})),
            TAGTypes::defaultValue());
  EXPECT_EQ(TAGTypes::objectToValue(TAGObject()), TAGTypes::defaultValue());
  EXPECT_EQ(log.lines().back(), "error: Converting to Value from unknown object type: nil");
}

TEST(TAGTypesTest, ValueNodesBecomeObjects) {
  TagLogRecorder log;
  auto a = stringValue("a");
  auto b = stringValue("b");
  auto templ = TAGTypes::templateToValue({a, b});
  EXPECT_EQ(*TAGTypes::valueToString(templ), "ab");
  EXPECT_FALSE(templ->hasContainsReferences());
  auto withReference = TAGTypes::templateToValue(
      {a, TAGTypes::macroReferenceToValue("m", std::vector<std::int32_t>{12})});
  EXPECT_TRUE(withReference->containsReferences());
  EXPECT_TRUE(TAGTypes::valueToObject(withReference).isNone());

  auto map = TAGPValue::Builder()
                 .setType(TAGPValue_Type::Map)
                 .addMapKey(a)
                 .addMapValue(TAGTypes::objectToValue(integer(5)))
                 .addMapKey(stringValue("a"))
                 .addMapValue(TAGTypes::objectToValue(integer(6)))
                 .build();
  TAGObject object = TAGTypes::valueToObject(map);
  ASSERT_NE(object.map(), nullptr);
  ASSERT_EQ(object.map()->size(), 1u);
  auto five = object.map()->at(str("a")).typedNumber();
  ASSERT_NE(five, nullptr);
  EXPECT_EQ(five->int64Value(), 6);  // a later equal key replaces an earlier one

  log.clear();
  auto uneven = TAGPValue::Builder()
                    .setType(TAGPValue_Type::Map)
                    .addMapKey(a)
                    .addMapKey(b)
                    .addMapValue(a)
                    .build();
  EXPECT_TRUE(TAGTypes::valueToObject(uneven).isNone());
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].rfind("error: Converting an invalid value to object: ", 0), 0u);

  auto list = TAGPValue::Builder()
                  .setType(TAGPValue_Type::List)
                  .addListItem(a)
                  .addListItem(TAGTypes::functionIdToValue("f"))
                  .build();
  EXPECT_TRUE(TAGTypes::valueToObject(list).isNone());
  EXPECT_TRUE(TAGTypes::valueToObject(nullptr).isNone());

  auto boolean = TAGTypes::valueToBoolean(TAGTypes::objectToValue(TAGObject(TAGBoolean::yes())));
  EXPECT_TRUE(boolean->boolValue());
  EXPECT_NE(boolean, TAGBoolean::yes());
  EXPECT_EQ(TAGTypes::valueToInt64(stringValue("2.7")).number()->integerValue(), 2);
  EXPECT_EQ(TAGTypes::valueToDouble(TAGTypes::objectToValue(integer(3))).number()->doubleValue(),
            3.0);
}

TEST(TAGTypesTest, NumbersAndTheirKinds) {
  TagLogRecorder log;
  EXPECT_TRUE(TAGTypes::isInt64ableNumber(integer(1)));
  EXPECT_TRUE(TAGTypes::isInt64ableNumber(TAGObject::number(platform::Value(false))));
  EXPECT_FALSE(TAGTypes::isInt64ableNumber(real(1)));
  EXPECT_TRUE(TAGTypes::isDoubleableNumber(TAGObject(TAGTypedNumber::numberWithDouble(1))));
  EXPECT_FALSE(TAGTypes::isDoubleableNumber(str("1.5")));
  EXPECT_EQ(TAGTypes::getInt64(str("5")), 0);
  EXPECT_EQ(
      log.lines(),
      (std::vector<std::string>{"error: getInt64 received neither NSNumber nor TAGTypedNumber"}));
  EXPECT_EQ(TAGTypes::objectToNumber(real(2.5))->doubleValue(), 2.5);
  EXPECT_TRUE(TAGTypes::objectToNumber(integer(4))->isInt64());
  EXPECT_EQ(TAGTypes::objectToInt64(real(2.7)).number()->integerValue(), 2);
  EXPECT_EQ(TAGTypes::objectToDouble(str("0.5")).number()->doubleValue(), 0.5);
}

TEST(TAGTypesTest, MapKeysAreOrderedAndEqualByContent) {
  TAGObject::Map map;
  map.emplace(integer(2), str("two"));
  map.emplace(real(2.0), str("again"));  // the same number
  map.emplace(str("2"), str("text"));
  map.emplace(real(std::nan("")), str("nan"));
  map.emplace(integer(1), str("one"));
  EXPECT_EQ(map.size(), 4u);
  EXPECT_EQ(*TAGTypes::objectToString(TAGObject::map(map)), "{2=text, 1=one, 2=two, nan=nan}");
  EXPECT_TRUE(TAGObject::list({str("a")}).isEqual(TAGObject::list({str("a")})));
  EXPECT_FALSE(TAGObject::list({str("a")}).isSameObject(TAGObject::list({str("a")})));
  EXPECT_FALSE(TAGObject::other("X", "x").isEqual(TAGObject::other("X", "x")));
}

}  // namespace

namespace {

// A million nodes, each the only item of the list above it.
TAGPValue::Ref millionDeepChain() {
  TAGPValue::Ref node = stringValue("leaf");
  for (int i = 1; i < 1000000; ++i) {
    node = TAGPValue::Builder().setType(TAGPValue_Type::List).addListItem(std::move(node)).build();
  }
  return node;
}

}  // namespace

TEST(TAGPValueTest, DepthCountsLevelsDownToTheDeepestLeaf) {
  auto leaf = stringValue("x");
  EXPECT_EQ(leaf->depth(), 1u);
  auto list = TAGPValue::Builder().setType(TAGPValue_Type::List).addListItem(leaf).build();
  auto map =
      TAGPValue::Builder().setType(TAGPValue_Type::Map).addMapKey(leaf).addMapValue(list).build();
  auto templ = TAGPValue::Builder().setType(TAGPValue_Type::Template).addTemplateToken(map).build();
  EXPECT_EQ(list->depth(), 2u);
  EXPECT_EQ(map->depth(), 3u) << "the deeper of key and value";
  EXPECT_EQ(templ->depth(), 4u);
}

TEST(TAGPValueTest, AMillionLevelsDeepTreeIsReleasedWithoutRecursing) {
  auto deep = millionDeepChain();
  EXPECT_EQ(deep->depth(), 1000000u);
  deep.reset();

  // A subtree still shared elsewhere survives its parent's release whole.
  auto shared = millionDeepChain();
  auto parent = TAGPValue::Builder().setType(TAGPValue_Type::List).addListItem(shared).build();
  parent.reset();
  ASSERT_EQ(shared->listItemArray().size(), 1u);
  EXPECT_EQ(shared->listItemArray()[0]->depth(), 999999u);
}
