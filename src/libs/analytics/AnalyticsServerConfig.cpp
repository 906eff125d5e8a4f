#include "analytics/AnalyticsServerConfig.h"

#include "platform/foundation/DeploymentSetting.h"

namespace {

platform::DeploymentSetting& secureSetting() {
  static auto* setting =
      new platform::DeploymentSetting("CHENGHENG_ANALYTICS_HOST", "ssl.collect.chengheng.example");
  return *setting;
}

platform::DeploymentSetting& plainSetting() {
  static auto* setting = new platform::DeploymentSetting("CHENGHENG_ANALYTICS_PLAIN_HOST",
                                                         "collect.chengheng.example");
  return *setting;
}

std::string collectURL(const std::string& host, const char* scheme) {
  if (host.find("://") != std::string::npos) return host + "/collect";
  return std::string(scheme) + "://" + host + "/collect";
}

}  // namespace

std::string AnalyticsServerConfig::secureHost() { return secureSetting().value(); }

std::string AnalyticsServerConfig::plainHost() { return plainSetting().value(); }

void AnalyticsServerConfig::setSecureHost(const std::string& host) {
  secureSetting().setOverride(host);
}

void AnalyticsServerConfig::setPlainHost(const std::string& host) {
  plainSetting().setOverride(host);
}

std::string AnalyticsServerConfig::secureCollectURL() { return collectURL(secureHost(), "https"); }
std::string AnalyticsServerConfig::plainCollectURL() { return collectURL(plainHost(), "http"); }
