#pragma once
// TAGFutureNotifier: the notifier behind a future: stores the container it is told of.

#include <memory>

#include "tagmanager/container/TAGContainerFutureImpl.h"
#include "tagmanager/container/TAGContainerOpenerNotifier.h"

class TAGFutureNotifier : public TAGContainerOpenerNotifier {
 public:
  explicit TAGFutureNotifier(std::shared_ptr<TAGContainerFutureImpl> future)
      : _future(std::move(future)) {}
  void containerAvailable(const std::shared_ptr<TAGContainer>& container) override {
    _future->setContainer(container);
  }
  const std::shared_ptr<TAGContainerFutureImpl>& future() const { return _future; }

 private:
  const std::shared_ptr<TAGContainerFutureImpl> _future;
};
