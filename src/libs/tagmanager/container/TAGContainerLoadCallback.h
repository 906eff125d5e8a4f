#pragma once
// TAGContainerLoadCallback: what the container's disk and network load callbacks share: the
// container they apply outcomes to (held weakly: the container owns its callbacks) and the
// application's callback they report to, which `close` silences.

#include <memory>

#include "platform/foundation/Mutex.h"
#include "tagmanager/container/TAGContainerCallback.h"
#include "tagmanager/container/TAGLoadCallback.h"

template <class Resource>
class TAGContainerLoadCallback : public TAGLoadCallback<Resource> {
 public:
  TAGContainerLoadCallback(std::shared_ptr<TAGContainerCallback> callback,
                           std::weak_ptr<TAGContainer> container)
      : container_(std::move(container)), callback_(std::move(callback)) {}

  void close() EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    callback_.reset();
  }

 protected:
  std::shared_ptr<TAGContainerCallback> callback() const EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    return callback_;
  }

  const std::weak_ptr<TAGContainer> container_;

 private:
  mutable platform::Mutex mutex_;
  std::shared_ptr<TAGContainerCallback> callback_ GUARDED_BY(mutex_);
};
