#include "analytics/AnalyticsRequestBuilder.h"

#include <chrono>

#include "analytics/AnalyticsDeflate.h"
#include "analytics/AnalyticsFields.h"
#include "analytics/AnalyticsHitUtil.h"
#include "analytics/AnalyticsLog.h"
#include "analytics/AnalyticsStringUtil.h"
#include "platform/foundation/Clock.h"

namespace {

// The request time-out of every hit: a request that hangs must not stop all later sending.
constexpr double kRequestTimeout = 60.0;

}  // namespace

AnalyticsRequestBuilder::AnalyticsRequestBuilder()
    : _userAgent(AnalyticsHitUtil::userAgentString()) {}

std::string AnalyticsRequestBuilder::parametersForHit(const platform::Dictionary& hit) const {
  static const auto& kNone = *new platform::Dictionary;
  const platform::Value* stored = platform::find(hit, "parameters");
  const platform::Dictionary* parameters = stored ? stored->asDictionary() : nullptr;
  if (!parameters) parameters = &kNone;
  std::optional<std::string> cacheBuster;
  if (const platform::Value* z = platform::find(*parameters, kAnalyticsCacheBuster)) {
    if (const std::string* text = z->asText()) cacheBuster = *text;
  }
  platform::Dictionary wire;
  for (const auto& [key, value] : *parameters) {
    if (!key.empty() && key.front() == '&') wire[key] = value;
  }
  std::vector<std::string> pieces = encodeParameters(wire);
  platform::Date timestamp{};
  if (const platform::Value* stamp = platform::find(hit, "timestamp")) {
    timestamp = stamp->asDate().value_or(platform::Date{});
  }
  auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(timestamp.time_since_epoch()).count();
  pieces.push_back("ht=" + AnalyticsStringUtil::uintString(static_cast<std::uint64_t>(millis)));
  std::int64_t queueTime =
      AnalyticsHitUtil::millisecondsElapsedFrom(timestamp, platform::Clock::shared()->now());
  if (queueTime > 0) {
    pieces.push_back("qt=" +
                     AnalyticsStringUtil::uintString(static_cast<std::uint64_t>(queueTime)));
  }
  if (cacheBuster) pieces.push_back("z=" + *cacheBuster);
  std::string query;
  for (const auto& piece : pieces) {
    if (!query.empty()) query += '&';
    query += piece;
  }
  return query;
}

std::vector<std::string> AnalyticsRequestBuilder::encodeParameters(
    const platform::Dictionary& parameters) const {
  std::vector<std::string> encoded;
  for (const auto& [key, value] : parameters) {
    if (key == kAnalyticsCacheBuster) continue;
    if (const std::string* text = value.asText()) encoded.push_back(encodeParameter(key, *text));
  }
  return encoded;
}

std::string AnalyticsRequestBuilder::encodeParameter(const std::string& key,
                                                     const std::string& value) const {
  std::string name =
      AnalyticsStringUtil::percentEncode(AnalyticsStringUtil::stripLeadingAmpersand(key));
  if (value.empty()) return name;
  return name + "=" + AnalyticsStringUtil::percentEncode(value);
}

platform::URLRequest AnalyticsRequestBuilder::baseRequest() const {
  platform::URLRequest request;
  request.setValue(std::string("application/x-www-form-urlencoded") + "; charset=" + "UTF-8",
                   "Content-Type");
  request.setValue(_userAgent, "User-Agent");
  request.setTimeoutInterval(kRequestTimeout);
  return request;
}

platform::URLRequest AnalyticsRequestBuilder::requestGetUrl(const std::string& url,
                                                            const std::string& payload) const {
  ANALYTICS_LOG_VERBOSE("building URLRequest for " + url);
  platform::URLRequest request = baseRequest();
  request.setHTTPMethod("GET");
  request.setURL(url + "?" + payload);
  return request;
}

platform::URLRequest AnalyticsRequestBuilder::requestPostUrl(const std::string& url,
                                                             const std::string& payload,
                                                             unsigned compression) const {
  ANALYTICS_LOG_VERBOSE("building URLRequest for " + url);
  platform::URLRequest request = baseRequest();
  request.setHTTPMethod("POST");
  platform::Bytes body(payload.begin(), payload.end());
  if (compression == 2 || compression == 1) {
    auto compressed = compression == 2 ? AnalyticsDeflate::an_dataByGzippingData(body)
                                       : AnalyticsDeflate::an_dataByDeflatingData(body);
    // A body that does not compress (an empty payload) goes plain rather than not at all.
    if (compressed) {
      body = std::move(*compressed);
      request.setValue(compression == 2 ? "gzip" : "deflate", "Content-Encoding");
    }
  }
  request.setValue(std::to_string(body.size()), "Content-Length");
  request.setHTTPBody(std::move(body));
  request.setURL(url);
  return request;
}
