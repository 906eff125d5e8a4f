#include "net/ServerConfig.h"

#include <cstdlib>

namespace {

constexpr const char* kDefaultApiHost = "api.chengheng.example";
constexpr const char* kDefaultWebHost = "www.chengheng.example";
constexpr const char* kDefaultMediaBaseURL = "http://media.chengheng.example/";

std::string fromEnvironment(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  if (value && *value) return value;
  return fallback;
}

}  // namespace

std::string ServerConfig::apiHost() {
  return fromEnvironment("CHENGHENG_API_HOST", kDefaultApiHost);
}

std::string ServerConfig::webHost() {
  return fromEnvironment("CHENGHENG_WEB_HOST", kDefaultWebHost);
}

std::string ServerConfig::mediaBaseURL() { return kDefaultMediaBaseURL; }
