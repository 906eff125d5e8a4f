#pragma once
// RunLoopWritePacket: one queued write of a RunLoopSocket. It holds the caller's bytes as given
// (no copy); the write is complete when `bytesDone` reaches their length. Used only on the
// socket's run-loop thread.

#include <cstddef>

#include "sockets/dispatch/SocketData.h"

class RunLoopWritePacket {
 public:
  RunLoopWritePacket(SocketData data, double timeout, long tag)
      : buffer(std::move(data)), tag(tag), timeout(timeout) {}

  SocketData buffer;
  std::size_t bytesDone = 0;
  long tag;
  double timeout;
};
