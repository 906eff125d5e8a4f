#include "net/ServerConfig.h"

#include <cstdlib>

#include "platform/foundation/Mutex.h"

namespace {

constexpr const char* kDefaultApiHost = "api.chengheng.example";
constexpr const char* kDefaultWebHost = "www.chengheng.example";
constexpr const char* kDefaultMediaBaseURL = "http://media.chengheng.example/";

struct Overrides {
  platform::Mutex mutex;
  std::string apiHost GUARDED_BY(mutex);
  std::string webHost GUARDED_BY(mutex);
  std::string mediaBaseURL GUARDED_BY(mutex);
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
  platform::MutexLock lock(overrides().mutex);
  return pick(overrides().apiHost, "CHENGHENG_API_HOST", kDefaultApiHost);
}

std::string ServerConfig::webHost() {
  platform::MutexLock lock(overrides().mutex);
  return pick(overrides().webHost, "CHENGHENG_WEB_HOST", kDefaultWebHost);
}

std::string ServerConfig::mediaBaseURL() {
  platform::MutexLock lock(overrides().mutex);
  return pick(overrides().mediaBaseURL, nullptr, kDefaultMediaBaseURL);
}

void ServerConfig::setApiHost(const std::string& host) {
  platform::MutexLock lock(overrides().mutex);
  overrides().apiHost = host;
}

void ServerConfig::setWebHost(const std::string& host) {
  platform::MutexLock lock(overrides().mutex);
  overrides().webHost = host;
}

void ServerConfig::setMediaBaseURL(const std::string& url) {
  platform::MutexLock lock(overrides().mutex);
  overrides().mediaBaseURL = url;
}
