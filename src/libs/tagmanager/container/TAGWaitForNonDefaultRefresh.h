#pragma once
// TAGWaitForNonDefaultRefresh: the waiter of an opener that wants any non-default content: it
// notifies on any refresh success (saved or network) and on a network failure; a saved-copy
// failure is not enough.

#include <memory>

#include "tagmanager/container/TAGContainerCallback.h"

class TAGContainerOpener;

class TAGWaitForNonDefaultRefresh : public TAGContainerCallback {
 public:
  explicit TAGWaitForNonDefaultRefresh(std::shared_ptr<TAGContainerOpener> containerOpener)
      : containerOpener_(std::move(containerOpener)) {}
  void containerRefreshBegin(const std::shared_ptr<TAGContainer>&, std::int32_t) override {}
  void containerRefreshSuccess(const std::shared_ptr<TAGContainer>& container,
                               std::int32_t refreshType) override;
  void containerRefreshFailure(const std::shared_ptr<TAGContainer>& container, std::int32_t failure,
                               std::int32_t refreshType) override;

 private:
  const std::shared_ptr<TAGContainerOpener> containerOpener_;
};
