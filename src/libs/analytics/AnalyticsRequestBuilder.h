#pragma once
// AnalyticsRequestBuilder: turns stored hits into what goes over the wire: one hit's query text,
// and the GET and POST requests that carry it, with the SDK's user agent.
//
// A hit's query holds its "&" fields that have text values, in key order, without the "&",
// percent-encoded ("key=value", or the bare key for an empty value); then "ht" (the hit's time
// in milliseconds since 1970), "qt" (milliseconds since the hit, when more than 0) and "z" (the
// hit's cache buster), joined with "&". Other keys ("useSecure", "analyticsVersion") stay local.
//
// Requests time out after 60 seconds without progress. Used on the analytics thread.

#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/net/URLRequest.h"

class AnalyticsRequestBuilder {
 public:
  AnalyticsRequestBuilder();

  // `hit` is a stored hit: {"timestamp": date, "parameters": dictionary}.
  std::string parametersForHit(const platform::Dictionary& hit) const;
  std::vector<std::string> encodeParameters(const platform::Dictionary& parameters) const;
  std::string encodeParameter(const std::string& key, const std::string& value) const;

  platform::URLRequest baseRequest() const;
  platform::URLRequest requestGetUrl(const std::string& url, const std::string& payload) const;
  // `compression`: 2 gzip, 1 deflate, anything else none.
  platform::URLRequest requestPostUrl(const std::string& url, const std::string& payload,
                                      unsigned compression) const;

  const std::string& userAgent() const { return _userAgent; }
  void setUserAgent(std::string userAgent) { _userAgent = std::move(userAgent); }

 private:
  std::string _userAgent;
};
