#pragma once
// AnalyticsURLConnection: performs one hit request for the batching dispatcher and delivers its
// outcome once, as (response, data, error), on the dispatch queue the caller chose. The transfer
// runs on the analytics thread's run loop.
//
// - The answer's body is discarded as it arrives (nobody reads it): the data handed on is
//   empty once a body has begun, absent before.
// - An HTTP error status is no failure: it arrives as a response with that status. A transport
//   failure arrives as an error, with the response when one had come.
// - A request that has not finished 60 seconds of clock time after it started is cancelled and
//   fails with the platform's time-out error, so a server that never answers cannot hold the
//   dispatcher for ever.
// - `cancel` completes at once without data and without error.
// - Dry run (a class-wide switch): no request leaves the device; every request completes with an
//   HTTP response of status 200, empty data and no error.
//
// Made and cancelled from any thread; its own work runs on the analytics thread.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Mutex.h"
#include "platform/net/URLConnection.h"

class AnalyticsURLConnection : public platform::URLConnectionDelegate,
                               public std::enable_shared_from_this<AnalyticsURLConnection> {
 public:
  using CompletionHandler = std::function<void(const std::optional<platform::URLResponse>& response,
                                               const std::optional<platform::Bytes>& data,
                                               const std::optional<platform::Error>& error)>;

  // What `Analytics` hands the dispatcher as its connection class: how to start a request, and
  // the class-wide dry-run switch.
  struct Class {
    std::function<std::shared_ptr<AnalyticsURLConnection>(
        const platform::URLRequest&, std::shared_ptr<platform::dispatch::Queue>, CompletionHandler)>
        initWithRequest;
    std::function<void(bool)> setDryRun;
  };
  static Class connectionClass();

  static constexpr double kRequestTimeLimit = 60.0;

  static void setDryRun(bool dryRun) { _dryRun.store(dryRun); }
  static bool dryRun() { return _dryRun.load(); }

  // The connection, already on its way: `start` runs on the analytics thread.
  static std::shared_ptr<AnalyticsURLConnection> initWithRequest(
      const platform::URLRequest& request,
      std::shared_ptr<platform::dispatch::Queue> completionQueue,
      CompletionHandler completionHandler);

  void cancel() EXCLUDES(mutex_);

  const platform::URLRequest& request() const { return _request; }
  std::optional<platform::URLResponse> response() const EXCLUDES(mutex_);
  std::optional<platform::Bytes> data() const EXCLUDES(mutex_);
  bool isInFlight() const EXCLUDES(mutex_);

  // platform::URLConnectionDelegate, on the analytics thread.
  void connectionDidReceiveResponse(platform::URLConnection&,
                                    const platform::URLResponse& response) override
      EXCLUDES(mutex_);
  void connectionDidReceiveData(platform::URLConnection&, const platform::Bytes& data) override
      EXCLUDES(mutex_);
  void connectionDidFinishLoading(platform::URLConnection&) override EXCLUDES(mutex_);
  void connectionDidFailWithError(platform::URLConnection&, const platform::Error& error) override
      EXCLUDES(mutex_);

 private:
  AnalyticsURLConnection(platform::URLRequest request,
                         std::shared_ptr<platform::dispatch::Queue> completionQueue,
                         CompletionHandler completionHandler);
  void start() EXCLUDES(mutex_);
  void timeLimitReached() EXCLUDES(mutex_);
  // Ends the transfer once: releases the connection and queues the completion.
  void finish(std::optional<platform::Error> error) EXCLUDES(mutex_);

  static std::atomic<bool> _dryRun;

  // Set before start, read-only after.
  const platform::URLRequest _request;
  const std::shared_ptr<platform::dispatch::Queue> _completionQueue;
  const CompletionHandler _completionHandler;

  // Guarded by mutex_.
  mutable platform::Mutex mutex_;
  std::shared_ptr<platform::URLConnection> _connection GUARDED_BY(mutex_);
  std::optional<platform::URLResponse> _response GUARDED_BY(mutex_);
  std::optional<platform::Bytes> _data GUARDED_BY(mutex_);
  bool started_ GUARDED_BY(mutex_) = false;
  bool finished_ GUARDED_BY(mutex_) = false;
};
