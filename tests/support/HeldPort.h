#pragma once
// A TCP port of 127.0.0.1 held by a listening socket, standing for another program that holds
// it; the kernel picks a free one. Released when the object goes.

#include <cstdint>

namespace testsupport {

class HeldPort {
 public:
  HeldPort();
  ~HeldPort();
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;

  // The held port; 0 when no socket could be made.
  std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace testsupport
