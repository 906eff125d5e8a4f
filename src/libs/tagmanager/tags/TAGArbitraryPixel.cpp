#include "tagmanager/tags/TAGArbitraryPixel.h"

#include "tagmanager/base/TAGLog.h"
#include "tagmanager/base/TAGPropertyListUtil.h"
#include "tagmanager/pixel/TAGDispatcher.h"
#include "tagmanager/values/TAGValueEscapeUtil.h"

namespace {

constexpr const char* kUnrepeatableFile = "tm_img_unrepeatable";

// The ids sent by any pixel tag of the process. Every pixel tag checks, sends and records under
// `evaluation`, so one id is sent once however many tags evaluate it at the same time.
struct Unrepeatable {
  platform::Mutex evaluation ACQUIRED_BEFORE(mutex);
  platform::Mutex mutex;
  std::optional<platform::Dictionary> ids GUARDED_BY(mutex);
};

Unrepeatable& unrepeatable() {
  static auto* shared = new Unrepeatable;
  return *shared;
}

std::string encoded(const TAGObject& object) {
  return TAGValueEscapeUtil::urlEncode(*TAGTypes::objectToString(object)).value_or("");
}

}  // namespace

TAGArbitraryPixel::TAGArbitraryPixel(std::shared_ptr<TAGHitSender> hitSender)
    : TAGTrackingTag(functionId(), std::set<std::string>{urlKey()}),
      hitSender_(std::move(hitSender)) {}

std::shared_ptr<TAGHitSender> TAGArbitraryPixel::getHitSender() const {
  return hitSender_ ? hitSender_ : TAGDispatcher::instance();
}

void TAGArbitraryPixel::evaluateTrackingTag(const TAGPropertyMap& properties) {
  std::optional<std::string> id;
  if (auto value = propertyOf(properties, "unrepeatable")) id = *TAGTypes::valueToString(value);

  Unrepeatable& shared = unrepeatable();
  platform::MutexLock evaluation(shared.evaluation);
  if (id && idProcessed(*id)) return;

  std::optional<std::string> url;
  if (auto value = propertyOf(properties, urlKey())) url = *TAGTypes::valueToString(value);
  if (auto value = propertyOf(properties, "additional_params")) {
    TAGObject params = TAGTypes::valueToObject(value);
    const TAGObject::List* list = params.list();
    if (!list) {
      TAGLog::warning("ArbitraryPixel: additional params not a list: not sending partial hit: " +
                      url.value_or("(null)"));
      return;
    }
    std::string separator = url && url->find('?') == std::string::npos ? "?" : "&";
    std::vector<std::string> parts;
    for (const auto& element : *list) {
      const TAGObject::Map* map = element.map();
      if (!map) {
        TAGLog::warning(
            "ArbitraryPixel: additional params contains non-map: not sending partial hit: " +
            url.value_or("(null)"));
        return;
      }
      addDictionary(*map, parts);
    }
    url = url.value_or("(null)") + separator + getQueryParametersStringFromArray(parts);
  }
  getHitSender()->sendHitToUrl(url.value_or("(null)"));

  if (!id) return;
  cacheUnrepeatableId(*id);
  platform::Dictionary snapshot;
  {
    platform::MutexLock lock(shared.mutex);
    snapshot = *shared.ids;
  }
  TAGPropertyListUtil::writePropertyListAsync(kUnrepeatableFile, platform::Value(snapshot));
}

void TAGArbitraryPixel::addDictionary(const TAGObject::Map& dictionary,
                                      std::vector<std::string>& array) {
  for (const auto& [key, value] : dictionary) array.push_back(encoded(key) + "=" + encoded(value));
}

std::string TAGArbitraryPixel::getQueryParametersStringFromArray(
    const std::vector<std::string>& array) {
  std::string joined;
  for (const auto& part : array) {
    if (!joined.empty()) joined += "&";
    joined += part;
  }
  return joined;
}

bool TAGArbitraryPixel::idProcessed(const std::string& id) {
  if (idInCache(id)) return true;
  if (idInPlist(id)) {
    cacheUnrepeatableId(id);
    return true;
  }
  return false;
}

bool TAGArbitraryPixel::idInCache(const std::string& id) {
  Unrepeatable& shared = unrepeatable();
  platform::MutexLock lock(shared.mutex);
  return shared.ids && shared.ids->count(id) > 0;
}

bool TAGArbitraryPixel::idInPlist(const std::string& id) {
  auto stored = TAGPropertyListUtil::readPropertyList(kUnrepeatableFile);
  const platform::Dictionary* dictionary = stored ? stored->asDictionary() : nullptr;
  return dictionary && dictionary->count(id) > 0;
}

void TAGArbitraryPixel::cacheUnrepeatableId(const std::string& id) {
  Unrepeatable& shared = unrepeatable();
  platform::MutexLock lock(shared.mutex);
  if (!shared.ids) shared.ids.emplace();
  (*shared.ids)[id] = platform::Value("true");
}

void TAGArbitraryPixel::clearCache() {
  Unrepeatable& shared = unrepeatable();
  platform::MutexLock lock(shared.mutex);
  shared.ids.reset();
}
