#include "tagmanager/container/TAGWaitForFresh.h"

#include "tagmanager/container/TAGContainer.h"
#include "tagmanager/container/TAGContainerOpener.h"

void TAGWaitForFresh::containerRefreshSuccess(const std::shared_ptr<TAGContainer>& container,
                                              std::int32_t refreshType) {
  if (refreshType == 1 || oldestTimeToBeFresh() < container->lastRefreshTime()) {
    containerOpener_->callNotifiers(container);
  }
}

void TAGWaitForFresh::containerRefreshFailure(const std::shared_ptr<TAGContainer>& container,
                                              std::int32_t, std::int32_t refreshType) {
  if (refreshType == 1) containerOpener_->callNotifiers(container);
}
