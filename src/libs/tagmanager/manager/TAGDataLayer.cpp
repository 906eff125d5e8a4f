#include "tagmanager/manager/TAGDataLayer.h"

#include <vector>

#include "platform/foundation/Assert.h"

namespace {

std::vector<std::string> splitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t end = path.find('.', start);
    parts.push_back(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// Merges a list or dictionary `source` into `slot`, replacing what is there unless it is of the
// same kind; anything else replaces `slot`.
void mergeInto(const platform::Value& source, platform::Value& slot) {
  if (const platform::Array* list = source.asArray()) {
    if (!slot.asArray()) slot = platform::Array{};
    TAGDataLayer::mergeList(*list, *slot.asArray());
  } else if (const platform::Dictionary* map = source.asDictionary()) {
    if (!slot.asDictionary()) slot = platform::Dictionary{};
    TAGDataLayer::mergeMap(*map, *slot.asDictionary());
  } else {
    slot = source;
  }
}

}  // namespace

void TAGDataLayer::push(const platform::Dictionary& update) {
  platform::RecursiveMutexLock lock(pushLock_);
  updateQueue_.push_back(update);
  std::int32_t depth = _pushDepth.fetch_add(1);
  struct Restore {
    std::atomic<std::int32_t>& depth;
    ~Restore() { depth.fetch_sub(1); }
  } restore{_pushDepth};
  if (depth == 0) processQueuedUpdates();
}

void TAGDataLayer::pushValue(const platform::Value& value, const std::string& keyPath) {
  push(expandKey(keyPath, value));
}

void TAGDataLayer::processQueuedUpdates() {
  int processed = 0;
  while (!updateQueue_.empty()) {
    platform::Dictionary update = std::move(updateQueue_.front());
    updateQueue_.pop_front();
    processUpdate(update);
    if (++processed > kMaxUpdatesPerDrain) {
      updateQueue_.clear();
      throw platform::Exception("TAGListenerPushLoop",
                                "Seems like an infinite loop of pushing to the data layer?");
    }
  }
}

void TAGDataLayer::processUpdate(const platform::Dictionary& update) {
  {
    platform::MutexLock lock(modelMutex_);
    for (const auto& [key, value] : update) mergeMap(expandKey(key, value), model_);
  }
  notifyListeners(update);
}

void TAGDataLayer::notifyListeners(const platform::Dictionary& update) {
  std::set<std::shared_ptr<TAGDataLayerListener>> listeners;
  {
    platform::MutexLock lock(listenersMutex_);
    listeners = listeners_;
  }
  for (const auto& listener : listeners) listener->changed(update);
}

std::optional<platform::Value> TAGDataLayer::get(const std::string& keyPath) const {
  platform::MutexLock lock(modelMutex_);
  const platform::Dictionary* current = &model_;
  const platform::Value* found = nullptr;
  for (const std::string& part : splitPath(keyPath)) {
    if (!current) return std::nullopt;
    found = platform::find(*current, part);
    if (!found) return std::nullopt;
    if (found->isNull()) return platform::Value();
    current = found->asDictionary();
  }
  return *found;
}

void TAGDataLayer::registerListener(std::shared_ptr<TAGDataLayerListener> listener) {
  platform::MutexLock lock(listenersMutex_);
  listeners_.insert(std::move(listener));
}

void TAGDataLayer::unregisterListener(const std::shared_ptr<TAGDataLayerListener>& listener) {
  platform::MutexLock lock(listenersMutex_);
  listeners_.erase(listener);
}

platform::Dictionary TAGDataLayer::expandKey(const std::string& key, const platform::Value& value) {
  std::vector<std::string> parts = splitPath(key);
  platform::Value nested = value;
  for (std::size_t i = parts.size(); i-- > 1;) {
    nested = platform::Dictionary{{parts[i], std::move(nested)}};
  }
  return platform::Dictionary{{parts[0], std::move(nested)}};
}

void TAGDataLayer::mergeMap(const platform::Dictionary& source, platform::Dictionary& target) {
  for (const auto& [key, value] : source) mergeInto(value, target[key]);
}

void TAGDataLayer::mergeList(const platform::Array& source, platform::Array& target) {
  if (target.size() < source.size()) target.resize(source.size());
  for (std::size_t i = 0; i < source.size(); ++i) mergeInto(source[i], target[i]);
}
