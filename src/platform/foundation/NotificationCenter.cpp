#include "platform/foundation/NotificationCenter.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <thread>

namespace platform {

// One registration. Its own mutex makes removal final: the token clears the observer and then
// waits until no other thread is inside the callback; a thread entering later finds it cleared.
class NotificationCenter::Entry {
 public:
  Entry(std::string name, const void* sender, Observer observer)
      : name_(std::move(name)),
        sender_(sender),
        observer_(std::make_shared<const Observer>(std::move(observer))) {}

  bool accepts(const Notification& notification) const {
    if (!name_.empty() && name_ != notification.name) return false;
    return sender_ == nullptr || sender_ == notification.object.identity();
  }
  bool isRemoved() const { return removed_.load(); }

  // Calls the observer on this thread unless it has been removed.
  void deliver(const Notification& notification) EXCLUDES(mutex_) {
    const auto self = std::this_thread::get_id();
    std::shared_ptr<const Observer> observer;
    {
      MutexLock lock(mutex_);
      if (!observer_) return;  // removed by an earlier callback or another thread
      observer = observer_;
      callers_.push_back(self);
    }
    struct Leave {
      Entry& entry;
      std::thread::id self;
      ~Leave() { entry.leave(self); }
    } leave{*this, self};
    (*observer)(notification);
  }

  // Clears the observer and waits for callbacks running on other threads; one running on this
  // thread is our caller (a callback removing itself) and must not be waited for.
  void remove() EXCLUDES(mutex_) {
    std::shared_ptr<const Observer> released;
    {
      MutexLock lock(mutex_);
      removed_ = true;
      released = std::move(observer_);
      const auto self = std::this_thread::get_id();
      idle_.wait(lock.native(), [&]() REQUIRES(mutex_) {
        return std::all_of(callers_.begin(), callers_.end(),
                           [&](std::thread::id id) { return id == self; });
      });
    }
    // `released` goes here, outside the lock; a callback still running on this thread holds
    // its own reference.
  }

 private:
  void leave(std::thread::id self) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    callers_.erase(std::find(callers_.begin(), callers_.end(), self));
    idle_.notify_all();
  }

  // Set before start, read-only after.
  const std::string name_;
  const void* const sender_;

  // Lets the center drop the entry without taking its mutex.
  std::atomic<bool> removed_{false};

  // Guarded by mutex_.
  Mutex mutex_;
  std::condition_variable idle_;
  std::shared_ptr<const Observer> observer_ GUARDED_BY(mutex_);  // null once removed
  std::vector<std::thread::id> callers_ GUARDED_BY(mutex_);      // inside the callback now
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
  MutexLock lock(mutex_);
  std::erase_if(entries_, [](const std::shared_ptr<Entry>& e) { return e->isRemoved(); });
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
    MutexLock lock(mutex_);
    std::erase_if(entries_, [](const std::shared_ptr<Entry>& e) { return e->isRemoved(); });
    for (auto& entry : entries_) {
      if (entry->accepts(notification)) targets.push_back(entry);
    }
  }
  for (auto& entry : targets) entry->deliver(notification);
}

NotificationCenter::Token::~Token() {
  if (entry_) entry_->remove();
}

}  // namespace platform
