#pragma once
// AnalyticsServerConfig: the two hosts of the hit collection service, deployment values. Each
// has a compiled-in default and can be moved by the environment ("CHENGHENG_ANALYTICS_HOST" for
// the secure endpoint, "CHENGHENG_ANALYTICS_PLAIN_HOST" for the plain one) or, in tests, by a
// setter, whose value wins; an empty text returns to the environment.
//
// A value is a host with an optional port ("collect.example:8443"), or a whole origin with its
// scheme ("http://127.0.0.1:8080"), which the scripted run and tests use to point the secure
// endpoint at a plain loopback server. Hits go to "<origin>/collect".

#include <string>

class AnalyticsServerConfig {
 public:
  AnalyticsServerConfig() = delete;

  static std::string secureHost();
  static std::string plainHost();
  static void setSecureHost(const std::string& host);
  static void setPlainHost(const std::string& host);

  // "https://<secure host>/collect" and "http://<plain host>/collect", unless the value names
  // its scheme itself.
  static std::string secureCollectURL();
  static std::string plainCollectURL();
};
