#pragma once
// TAGNetOperation: one pixel-hit request as a queue operation. Its connection runs on TAGThread,
// so every delegate call and the completion happen there. The completion runs exactly once:
// after the answer (any status; the body is collected), after a connection error (`error` set,
// no response) or after `cancel` (`isCancelled`, no response). Redirects are followed and
// nothing is cached.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/Operation.h"
#include "platform/net/URLConnection.h"

class TAGNetOperation : public platform::Operation, public platform::URLConnectionDelegate {
  CH_SHARED_OBJECT(TAGNetOperation)

 public:
  using Completion = std::function<void(TAGNetOperation&)>;

  static std::shared_ptr<TAGNetOperation> operationWithRequest(platform::URLRequest request,
                                                               Completion completion) {
    return create(std::move(request), std::move(completion));
  }

  void start() override;
  void cancel() override;
  bool isConcurrent() const override { return true; }
  bool isExecuting() const override { return _isExecuting.load(); }
  bool isFinished() const override { return _isFinished.load(); }
  bool isCancelled() const override { return _isCancelled.load(); }

  const platform::URLRequest& request() const { return _request; }
  // TAGThread only (asserted; the completion reads them there).
  const std::optional<platform::URLResponse>& response() const;
  const platform::Bytes& data() const;
  const std::optional<platform::Error>& error() const;

  void connectionDidReceiveResponse(platform::URLConnection&,
                                    const platform::URLResponse& response) override;
  void connectionDidReceiveData(platform::URLConnection&, const platform::Bytes& data) override;
  void connectionDidFailWithError(platform::URLConnection&, const platform::Error& error) override;
  void connectionDidFinishLoading(platform::URLConnection&) override;

 protected:
  TAGNetOperation(platform::URLRequest request, Completion completion)
      : _request(std::move(request)), completion_(std::move(completion)) {}

 private:
  void finish() EXCLUDES(mutex_);

  const platform::URLRequest _request;
  std::atomic<bool> _isExecuting{false};
  std::atomic<bool> _isFinished{false};
  std::atomic<bool> _isCancelled{false};

  platform::Mutex mutex_;
  Completion completion_ GUARDED_BY(mutex_);

  // Owned by TAGThread: every function that touches them asserts it runs there.
  std::shared_ptr<platform::URLConnection> connection_;
  std::optional<platform::URLResponse> _response;
  platform::Bytes _data;
  std::optional<platform::Error> _error;
};
