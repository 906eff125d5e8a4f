#include "RunLoopSocketHarness.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

bool ipv6LoopbackAvailable() {
  int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}
