// The tag manager's encoders: the base-2^n string encoder and its ready-made alphabets, base16,
// base64 in both alphabets, URL percent-encoding, and the escapings a macro reference carries.

#include <gtest/gtest.h>

#include "platform/foundation/Assert.h"
#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/values/TAGBase16.h"
#include "tagmanager/values/TAGBase64Encoder.h"
#include "tagmanager/values/TAGBaseNStringEncoding.h"
#include "tagmanager/values/TAGTypes.h"
#include "tagmanager/values/TAGValueEscapeUtil.h"

namespace {

using platform::Bytes;
using testsupport::TagLogRecorder;

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string exceptionReason(const std::function<void()>& work, std::string* name = nullptr) {
  try {
    work();
  } catch (const platform::Exception& e) {
    if (name) *name = e.name();
    return e.reason();
  }
  return "";
}

using Factory = std::shared_ptr<TAGBaseNStringEncoding> (*)();

struct EncodeCase {
  const char* name;
  Factory encoding;
  Bytes input;
  const char* text;
};

TEST(TAGEncodersTest, ReadyMadeEncodersEncodeAndDecodeBack) {
  const EncodeCase cases[] = {
      {"base64", TAGBaseNStringEncoding::rfc4648Base64StringEncoding, bytes("f"), "Zg=="},
      {"base64", TAGBaseNStringEncoding::rfc4648Base64StringEncoding, bytes("foobar"), "Zm9vYmFy"},
      {"base64", TAGBaseNStringEncoding::rfc4648Base64StringEncoding, bytes("fooba"), "Zm9vYmE="},
      {"base32", TAGBaseNStringEncoding::rfc4648Base32StringEncoding, bytes("f"), "MY======"},
      {"base32", TAGBaseNStringEncoding::rfc4648Base32StringEncoding, bytes("foobar"),
       "MZXW6YTBOI======"},
      {"base32hex", TAGBaseNStringEncoding::rfc4648Base32HexStringEncoding, bytes("f"), "CO======"},
      {"hex", TAGBaseNStringEncoding::hexStringEncoding, Bytes{0xAB, 0x01}, "AB01"},
      {"binary", TAGBaseNStringEncoding::binaryStringEncoding, Bytes{0x05}, "00000101"},
      {"crockford", TAGBaseNStringEncoding::crockfordBase32StringEncoding, Bytes{0xFF}, "ZW"},
      {"websafe", TAGBaseNStringEncoding::rfc4648Base64WebsafeStringEncoding, Bytes{0xFB, 0xFF},
       "-_8="},
      {"empty", TAGBaseNStringEncoding::rfc4648Base64StringEncoding, Bytes{}, ""},
  };
  for (const auto& c : cases) {
    auto encoding = c.encoding();
    EXPECT_EQ(encoding->encode(c.input), c.text) << c.name;
    EXPECT_EQ(encoding->decode(c.text), c.input) << c.name;
  }
}

TEST(TAGEncodersTest, DecodingRefusesWhatTheAlphabetDoesNot) {
  auto base64 = TAGBaseNStringEncoding::rfc4648Base64StringEncoding();
  auto hex = TAGBaseNStringEncoding::hexStringEncoding();
  auto crockford = TAGBaseNStringEncoding::crockfordBase32StringEncoding();
  const std::vector<std::tuple<const char*, std::shared_ptr<TAGBaseNStringEncoding>, const char*,
                               std::optional<Bytes>>>
      cases = {
          {"padding is optional", base64, "Zg", bytes("f")},
          {"any number of padding characters", base64, "Zg=======", bytes("f")},
          {"leftover set bits", base64, "Zh==", std::nullopt},
          {"data after padding", base64, "Zg==Zg==", std::nullopt},
          {"outside the alphabet", base64, "Z-==", std::nullopt},
          {"not ASCII", base64, "Zg\xC3\xA9", std::nullopt},
          {"lower-case hex", hex, "ab01", Bytes{0xAB, 0x01}},
          {"zero leftover bits", hex, "AB0", Bytes{0xAB}},
          {"set leftover bits", hex, "AB1", std::nullopt},
          {"crockford synonyms", crockford, "oOiIlL00", crockford->decode("00111100")},
          {"crockford refuses U", crockford, "U0", std::nullopt},
          {"crockford refuses a hyphen", crockford, "0-0", std::nullopt},
      };
  for (const auto& [what, encoding, text, expected] : cases) {
    EXPECT_EQ(encoding->decode(text), expected) << what;
  }
}

TEST(TAGEncodersTest, AlphabetsAndTheirOptions) {
  EXPECT_EQ(TAGBaseNStringEncoding::stringEncodingWithString("abc"), nullptr);
  EXPECT_EQ(TAGBaseNStringEncoding::stringEncodingWithString("a"), nullptr);
  EXPECT_EQ(TAGBaseNStringEncoding::stringEncodingWithString("aa"), nullptr);
  EXPECT_EQ(TAGBaseNStringEncoding::stringEncodingWithString("a\xC3"), nullptr);
  auto octal = TAGBaseNStringEncoding::stringEncodingWithString("01234567");
  ASSERT_NE(octal, nullptr);
  EXPECT_EQ(octal->encode(Bytes{0xFF}), "776");
  octal->setPaddingChar('=');
  octal->setDoPad(true);
  EXPECT_EQ(octal->encode(Bytes{0xFF}), "776=====");
  octal->ignoreCharacters(" \n");
  EXPECT_EQ(octal->decode("77 6\n="), Bytes{0xFF});
  EXPECT_THROW(octal->ignoreCharacters("1"), platform::AssertionFailure);

  auto digits = TAGBaseNStringEncoding::stringEncodingWithString("0123456789ABCDEF");
  digits->addDecodeSynonyms("xAa");  // x has no value before it, so it stays out
  EXPECT_EQ(digits->decode("aa"), Bytes{0xAA});
  EXPECT_EQ(digits->decode("x0"), std::nullopt);

  EXPECT_EQ(TAGBaseNStringEncoding::binaryStringEncoding()->description(),
            "<Base2 StringEncoder: <3031>>");
  EXPECT_EQ(TAGBaseNStringEncoding::rfc4648Base64StringEncoding()->encodeString("é"), "w6k=");
  EXPECT_EQ(TAGBaseNStringEncoding::rfc4648Base64StringEncoding()->stringByDecoding("w6k="), "é");
  EXPECT_EQ(TAGBaseNStringEncoding::rfc4648Base64StringEncoding()->stringByDecoding("/w=="),
            std::nullopt);
}

TEST(TAGEncodersTest, EveryAlphabetRoundTripsEveryLength) {
  Bytes data;
  for (int i = 0; i < 40; ++i) data.push_back(static_cast<std::uint8_t>(i * 37 + 11));
  for (Factory factory :
       {TAGBaseNStringEncoding::binaryStringEncoding, TAGBaseNStringEncoding::hexStringEncoding,
        TAGBaseNStringEncoding::rfc4648Base32StringEncoding,
        TAGBaseNStringEncoding::rfc4648Base32HexStringEncoding,
        TAGBaseNStringEncoding::crockfordBase32StringEncoding,
        TAGBaseNStringEncoding::rfc4648Base64StringEncoding,
        TAGBaseNStringEncoding::rfc4648Base64WebsafeStringEncoding}) {
    auto encoding = factory();
    // Encoders with a padding character also work without padding.
    for (bool pad : {encoding->doPad(), false}) {
      encoding->setDoPad(pad);
      for (std::size_t n = 0; n <= data.size(); ++n) {
        Bytes input(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(encoding->decode(encoding->encode(input)), input)
            << encoding->description() << " " << n;
      }
    }
  }
}

TEST(TAGEncodersTest, Base16) {
  EXPECT_EQ(TAGBase16::encode(Bytes{0x00, 0x0F, 0xAB}), "000FAB");
  EXPECT_EQ(TAGBase16::encode(Bytes{}), "");
  EXPECT_EQ(TAGBase16::decode("000fab"), (Bytes{0x00, 0x0F, 0xAB}));
  EXPECT_EQ(TAGBase16::decode("000FAB"), (Bytes{0x00, 0x0F, 0xAB}));
  EXPECT_EQ(TAGBase16::decode(""), Bytes{});
  std::string name;
  EXPECT_EQ(exceptionReason([] { TAGBase16::decode("ABC"); }, &name),
            "Purported base16 string has odd number of characters");
  EXPECT_EQ(name, "IllegalArgumentException");
  EXPECT_EQ(exceptionReason([] { TAGBase16::decode("0G"); }, &name),
            "Purported base16 string has illegal char");
  EXPECT_EQ(name, "IllegalArgumentException");
}

TEST(TAGEncodersTest, Base64WithAndWithoutPadding) {
  EXPECT_EQ(TAGBase64Encoder::encode(bytes("abc"), false), "YWJj");
  EXPECT_EQ(TAGBase64Encoder::encode(bytes("ab"), false), "YWI=");
  EXPECT_EQ(TAGBase64Encoder::encode(bytes("ab"), true), "YWI");
  EXPECT_EQ(TAGBase64Encoder::encode(Bytes{0xFB, 0xFF}, false), "+/8=");
  EXPECT_EQ(TAGBase64Encoder::encodeWebSafe(Bytes{0xFB, 0xFF}, false), "-_8=");
  EXPECT_EQ(TAGBase64Encoder::encode(Bytes{}, false), "");
  EXPECT_EQ(TAGBase64Encoder::decode("YWI", false), bytes("ab"));
  EXPECT_EQ(TAGBase64Encoder::decode("YWI=", true), bytes("ab"));
  EXPECT_EQ(TAGBase64Encoder::decodeWebSafe("-_8", true), (Bytes{0xFB, 0xFF}));
  EXPECT_EQ(TAGBase64Encoder::decode("-_8=", false), std::nullopt);
  EXPECT_EQ(TAGBase64Encoder::decodeWebSafe("+/8=", false), std::nullopt);
}

TEST(TAGEncodersTest, UrlEncodingAndDecoding) {
  EXPECT_EQ(TAGValueEscapeUtil::urlEncode("a b&c=d/é"), "a%20b%26c%3Dd%2F%C3%A9");
  EXPECT_EQ(TAGValueEscapeUtil::urlEncode("A-Z_a.z~0"), "A-Z_a.z~0");
  EXPECT_EQ(TAGValueEscapeUtil::urlEncode("!*'();:@&=+$,/?%#[]"),
            "%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%25%23%5B%5D");
  EXPECT_EQ(TAGValueEscapeUtil::urlEncode("\xFF"), std::nullopt);
  EXPECT_EQ(TAGValueEscapeUtil::urlDecode("a%20b+c"), "a b+c");
  EXPECT_EQ(TAGValueEscapeUtil::urlDecode("%C3%A9%c3%a9"), "éé");
  EXPECT_EQ(TAGValueEscapeUtil::urlDecode("100%"), std::nullopt);
  EXPECT_EQ(TAGValueEscapeUtil::urlDecode("%4"), std::nullopt);
  EXPECT_EQ(TAGValueEscapeUtil::urlDecode("%zz"), std::nullopt);
  EXPECT_EQ(TAGValueEscapeUtil::urlDecode("%FF"), std::nullopt);
  for (std::string text : {"", "plain", "a b/c?d=e&f", "é中文 %"}) {
    EXPECT_EQ(TAGValueEscapeUtil::urlDecode(*TAGValueEscapeUtil::urlEncode(text)), text);
  }
}

TEST(TAGEncodersTest, EscapingsApplyInOrderToStringsOnly) {
  TagLogRecorder log;
  auto holder = [](TAGPValue::Ref value, bool isStatic) {
    return TAGPValueAndStatic::valueWithValue(std::move(value), isStatic);
  };
  auto aSpaceB = holder(TAGTypes::objectToValue(TAGObject::string("a b")), true);
  auto twice = TAGValueEscapeUtil::applyEscapings({12, 12}, aSpaceB);
  EXPECT_EQ(twice->value()->string(), "a%2520b");
  EXPECT_TRUE(twice->isStatic());
  EXPECT_FALSE(TAGValueEscapeUtil::escapeUri(holder(aSpaceB->value(), false))->isStatic());
  EXPECT_EQ(TAGValueEscapeUtil::applyEscapings({}, aSpaceB), aSpaceB);
  EXPECT_TRUE(log.lines().empty());

  EXPECT_EQ(TAGValueEscapeUtil::applyEscaping(1, aSpaceB), aSpaceB);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"error: Unsupported Value Escaping: 1"}));

  log.clear();
  auto number = holder(TAGTypes::objectToValue(TAGObject::number(platform::Value(5))), true);
  EXPECT_EQ(TAGValueEscapeUtil::applyEscaping(12, number), number);
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"error: Escaping can only be applied to strings."}));

  auto withoutString = TAGPValue::Builder().setType(TAGPValue_Type::String).build();
  EXPECT_FALSE(TAGValueEscapeUtil::isValidStringType(*withoutString));
  EXPECT_FALSE(TAGValueEscapeUtil::isValidStringType(*TAGPValue::Builder().setString("x").build()));
}

}  // namespace
