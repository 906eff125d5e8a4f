#pragma once
// SharedDescriptor: a descriptor with counted holders. It is closed when the last holder lets
// go, never before, so work running on another thread (a connect on a global queue) can never
// reach a number the system has already handed to someone else.
//
// `connect` waits for the connection like a blocking connect, except that `abandon`, from any
// thread, ends the wait at once (Linux will not interrupt a blocking connect by a shutdown while
// a thread waits in it). `release` takes the descriptor away for good, once no other holder will
// use it again; the holders then close nothing.

#include <sys/socket.h>

#include <atomic>
#include <memory>

class SharedDescriptor {
 public:
  // Null when the system has no descriptor left for the abandon signal; `fd` is then closed.
  static std::shared_ptr<SharedDescriptor> create(int fd);
  ~SharedDescriptor();
  SharedDescriptor(const SharedDescriptor&) = delete;
  SharedDescriptor& operator=(const SharedDescriptor&) = delete;

  // -1 once released.
  int fd() const { return fd_.load(); }
  // 0 once connected to `address`; otherwise -1 with errno set (ECANCELED when abandoned).
  // Leaves the descriptor non-blocking.
  int connect(const sockaddr* address, socklen_t length) const;
  // Ends a `connect` in progress and keeps any later one from starting.
  void abandon() const;
  // The descriptor, which the caller now closes; -1 when it was already released.
  int release() { return fd_.exchange(-1); }

 private:
  SharedDescriptor(int fd, int abandonFD) : fd_(fd), abandonFD_(abandonFD) {}

  std::atomic<int> fd_;
  const int abandonFD_;  // an eventfd, readable once abandoned
};
