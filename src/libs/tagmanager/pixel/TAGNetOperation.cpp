#include "tagmanager/pixel/TAGNetOperation.h"

#include "tagmanager/base/TAGDispatchUtil.h"

void TAGNetOperation::start() {
  _isExecuting = true;
  stateDidChange();
  if (!isReady()) return;
  auto self = std::static_pointer_cast<TAGNetOperation>(shared_from_this());
  TAGDispatchUtil::background(
      [self] {
        if (self->_isCancelled) {
          self->finish();
          return;
        }
        std::weak_ptr<platform::URLConnectionDelegate> delegate = self;
        self->connection_ = platform::URLConnection::make(self->_request, delegate);
        self->connection_->scheduleInRunLoop(TAGDispatchUtil::runLoop());
        self->connection_->start();
      },
      false);
}

void TAGNetOperation::cancel() {
  auto self = std::static_pointer_cast<TAGNetOperation>(shared_from_this());
  TAGDispatchUtil::background(
      [self] {
        if (self->connection_) self->connection_->cancel();
        self->_data.clear();
        self->_response.reset();
        self->_isCancelled = true;
        self->finish();
      },
      false);
}

const std::optional<platform::URLResponse>& TAGNetOperation::response() const {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::response");
  return _response;
}

const platform::Bytes& TAGNetOperation::data() const {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::data");
  return _data;
}

const std::optional<platform::Error>& TAGNetOperation::error() const {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::error");
  return _error;
}

void TAGNetOperation::connectionDidReceiveResponse(platform::URLConnection&,
                                                   const platform::URLResponse& response) {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::connectionDidReceiveResponse");
  _response = response;
  _data.clear();
}

void TAGNetOperation::connectionDidReceiveData(platform::URLConnection&,
                                               const platform::Bytes& data) {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::connectionDidReceiveData");
  _data.insert(_data.end(), data.begin(), data.end());
}

void TAGNetOperation::connectionDidFailWithError(platform::URLConnection&,
                                                 const platform::Error& error) {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::connectionDidFailWithError");
  _error = error;
  finish();
}

void TAGNetOperation::connectionDidFinishLoading(platform::URLConnection&) {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::connectionDidFinishLoading");
  finish();
}

void TAGNetOperation::finish() {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::finish");
  connection_.reset();
  if (_isExecuting.exchange(false)) {
    _isFinished = true;
    stateDidChange();
  }
  Completion completion;
  {
    platform::MutexLock lock(mutex_);
    completion = std::move(completion_);
    completion_ = nullptr;
  }
  if (completion) completion(*this);
}
