#pragma once
// TAGFutureNotifier: the notifier behind a future: stores the container it is told of.

#include <memory>

#include "tagmanager/container/TAGContainerFutureImpl.h"
#include "tagmanager/container/TAGContainerOpenerNotifier.h"

class TAGFutureNotifier : public TAGContainerOpenerNotifier {
 public:
  explicit TAGFutureNotifier(std::shared_ptr<TAGContainerFutureImpl> future)
      : future_(std::move(future)) {}
  void containerAvailable(const std::shared_ptr<TAGContainer>& container) override {
    future_->setContainer(container);
  }
  const std::shared_ptr<TAGContainerFutureImpl>& future() const { return future_; }

 private:
  const std::shared_ptr<TAGContainerFutureImpl> future_;
};
