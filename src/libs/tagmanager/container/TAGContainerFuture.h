#pragma once
// TAGContainerFuture: a container that an opener will hand over. `get` waits for it while
// running the calling thread's run loop (which must be the one the container's outcomes reach:
// the main thread here), 0.1 s at a time, without limit.

#include <memory>

class TAGContainer;

class TAGContainerFuture {
 public:
  virtual ~TAGContainerFuture() = default;
  virtual std::shared_ptr<TAGContainer> get() = 0;
  virtual bool isDone() = 0;
};
