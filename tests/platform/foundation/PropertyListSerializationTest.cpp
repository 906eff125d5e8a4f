// Property lists: every supported value through the binary format and back, the XML and text
// formats read, and damaged or hostile binary data refused rather than trusted.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/foundation/PropertyListSerialization.h"

namespace {

using platform::Array;
using platform::Bytes;
using platform::Dictionary;
using platform::Error;
using platform::PropertyListFormat;
using platform::PropertyListSerialization;
using platform::Value;

std::optional<Value> read(std::string_view data, PropertyListFormat* format = nullptr,
                          Error* error = nullptr) {
  return PropertyListSerialization::propertyListWithData(data, format, error);
}

std::string binary(const Value& value) {
  Error error;
  auto data = PropertyListSerialization::binaryDataWithPropertyList(value, &error);
  EXPECT_TRUE(data.has_value()) << error.localizedDescription();
  return data.value_or("");
}

std::string bigEndian(std::uint64_t v, int size) {
  std::string out;
  for (int i = size - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

// A binary list assembled by hand: the objects (each a byte string), refs of one byte, offsets
// of one byte, and the trailer.
std::string handMade(const std::vector<std::string>& objects, std::uint64_t top = 0,
                     std::uint64_t countOverride = 0) {
  std::string out = "bplist00";
  std::string offsets;
  for (const auto& object : objects) {
    offsets += static_cast<char>(out.size());
    out += object;
  }
  std::uint64_t tableOffset = out.size();
  out += offsets;
  out += std::string(6, '\0');
  out += '\x01';
  out += '\x01';
  out += bigEndian(countOverride ? countOverride : objects.size(), 8);
  out += bigEndian(top, 8);
  out += bigEndian(tableOffset, 8);
  return out;
}

TEST(PropertyListSerializationTest, EverySupportedValueRoundTripsThroughTheBinaryFormat) {
  Bytes many(300);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = static_cast<std::uint8_t>(i);
  Array longList;
  for (int i = 0; i < 20; ++i) longList.push_back(Value(i * 1000));
  const std::vector<std::pair<const char*, Value>> cases = {
      {"true", Value(true)},
      {"false", Value(false)},
      {"small integer", Value(7)},
      {"integers of every width",
       Value(Array{Value(0), Value(255), Value(256), Value(65535), Value(65536),
                   Value(std::int64_t{0xFFFFFFFF}), Value(std::int64_t{0x100000000})})},
      {"negative integers",
       Value(Array{Value(-1), Value(std::numeric_limits<std::int64_t>::min())})},
      {"largest integer", Value(std::numeric_limits<std::int64_t>::max())},
      {"double", Value(2.5)},
      {"double extremes", Value(Array{Value(-0.0), Value(1e308), Value(5e-324),
                                      Value(std::numeric_limits<double>::infinity())})},
      {"date", Value(platform::dateFromSeconds(1700000000.0))},
      {"date before 2001", Value(platform::dateFromSeconds(-86400.5))},
      {"data", Value(Bytes{0x00, 0xFF, 0x10})},
      {"data of 300 bytes", Value(many)},
      {"empty data", Value(Bytes{})},
      {"ASCII text", Value("conv=123&src=abc")},
      {"empty text", Value("")},
      {"text of 20 characters", Value(std::string(20, 'x'))},
      {"non-ASCII text", Value("点击 é 😀")},
      {"array", Value(Array{Value("a"), Value(1), Value(Array{Value("b")})})},
      {"array of 20", Value(longList)},
      {"empty array", Value(Array{})},
      {"dictionary", Value(Dictionary{{"123", Value("conv=123")}, {"中文", Value(true)}})},
      {"empty dictionary", Value(Dictionary{})},
      {"nested",
       Value(Dictionary{{"list", Value(Array{Value(Dictionary{{"k", Value(Bytes{1})}})})}})},
  };
  for (const auto& [what, value] : cases) {
    PropertyListFormat format = PropertyListFormat::OpenStep;
    EXPECT_EQ(read(binary(value), &format), value) << what;
    EXPECT_EQ(format, PropertyListFormat::Binary) << what;
  }
  double nan = *read(binary(Value(std::nan(""))))->asDouble();
  EXPECT_TRUE(std::isnan(nan));
}

TEST(PropertyListSerializationTest, ManyObjectsNeedWiderReferences) {
  Dictionary entries;
  for (int i = 0; i < 70000; ++i) entries.emplace("id" + std::to_string(i), Value("true"));
  Value big(entries);
  EXPECT_EQ(read(binary(big)), big);
}

TEST(PropertyListSerializationTest, ValuesAListCannotHoldAreRefused) {
  const std::vector<std::pair<const char*, Value>> cases = {
      {"null", Value()},
      {"null inside", Value(Dictionary{{"a", Value(Array{Value()})}})},
      {"a shared object", Value::object(std::make_shared<int>(1))},
      {"text that is not UTF-8", Value(std::string("\xC3", 1))},
      {"a key that is not UTF-8", Value(Dictionary{{std::string("\xFF", 1), Value(1)}})},
  };
  for (const auto& [what, value] : cases) {
    Error error;
    EXPECT_FALSE(PropertyListSerialization::binaryDataWithPropertyList(value, &error)) << what;
    EXPECT_EQ(error.code(), 3851) << what;
    EXPECT_EQ(error.domain(), "NSCocoaErrorDomain") << what;
  }
  Value deep("leaf");
  for (int i = 0; i < PropertyListSerialization::kMaxDepth + 2; ++i) deep = Value(Array{deep});
  EXPECT_FALSE(PropertyListSerialization::binaryDataWithPropertyList(deep, nullptr));
}

TEST(PropertyListSerializationTest, ReadsTheXmlFormat) {
  std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <!-- a comment -->
  <key>name</key> <string>a &amp; b</string>
  <key>count</key> <integer>-42</integer>
  <key>ratio</key> <real>0.5</real>
  <key>on</key> <true/>
  <key>off</key> <false/>
  <key>when</key> <date>2001-01-01T00:00:00Z</date>
  <key>bytes</key> <data>
    AP8Q
  </data>
  <key>list</key> <array><string/><integer>1</integer></array>
  <key>cdata</key> <string><![CDATA[<raw>]]></string>
</dict>
</plist>)";
  PropertyListFormat format = PropertyListFormat::Binary;
  auto value = read(xml, &format);
  ASSERT_TRUE(value);
  EXPECT_EQ(format, PropertyListFormat::XML);
  EXPECT_EQ(*value, Value(Dictionary{
                        {"name", Value("a & b")},
                        {"count", Value(-42)},
                        {"ratio", Value(0.5)},
                        {"on", Value(true)},
                        {"off", Value(false)},
                        {"when", Value(platform::dateFromSeconds(978307200.0))},
                        {"bytes", Value(Bytes{0x00, 0xFF, 0x10})},
                        {"list", Value(Array{Value(""), Value(1)})},
                        {"cdata", Value("<raw>")},
                    }));
}

TEST(PropertyListSerializationTest, RefusesMalformedXml) {
  const char* cases[] = {
      "<plist><dict><key>a</key></dict></plist>",
      "<plist><dict><string>a</string></dict></plist>",
      "<plist><integer>12x</integer></plist>",
      "<plist><real>abc</real></plist>",
      "<plist><date>yesterday</date></plist>",
      "<plist><data>!!</data></plist>",
      "<plist><unknown/></plist>",
      "<plist><string>a</string><string>b</string></plist>",
      "<plist>text</plist>",
      "<plist></plist>",
      "<plist><string>unclosed</plist>",
      "<?xml version=\"1.0\"?><!DOCTYPE p [<!ENTITY e \"x\">]><plist><string>&e;</string></plist>",
  };
  for (const char* xml : cases) {
    Error error;
    PropertyListFormat format = PropertyListFormat::Binary;
    EXPECT_FALSE(read(xml, &format, &error)) << xml;
    EXPECT_EQ(format, PropertyListFormat::XML) << xml;
    EXPECT_EQ(error.code(), 3840) << xml;
  }
}

TEST(PropertyListSerializationTest, ReadsTheTextFormat) {
  PropertyListFormat format = PropertyListFormat::Binary;
  auto value = read(R"(// the click referrers
{
  "123" = "conv=123&src=abc";
  plain = word.with-chars/1;
  list = (a, "b c", <00ff10>, );
  escaped = "tab\there \"quoted\" \U00e9 \101";
  /* empty */ empty = {};
})",
                    &format);
  ASSERT_TRUE(value);
  EXPECT_EQ(format, PropertyListFormat::OpenStep);
  EXPECT_EQ(*value,
            Value(Dictionary{
                {"123", Value("conv=123&src=abc")},
                {"plain", Value("word.with-chars/1")},
                {"list", Value(Array{Value("a"), Value("b c"), Value(Bytes{0x00, 0xFF, 0x10})})},
                {"escaped", Value("tab\there \"quoted\" é A")},
                {"empty", Value(Dictionary{})},
            }));
  for (const char* bad :
       {"{ a = b }", "( a b )", "\"unterminated", "<0g>", "<0>", "a b", "{ a b; }", ""}) {
    EXPECT_FALSE(read(bad)) << bad;
  }
}

TEST(PropertyListSerializationTest, RefusesDamagedOrHostileBinaryData) {
  std::string valid =
      handMade({"\x51"
                "a"});
  ASSERT_EQ(read(valid), Value("a"));

  std::string truncatedTrailer = valid.substr(0, valid.size() - 1);
  std::string badMagic = "bplist01" + valid.substr(8);
  std::string topOutOfRange = handMade({"\x51"
                                        "a"},
                                       1);
  std::string tooManyObjects = handMade({"\x51"
                                         "a"},
                                        0, 1000);
  std::string stringPastEnd =
      handMade({"\x5e"
                "ab"});
  std::string hugeCount = handMade({std::string("\x5f\x13\xff\xff\xff\xff\xff\xff\xff\xff", 10)});
  std::string selfArray = handMade({"\xa1\x00"});
  std::string cycle = handMade({"\xa1\x01", "\xa1\x00"});
  std::string refOutOfRange = handMade({"\xa1\x05"});
  std::string nonTextKey = handMade({"\xd1\x01\x01", "\x10\x01"});
  std::string nullObject = handMade({std::string("\x00", 1)});
  std::string uid = handMade({"\x80\x01"});
  std::string set = handMade({"\xc0"});
  std::string nonAscii = handMade({"\x51\xe9"});
  std::string loneSurrogate = handMade({"\x61\xd8\x00"});
  std::string badReal = handMade({"\x21\x00\x00"});
  std::string badOffsetSize = valid;
  badOffsetSize[badOffsetSize.size() - 26] = 9;
  std::string offsetIntoTrailer = valid;
  offsetIntoTrailer[10] = static_cast<char>(valid.size() - 5);

  const std::vector<std::pair<const char*, std::string>> cases = {
      {"empty", ""},
      {"only the magic", "bplist00"},
      {"truncated trailer", truncatedTrailer},
      {"another version", badMagic},
      {"top object out of range", topOutOfRange},
      {"more objects than the table holds", tooManyObjects},
      {"a string running past its data", stringPastEnd},
      {"a count beyond the data", hugeCount},
      {"an array holding itself", selfArray},
      {"two arrays holding each other", cycle},
      {"a reference out of range", refOutOfRange},
      {"a dictionary key that is no text", nonTextKey},
      {"null", nullObject},
      {"an archiver UID", uid},
      {"a set", set},
      {"a non-ASCII byte in an ASCII string", nonAscii},
      {"a lone surrogate", loneSurrogate},
      {"a two-byte real", badReal},
      {"offsets of nine bytes", badOffsetSize},
      {"an object offset inside the offset table", offsetIntoTrailer},
  };
  for (const auto& [what, data] : cases) {
    Error error;
    EXPECT_FALSE(read(data, nullptr, &error)) << what;
    if (!data.empty()) {
      EXPECT_EQ(error.code(), 3840) << what;
    }
  }
}

// One number too large for 64 bits costs that number its integer form, never the whole list.
TEST(PropertyListSerializationTest, IntegersBeyondSixtyFourBitsReadAsDoubles) {
  auto wide = [](std::uint64_t high, std::uint64_t low) {
    return "\x14" + bigEndian(high, 8) + bigEndian(low, 8);
  };
  struct Case {
    const char* what;
    std::string object;
    Value expected;
  };
  const Case cases[] = {
      {"2^64", wide(1, 0), Value(18446744073709551616.0)},
      {"the largest unsigned 64-bit number", wide(0, ~std::uint64_t{0}),
       Value(18446744073709551615.0)},
      {"below the signed range", wide(~std::uint64_t{0}, 1), Value(-18446744073709551615.0)},
      {"one that fits stays an integer", wide(0, 7), Value(std::int64_t{7})},
      {"a negative one that fits", wide(~std::uint64_t{0}, ~std::uint64_t{0}),
       Value(std::int64_t{-1})},
  };
  for (const auto& c : cases) {
    // {"n": <the integer>, "s": "x"}
    auto value = read(handMade({"\xd2\x01\x02\x03\x04",
                                "\x51"
                                "n",
                                "\x51"
                                "s",
                                c.object,
                                "\x51"
                                "x"}));
    ASSERT_TRUE(value) << c.what;
    EXPECT_EQ(*value, Value(Dictionary{{"n", c.expected}, {"s", Value("x")}})) << c.what;
  }
  auto xml = read(
      "<plist version=\"1.0\"><dict><key>n</key><integer>18446744073709551616</integer>"
      "<key>m</key><integer>-99999999999999999999</integer><key>s</key><string>x</string>"
      "</dict></plist>");
  ASSERT_TRUE(xml);
  EXPECT_EQ(*xml, Value(Dictionary{{"n", Value(18446744073709551616.0)},
                                   {"m", Value(-99999999999999999999.0)},
                                   {"s", Value("x")}}));
  EXPECT_FALSE(read("<plist><integer>12x</integer></plist>"));
  EXPECT_FALSE(read("<plist><integer>99999999999999999999x</integer></plist>"));
}

TEST(PropertyListSerializationTest, RefusesNestingAndUnfoldingBeyondTheBounds) {
  // 300 arrays, each holding the next (two-byte offsets and references).
  std::string out = "bplist00";
  std::string offsets;
  for (int i = 0; i < 300; ++i) {
    offsets += bigEndian(out.size(), 2);
    out += i < 299 ? "\xa1" + bigEndian(static_cast<std::uint64_t>(i + 1), 2)
                   : std::string(
                         "\x51"
                         "a");
  }
  std::uint64_t table = out.size();
  out += offsets + std::string(6, '\0') + "\x02\x02" + bigEndian(300, 8) + bigEndian(0, 8) +
         bigEndian(table, 8);
  Error error;
  EXPECT_FALSE(read(out, nullptr, &error));
  EXPECT_NE(error.localizedDescription().find("nested too deep"), std::string::npos);

  // 30 arrays, each holding the next one twice: 2^30 objects unfolded.
  std::string bomb = "bplist00";
  offsets.clear();
  for (int i = 0; i < 31; ++i) {
    offsets += static_cast<char>(bomb.size());
    bomb += i < 30 ? std::string("\xa2") + static_cast<char>(i + 1) + static_cast<char>(i + 1)
                   : std::string(
                         "\x51"
                         "a");
  }
  table = bomb.size();
  bomb += offsets + std::string(6, '\0') + "\x01\x01" + bigEndian(31, 8) + bigEndian(0, 8) +
          bigEndian(table, 8);
  EXPECT_FALSE(read(bomb, nullptr, &error));
  EXPECT_NE(error.localizedDescription().find("unfolds too large"), std::string::npos);
}

}  // namespace
