#pragma once
// TAGContainerOpenerNotifier: told once that an opened container is usable (after its first
// suitable refresh or when the opener's time-out ran out).

#include <memory>

class TAGContainer;

class TAGContainerOpenerNotifier {
 public:
  virtual ~TAGContainerOpenerNotifier() = default;
  virtual void containerAvailable(const std::shared_ptr<TAGContainer>& container) = 0;
};
