#pragma once
// RunLoopSendPacket: one queued datagram of a RunLoopUdpSocket, with its destination (empty for
// a connected socket). The bytes are held as given, not copied.

#include "platform/foundation/Value.h"
#include "sockets/dispatch/SocketData.h"

class RunLoopSendPacket {
 public:
  RunLoopSendPacket(SocketData data, platform::Bytes address, double timeout, long tag)
      : buffer(std::move(data)), address(std::move(address)), timeout(timeout), tag(tag) {}

  SocketData buffer;
  platform::Bytes address;
  double timeout;
  long tag;
};
