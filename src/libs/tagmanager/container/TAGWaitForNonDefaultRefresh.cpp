#include "tagmanager/container/TAGWaitForNonDefaultRefresh.h"

#include "tagmanager/container/TAGContainerOpener.h"

void TAGWaitForNonDefaultRefresh::containerRefreshSuccess(
    const std::shared_ptr<TAGContainer>& container, std::int32_t) {
  containerOpener_->callNotifiers(container);
}

void TAGWaitForNonDefaultRefresh::containerRefreshFailure(
    const std::shared_ptr<TAGContainer>& container, std::int32_t, std::int32_t refreshType) {
  if (refreshType == 1) containerOpener_->callNotifiers(container);
}
