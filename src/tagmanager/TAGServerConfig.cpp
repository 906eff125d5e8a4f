#include "tagmanager/TAGServerConfig.h"

#include <cstdlib>

#include "platform/foundation/Mutex.h"

namespace {

constexpr const char* kDefaultContainerServer = "https://tags.chengheng.example";
constexpr const char* kDefaultPixelHost = "pixel.chengheng.example";

struct Overrides {
  platform::Mutex mutex;
  std::string containerServer GUARDED_BY(mutex);
  std::string pixelHost GUARDED_BY(mutex);
};

Overrides& overrides() {
  static auto* values = new Overrides;
  return *values;
}

std::string fromEnvironment(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return value && *value ? value : fallback;
}

}  // namespace

std::string TAGServerConfig::containerServer() {
  {
    Overrides& o = overrides();
    platform::MutexLock lock(o.mutex);
    if (!o.containerServer.empty()) return o.containerServer;
  }
  return fromEnvironment("CHENGHENG_TAG_CONTAINER_SERVER", kDefaultContainerServer);
}

void TAGServerConfig::setContainerServer(const std::string& origin) {
  Overrides& o = overrides();
  platform::MutexLock lock(o.mutex);
  o.containerServer = origin;
}

std::string TAGServerConfig::pixelHost() {
  {
    Overrides& o = overrides();
    platform::MutexLock lock(o.mutex);
    if (!o.pixelHost.empty()) return o.pixelHost;
  }
  return fromEnvironment("CHENGHENG_TAG_PIXEL_HOST", kDefaultPixelHost);
}

void TAGServerConfig::setPixelHost(const std::string& host) {
  Overrides& o = overrides();
  platform::MutexLock lock(o.mutex);
  o.pixelHost = host;
}
