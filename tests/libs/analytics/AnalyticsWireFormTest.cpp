// What goes over the wire: text utilities, device facts, the query of a hit, requests and
// payload compression.

#include <gtest/gtest.h>

#include "analytics/AnalyticsDeflate.h"
#include "analytics/AnalyticsHitUtil.h"
#include "analytics/AnalyticsRequestBuilder.h"
#include "analytics/AnalyticsStringUtil.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/SystemLog.h"

namespace {

using platform::Bytes;
using platform::Dictionary;
using platform::Value;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string textOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(AnalyticsStringUtilTest, PercentEncoding) {
  const std::pair<const char*, const char*> cases[] = {
      {"a b+c&d", "a+b%2Bc%26d"},
      {"it's", "it's"},
      {"AZaz09-._~", "AZaz09-._~"},
      {":/?#[]@!$()*,;=", "%3A%2F%3F%23%5B%5D%40%21%24%28%29%2A%2C%3B%3D"},
      {"100%", "100%25"},
      {"课程", "%E8%AF%BE%E7%A8%8B"},
      {"\xE2\x80\x99", "%E2%80%99"},
      {"", ""},
  };
  for (const auto& [text, encoded] : cases) {
    EXPECT_EQ(AnalyticsStringUtil::percentEncode(text), encoded) << text;
    EXPECT_EQ(AnalyticsStringUtil::percentDecode(encoded), text) << encoded;
  }
}

TEST(AnalyticsStringUtilTest, PercentDecodingRefusesMalformedText) {
  for (const char* bad : {"%", "%4", "%zz", "a%g1", "%C3%28", "%FF"}) {
    EXPECT_EQ(AnalyticsStringUtil::percentDecode(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(AnalyticsStringUtil::percentDecode("a+b%20c"), "a b c");
}

TEST(AnalyticsStringUtilTest, QueriesAndUrls) {
  EXPECT_EQ(AnalyticsStringUtil::decodeParametersFromQuery("a=1&b&a=3"),
            (Dictionary{{"a", "3"}, {"b", ""}}));
  EXPECT_EQ(AnalyticsStringUtil::decodeParametersFromQuery(""), (Dictionary{{"", ""}}));
  EXPECT_EQ(AnalyticsStringUtil::decodeParametersFromQuery("k=a=b&x=%zz&%zz=1&y=%E4%BD%A0"),
            (Dictionary{{"k", "a=b"}, {"y", "你"}}));
  EXPECT_EQ(AnalyticsStringUtil::decodeParametersFromUrl("http://h/p?q=1#frag"),
            (Dictionary{{"q", "1"}}));
  EXPECT_EQ(AnalyticsStringUtil::decodeParametersFromUrl("http://h/p"), Dictionary{});
  EXPECT_EQ(AnalyticsStringUtil::decodeParametersFromUrl("http://h/p?"), Dictionary{});
  EXPECT_EQ(AnalyticsStringUtil::decodeParametersFromUrl("not a url"), std::nullopt);
  EXPECT_EQ(AnalyticsStringUtil::urlParams("a?b?c"), "b?c");
  EXPECT_EQ(AnalyticsStringUtil::urlParams("abc"), "");
  EXPECT_EQ(AnalyticsStringUtil::stripLeadingAmpersand("&&t"), "&t");
  EXPECT_EQ(AnalyticsStringUtil::stripLeadingAmpersand("t"), "t");
  EXPECT_EQ(AnalyticsStringUtil::trim(" \t\n name \r\n"), "name");
}

TEST(AnalyticsStringUtilTest, NumberTexts) {
  EXPECT_EQ(AnalyticsStringUtil::decimalString(12.5, 3), "12.5");
  EXPECT_EQ(AnalyticsStringUtil::decimalString(3.0, 3), "3");
  EXPECT_EQ(AnalyticsStringUtil::decimalString(100.0, 0), "100");
  EXPECT_EQ(AnalyticsStringUtil::decimalString(-0.25, 1), "-0.2");
  const std::pair<std::int64_t, const char*> micros[] = {
      {1500000, "1.5"}, {500000, ".5"},   {-2000000, "-2"},
      {0, "0"},         {-1, "-.000001"}, {INT64_MIN, "-9223372036854.775808"},
  };
  for (const auto& [amount, text] : micros) {
    EXPECT_EQ(AnalyticsStringUtil::currencyMicrosString(amount), text) << amount;
  }
  EXPECT_EQ(AnalyticsStringUtil::uintString(UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(AnalyticsStringUtil::intString(-5), "-5");
}

TEST(AnalyticsHitUtilTest, SamplingHash) {
  const std::pair<std::optional<std::string>, std::int32_t> cases[] = {
      {std::nullopt, 1},
      {"", 1},
      {"a", 1589345},  // 97 + 97 * 16384
      {"ab", 104356048},
      {"client-0", 172598641},
      {"\xE4\xBD\xA0", 332943230},      // U+4F60, one code unit; high bits folded back
      {"\xF0\x9F\x98\x80", 910665487},  // U+1F600, a surrogate pair
  };
  for (const auto& [text, hash] : cases) {
    EXPECT_EQ(AnalyticsHitUtil::samplingHash(text), hash) << text.value_or("(absent)");
  }
}

TEST(AnalyticsHitUtilTest, DeviceFacts) {
  EXPECT_EQ(AnalyticsHitUtil::userAgentStringWithProduct("UsageAnalytics", "3.01", "iPhone",
                                                         "iPhone OS", "7.0", "en", "us"),
            "UsageAnalytics/3.01 (iPhone; U; CPU iPhone OS 7.0 like Mac OS X; en-us)");
  EXPECT_EQ(AnalyticsHitUtil::systemLanguageFromLanguages({"ZH", "en"}), "zh");
  EXPECT_EQ(AnalyticsHitUtil::systemLanguageFromLanguages({}), "en");
  EXPECT_EQ(AnalyticsHitUtil::systemCountryFromLocale("zh_CN.UTF-8"), "cn");
  EXPECT_EQ(AnalyticsHitUtil::systemCountryFromLocale("C"), std::nullopt);
  EXPECT_EQ(AnalyticsHitUtil::systemScreenColorDepth(), "24-bit");
  auto t = platform::dateFromSeconds(1000.0);
  EXPECT_EQ(AnalyticsHitUtil::millisecondsElapsedFrom(t, t + std::chrono::milliseconds(1500)),
            1500);
  EXPECT_EQ(AnalyticsHitUtil::millisecondsElapsedFrom(t + std::chrono::seconds(1), t), -1000);
  std::string id = AnalyticsHitUtil::generateClientId();
  EXPECT_EQ(id.size(), 36u);
  EXPECT_EQ(id.find_first_of("ABCDEF"), std::string::npos);
  EXPECT_NE(id, AnalyticsHitUtil::generateClientId());
}

class AnalyticsRequestBuilderTest : public ::testing::Test {
 protected:
  platform::ScopedManualClock clock_;
  AnalyticsRequestBuilder builder_;

  Dictionary hitStoredAgo(double seconds, Dictionary parameters) {
    return {{"timestamp", clock_->now() - std::chrono::duration_cast<platform::Date::duration>(
                                              platform::seconds(seconds))},
            {"parameters", std::move(parameters)}};
  }
  std::string millisOf(const Dictionary& hit) {
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                              hit.at("timestamp").asDate()->time_since_epoch())
                              .count());
  }
};

TEST_F(AnalyticsRequestBuilderTest, QueryOfAScreenView) {
  auto hit = hitStoredAgo(
      1.5, {{"&t", "appview"}, {"&cd", "zada_MyCourse"}, {"&z", "123"}, {"useSecure", "1"}});
  EXPECT_EQ(builder_.parametersForHit(hit),
            "cd=zada_MyCourse&t=appview&ht=" + millisOf(hit) + "&qt=1500&z=123");
}

TEST_F(AnalyticsRequestBuilderTest, EmptyValuesAreBareKeysAndOnlyTextsAreSent) {
  auto hit = hitStoredAgo(-1.0, {{"&a b", ""}, {"&n", 5}, {"&x", Value()}, {"&t", "e v"}});
  // A hit from the future has no queue time, and no "z" without a cache buster.
  EXPECT_EQ(builder_.parametersForHit(hit), "a+b&t=e+v&ht=" + millisOf(hit));
}

TEST_F(AnalyticsRequestBuilderTest, GetAndPostRequests) {
  auto get = builder_.requestGetUrl("https://h/collect", "t=appview");
  EXPECT_EQ(get.httpMethod(), "GET");
  EXPECT_EQ(get.url(), "https://h/collect?t=appview");
  EXPECT_EQ(get.valueForHTTPHeaderField("User-Agent"), AnalyticsHitUtil::userAgentString());
  EXPECT_DOUBLE_EQ(get.timeoutInterval(), 60.0);

  auto plain = builder_.requestPostUrl("https://h/collect", "t=a\nt=b", 0);
  EXPECT_EQ(plain.httpMethod(), "POST");
  EXPECT_EQ(plain.url(), "https://h/collect");
  EXPECT_EQ(textOf(*plain.httpBody()), "t=a\nt=b");
  EXPECT_EQ(plain.valueForHTTPHeaderField("Content-Length"), "7");
  EXPECT_FALSE(plain.valueForHTTPHeaderField("Content-Encoding"));

  for (unsigned compression : {1u, 2u}) {
    auto packed = builder_.requestPostUrl("https://h/collect", "t=a\nt=b", compression);
    EXPECT_EQ(packed.valueForHTTPHeaderField("Content-Encoding"),
              compression == 2 ? "gzip" : "deflate");
    EXPECT_EQ(packed.valueForHTTPHeaderField("Content-Length"),
              std::to_string(packed.httpBody()->size()));
    EXPECT_EQ(textOf(AnalyticsDeflate::an_dataByInflatingData(*packed.httpBody()).value()),
              "t=a\nt=b");
  }
}

TEST(AnalyticsDeflateTest, StreamsBeginWithTheirMagicAndInflateBack) {
  Bytes text = bytesOf(std::string(3000, 'a') + "usage analytics");
  auto gzip = AnalyticsDeflate::an_dataByGzippingData(text).value();
  ASSERT_GE(gzip.size(), 2u);
  EXPECT_EQ(gzip[0], 0x1F);
  EXPECT_EQ(gzip[1], 0x8B);
  auto zlib = AnalyticsDeflate::an_dataByDeflatingData(text).value();
  EXPECT_EQ(zlib[0], 0x78);
  auto raw = AnalyticsDeflate::an_dataByRawDeflatingData(text).value();
  EXPECT_EQ(AnalyticsDeflate::an_dataByInflatingData(gzip), text);
  EXPECT_EQ(AnalyticsDeflate::an_dataByInflatingData(zlib), text);
  EXPECT_EQ(AnalyticsDeflate::an_dataByRawInflatingData(raw), text);
}

TEST(AnalyticsDeflateTest, FailuresAnswerNothingWithOneLogLine) {
  platform::ScopedSystemLogCapture log;
  Bytes empty;
  EXPECT_FALSE(AnalyticsDeflate::an_dataByGzippingData(empty));
  EXPECT_FALSE(AnalyticsDeflate::an_dataByInflatingData(empty));
  EXPECT_FALSE(AnalyticsDeflate::an_dataByGzippingBytes(nullptr, 10));
  EXPECT_TRUE(log.lines().empty());

  Bytes text = bytesOf("usage analytics");
  auto gzip = AnalyticsDeflate::an_dataByGzippingData(text).value();
  EXPECT_FALSE(AnalyticsDeflate::an_dataByRawInflatingData(gzip));
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].rfind("Error trying to inflate some of the payload, error -3: ", 0), 0u);

  Bytes trailing = gzip;
  trailing.insert(trailing.end(), {'x', 'y', 'z'});
  EXPECT_FALSE(AnalyticsDeflate::an_dataByInflatingData(trailing));
  EXPECT_TRUE(log.contains("tfinished inflate w/o using all input, 3 bytes left"));

  Bytes cut(gzip.begin(), gzip.end() - 4);
  EXPECT_FALSE(AnalyticsDeflate::an_dataByInflatingData(cut));
  EXPECT_EQ(log.lines().size(), 3u);
}

TEST(AnalyticsDeflateTest, LevelsOutsideTheRangeAreClamped) {
  Bytes text = bytesOf(std::string(2000, 'q') + "levels of compression, levels of compression");
  EXPECT_EQ(AnalyticsDeflate::an_dataByDeflatingData(text, 12),
            AnalyticsDeflate::an_dataByDeflatingData(text, 9));
  EXPECT_EQ(AnalyticsDeflate::an_dataByDeflatingData(text, 0),
            AnalyticsDeflate::an_dataByDeflatingData(text, 1));
  EXPECT_EQ(AnalyticsDeflate::an_dataByGzippingData(text, -5),
            AnalyticsDeflate::an_dataByGzippingData(text, 1));
}

}  // namespace
