#include "sockets/dispatch/SharedDescriptor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

std::shared_ptr<SharedDescriptor> SharedDescriptor::create(int fd) {
  int abandonFD = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (abandonFD == -1) {
    int savedErrno = errno;
    ::close(fd);
    errno = savedErrno;
    return nullptr;
  }
  return std::shared_ptr<SharedDescriptor>(new SharedDescriptor(fd, abandonFD));
}

SharedDescriptor::~SharedDescriptor() {
  int fd = fd_.load();
  if (fd != -1) ::close(fd);
  ::close(abandonFD_);
}

int SharedDescriptor::connect(const sockaddr* address, socklen_t length) const {
  const int fd = fd_.load();
  int fileFlags = fcntl(fd, F_GETFL);
  if (fileFlags == -1 || fcntl(fd, F_SETFL, fileFlags | O_NONBLOCK) == -1) return -1;
  if (::connect(fd, address, length) == 0) return 0;
  if (errno != EINPROGRESS) return -1;
  pollfd watched[2] = {{fd, POLLOUT, 0}, {abandonFD_, POLLIN, 0}};
  for (;;) {
    int ready = ::poll(watched, 2, -1);
    if (ready == -1) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (watched[1].revents != 0) {
      errno = ECANCELED;
      return -1;
    }
    if (watched[0].revents != 0) break;
  }
  int pendingError = 0;
  socklen_t pendingLength = sizeof pendingError;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &pendingError, &pendingLength) == -1) return -1;
  if (pendingError != 0) {
    errno = pendingError;
    return -1;
  }
  return 0;
}

void SharedDescriptor::abandon() const {
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t written = ::write(abandonFD_, &one, sizeof one);
}
