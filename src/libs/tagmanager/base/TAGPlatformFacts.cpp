#include "tagmanager/base/TAGPlatformFacts.h"

#include <cstdlib>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Locale.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/SystemInfo.h"
#include "platform/ui/Screen.h"

namespace {

struct SharedFacts {
  platform::Mutex mutex;
  std::shared_ptr<TAGPlatformFacts> facts GUARDED_BY(mutex);
};

SharedFacts& sharedFacts() {
  static SharedFacts shared;
  return shared;
}

}  // namespace

std::shared_ptr<TAGPlatformFacts> TAGPlatformFacts::shared() {
  SharedFacts& shared = sharedFacts();
  platform::MutexLock lock(shared.mutex);
  if (!shared.facts) shared.facts = std::make_shared<TAGPlatformFacts>();
  return shared.facts;
}

void TAGPlatformFacts::setShared(std::shared_ptr<TAGPlatformFacts> facts) {
  SharedFacts& shared = sharedFacts();
  platform::MutexLock lock(shared.mutex);
  shared.facts = std::move(facts);
}

std::optional<platform::Value> TAGPlatformFacts::infoDictionaryValue(const std::string& key) const {
  return platform::Bundle::main().objectForInfoDictionaryKey(key);
}

std::string TAGPlatformFacts::deviceModel() const {
  return platform::SystemInfo::current().model();
}

std::string TAGPlatformFacts::systemVersion() const {
  return platform::SystemInfo::current().systemVersion();
}

std::vector<std::string> TAGPlatformFacts::preferredLanguages() const {
  return platform::Locale::preferredLanguages();
}

TAGPlatformFacts::ScreenMetrics TAGPlatformFacts::mainScreen() const {
  platform::Screen& screen = platform::Screen::mainScreen();
  auto bounds = screen.bounds();
  return {bounds.size.width, bounds.size.height, screen.scale()};
}

std::optional<TAGPlatformFacts::AdvertisingIdentifierManager>
TAGPlatformFacts::advertisingIdentifierManager() const {
  return std::nullopt;
}

std::uint32_t TAGPlatformFacts::randomUniform(std::uint32_t bound) const {
  return arc4random_uniform(bound);
}
