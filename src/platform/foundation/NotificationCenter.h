#pragma once
// NotificationCenter: named notifications with a dictionary payload, delivered synchronously on
// the poster's thread to every observer registered for that name (or for every name), in the
// order they registered. An observer may filter by sender: it then receives only notifications
// whose object is that very shared object (identity, not equality).
//
// Registering returns a token; the observer stays registered while the token lives. Observers
// may be added or removed during a post: one added is first called by the next post, one
// removed is not called again. Once a token's destruction has returned, its callback is not
// running on any other thread and is never called again; a callback may destroy its own token.
// An exception thrown by an observer leaves `post`, and the later observers are not called.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/Value.h"

namespace platform {

struct Notification {
  std::string name;
  Value object;
  Dictionary userInfo;
};

class NotificationCenter {
 public:
  class Token;
  using Observer = std::function<void(const Notification&)>;

  static NotificationCenter& defaultCenter();

  NotificationCenter();
  ~NotificationCenter();

  // `name` empty observes every notification; `sender` null accepts any object.
  [[nodiscard]] std::unique_ptr<Token> addObserver(const std::string& name, const void* sender,
                                                   Observer observer) EXCLUDES(mutex_);
  [[nodiscard]] std::unique_ptr<Token> addObserver(const std::string& name, Observer observer) {
    return addObserver(name, nullptr, std::move(observer));
  }

  void post(const Notification& notification) EXCLUDES(mutex_);
  void post(const std::string& name, Value object = {}, Dictionary userInfo = {});

  class Entry;

 private:
  // Guarded by mutex_.
  Mutex mutex_;
  std::vector<std::shared_ptr<Entry>> entries_ GUARDED_BY(mutex_);
};

class NotificationCenter::Token {
 public:
  explicit Token(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}
  ~Token();
  Token(const Token&) = delete;
  Token& operator=(const Token&) = delete;

 private:
  const std::shared_ptr<Entry> entry_;
};

using ObserverToken = std::unique_ptr<NotificationCenter::Token>;

}  // namespace platform
