#include "net/ServerConfig.h"

#include <cstdlib>
#include <mutex>

namespace {

constexpr const char* kDefaultApiHost = "api.chengheng.example";
constexpr const char* kDefaultWebHost = "www.chengheng.example";
constexpr const char* kDefaultMediaBaseURL = "http://media.chengheng.example/";

struct Overrides {
  std::mutex mutex;
  std::string apiHost, webHost, mediaBaseURL;
};

Overrides& overrides() {
  static Overrides shared;
  return shared;
}

std::string pick(const std::string& set, const char* variable, const char* fallback) {
  if (!set.empty()) return set;
  if (variable) {
    const char* value = std::getenv(variable);
    if (value && *value) return value;
  }
  return fallback;
}

}  // namespace

std::string ServerConfig::apiHost() {
  std::lock_guard lock(overrides().mutex);
  return pick(overrides().apiHost, "CHENGHENG_API_HOST", kDefaultApiHost);
}

std::string ServerConfig::webHost() {
  std::lock_guard lock(overrides().mutex);
  return pick(overrides().webHost, "CHENGHENG_WEB_HOST", kDefaultWebHost);
}

std::string ServerConfig::mediaBaseURL() {
  std::lock_guard lock(overrides().mutex);
  return pick(overrides().mediaBaseURL, nullptr, kDefaultMediaBaseURL);
}

void ServerConfig::setApiHost(const std::string& host) {
  std::lock_guard lock(overrides().mutex);
  overrides().apiHost = host;
}

void ServerConfig::setWebHost(const std::string& host) {
  std::lock_guard lock(overrides().mutex);
  overrides().webHost = host;
}

void ServerConfig::setMediaBaseURL(const std::string& url) {
  std::lock_guard lock(overrides().mutex);
  overrides().mediaBaseURL = url;
}
