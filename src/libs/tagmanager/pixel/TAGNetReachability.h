#pragma once
// TAGNetReachability: watches whether one host can be reached. Status 0 is not yet known (the
// start), 1 not reachable, 2 reachable, 3 reachable over the cellular network; every change of
// status calls the status block, on the main run loop.
//
// `start`/`stop` from any thread; the status is read and written on the main run loop.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/foundation/Mutex.h"
#include "platform/foundation/SharedObject.h"
#include "platform/net/ReachabilitySource.h"

class TAGNetReachability : public std::enable_shared_from_this<TAGNetReachability> {
  CH_SHARED_OBJECT(TAGNetReachability)

 public:
  using StatusChange = std::function<void(std::int32_t status)>;

  ~TAGNetReachability();

  // False when already started or the host cannot be watched.
  bool start() EXCLUDES(mutex_);
  void stop() EXCLUDES(mutex_);

  // The status the platform's flags stand for.
  static std::int32_t statusForFlags(std::uint32_t flags);

  const std::string& host() const { return _host; }
  std::int32_t reachabilityStatus() const { return _reachabilityStatus.load(); }
  // A different status is stored and reported to the status block.
  void setReachabilityStatus(std::int32_t status) EXCLUDES(mutex_);
  void setStatusChange(StatusChange block) EXCLUDES(mutex_);

 protected:
  explicit TAGNetReachability(std::string host) : _host(std::move(host)) {}

 private:
  const std::string _host;
  std::atomic<std::int32_t> _reachabilityStatus{0};
  platform::Mutex mutex_;
  StatusChange _statusChange GUARDED_BY(mutex_);
  std::unique_ptr<platform::ReachabilitySource::Subscription> reachability_ GUARDED_BY(mutex_);
};
