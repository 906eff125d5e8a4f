#include "platform/foundation/NotificationCenter.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <thread>

namespace platform {

// One registration. Its own mutex makes removal final: the token clears `observer` and then waits
// until no other thread is inside the callback; a thread entering later finds it cleared.
struct NotificationCenter::Entry {
  Entry(std::string n, const void* s, Observer o)
      : name(std::move(n)), sender(s), observer(std::make_shared<const Observer>(std::move(o))) {}

  bool accepts(const Notification& notification) const {
    if (!name.empty() && name != notification.name) return false;
    return sender == nullptr || sender == notification.object.identity();
  }

  const std::string name;
  const void* const sender;
  std::mutex mutex;
  std::condition_variable idle;
  std::shared_ptr<const Observer> observer;  // null once removed
  std::vector<std::thread::id> callers;      // threads inside the callback right now
  std::atomic<bool> removed{false};          // lets the center drop the entry without locking it
};

NotificationCenter& NotificationCenter::defaultCenter() {
  // Never destroyed: tokens held by other statics may outlive static destruction.
  static auto* center = new NotificationCenter;
  return *center;
}

NotificationCenter::NotificationCenter() = default;

// Tokens keep their entries alive on their own, so they stay safe (and do nothing) afterwards.
NotificationCenter::~NotificationCenter() = default;

std::unique_ptr<NotificationCenter::Token> NotificationCenter::addObserver(const std::string& name,
                                                                           const void* sender,
                                                                           Observer observer) {
  auto entry = std::make_shared<Entry>(name, sender, std::move(observer));
  std::lock_guard<std::mutex> g(mutex_);
  std::erase_if(entries_, [](const std::shared_ptr<Entry>& e) { return e->removed.load(); });
  entries_.push_back(entry);
  return std::make_unique<Token>(std::move(entry));
}

void NotificationCenter::post(const std::string& name, Value object, Dictionary userInfo) {
  post(Notification{name, std::move(object), std::move(userInfo)});
}

void NotificationCenter::post(const Notification& notification) {
  // The observers as they are now: one added by a callback of this post waits for the next post.
  std::vector<std::shared_ptr<Entry>> targets;
  {
    std::lock_guard<std::mutex> g(mutex_);
    std::erase_if(entries_, [](const std::shared_ptr<Entry>& e) { return e->removed.load(); });
    for (auto& entry : entries_) {
      if (entry->accepts(notification)) targets.push_back(entry);
    }
  }
  const auto self = std::this_thread::get_id();
  for (auto& entry : targets) {
    std::shared_ptr<const Observer> observer;
    {
      std::lock_guard<std::mutex> g(entry->mutex);
      if (!entry->observer) continue;  // removed by an earlier callback or another thread
      observer = entry->observer;
      entry->callers.push_back(self);
    }
    struct Leave {
      Entry& entry;
      std::thread::id self;
      ~Leave() {
        std::lock_guard<std::mutex> g(entry.mutex);
        entry.callers.erase(std::find(entry.callers.begin(), entry.callers.end(), self));
        entry.idle.notify_all();
      }
    } leave{*entry, self};
    (*observer)(notification);
  }
}

NotificationCenter::Token::~Token() {
  if (!entry_) return;
  std::shared_ptr<const Observer> released;
  {
    std::unique_lock<std::mutex> lock(entry_->mutex);
    entry_->removed = true;
    released = std::move(entry_->observer);
    // Wait for callbacks running on other threads; one running on this thread is our caller
    // (a callback removing itself) and must not be waited for.
    const auto self = std::this_thread::get_id();
    entry_->idle.wait(lock, [&] {
      return std::all_of(entry_->callers.begin(), entry_->callers.end(),
                         [&](std::thread::id id) { return id == self; });
    });
  }
  // `released` goes here, outside the lock; a callback still running on this thread holds its
  // own reference.
}

}  // namespace platform
