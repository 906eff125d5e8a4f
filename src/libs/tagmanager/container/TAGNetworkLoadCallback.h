#pragma once
// TAGNetworkLoadCallback: turns the outcome of a fetch into container state and notifications
// (refresh type 1). A fetched resource is set up, stamped as the refresh time, saved (unless the
// container is previewed) and the next fetch scheduled in 12 h; "no change" reuses the last
// loaded resource, and is a failure when there is none. A resource that does not expand, like
// any failure, schedules the next fetch in 1 h and reports failure 4 (nothing is saved or
// stamped). Each step runs under the container's lock.

#include <memory>

#include "tagmanager/container/TAGContainerLoadCallback.h"
#include "tagmanager/container/TAGResourceLoader.h"

class TAGNetworkLoadCallback : public TAGContainerLoadCallback<tagpb::TAGPResource> {
 public:
  using TAGContainerLoadCallback::TAGContainerLoadCallback;

  void startLoad() override;
  void onSuccess(std::shared_ptr<const tagpb::TAGPResource> resource) override;
  void onFailure(std::int32_t failure) override;

  // Network load failure kind to the failure the application hears.
  static std::int32_t containerFailure(std::int32_t failure);

 private:
  void fail(const std::shared_ptr<TAGContainer>& container, std::int32_t failure);
};
