#include "tagmanager/pixel/TAGNetOperation.h"

#include "tagmanager/base/TAGDispatchUtil.h"

void TAGNetOperation::start() {
  isExecuting_ = true;
  stateDidChange();
  if (!isReady()) return;
  auto self = std::static_pointer_cast<TAGNetOperation>(shared_from_this());
  TAGDispatchUtil::background(
      [self] {
        if (self->isCancelled_) {
          self->finish();
          return;
        }
        std::weak_ptr<platform::URLConnectionDelegate> delegate = self;
        self->connection_ = platform::URLConnection::make(self->request_, delegate);
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
        self->data_.clear();
        self->response_.reset();
        self->isCancelled_ = true;
        self->finish();
      },
      false);
}

const std::optional<platform::URLResponse>& TAGNetOperation::response() const {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::response");
  return response_;
}

const platform::Bytes& TAGNetOperation::data() const {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::data");
  return data_;
}

const std::optional<platform::Error>& TAGNetOperation::error() const {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::error");
  return error_;
}

void TAGNetOperation::connectionDidReceiveResponse(platform::URLConnection&,
                                                   const platform::URLResponse& response) {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::connectionDidReceiveResponse");
  response_ = response;
  data_.clear();
}

void TAGNetOperation::connectionDidReceiveData(platform::URLConnection&,
                                               const platform::Bytes& data) {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::connectionDidReceiveData");
  data_.insert(data_.end(), data.begin(), data.end());
}

void TAGNetOperation::connectionDidFailWithError(platform::URLConnection&,
                                                 const platform::Error& error) {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::connectionDidFailWithError");
  error_ = error;
  finish();
}

void TAGNetOperation::connectionDidFinishLoading(platform::URLConnection&) {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::connectionDidFinishLoading");
  finish();
}

void TAGNetOperation::finish() {
  TAGDispatchUtil::assertOnThread("TAGNetOperation::finish");
  connection_.reset();
  if (isExecuting_.exchange(false)) {
    isFinished_ = true;
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
