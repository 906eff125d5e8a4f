#pragma once
// URLConnection: one asynchronous HTTP transfer on libcurl. All transfers of the process share
// one multi handle driven by one worker thread (so connections are reused across requests);
// everything the delegate hears (response, data, upload progress, finish, failure) is delivered
// on the run loop the connection was scheduled on, by default that of the thread that started
// it.
//
// Promises:
// - `cancel()` may come from any thread; once it has returned, the delegate hears nothing more
//   (a delivery already running on the run loop's thread completes first).
// - The response is delivered once, before any data, for the final answer after redirects.
// - Exactly one of finish or failure ends a transfer that is not cancelled.
// - Received data waiting for the run loop is bounded (`kMaxBufferedBytes`): beyond it the
//   transfer pauses until the delegate has caught up.
// - The time-out is an idle limit on the shared clock: connecting, and then no byte moving, for
//   `timeoutInterval()` seconds fails with kURLErrorTimedOut. Every byte that moves starts the
//   limit afresh, so a slow transfer that keeps moving never times out.
// - Answers are asked for and decoded in gzip and deflate ("Accept-Encoding"); the delegate
//   gets the decoded bytes.
// - Only the request's own header fields are sent beside those HTTP itself needs (Host,
//   Content-Length, Transfer-Encoding): no default Accept, Content-Type or Expect.
// - Server certificates and host names are verified unless the request allows invalid ones.
// - Only "http" and "https" are fetched, also where a redirect leads: any other scheme fails
//   with kURLErrorUnsupportedURL before a connection is made ("file:" is read by the callers
//   that read local files on purpose).
// - A body longer than the request's `maximumBodyLength()` fails the transfer with
//   kURLErrorDataLengthExceedsMaximum once the limit is passed.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/foundation/Error.h"
#include "platform/foundation/Mutex.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

namespace platform {

class URLConnection;

class URLConnectionDelegate {
 public:
  virtual ~URLConnectionDelegate() = default;
  virtual void connectionDidReceiveResponse(URLConnection&, const URLResponse&) {}
  virtual void connectionDidReceiveData(URLConnection&, const Bytes&) {}
  virtual void connectionDidSendBodyData(URLConnection&, std::int64_t /*bytesWritten*/,
                                         std::int64_t /*totalBytesWritten*/,
                                         std::int64_t /*totalBytesExpectedToWrite*/) {}
  virtual void connectionDidFinishLoading(URLConnection&) {}
  virtual void connectionDidFailWithError(URLConnection&, const Error&) {}
};

class URLConnection : public std::enable_shared_from_this<URLConnection> {
 public:
  static constexpr std::size_t kMaxBufferedBytes = 1 << 20;

  // A connection for `request`, not started. The delegate is not owned.
  static std::shared_ptr<URLConnection> make(URLRequest request,
                                             std::weak_ptr<URLConnectionDelegate> delegate);
  // Cancels a transfer still running.
  ~URLConnection();

  // The run loop deliveries go to; call before `start`.
  void scheduleInRunLoop(std::shared_ptr<RunLoop> runLoop);
  // Starts the transfer; a second call does nothing.
  void start() EXCLUDES(mutex_);
  void cancel() EXCLUDES(mutex_);

  const URLRequest& originalRequest() const { return request_; }

  // Transfers of the process started and not yet ended: their finish or failure has not been
  // delivered yet and they were not cancelled. Any thread.
  static std::size_t transfersInFlight();

  struct Transfer;

 private:
  URLConnection(URLRequest request, std::weak_ptr<URLConnectionDelegate> delegate);

  // Set before start, read-only after.
  const URLRequest request_;
  const std::weak_ptr<URLConnectionDelegate> delegate_;
  std::shared_ptr<RunLoop> runLoop_;

  // Guarded by mutex_.
  Mutex mutex_;
  std::shared_ptr<Transfer> transfer_ GUARDED_BY(mutex_);
  bool started_ GUARDED_BY(mutex_) = false;
};

}  // namespace platform
