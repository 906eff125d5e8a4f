#pragma once
// TAGContainerCallback: what the application (or an opener's waiter) hears of a container's
// loads. Refresh type 0 is the saved copy, 1 the network. Failures: 0 no saved copy, 1 the saved
// copy is unreadable or invalid, 2 no connection, 3 a server error status, 4 not found or an
// unusable answer, 5 anything else.
//
// Called with the container's lock held, on the thread the load reports on (the main run loop
// for the saved copy, the run loop of the scheduling thread for the network; `Begin` of the saved
// copy on a background thread).

#include <cstdint>
#include <memory>

class TAGContainer;

class TAGContainerCallback {
 public:
  virtual ~TAGContainerCallback() = default;
  virtual void containerRefreshBegin(const std::shared_ptr<TAGContainer>& container,
                                     std::int32_t refreshType) = 0;
  virtual void containerRefreshSuccess(const std::shared_ptr<TAGContainer>& container,
                                       std::int32_t refreshType) = 0;
  virtual void containerRefreshFailure(const std::shared_ptr<TAGContainer>& container,
                                       std::int32_t failure, std::int32_t refreshType) = 0;
};
