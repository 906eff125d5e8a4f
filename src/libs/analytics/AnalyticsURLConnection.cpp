#include "analytics/AnalyticsURLConnection.h"

#include "analytics/Analytics.h"
#include "platform/foundation/Thread.h"
#include "platform/net/URLError.h"

std::atomic<bool> AnalyticsURLConnection::_dryRun{false};

AnalyticsURLConnection::Class AnalyticsURLConnection::connectionClass() {
  return {&AnalyticsURLConnection::initWithRequest, &AnalyticsURLConnection::setDryRun};
}

std::shared_ptr<AnalyticsURLConnection> AnalyticsURLConnection::initWithRequest(
    const platform::URLRequest& request, std::shared_ptr<platform::dispatch::Queue> completionQueue,
    CompletionHandler completionHandler) {
  std::shared_ptr<AnalyticsURLConnection> connection(new AnalyticsURLConnection(
      request, std::move(completionQueue), std::move(completionHandler)));
  Analytics::thread()->runLoop()->perform([connection] { connection->start(); });
  return connection;
}

AnalyticsURLConnection::AnalyticsURLConnection(
    platform::URLRequest request, std::shared_ptr<platform::dispatch::Queue> completionQueue,
    CompletionHandler completionHandler)
    : _request(std::move(request)),
      _completionQueue(std::move(completionQueue)),
      _completionHandler(std::move(completionHandler)) {}

void AnalyticsURLConnection::start() {
  auto runLoop = Analytics::thread()->runLoop();
  std::shared_ptr<platform::URLConnection> connection;
  {
    platform::MutexLock lock(mutex_);
    if (started_ || finished_) return;
    started_ = true;
    if (dryRun()) {
      _response = platform::URLResponse("", 200, {});
      _data = platform::Bytes();
    } else {
      connection = platform::URLConnection::make(_request, weak_from_this());
      connection->scheduleInRunLoop(runLoop);
      _connection = connection;
    }
  }
  if (!connection) {
    finish(std::nullopt);
    return;
  }
  std::weak_ptr<AnalyticsURLConnection> weak = weak_from_this();
  runLoop->performAfter(
      platform::seconds(kRequestTimeLimit),
      [weak] {
        if (auto self = weak.lock()) self->timeLimitReached();
      },
      this);
  connection->start();
}

void AnalyticsURLConnection::timeLimitReached() {
  std::shared_ptr<platform::URLConnection> connection;
  {
    platform::MutexLock lock(mutex_);
    if (finished_) return;
    connection = _connection;
  }
  if (connection) connection->cancel();
  finish(platform::urlError(platform::kURLErrorTimedOut, _request.url()));
}

void AnalyticsURLConnection::cancel() {
  std::shared_ptr<platform::URLConnection> connection;
  {
    platform::MutexLock lock(mutex_);
    if (finished_) return;
    _data.reset();
    connection = _connection;
  }
  if (connection) connection->cancel();
  finish(std::nullopt);
}

void AnalyticsURLConnection::connectionDidReceiveResponse(platform::URLConnection&,
                                                          const platform::URLResponse& response) {
  platform::MutexLock lock(mutex_);
  _response = response;
  _data.reset();
}

void AnalyticsURLConnection::connectionDidReceiveData(platform::URLConnection&,
                                                      const platform::Bytes&) {
  // Nobody reads an answer's body: the status is the outcome. Keeping it would let an endless
  // answer grow the process until the time limit.
  platform::MutexLock lock(mutex_);
  if (!_data) _data.emplace();
}

void AnalyticsURLConnection::connectionDidFinishLoading(platform::URLConnection&) {
  finish(std::nullopt);
}

void AnalyticsURLConnection::connectionDidFailWithError(platform::URLConnection&,
                                                        const platform::Error& error) {
  finish(error);
}

void AnalyticsURLConnection::finish(std::optional<platform::Error> error) {
  std::shared_ptr<platform::URLConnection> connection;
  {
    platform::MutexLock lock(mutex_);
    if (finished_) return;
    finished_ = true;
    connection = std::move(_connection);
  }
  Analytics::thread()->runLoop()->cancelPerforms(this);
  if (!_completionHandler || !_completionQueue) return;
  // The completion reads the response and data as they are when it runs.
  auto self = shared_from_this();
  _completionQueue->async([self, error = std::move(error)] {
    self->_completionHandler(self->response(), self->data(), error);
  });
}

std::optional<platform::URLResponse> AnalyticsURLConnection::response() const {
  platform::MutexLock lock(mutex_);
  return _response;
}

std::optional<platform::Bytes> AnalyticsURLConnection::data() const {
  platform::MutexLock lock(mutex_);
  return _data;
}

bool AnalyticsURLConnection::isInFlight() const {
  platform::MutexLock lock(mutex_);
  return started_ && !finished_;
}
