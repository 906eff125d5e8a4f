#include "tagmanager/manager/TAGClickReferrerUtil.h"

#include "platform/foundation/Mutex.h"
#include "platform/foundation/Value.h"
#include "tagmanager/base/TAGLog.h"
#include "tagmanager/base/TAGPropertyListUtil.h"
#include "tagmanager/values/TAGValueEscapeUtil.h"

namespace {

struct Cache {
  platform::Mutex mutex;
  std::optional<platform::Dictionary> referrers GUARDED_BY(mutex);
};

Cache& cache() {
  // Never destroyed: a background write or a late caller may still reach it at exit.
  static auto* instance = new Cache;
  return *instance;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// The referrers the file holds (texts only); empty when there is none.
platform::Dictionary storedReferrers() {
  platform::Dictionary referrers;
  std::optional<platform::Value> list =
      TAGPropertyListUtil::readPropertyList(TAGClickReferrerUtil::kPropertyListName);
  if (list && list->asDictionary()) {
    for (const auto& [id, referrer] : *list->asDictionary()) {
      if (referrer.asText()) referrers.emplace(id, referrer);
    }
  }
  return referrers;
}

}  // namespace

std::map<std::string, std::string> TAGClickReferrerUtil::parseComponentsFromQueryParameters(
    const std::string& query) {
  std::map<std::string, std::string> components;
  for (const std::string& part : split(query, '&')) {
    std::vector<std::string> pieces = split(part, '=');
    std::optional<std::string> name;
    std::optional<std::string> value;
    if (pieces.size() == 2) {
      name = TAGValueEscapeUtil::urlDecode(pieces[0]);
      value = TAGValueEscapeUtil::urlDecode(pieces[1]);
    }
    if (!name || !value) {
      TAGLog::warning("Invalid component: " + part);
      continue;
    }
    components.insert_or_assign(std::move(*name), std::move(*value));
  }
  return components;
}

std::optional<std::string> TAGClickReferrerUtil::extractComponent(
    const std::optional<std::string>& component, const std::optional<std::string>& referrer) {
  if (!referrer) return std::nullopt;
  if (component) {
    auto components = parseComponentsFromQueryParameters(*referrer);
    auto it = components.find(*component);
    if (it == components.end()) return std::nullopt;
    return it->second;
  }
  if (referrer->empty()) return std::nullopt;
  return referrer;
}

void TAGClickReferrerUtil::addClickReferrer(const std::string& referrer) {
  std::optional<std::string> conversionId = extractComponent("conv", referrer);
  if (!conversionId || conversionId->empty()) return;
  Cache& c = cache();
  platform::MutexLock lock(c.mutex);
  if (!c.referrers) c.referrers = storedReferrers();
  c.referrers->insert_or_assign(*conversionId, platform::Value(referrer));
  // Queued under the lock, so the writes run in the order the snapshots were taken and the file
  // ends with the latest one.
  TAGPropertyListUtil::writePropertyListAsync(kPropertyListName, platform::Value(*c.referrers));
}

std::optional<std::string> TAGClickReferrerUtil::clickReferrerForConversionId(
    const std::string& conversionId, const std::optional<std::string>& component) {
  std::string referrer;
  {
    Cache& c = cache();
    platform::MutexLock lock(c.mutex);
    const platform::Value* cached =
        c.referrers ? platform::find(*c.referrers, conversionId) : nullptr;
    if (cached) {
      referrer = *cached->asText();
    } else {
      platform::Dictionary stored = storedReferrers();
      const platform::Value* found = platform::find(stored, conversionId);
      referrer = found ? *found->asText() : std::string();
      if (c.referrers) c.referrers->insert_or_assign(conversionId, platform::Value(referrer));
    }
  }
  return extractComponent(component, referrer);
}

void TAGClickReferrerUtil::clearCache() {
  Cache& c = cache();
  platform::MutexLock lock(c.mutex);
  c.referrers.reset();
}
