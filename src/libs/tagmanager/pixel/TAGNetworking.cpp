#include "tagmanager/pixel/TAGNetworking.h"

#include "tagmanager/base/TAGDispatchUtil.h"
#include "tagmanager/base/TAGServerConfig.h"

TAGNetworking::TAGNetworking() : queue_(platform::OperationQueue::create("TAGNetworking")) {
  queue_->setMaxConcurrentOperationCount(1);
}

std::shared_ptr<TAGNetworking> TAGNetworking::init() {
  auto networking = create();
  networking->_reachability = TAGNetReachability::create(TAGServerConfig::pixelHost());
  std::weak_ptr<TAGNetworking> weak = networking;
  networking->_reachability->setStatusChange([weak](std::int32_t status) {
    if (auto self = weak.lock()) self->setIsReachable(status != 1);
  });
  networking->_reachability->start();
  return networking;
}

TAGNetworking::~TAGNetworking() {
  if (_reachability) _reachability->stop();
}

platform::URLRequest TAGNetworking::requestWithURL(const std::string& url) {
  platform::URLRequest request(url);
  request.setHTTPMethod("GET");
  request.setValue(TAGDispatchUtil::userAgentString(), "User-Agent");
  return request;
}

std::shared_ptr<TAGNetOperation> TAGNetworking::sendURL(const std::string& url,
                                                        TAGNetOperation::Completion completion) {
  auto operation =
      TAGNetOperation::operationWithRequest(requestWithURL(url), std::move(completion));
  queue_->addOperation(operation);
  return operation;
}

void TAGNetworking::setIsReachable(bool reachable) {
  if (_isReachable.exchange(reachable) == reachable) return;
  std::function<void()> observer;
  {
    platform::MutexLock lock(mutex_);
    observer = isReachableObserver_;
  }
  if (observer) observer();
}

void TAGNetworking::setIsReachableObserver(std::function<void()> observer) {
  platform::MutexLock lock(mutex_);
  isReachableObserver_ = std::move(observer);
}
