#include "analytics/AnalyticsServerConfig.h"

#include <cstdlib>

#include "platform/foundation/Mutex.h"

namespace {

constexpr const char* kDefaultSecureHost = "ssl.collect.chengheng.example";
constexpr const char* kDefaultPlainHost = "collect.chengheng.example";

struct Overrides {
  platform::Mutex mutex;
  std::string secure GUARDED_BY(mutex);
  std::string plain GUARDED_BY(mutex);
};

Overrides& overrides() {
  static auto* values = new Overrides;
  return *values;
}

std::string fromEnvironment(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return value && *value ? value : fallback;
}

std::string collectURL(const std::string& host, const char* scheme) {
  if (host.find("://") != std::string::npos) return host + "/collect";
  return std::string(scheme) + "://" + host + "/collect";
}

}  // namespace

std::string AnalyticsServerConfig::secureHost() {
  {
    Overrides& o = overrides();
    platform::MutexLock lock(o.mutex);
    if (!o.secure.empty()) return o.secure;
  }
  return fromEnvironment("CHENGHENG_ANALYTICS_HOST", kDefaultSecureHost);
}

std::string AnalyticsServerConfig::plainHost() {
  {
    Overrides& o = overrides();
    platform::MutexLock lock(o.mutex);
    if (!o.plain.empty()) return o.plain;
  }
  return fromEnvironment("CHENGHENG_ANALYTICS_PLAIN_HOST", kDefaultPlainHost);
}

void AnalyticsServerConfig::setSecureHost(const std::string& host) {
  Overrides& o = overrides();
  platform::MutexLock lock(o.mutex);
  o.secure = host;
}

void AnalyticsServerConfig::setPlainHost(const std::string& host) {
  Overrides& o = overrides();
  platform::MutexLock lock(o.mutex);
  o.plain = host;
}

std::string AnalyticsServerConfig::secureCollectURL() { return collectURL(secureHost(), "https"); }

std::string AnalyticsServerConfig::plainCollectURL() { return collectURL(plainHost(), "http"); }
