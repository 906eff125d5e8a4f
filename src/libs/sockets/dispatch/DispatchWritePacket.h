#pragma once
// DispatchWritePacket: one queued write of a DispatchSocket. It holds the caller's bytes as
// given (no copy); the write is complete when `bytesDone` reaches their length.
//
// Built on the caller's thread, used only on the socket queue afterwards.

#include <cstddef>

#include "sockets/dispatch/SocketData.h"

class DispatchWritePacket {
 public:
  DispatchWritePacket(SocketData data, double timeout, long tag)
      : buffer(std::move(data)), timeout(timeout), tag(tag) {}

  SocketData buffer;
  std::size_t bytesDone = 0;
  double timeout;
  long tag;
};
