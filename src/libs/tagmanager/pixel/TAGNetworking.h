#pragma once
// TAGNetworking: the queue pixel hits are sent through, one request at a time, and whether the
// pixel host is reachable. `isReachable` is true from the start and false exactly while the
// watched host reports "not reachable"; a host that cannot be watched leaves it true for good.
// Its observer hears every change (on the main run loop, where reachability reports).
//
// Any thread may send.

#include <atomic>
#include <functional>
#include <memory>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/SharedObject.h"
#include "tagmanager/pixel/TAGNetOperation.h"
#include "tagmanager/pixel/TAGNetReachability.h"

class TAGNetworking : public std::enable_shared_from_this<TAGNetworking> {
  CH_SHARED_OBJECT(TAGNetworking)

 public:
  // Starts watching the pixel host.
  static std::shared_ptr<TAGNetworking> init();
  ~TAGNetworking();

  // A GET for `url` that ignores cached data, with the tag manager's user agent.
  static platform::URLRequest requestWithURL(const std::string& url);
  // The operation, already queued; `completion` runs on TAGThread.
  std::shared_ptr<TAGNetOperation> sendURL(const std::string& url,
                                           TAGNetOperation::Completion completion);

  bool isReachable() const { return _isReachable.load(); }
  void setIsReachable(bool reachable) EXCLUDES(mutex_);
  void setIsReachableObserver(std::function<void()> observer) EXCLUDES(mutex_);
  const std::shared_ptr<TAGNetReachability>& reachability() const { return _reachability; }
  const std::shared_ptr<platform::OperationQueue>& queue() const { return queue_; }

 protected:
  TAGNetworking();

 private:
  const std::shared_ptr<platform::OperationQueue> queue_;
  std::shared_ptr<TAGNetReachability> _reachability;
  std::atomic<bool> _isReachable{true};
  platform::Mutex mutex_;
  std::function<void()> isReachableObserver_ GUARDED_BY(mutex_);
};
