#pragma once
// TAGNetworkLoadCallback: turns the outcome of a fetch into container state and notifications
// (refresh type 1). A fetched resource is set up, stamped as the refresh time, saved (unless the
// container is previewed) and the next fetch scheduled in 12 h; "no change" reuses the last
// loaded resource, and is a failure when there is none. A resource that does not expand, like
// any failure, schedules the next fetch in 1 h and reports failure 4 (nothing is saved or
// stamped). Each step runs under the container's lock.
//
// Holds its container weakly (the container owns it); `close` silences the callback.

#include <memory>

#include "platform/foundation/Mutex.h"
#include "tagmanager/TAGContainerCallback.h"
#include "tagmanager/TAGResourceLoader.h"

class TAGNetworkLoadCallback : public TAGResourceLoader::Callback {
 public:
  TAGNetworkLoadCallback(std::shared_ptr<TAGContainerCallback> callback,
                         std::weak_ptr<TAGContainer> container)
      : container_(std::move(container)), callback_(std::move(callback)) {}

  void startLoad() override;
  void onSuccess(std::shared_ptr<const tagpb::TAGPResource> resource) override;
  void onFailure(std::int32_t failure) override;
  void close();

  // Network load failure kind to the failure the application hears.
  static std::int32_t containerFailure(std::int32_t failure);

 private:
  std::shared_ptr<TAGContainerCallback> callback() const EXCLUDES(mutex_);
  void fail(const std::shared_ptr<TAGContainer>& container, std::int32_t failure);

  const std::weak_ptr<TAGContainer> container_;
  mutable platform::Mutex mutex_;
  std::shared_ptr<TAGContainerCallback> callback_ GUARDED_BY(mutex_);
};
