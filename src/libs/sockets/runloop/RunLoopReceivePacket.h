#pragma once
// RunLoopReceivePacket: one queued receive of a RunLoopUdpSocket; the datagram it took and its
// source are filled in when one arrives.

#include <cstdint>
#include <optional>
#include <string>

#include "sockets/dispatch/SocketData.h"

class RunLoopReceivePacket {
 public:
  RunLoopReceivePacket(double timeout, long tag) : timeout(timeout), tag(tag) {}

  double timeout;
  long tag;
  std::optional<SocketData> buffer;
  std::string host;
  std::uint16_t port = 0;
};
