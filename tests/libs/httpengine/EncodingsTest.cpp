#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "httpengine/HttpBase64.h"
#include "httpengine/HttpEngine.h"
#include "httpengine/HttpEngineAdditions.h"
#include "httpengine/RFC1123.h"
#include "httpengine/RequestEncoding.h"

using platform::Bytes;
using platform::Dictionary;

namespace {

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(HttpBase64Test, DecodingIsLenientAboutPaddingAndWhiteSpace) {
  struct Case {
    const char* text;
    const char* decoded;
  };
  const Case cases[] = {
      {"aGVsbG8=", "hello"},
      {"aGVsbG8", "hello"},
      {"aGVs bG8=", "hello"},
      {"aGVs\r\nbG8=", "hello"},
      {"aGVsbA==", "hell"},
      {"aGVsbA", "hell"},
      {"aGVs\n", "hel"},
      {"aGVsb", "hel"},
      {"", ""},
      {"====", ""},
      {"a", ""},
      {"/+/+", "\xFF\xEF\xFE"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HttpBase64::dataFromBase64String(c.text), bytes(c.decoded)) << c.text;
  }
  EXPECT_TRUE(HttpBase64::dataFromBase64String("aGVs\xC3\xA9").empty());
}

TEST(HttpBase64Test, EncodingPadsAndNeverBreaksLines) {
  EXPECT_EQ(HttpBase64::base64EncodedString(bytes("hello")), "aGVsbG8=");
  EXPECT_EQ(HttpBase64::base64EncodedString(bytes("hell")), "aGVsbA==");
  EXPECT_EQ(HttpBase64::base64EncodedString(bytes("hel")), "aGVs");
  std::string longText = HttpBase64::base64EncodedString(Bytes(300, 'x'));
  EXPECT_EQ(longText.size(), 400u);
  EXPECT_EQ(longText.find('\n'), std::string::npos);
}

TEST(RFC1123Test, ThreeDateFormsReadTheSameInstant) {
  // The asctime form carries no zone and is read as local time.
  setenv("TZ", "UTC", 1);
  tzset();
  auto expected = std::chrono::system_clock::from_time_t(784111777);
  for (const char* text : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                           "Sun Nov  6 08:49:37 1994"}) {
    auto date = RFC1123::dateFromRFC1123(text);
    ASSERT_TRUE(date) << text;
    EXPECT_EQ(*date, expected) << text;
  }
  for (const char* text : {"", "yesterday", "Sun, 06 Nov 1994", "06 Nov 1994 08:49:37 GMT"}) {
    EXPECT_FALSE(RFC1123::dateFromRFC1123(text)) << text;
  }
  EXPECT_EQ(RFC1123::rfc1123String(expected), "Sun, 06 Nov 1994 08:49:37 GMT");
}

// A date holds the years 1678 to 2262; dates beyond them stop at its ends instead of wrapping
// around to some other year.
TEST(RFC1123Test, DatesBeyondTheRangeSaturate) {
  setenv("TZ", "UTC", 1);
  tzset();
  struct Case {
    const char* text;
    platform::Date date;
  };
  const Case cases[] = {
      {"Thu, 01 Jan 0985 00:00:00 GMT", platform::Date::min()},
      {"Mon, 01 Jan 1600 00:00:00 GMT", platform::Date::min()},
      {"Fri, 31 Dec 9999 23:59:59 GMT", platform::Date::max()},
      {"Sat, 01 Jan 2300 00:00:00 GMT", platform::Date::max()},
      {"Mon Jan  1 00:00:00 3000", platform::Date::max()},
      {"Fri, 11 Apr 2262 23:47:16 GMT", std::chrono::system_clock::from_time_t(9223372036)},
  };
  for (const auto& c : cases) {
    auto date = RFC1123::dateFromRFC1123(c.text);
    ASSERT_TRUE(date) << c.text;
    EXPECT_EQ(*date, c.date) << c.text;
  }
  EXPECT_EQ(RFC1123::rfc1123String(platform::Date::max()), "Fri, 11 Apr 2262 23:47:16 GMT");
  EXPECT_EQ(RFC1123::rfc1123String(platform::Date::min()), "Tue, 21 Sep 1677 00:12:43 GMT");
  // A zero byte does not end the text early.
  EXPECT_FALSE(RFC1123::dateFromRFC1123(std::string("Sun, 06 Nov 1994 08:49:37 GMT\0x", 31)));
}

TEST(HttpEngineTest, ExpiryOfSavedHeadersSaturates) {
  auto now = std::chrono::system_clock::from_time_t(784111777);  // Sun, 06 Nov 1994 08:49:37
  auto seconds = [](platform::Date date) {
    return std::chrono::duration<double>(date.time_since_epoch()).count();
  };
  const std::pair<std::optional<std::string>, double> cases[] = {
      {"Sun, 06 Nov 1994 08:54:37 GMT", 300},
      {"Thu, 01 Jan 0985 00:00:00 GMT", seconds(platform::Date::min()) - 784111777},
      {"Fri, 31 Dec 9999 23:59:59 GMT", seconds(platform::Date::max()) - 784111777},
      {"not a date", 0},
      {std::nullopt, 0},
  };
  for (const auto& [expires, expected] : cases) {
    platform::Dictionary headers;
    if (expires) headers["Expires"] = *expires;
    EXPECT_DOUBLE_EQ(HttpEngine::expiryInterval(headers, now), expected)
        << expires.value_or("none");
  }
  EXPECT_LT(seconds(platform::Date::min()) - 784111777, -9e9);
}

TEST(RequestEncodingTest, FormEncodingEscapesKeysAndTextValues) {
  struct Case {
    Dictionary dictionary;
    const char* encoded;
  };
  const Case cases[] = {
      {{{"name", "a b&c"}}, "name=a%20b%26c"},
      {{{"n", 5}}, "n=5"},
      {{{"n", 2.5}}, "n=2.5"},
      {{}, ""},
      {{{"a", "1"}, {"b", "x=y"}}, "a=1&b=x%3Dy"},
      {{{"k y", "\xE4\xB8\xAD"}}, "k%20y=%E4%B8%AD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RequestEncoding::urlEncodedKeyValueString(c.dictionary), c.encoded);
  }
}

TEST(RequestEncodingTest, JsonAndPropertyListBodies) {
  Dictionary d{{"a", 1}, {"b", "x<y"}, {"c", true}};
  EXPECT_EQ(RequestEncoding::jsonEncodedKeyValueString(d), R"({"a":1,"b":"x<y","c":true})");
  std::string plist = RequestEncoding::plistEncodedKeyValueString(d);
  EXPECT_NE(plist.find("<key>a</key>\n\t<integer>1</integer>"), std::string::npos) << plist;
  EXPECT_NE(plist.find("<string>x&lt;y</string>"), std::string::npos);
  EXPECT_NE(plist.find("<true/>"), std::string::npos);
  // Bytes that are not UTF-8 have no JSON form; encoding them must not throw out of a request.
  EXPECT_EQ(RequestEncoding::jsonEncodedKeyValueString({{"a", "\xFF"}}), "");
  EXPECT_EQ(RequestEncoding::jsonEncodedKeyValueString({{"\xC3", 1}}), "");
}

TEST(HttpEngineAdditionsTest, UrlEscapingCoversEveryReservedCharacter) {
  const std::string reserved = "?!@#$^&%*+,:;='\"`<>()[]{}/\\| ";
  for (char c : reserved) {
    char expected[4];
    std::snprintf(expected, sizeof expected, "%%%02X", static_cast<unsigned char>(c));
    EXPECT_EQ(HttpEngineAdditions::he_urlEncodedString(std::string(1, c)), expected) << c;
  }
  EXPECT_EQ(HttpEngineAdditions::he_urlEncodedString("aZ09-._~"), "aZ09-._~");
  EXPECT_EQ(HttpEngineAdditions::he_urlEncodedString("\n\xC3\xA9"), "%0A%C3%A9");
}

TEST(HttpEngineAdditionsTest, UrlDecodingTurnsPlusIntoSpace) {
  EXPECT_EQ(HttpEngineAdditions::urlDecodedString("a%20b%26c"), "a b&c");
  EXPECT_EQ(HttpEngineAdditions::urlDecodedString("a+b%2Bc"), "a b c");
  EXPECT_EQ(HttpEngineAdditions::urlDecodedString("%E4%B8%AD"), "\xE4\xB8\xAD");
  EXPECT_EQ(HttpEngineAdditions::urlDecodedString("bad%2"), "");
  EXPECT_EQ(HttpEngineAdditions::urlDecodedString("bad%zz"), "");
  // Escapes whose bytes are not UTF-8 text cannot be decoded either.
  EXPECT_EQ(HttpEngineAdditions::urlDecodedString("a%FFb"), "");
  EXPECT_EQ(HttpEngineAdditions::urlDecodedString("%E4%B8"), "");
}

TEST(HttpEngineAdditionsTest, DigestAndUniqueString) {
  EXPECT_EQ(HttpEngineAdditions::md5(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(HttpEngineAdditions::md5("GET http://h/a"), HttpEngineAdditions::md5("GET http://h/a"));
  std::string id = HttpEngineAdditions::uniqueString();
  EXPECT_TRUE(std::regex_match(
      id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
      << id;
  EXPECT_NE(id, HttpEngineAdditions::uniqueString());
}

}  // namespace
