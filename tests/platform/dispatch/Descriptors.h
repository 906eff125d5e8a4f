#pragma once
// Real descriptors for source tests: pipes and connected TCP sockets on the loopback address.
// Each closes what is still open when it goes.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace dispatchtest {

inline void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

inline void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

inline void writeAll(int fd, const std::string& bytes) {
  if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("short write");
}

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    read = fds[0];
    write = fds[1];
  }
  ~Pipe() {
    closeFd(read);
    closeFd(write);
  }
};

// Two ends of one TCP connection over 127.0.0.1.
struct SocketPair {
  int a = -1;
  int b = -1;
  SocketPair() {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      throw std::runtime_error("listen");
    a = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
      throw std::runtime_error("connect");
    b = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
    if (b < 0) throw std::runtime_error("accept");
  }
  ~SocketPair() {
    closeFd(a);
    closeFd(b);
  }
};

}  // namespace dispatchtest
