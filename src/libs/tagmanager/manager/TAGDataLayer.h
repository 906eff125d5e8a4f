#pragma once
// TAGDataLayer: the tag manager's shared key/value model. Each pushed dictionary (an update) is
// deep-merged into one nested model, then every registered listener hears of the update as it
// was pushed. Values are read back by dotted key paths ("a.b.c").
//
// Merging: a key "a.b" stands for a -> {b -> value}; a dictionary merges key by key into a
// dictionary already there; a list merges element by element into a list already there (it is
// padded with nulls first and never shortened); a list or dictionary replaces a value of
// another kind, and any other value replaces what was there.
//
// Pushes are first in, first out. A push made from inside a listener on the same thread only
// queues its update; the outermost push processes it after the current one. One drain processes
// at most 500 updates: the 501st is processed, then the queue is emptied and
// platform::Exception "TAGListenerPushLoop" leaves through the outermost push. Listener
// exceptions leave the same way; updates merged before stay merged.
//
// Any thread may push, read and register listeners. Pushes from different threads run one after
// another; a `get` sees an update either wholly merged or not at all.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/Value.h"
#include "tagmanager/manager/TAGDataLayerListener.h"

class TAGDataLayer {
 public:
  static constexpr int kMaxUpdatesPerDrain = 500;

  TAGDataLayer() = default;
  TAGDataLayer(const TAGDataLayer&) = delete;
  TAGDataLayer& operator=(const TAGDataLayer&) = delete;

  void push(const platform::Dictionary& update) EXCLUDES(modelMutex_, listenersMutex_);
  // Pushes {keyPath: value} (dotted: "a.b" pushes a -> {b -> value}).
  void pushValue(const platform::Value& value, const std::string& keyPath)
      EXCLUDES(modelMutex_, listenersMutex_);
  // A copy of the value at the dotted path: nullopt when there is none or a step is not a
  // dictionary; a null value as soon as a step finds null, even with steps left.
  std::optional<platform::Value> get(const std::string& keyPath) const EXCLUDES(modelMutex_);

  // Held until unregistered; registering one twice keeps one entry.
  void registerListener(std::shared_ptr<TAGDataLayerListener> listener) EXCLUDES(listenersMutex_);
  void unregisterListener(const std::shared_ptr<TAGDataLayerListener>& listener)
      EXCLUDES(listenersMutex_);

  // How many pushes are on the stack of the thread that is pushing (0 when idle).
  std::int32_t pushDepth() const { return _pushDepth.load(); }

  // The merge steps, on their own.
  static platform::Dictionary expandKey(const std::string& key, const platform::Value& value);
  static void mergeMap(const platform::Dictionary& source, platform::Dictionary& target);
  static void mergeList(const platform::Array& source, platform::Array& target);

 private:
  void processQueuedUpdates() REQUIRES(pushLock_);
  void processUpdate(const platform::Dictionary& update) EXCLUDES(modelMutex_, listenersMutex_);
  void notifyListeners(const platform::Dictionary& update) EXCLUDES(listenersMutex_);

  // Serialises pushes; taken again by a listener that pushes on the same thread.
  platform::RecursiveMutex pushLock_;
  std::deque<platform::Dictionary> updateQueue_ GUARDED_BY(pushLock_);
  std::atomic<std::int32_t> _pushDepth{0};

  mutable platform::Mutex modelMutex_;
  platform::Dictionary model_ GUARDED_BY(modelMutex_);

  mutable platform::Mutex listenersMutex_;
  std::set<std::shared_ptr<TAGDataLayerListener>> listeners_ GUARDED_BY(listenersMutex_);
};
