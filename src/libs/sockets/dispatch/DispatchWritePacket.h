#pragma once
// DispatchWritePacket: one queued write of a DispatchSocket: up to two pieces of the caller's
// bytes, held as given (no copy), then optionally a stretch of an open file. The write is
// complete when `bytesDone` reaches `length()`; one completion is reported for all of it.
//
// Built on the caller's thread, used only on the socket queue afterwards.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "sockets/dispatch/SocketData.h"
#include "sockets/dispatch/SocketFile.h"

class DispatchWritePacket {
 public:
  DispatchWritePacket(SocketData data, double timeout, long tag)
      : buffer(std::move(data)), timeout(timeout), tag(tag) {}
  DispatchWritePacket(SocketData head, SocketData body, double timeout, long tag)
      : buffer(std::move(head)), body(std::move(body)), timeout(timeout), tag(tag) {}
  DispatchWritePacket(SocketData head, std::shared_ptr<const SocketFile> file,
                      std::uint64_t fileOffset, std::size_t fileLength, double timeout, long tag)
      : buffer(std::move(head)),
        file(std::move(file)),
        fileOffset(fileOffset),
        fileLength(fileLength),
        timeout(timeout),
        tag(tag) {}

  // The bytes held in memory, which go first.
  std::size_t memoryLength() const { return buffer.length() + body.length(); }
  std::size_t length() const { return memoryLength() + fileLength; }

  SocketData buffer;
  SocketData body;
  std::shared_ptr<const SocketFile> file;
  std::uint64_t fileOffset = 0;
  std::size_t fileLength = 0;
  // On a plain socket: the file's bytes go copied through the socket's buffer, not spliced.
  bool copyFile = false;
  std::size_t bytesDone = 0;
  double timeout;
  long tag;
};
