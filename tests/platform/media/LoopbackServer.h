#pragma once
// LoopbackServer: an HTTP server on 127.0.0.1 (a port the kernel picks) for the media tests,
// serving the routes a test installs before it starts, on a thread of its own. It records the
// path of every request it answered.

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Mutex.h"

namespace httplib {
class Server;
}

namespace mediatest {

class LoopbackServer {
 public:
  explicit LoopbackServer(const std::function<void(httplib::Server&)>& routes);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path) const;
  std::vector<std::string> paths() const EXCLUDES(mutex_);

 private:
  // Set before start, read-only after.
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  std::thread thread_;

  // Guarded by mutex_.
  mutable platform::Mutex mutex_;
  std::vector<std::string> paths_ GUARDED_BY(mutex_);
};

// A loopback port that refuses connections: bound, never listening, for the life of the
// object, so no other socket can take it meanwhile.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace mediatest
