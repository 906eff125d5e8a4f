#pragma once
// TAGWaitForFresh: the waiter of an opener that wants fresh content: it notifies on a network
// success, on a saved copy refreshed after `oldestTimeToBeFresh` (milliseconds since 1970), and
// on a network failure; a stale saved copy and a saved-copy failure are not enough.

#include <atomic>
#include <memory>

#include "tagmanager/container/TAGContainerCallback.h"

class TAGContainerOpener;

class TAGWaitForFresh : public TAGContainerCallback {
 public:
  TAGWaitForFresh(std::shared_ptr<TAGContainerOpener> containerOpener, double oldestTimeToBeFresh)
      : containerOpener_(std::move(containerOpener)), _oldestTimeToBeFresh(oldestTimeToBeFresh) {}
  void containerRefreshBegin(const std::shared_ptr<TAGContainer>&, std::int32_t) override {}
  void containerRefreshSuccess(const std::shared_ptr<TAGContainer>& container,
                               std::int32_t refreshType) override;
  void containerRefreshFailure(const std::shared_ptr<TAGContainer>& container, std::int32_t failure,
                               std::int32_t refreshType) override;
  double oldestTimeToBeFresh() const { return _oldestTimeToBeFresh.load(); }

 private:
  const std::shared_ptr<TAGContainerOpener> containerOpener_;
  std::atomic<double> _oldestTimeToBeFresh;
};
