#pragma once
// DispatchReadPacket: one queued read of a DispatchSocket, and the rules for how many bytes it
// takes next. A read is of one of three kinds: an exact length (`readLength` > 0), up to a
// terminator (`term` set; the terminator is part of the result) or whatever is available
// (neither). `maxLength` bounds the last two (0: no bound). Bytes collect in `buffer` from
// `startOffset`; the buffer is the caller's (shared, and grown when the read needs more room) or
// the packet's own.
//
// The terminator search works across the boundary between the bytes already collected and the
// read-ahead buffer, so a terminator split over two segments is found without first copying the
// read-ahead into the packet, and the bytes taken end exactly at the terminator.
//
// Built on the caller's thread, used only on the socket queue afterwards.

#include <cstddef>
#include <memory>
#include <optional>

#include "platform/foundation/Value.h"
#include "sockets/dispatch/DispatchSocketPreBuffer.h"
#include "sockets/dispatch/SocketData.h"

class DispatchReadPacket {
 public:
  // `buffer` null: the packet allocates its own (`readLength` bytes, none for the other kinds).
  DispatchReadPacket(std::shared_ptr<platform::Bytes> buffer, std::size_t startOffset,
                     std::size_t maxLength, double timeout, std::size_t readLength,
                     std::optional<SocketData> term, long tag);

  // Makes room for `length` more bytes after those collected.
  void ensureCapacityForAdditionalDataOfLength(std::size_t length);

  // How much to read when the descriptor's readable count is unknown; `shouldPreBufferPtr`
  // (optional) says whether the bytes must go to the read-ahead buffer first.
  std::size_t optimalReadLengthWithDefault(std::size_t defaultValue, bool* shouldPreBufferPtr);
  // For exact-length and available-bytes reads, with `bytesAvailable` > 0 readable.
  std::size_t readLengthForNonTermWithHint(std::size_t bytesAvailable);
  // For terminator reads, with `bytesAvailable` > 0 readable.
  std::size_t readLengthForTermWithHint(std::size_t bytesAvailable, bool* shouldPreBufferPtr);
  // For terminator reads: how many bytes to move from `preBuffer` (not empty) into the packet;
  // `foundPtr` becomes true when they end with the terminator.
  std::size_t readLengthForTermWithPreBuffer(const DispatchSocketPreBuffer& preBuffer,
                                             bool* foundPtr);
  // For terminator reads, after `bytes` were appended straight to `buffer`: how many of them lie
  // past the terminator's end (0 when it ends them), or -1 when the terminator is not there.
  long searchForTermAfterPreBuffering(long bytes);

  // Where the next collected byte goes.
  std::uint8_t* writePosition() { return buffer->data() + startOffset + bytesDone; }

  std::shared_ptr<platform::Bytes> buffer;
  std::size_t startOffset;
  std::size_t bytesDone = 0;
  std::size_t maxLength;
  double timeout;
  std::size_t readLength;
  std::optional<SocketData> term;
  long tag;
  bool bufferOwner;
  std::size_t originalBufferLength;
};
