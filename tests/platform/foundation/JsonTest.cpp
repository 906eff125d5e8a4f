#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/foundation/Base64.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Utf8.h"

using namespace platform;
using nlohmann::json;

TEST(JsonTest, WrongTypesReadAsAbsentNeverThrow) {
  json j = json::parse(R"({"i": 5, "s": "12px", "f": 2.0, "g": 2.5, "b": true, "n": null,
                           "a": [1], "o": {"k": 1}, "e": ""})");
  struct Case {
    const char* key;
    std::optional<std::int64_t> integer;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {"i", 5, "5"},
      {"s", 12, "12px"},
      {"f", 2, "2"},
      {"g", 2, "2.5"},
      {"b", 1, "1"},
      {"n", std::nullopt, std::nullopt},
      {"a", std::nullopt, std::nullopt},
      {"o", std::nullopt, std::nullopt},
      {"e", 0, ""},
      {"missing", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(Json::intValue(j, c.key), c.integer);
    EXPECT_EQ(Json::stringValue(j, c.key), c.text);
  }
  EXPECT_NE(Json::arrayValue(j, "a"), nullptr);
  EXPECT_EQ(Json::arrayValue(j, "o"), nullptr);
  EXPECT_NE(Json::objectValue(j, "o"), nullptr);
  // Reading a member of something that is not an object is absent too.
  EXPECT_EQ(Json::intValue(json::array({1, 2}), "i"), std::nullopt);
  EXPECT_EQ(Json::intValue(json("x"), "i"), std::nullopt);
}

// A number beyond the signed 64-bit range is absent where an integer is expected: wrapped, the
// largest unsigned id would log in as user -1.
TEST(JsonTest, IntegersOutOfRangeReadAsAbsent) {
  json j = json::parse(R"({"userId": 18446744073709551615, "over": 9223372036854775808,
                           "max": 9223372036854775807, "min": -9223372036854775808,
                           "huge": 1e19, "tiny": -1e19, "far": 1e300, "near": -9.2e18,
                           "half": 9.2e18})");
  const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
      {"userId", std::nullopt},
      {"over", std::nullopt},
      {"max", INT64_MAX},
      {"min", INT64_MIN},
      {"huge", std::nullopt},
      {"tiny", std::nullopt},
      {"far", std::nullopt},
      {"near", std::int64_t{-9200000000000000000}},
      {"half", std::int64_t{9200000000000000000}},
  };
  for (const auto& [key, expected] : cases) {
    SCOPED_TRACE(key);
    EXPECT_EQ(Json::intValue(j, key), expected);
  }
  // As a text it is still the number the server sent, and as a flag still non-zero.
  EXPECT_EQ(Json::stringValue(j, "userId"), "18446744073709551615");
  EXPECT_EQ(Json::boolValue(j, "userId"), true);
  // Converted to a Value, an integer that does not fit is null rather than a wrapped one.
  Value v = Json::toValue(j);
  EXPECT_TRUE(v["userId"].isNull());
  EXPECT_TRUE(v["over"].isNull());
  EXPECT_EQ(v["max"].asInteger(), INT64_MAX);
}

namespace {

// `depth` arrays and objects, alternating, around a number: [{"k":[{"k":...1...}]}].
std::string nested(int depth) {
  std::string open, close;
  for (int i = 0; i < depth; ++i) {
    open += i % 2 ? "{\"k\":" : "[";
    close.insert(0, i % 2 ? "}" : "]");
  }
  return open + "1" + close;
}

}  // namespace

TEST(JsonTest, ParseRefusesTextsNestedBeyondTheBound) {
  auto deepest = Json::parse(nested(Json::kMaxDepth));
  ASSERT_TRUE(deepest.has_value());
  Value v = Json::toValue(*deepest);
  ASSERT_NE(v.asArray(), nullptr);
  EXPECT_EQ(v.asArray()->size(), 1u);

  EXPECT_FALSE(Json::parse(nested(Json::kMaxDepth + 1)).has_value());
  // A feedback answer whose "resultCode" nests 30,000 arrays deep.
  std::string feedback =
      R"({"resultCode":)" + std::string(30000, '[') + std::string(30000, ']') + "}";
  EXPECT_FALSE(Json::parse(feedback).has_value());
  EXPECT_FALSE(Json::parse(nested(100000)).has_value());
}

// A document built by other means than `parse` (so not checked while it was read) is refused as
// a whole by `toValue`, and destroying it does not recurse either.
TEST(JsonTest, ToValueRefusesDocumentsNestedBeyondTheBound) {
  auto build = [](int depth) {
    json root = json::array();
    json* innermost = &root;
    for (int i = 1; i < depth; ++i) {
      innermost->push_back(json::array());
      innermost = &innermost->back();
    }
    innermost->push_back(7);
    return root;
  };
  EXPECT_FALSE(Json::toValue(build(Json::kMaxDepth)).isNull());
  EXPECT_TRUE(Json::toValue(build(Json::kMaxDepth + 1)).isNull());
  json answer = json::object();
  answer["resultCode"] = build(1000000);  // moved in: a copy would recurse
  EXPECT_TRUE(Json::toValue(answer).isNull());
  EXPECT_TRUE(Json::toValue(answer["resultCode"]).isNull());
}

TEST(JsonTest, ParseRejectsBadTextWithoutThrowing) {
  EXPECT_FALSE(Json::parse("{").has_value());
  EXPECT_FALSE(Json::parse("").has_value());
  EXPECT_FALSE(Json::parse("nope").has_value());
  ASSERT_TRUE(Json::parse("[1,2]").has_value());
}

TEST(JsonTest, ValueRoundTrip) {
  json j = json::parse(R"({"a": [1, 2.5, "x", true, null], "b": {"c": -3}})");
  Value v = Json::toValue(j);
  EXPECT_EQ(v["b"]["c"].intValue(), -3);
  EXPECT_EQ(Json::fromValue(v), j);
  EXPECT_EQ(Json::fromValue(Value(Bytes{'h', 'i'})), "aGk=");
}

TEST(Base64Test, EncodeDecodeTable) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
      {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"user:pass", "dXNlcjpwYXNz"}};
  for (const auto& [plain, encoded] : cases) {
    EXPECT_EQ(base64Encode(plain), encoded);
    auto back = base64Decode(encoded);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::string(back->begin(), back->end()), plain);
  }
  EXPECT_FALSE(base64Decode("abc").has_value());
  EXPECT_FALSE(base64Decode("ab!d").has_value());
  auto wrapped = base64Decode("Zm9v\nYg==");
  ASSERT_TRUE(wrapped);
  EXPECT_EQ(wrapped->size(), 4u);
}

TEST(DigestTest, KnownDigestsAndUuid) {
  EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5Hex("123456"), "e10adc3949ba59abbe56e057f20f883e");
  EXPECT_EQ(sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  std::string id = makeUuid();
  EXPECT_EQ(id.size(), 36u);
  EXPECT_EQ(id[8], '-');
  for (char c : id) EXPECT_FALSE(std::islower(static_cast<unsigned char>(c)));
  EXPECT_NE(makeUuid(), id);
}

// Pool workers hash request keys (an engine taking in a transfer) while the process exits, after
// the exit handlers have begun to run: digests must still be made then.
TEST(DigestTest, DigestsAreMadeWhileTheProcessExits) {
  // A fresh process, so the digest library is first used inside this test.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // Registered before the first digest, so it runs after whatever the digest library
        // registers for tearing down at exit.
        std::atexit(
            [] { std::_Exit(md5Hex("123456") == "e10adc3949ba59abbe56e057f20f883e" ? 0 : 1); });
        md5Hex("first use");
        std::exit(2);
      },
      testing::ExitedWithCode(0), "");
}

TEST(Utf8Test, ValidationTable) {
  const std::pair<std::string, bool> cases[] = {
      {"", true},
      {"plain", true},
      {"学习记录", true},
      {"\xF0\x9F\x98\x80", true},   // four-byte form
      {"\xFF", false},              // never a UTF-8 byte
      {"\xE5\xAD", false},          // cut short
      {"\xC0\xAF", false},          // overlong '/'
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF4\x90\x80\x80", false},  // beyond U+10FFFF
      {"a\x80", false},             // stray continuation byte
  };
  for (const auto& [text, valid] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(isValidUtf8(text), valid);
  }
}
