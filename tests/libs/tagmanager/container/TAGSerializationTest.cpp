// Default containers shipped as JSON or property lists: one constant macro per top-level entry,
// values keeping their kinds, and the kinds a container cannot hold refused.

#include <gtest/gtest.h>

#include "platform/foundation/Assert.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/TagValues.h"
#include "tagmanager/container/TAGSerialization.h"
#include "tagmanager/runtime/TAGRuntime.h"

namespace {

using namespace tagtest;

const char* kJson = R"({"a": "x", "n": 5, "f": true, "d": 2.5, "m": {"k": "v"}})";

const char* kPropertyList = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>a</key><string>x</string>
  <key>n</key><integer>5</integer>
  <key>f</key><true/>
  <key>d</key><real>2.5</real>
  <key>m</key><dict><key>k</key><string>v</string></dict>
</dict>
</plist>
)";

// name -> the "value" property of its one macro call.
std::map<std::string, TAGPValue::Ref> constants(const TAGExpandedResource& resource) {
  std::map<std::string, TAGPValue::Ref> values;
  for (const auto& [name, calls] : resource.allMacros()) {
    EXPECT_EQ(calls.size(), 1u) << name;
    const auto& call = calls.front();
    EXPECT_EQ(call->propertiesMap().size(), 3u) << name;
    EXPECT_EQ(call->propertyForKey("function")->functionId(), "_c") << name;
    EXPECT_EQ(text(call->propertyForKey("instance_name")), name);
    values[name] = call->propertyForKey("value");
  }
  return values;
}

std::shared_ptr<const TAGExpandedResource> fromPropertyList(const char* text) {
  auto object = platform::PropertyListSerialization::propertyListWithData(text, nullptr, nullptr);
  EXPECT_TRUE(object);
  return TAGSerialization::expandedResourceFromDeserializedObject(object);
}

TEST(TAGSerializationTest, EachTopLevelEntryBecomesAConstantMacroKeepingItsKind) {
  auto resource = TAGSerialization::expandResourceFromData(kJson);
  EXPECT_TRUE(resource->rules().empty());
  auto values = constants(*resource);
  ASSERT_EQ(values.size(), 5u);
  EXPECT_TRUE(values["a"]->isEqual(*str("x")));
  EXPECT_TRUE(values["n"]->isEqual(*integer(5)));
  EXPECT_TRUE(values["f"]->isEqual(*boolean(true)));
  EXPECT_TRUE(values["d"]->isEqual(*str("2.5")));  // doubles travel as text
  EXPECT_TRUE(values["m"]->isEqual(*map({{str("k"), str("v")}})));
}

TEST(TAGSerializationTest, JsonAndAPropertyListGiveTheSameResource) {
  auto fromJson = constants(*TAGSerialization::expandResourceFromData(kJson));
  auto fromPlist = constants(*fromPropertyList(kPropertyList));
  ASSERT_EQ(fromJson.size(), fromPlist.size());
  for (const auto& [name, value] : fromJson) {
    ASSERT_TRUE(fromPlist.count(name)) << name;
    EXPECT_TRUE(value->isEqual(*fromPlist[name])) << name;
  }
}

TEST(TAGSerializationTest, TheConstantsEvaluateThroughARuntime) {
  auto runtime = TAGRuntime::runtimeWithResource(TAGSerialization::expandResourceFromData(kJson),
                                                 nullptr, nullptr, nullptr);
  EXPECT_EQ(text(runtime->evaluateMacroReference("a")->value()), "x");
  EXPECT_TRUE(runtime->evaluateMacroReference("n")->isStatic());
  // A container value of 1 is no boolean YES: only the text "true" is.
  EXPECT_FALSE(
      TAGTypes::valueToBoolean(runtime->evaluateMacroReference("n")->value())->boolValue());
  EXPECT_TRUE(TAGTypes::valueToBoolean(runtime->evaluateMacroReference("f")->value())->boolValue());
}

TEST(TAGSerializationTest, ListsNullsAndOtherKindsAreNotSupported) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"a": [1, 2]})", "Type List is not supported"},
      {R"({"m": {"deep": [1]}})", "Type List is not supported"},
      {R"({"a": null})", "Type Null is not supported"},
      {"[1]", "Type List is not supported"},
  };
  for (const auto& [json, reason] : cases) {
    try {
      TAGSerialization::expandResourceFromData(json);
      FAIL() << "no exception for " << json;
    } catch (const platform::Exception& e) {
      EXPECT_EQ(e.name(), "NotSupportedException") << json;
      EXPECT_EQ(e.reason(), reason) << json;
    }
  }
  const char* dates =
      R"(<plist version="1.0"><dict><key>d</key><date>2020-01-01T00:00:00Z</date></dict></plist>)";
  EXPECT_THROW(fromPropertyList(dates), platform::Exception);
}

// One constant too large for 64 bits used to refuse the whole default container.
TEST(TAGSerializationTest, IntegersBeyondSixtyFourBitsAreDoublesAndTheRestStays) {
  auto fromJson = constants(*TAGSerialization::expandResourceFromData(
      R"({"a": "x", "big": 18446744073709551615, "huge": 123456789012345678901234567890})"));
  auto fromPlist = constants(*fromPropertyList(
      R"(<plist version="1.0"><dict><key>a</key><string>x</string>)"
      R"(<key>big</key><integer>18446744073709551615</integer>)"
      R"(<key>huge</key><integer>123456789012345678901234567890</integer></dict></plist>)"));
  for (auto* values : {&fromJson, &fromPlist}) {
    ASSERT_EQ(values->size(), 3u);
    EXPECT_TRUE((*values)["a"]->isEqual(*str("x")));
    EXPECT_EQ((*values)["big"]->type(), TAGPValue_Type::String) << "a double travels as text";
    EXPECT_DOUBLE_EQ(TAGTypes::valueToNumber((*values)["big"])->doubleValue(),
                     18446744073709551615.0);
    EXPECT_DOUBLE_EQ(TAGTypes::valueToNumber((*values)["huge"])->doubleValue(),
                     1.2345678901234568e29);
  }
}

TEST(TAGSerializationTest, ATopLevelThatIsNoMapGivesNoMacros) {
  testsupport::TagLogRecorder log;
  EXPECT_TRUE(TAGSerialization::expandResourceFromData(R"("just text")")->allMacros().empty());
  EXPECT_TRUE(TAGSerialization::expandResourceFromData("5")->allMacros().empty());
  EXPECT_TRUE(log.lines("error").empty());
  // Text that is no JSON at all is nothing, which converts to no value.
  EXPECT_TRUE(TAGSerialization::expandResourceFromData("{oops")->allMacros().empty());
  EXPECT_EQ(log.lines("error"),
            std::vector<std::string>{"Converting to Value from unknown object type: nil"});
}

}  // namespace
