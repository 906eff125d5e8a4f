// The macros a container's values refer to: encoders, digests, joins, regular-expression groups,
// the data layer, the click referrer, custom handlers, and the facts of the device and the
// application (through a replaceable set of platform facts).

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Mutex.h"
#include "platform/ui/Screen.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"
#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/TagValues.h"
#include "tagmanager/base/TAGPlatformFacts.h"
#include "tagmanager/base/TAGPropertyListUtil.h"
#include "tagmanager/macros/TAGCustomFunctionCall.h"
#include "tagmanager/macros/TAGHashMacro.h"
#include "tagmanager/macros/TAGResolution.h"
#include "tagmanager/manager/TAGClickReferrerUtil.h"
#include "tagmanager/manager/TAGDataLayer.h"
#include "tagmanager/runtime/TAGExpandedResourceBuilder.h"
#include "tagmanager/runtime/TAGRuntime.h"

namespace {

using namespace tagtest;
using platform::Value;
using testsupport::TagLogRecorder;

// Facts a test sets; whatever it leaves unset reads as the platform's.
class FakeFacts : public TAGPlatformFacts {
 public:
  std::optional<platform::Dictionary> info;
  std::optional<std::vector<std::string>> languages;
  std::optional<AdvertisingIdentifierManager> manager;
  std::optional<std::uint32_t> random;
  mutable std::uint32_t lastBound = 0;

  std::optional<Value> infoDictionaryValue(const std::string& key) const override {
    if (!info) return TAGPlatformFacts::infoDictionaryValue(key);
    auto it = info->find(key);
    if (it == info->end()) return std::nullopt;
    return it->second;
  }
  std::vector<std::string> preferredLanguages() const override {
    return languages ? *languages : TAGPlatformFacts::preferredLanguages();
  }
  std::optional<AdvertisingIdentifierManager> advertisingIdentifierManager() const override {
    return manager;
  }
  std::uint32_t randomUniform(std::uint32_t bound) const override {
    lastBound = bound;
    return random ? *random : TAGPlatformFacts::randomUniform(bound);
  }
};

// Records what a handler was asked and answers what the test set.
class RecordingEvaluator : public TAGCustomEvaluator {
 public:
  TAGObject answer;
  bool raise = false;
  std::vector<std::pair<std::string, TAGCustomParameters>> calls;

  TAGObject evaluate(const std::string& name, const TAGCustomParameters& parameters) override {
    calls.emplace_back(name, parameters);
    if (raise) throw std::runtime_error("boom");
    return answer;
  }
};

struct MacroCase {
  TAGPropertyMap properties;
  std::optional<std::string> expected;  // none: the default value
  std::vector<std::string> errors = {};
};

class TAGMacrosTest : public ::testing::Test {
 protected:
  TAGMacrosTest() { TAGPlatformFacts::setShared(facts_); }
  ~TAGMacrosTest() override { TAGPlatformFacts::setShared(nullptr); }

  TAGPValue::Ref evaluate(const std::string& functionId, const TAGPropertyMap& properties = {}) {
    return runtime_->macroMap().at(functionId)->evaluate(properties);
  }

  // Each case's result (none: the default value) and exactly the error lines it logs.
  void expectCases(const std::string& functionId, const std::vector<MacroCase>& cases) {
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const MacroCase& c = cases[i];
      TagLogRecorder log;
      TAGPValue::Ref result = evaluate(functionId, c.properties);
      if (c.expected) {
        EXPECT_NE(result, TAGTypes::defaultValue()) << functionId << " case " << i;
        EXPECT_EQ(text(result), *c.expected) << functionId << " case " << i;
      } else {
        EXPECT_EQ(result, TAGTypes::defaultValue()) << functionId << " case " << i;
      }
      EXPECT_EQ(log.lines("error"), c.errors) << functionId << " case " << i;
    }
  }

  std::shared_ptr<FakeFacts> facts_ = std::make_shared<FakeFacts>();
  std::shared_ptr<TAGDataLayer> dataLayer_ = std::make_shared<TAGDataLayer>();
  std::shared_ptr<RecordingEvaluator> handlers_ = std::make_shared<RecordingEvaluator>();
  std::shared_ptr<TAGRuntime> runtime_ = TAGRuntime::runtimeWithResource(
      TAGExpandedResource::builder().build(), dataLayer_, handlers_, nullptr);
};

TEST_F(TAGMacrosTest, EncodeDecodesByInputFormatAndEncodesByOutputFormat) {
  const std::vector<MacroCase> cases = {
      {{{"arg0", str("abc")}}, "616263"},
      {{{"arg0", str("abc")}, {"output_format", str("base64")}}, "YWJj"},
      {{{"arg0", str("6162")},
        {"input_format", str("base16")},
        {"output_format", str("base64url")},
        {"no_padding", boolean(true)}},
       "YWI"},
      {{{"arg0", str("ab")}, {"output_format", str("base64")}}, "YWI="},
      {{{"arg0", str("ab")}, {"output_format", str("base64")}, {"no_padding", str("true")}}, "YWI"},
      {{{"arg0", str("+/8=")}, {"input_format", str("base64")}}, "FBFF"},
      {{{"arg0", str("-_8")}, {"input_format", str("base64url")}, {"no_padding", boolean(true)}},
       "FBFF"},
      {{{"arg0", str("\xC3\xA9")}}, "C3A9"},
      {{{"arg0", integer(10)}}, "3130"},  // the integer's text
      // Base64 the decoder refuses yields no bytes, which encode to "" without a word.
      {{{"arg0", str("!!!")}, {"input_format", str("base64")}}, ""},
      {{{"arg0", str("")}}, std::nullopt},
      {{{"arg0", str("ABC")}, {"input_format", str("base16")}},
       std::nullopt,
       {"Encode: invalid input: ABC"}},
      {{{"arg0", str("zz")}, {"input_format", str("base16")}},
       std::nullopt,
       {"Encode: invalid input: zz"}},
      {{{"arg0", str("abc")}, {"input_format", str("hex")}},
       std::nullopt,
       {"Encode: unknown input format: hex"}},
      {{{"arg0", str("abc")}, {"output_format", str("Base64")}},
       std::nullopt,
       {"Encode: unknown output format: Base64"}},
  };
  expectCases("_enc", cases);
  EXPECT_EQ(evaluate("_enc", {}), TAGTypes::defaultValue());
}

TEST_F(TAGMacrosTest, HashGivesUpperCaseHexOfTheNamedDigest) {
  const std::vector<MacroCase> cases = {
      {{{"arg0", str("abc")}}, "900150983CD24FB0D6963F7D28E17F72"},
      {{{"arg0", str("abc")}, {"algorithm", str("MD5")}}, "900150983CD24FB0D6963F7D28E17F72"},
      {{{"arg0", str("abc")}, {"algorithm", str("SHA-1")}},
       "A9993E364706816ABA3E25717850C26C9CD0D89D"},
      {{{"arg0", str("abc")}, {"algorithm", str("SHA-256")}},
       "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
      {{{"arg0", str("abc")}, {"algorithm", str("SHA-384")}},
       "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED163"
       "1A8B605A43FF5BED8086072BA1E7CC2358BAECA134C825A7"},
      {{{"arg0", str("abc")}, {"algorithm", str("SHA-512")}},
       "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A"
       "2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F"},
      {{{"arg0", str("616263")}, {"input_format", str("base16")}},
       "900150983CD24FB0D6963F7D28E17F72"},
      {{{"arg0", str("")}}, "D41D8CD98F00B204E9800998ECF8427E"},
      // Names are exact.
      {{{"arg0", str("abc")}, {"algorithm", str("sha-1")}},
       std::nullopt,
       {"Hash error. Algorithm: sha-1"}},
      {{{"arg0", str("abc")}, {"algorithm", str("SHA1")}},
       std::nullopt,
       {"Hash error. Algorithm: SHA1"}},
      {{{"arg0", str("abc")}, {"input_format", str("hex")}},
       std::nullopt,
       {"Hash: unknown input format: hex"}},
      // Hexadecimal input that does not decode stays inside the macro.
      {{{"arg0", str("ABC")}, {"input_format", str("base16")}},
       std::nullopt,
       {"Hash: invalid input: ABC"}},
      {{{"arg0", str("zz")}, {"input_format", str("base16")}},
       std::nullopt,
       {"Hash: invalid input: zz"}},
      {{{"arg0", TAGTypes::defaultValue()}}, std::nullopt},
  };
  expectCases("_hsh", cases);
}

TEST_F(TAGMacrosTest, HashByAnUnknownNameRaisesNoSuchAlgorithm) {
  TAGHashMacro macro;
  EXPECT_EQ(macro.hashAlgorithms().size(), 5u);
  try {
    macro.hash({'a'}, "sha-1");
    FAIL() << "no exception";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.name(), "NoSuchAlgorithmException");
    EXPECT_EQ(e.reason(), "Unknown algorithmsha-1");
  }
}

TEST_F(TAGMacrosTest, JoinerJoinsListsAndMapsWithOptionalEscaping) {
  auto abc = list({str("a"), str("b"), str("c")});
  const std::vector<MacroCase> cases = {
      {{{"arg0", abc}, {"item_separator", str(",")}}, "a,b,c"},
      {{{"arg0", abc}}, "abc"},
      {{{"arg0", list({})}, {"item_separator", str(",")}}, ""},
      {{{"arg0", map({{str("k"), str("v")}})}}, "k=v"},
      {{{"arg0", map({{str("k"), str("v")}, {str("n"), integer(2)}})},
        {"item_separator", str("&")},
        {"key_value_separator", str(":")}},
       "k:v&n:2"},
      {{{"arg0", map({{str("a;b"), str("v")}})},
        {"escape", str("backslash")},
        {"item_separator", str(";")}},
       "a\\;b=v"},
      // The backslash itself is doubled, and so is never escaped twice.
      {{{"arg0", map({{str("a\\b"), str("x=y")}})}, {"escape", str("backslash")}}, "a\\\\b=x\\=y"},
      {{{"arg0", map({{str("k"), str("x y")}})}, {"escape", str("url")}}, "k=x%20y"},
      {{{"arg0", list({str("a&b"), str("c")})},
        {"item_separator", str("&")},
        {"escape", str("url")}},
       "a%26b&c"},
      {{{"arg0", str("a b")}, {"escape", str("url")}}, "a%20b"},
      {{{"arg0", integer(7)}, {"item_separator", str(",")}}, "7"},
      {{{"arg0", abc}, {"escape", str("html")}}, std::nullopt, {"Joiner: unsupported escape type"}},
  };
  expectCases("_jn", cases);
}

TEST_F(TAGMacrosTest, RegexGroupGivesOneGroupOfTheFirstMatch) {
  auto subject = str("abc123");
  auto pattern = str("([a-z]+)([0-9]+)");
  const std::vector<MacroCase> cases = {
      {{{"arg0", subject}, {"arg1", pattern}}, "abc"},
      {{{"arg0", subject}, {"arg1", pattern}, {"group", integer(2)}}, "123"},
      {{{"arg0", subject}, {"arg1", pattern}, {"group", str("2")}}, "123"},
      {{{"arg0", subject}, {"arg1", pattern}, {"group", integer(0)}}, "abc123"},
      {{{"arg0", subject}, {"arg1", pattern}, {"group", integer(3)}}, std::nullopt},
      {{{"arg0", subject}, {"arg1", pattern}, {"group", integer(-1)}}, std::nullopt},
      {{{"arg0", subject}, {"arg1", pattern}, {"group", str("x")}},
       std::nullopt,
       {"Failed to convert x to a number.", "Invalid group number: x"}},
      {{{"arg0", str("xABC")}, {"arg1", str("(b)")}}, std::nullopt},
      {{{"arg0", str("xABC")}, {"arg1", str("(b)")}, {"ignore_case", boolean(true)}}, "B"},
      {{{"arg0", str("xABC")}, {"arg1", str("(b)")}, {"ignore_case", boolean(false)}},
       std::nullopt},
      {{{"arg0", str("xyz")}, {"arg1", str("([0-9])")}}, std::nullopt},
      // The second alternative's group takes no part when the first alternative matched.
      {{{"arg0", str("a")}, {"arg1", str("(a)|(b)")}, {"group", integer(2)}}, std::nullopt},
      {{{"arg0", str("a")}, {"arg1", str("(a)|(b)")}, {"group", integer(1)}}, "a"},
      {{{"arg0", str("\xE4\xB8\xAD\xE6\x96\x87x")}, {"arg1", str("(\\p{Han}+)")}},
       "\xE4\xB8\xAD\xE6\x96\x87"},
      {{{"arg0", subject}, {"arg1", str("(")}}, std::nullopt, {"Invalid regex pattern: ("}},
      {{{"arg0", subject}, {"arg1", TAGTypes::defaultValue()}}, std::nullopt},
      {{{"arg0", TAGTypes::defaultValue()}, {"arg1", pattern}}, std::nullopt},
  };
  expectCases("_reg", cases);
}

TEST_F(TAGMacrosTest, DataLayerValueFollowsTheDottedPathElseTheDefault) {
  dataLayer_->push({{"a", platform::Dictionary{{"b", Value(5)}}}, {"n", Value(nullptr)}});
  EXPECT_TRUE(evaluate("_v", {{"name", str("a.b")}})->isEqual(*integer(5)));
  EXPECT_EQ(text(evaluate("_v", {{"name", str("a.x")}, {"default_value", str("d")}})), "d");
  auto fallback = list({str("x")});
  EXPECT_EQ(evaluate("_v", {{"name", str("zz")}, {"default_value", fallback}}), fallback);
  EXPECT_EQ(evaluate("_v", {{"name", str("zz")}}), TAGTypes::defaultValue());
  TagLogRecorder log;
  EXPECT_EQ(evaluate("_v", {{"name", str("n")}}), TAGTypes::defaultValue());
  EXPECT_EQ(log.lines("error").size(), 1u);  // a null cannot become a value
}

TEST_F(TAGMacrosTest, ConstantsAndVersions) {
  auto value = map({{str("k"), list({str("v")})}});
  EXPECT_EQ(evaluate("_c", {{"value", value}}), value);  // itself, unconverted
  EXPECT_EQ(text(evaluate("_tmv")), "3.01");
  EXPECT_TRUE(evaluate("_rv")->isEqual(*integer(50809091)));
  EXPECT_EQ(text(evaluate("_p")), "iOS");
}

TEST_F(TAGMacrosTest, ApplicationFactsComeFromTheBundle) {
  facts_->info = platform::Dictionary{{"CFBundleName", Value("Course")},
                                      {"CFBundleIdentifier", Value("com.example.course")},
                                      {"CFBundleShortVersionString", Value("2.1")}};
  EXPECT_EQ(text(evaluate("_an")), "Course");
  EXPECT_EQ(text(evaluate("_ai")), "com.example.course");
  EXPECT_EQ(text(evaluate("_av")), "2.1");

  facts_->info = platform::Dictionary{{"CFBundleName", Value("")},
                                      {"CFBundleIdentifier", Value("com.example.course")}};
  EXPECT_EQ(text(evaluate("_an")), "com.example.course");

  facts_->info = platform::Dictionary{};
  TagLogRecorder log;
  EXPECT_EQ(evaluate("_an"), TAGTypes::defaultValue());
  EXPECT_EQ(evaluate("_av"), TAGTypes::defaultValue());
  EXPECT_EQ(log.lines("error"),
            (std::vector<std::string>{"Application name cannot be retrieved.",
                                      "Converting to Value from unknown object type: nil"}));
}

TEST_F(TAGMacrosTest, DeviceFactsComeFromThePlatform) {
  EXPECT_FALSE(text(evaluate("_dn")).empty());
  EXPECT_EQ(text(evaluate("_ov")), text(evaluate("_sv")));
  EXPECT_FALSE(text(evaluate("_sv")).empty());

  facts_->languages = std::vector<std::string>{"zh-Hans", "en"};
  EXPECT_EQ(text(evaluate("_l")), "zh-hans");
  facts_->languages = std::vector<std::string>{};
  EXPECT_EQ(evaluate("_l"), TAGTypes::defaultValue());
}

TEST_F(TAGMacrosTest, ResolutionRoundsEachSideUpInSinglePrecision) {
  struct Case {
    TAGPlatformFacts::ScreenMetrics screen;
    const char* expected;
  };
  const Case cases[] = {
      {{320, 568, 2}, "640x1136"},
      {{320.25, 480.5, 2}, "641x961"},
      {{414, 736, 3}, "1242x2208"},
      {{0.1, 0.1, 3}, "1x1"},
      // In single precision 640.00001 is 640 exactly; in double precision it would round up.
      {{640.00001, 0, 1}, "640x0"},
      {{100.5, 0, 1}, "101x0"},
  };
  for (const auto& c : cases) EXPECT_EQ(TAGResolution::resolution(c.screen), c.expected);
}

TEST_F(TAGMacrosTest, ResolutionIsTheScreenInPixels) {
  platform::Screen::mainScreen().setTall(true);
  EXPECT_EQ(text(evaluate("_rs")), "640x1136");
  platform::Screen::mainScreen().setTall(false);
  EXPECT_EQ(text(evaluate("_rs")), "640x960");
}

TEST_F(TAGMacrosTest, WithoutAnAdvertisingIdentifierManagerTheIdIsMissingAndTrackingOn) {
  facts_->manager = std::nullopt;
  TagLogRecorder log;
  EXPECT_EQ(evaluate("_adi"), TAGTypes::defaultValue());
  EXPECT_EQ(evaluate("_awid"), TAGTypes::defaultValue());
  EXPECT_EQ(log.lines("error"),
            (std::vector<std::string>{"Id for Advertising macro requires AdSupport framework.",
                                      "Ad Tag requires AdSupport framework."}));
  EXPECT_TRUE(evaluate("_ate")->isEqual(*boolean(true)));
}

TEST_F(TAGMacrosTest, AnAdvertisingIdentifierManagerAnswersItsIdAndFlag) {
  facts_->manager =
      TAGPlatformFacts::AdvertisingIdentifierManager{"6D92078A-8246-4BA4-AE5B-76104861E7DC", false};
  EXPECT_EQ(text(evaluate("_adi")), "6D92078A-8246-4BA4-AE5B-76104861E7DC");
  EXPECT_EQ(text(evaluate("_awid")), "6D92078A-8246-4BA4-AE5B-76104861E7DC");
  EXPECT_TRUE(evaluate("_ate")->isEqual(*boolean(false)));

  facts_->manager->advertisingIdentifier = "";
  TagLogRecorder log;
  EXPECT_EQ(evaluate("_adi"), TAGTypes::defaultValue());
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(TAGMacrosTest, RandomStaysInItsRange) {
  facts_->random = 2147483647u;
  EXPECT_TRUE(evaluate("_r")->isEqual(*integer(2147483647)));
  EXPECT_EQ(facts_->lastBound, 2147483648u);
  facts_->random = std::nullopt;
  for (int i = 0; i < 200; ++i) {
    std::int64_t number = evaluate("_r")->integer();
    EXPECT_GE(number, 0);
    EXPECT_LE(number, 2147483647);
  }
}

TEST_F(TAGMacrosTest, TimeIsTheClockInMilliseconds) {
  platform::ScopedManualClock clock;
  clock->setDate(platform::dateFromSeconds(1700000000.9876));
  EXPECT_TRUE(evaluate("_t")->isEqual(*integer(1700000000987)));
  clock->advanceSeconds(1.5);
  EXPECT_TRUE(evaluate("_t")->isEqual(*integer(1700000002487)));
}

TEST_F(TAGMacrosTest, CacheabilityFollowsWhatMayChangeWhileTheRuntimeLives) {
  EXPECT_EQ(runtime_->macroMap().size(), 25u);
  for (const char* id : {"_v", "_e", "_l", "_r", "_t", "_func"}) {
    EXPECT_FALSE(runtime_->macroMap().at(id)->isCacheable()) << id;
  }
  for (const char* id : {"_c", "_enc", "_hsh", "_jn", "_reg", "_awcr", "_adi", "_rs", "_sv"}) {
    EXPECT_TRUE(runtime_->macroMap().at(id)->isCacheable()) << id;
  }
}

TEST_F(TAGMacrosTest, ClickReferrerAnswersTheStoredReferrerOrOneComponent) {
  testsupport::TempHome home;
  TAGClickReferrerUtil::clearCache();
  TAGClickReferrerUtil::addClickReferrer("conv=123&src=abc");
  EXPECT_EQ(text(evaluate("_awcr", {{"conversion_id", str("123")}})), "conv=123&src=abc");
  EXPECT_EQ(text(evaluate("_awcr", {{"conversion_id", integer(123)}, {"component", str("src")}})),
            "abc");
  EXPECT_EQ(evaluate("_awcr", {{"conversion_id", str("9")}}), TAGTypes::defaultValue());
  // Let the background write land before the home folder goes.
  TAGPropertyListUtil::writePropertyListAsync("marker", Value(platform::Array{}));
  ASSERT_TRUE(testsupport::runUntil(
      [] { return TAGPropertyListUtil::readPropertyList("marker").has_value(); }));
  TAGClickReferrerUtil::clearCache();
}

TEST_F(TAGMacrosTest, CustomFunctionCallAsksTheApplicationsHandler) {
  handlers_->answer = TAGObject::string("r");
  auto result = evaluate("_func", {{"function_call_macro_name", str("lookup")},
                                   {"additional_params", map({{str("n"), integer(5)}})}});
  EXPECT_EQ(text(result), "r");
  ASSERT_EQ(handlers_->calls.size(), 1u);
  EXPECT_EQ(handlers_->calls[0].first, "lookup");
  const auto& arguments = handlers_->calls[0].second;
  ASSERT_EQ(arguments.size(), 1u);
  ASSERT_TRUE(arguments.at("n").typedNumber());
  EXPECT_EQ(arguments.at("n").typedNumber()->int64Value(), 5);
}

TEST_F(TAGMacrosTest, CustomFunctionCallFailuresGiveTheDefaultValue) {
  {
    TagLogRecorder log;
    EXPECT_EQ(evaluate("_func",
                       {{"function_call_macro_name", str("f")}, {"additional_params", str("x")}}),
              TAGTypes::defaultValue());
    EXPECT_EQ(
        log.lines("warning"),
        std::vector<std::string>{"FunctionCallMacro: expected additional_params to be a map."});
    EXPECT_TRUE(handlers_->calls.empty());
  }
  {
    handlers_->raise = true;
    TagLogRecorder log;
    EXPECT_EQ(evaluate("_func", {{"function_call_macro_name", str("f")}}),
              TAGTypes::defaultValue());
    EXPECT_EQ(log.lines("warning"),
              std::vector<std::string>{"Custom macro/tag f threw exception boom"});
  }
  {
    handlers_->raise = false;
    handlers_->answer = TAGObject();  // no answer
    TagLogRecorder log;
    EXPECT_EQ(evaluate("_func", {{"function_call_macro_name", str("f")}}),
              TAGTypes::defaultValue());
    EXPECT_EQ(log.lines("error"),
              std::vector<std::string>{"Converting to Value from unknown object type: nil"});
  }
}

}  // namespace
