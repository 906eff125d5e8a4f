#pragma once
// RunLoopReadPacket: one queued read of a RunLoopSocket, of one of three kinds: up to a
// terminator (`term` set, optional `maxLength`), an exact length (`readLength` > 0), or whatever
// is available (neither; optional `maxLength`). The bytes go into the caller's buffer at
// `startOffset` (kept, not copied) or into one the packet makes.
//
// The length rules say how much one stream read may take so that a terminator read never takes
// bytes meant for the next read; they are pure functions of the packet and the read-ahead
// buffer. Used only on the socket's run-loop thread.

#include <cstddef>
#include <memory>
#include <optional>

#include "platform/foundation/Value.h"

class RunLoopReadPacket {
 public:
  // A null `buffer` makes the packet use an own, growing buffer from offset 0.
  RunLoopReadPacket(std::shared_ptr<platform::Bytes> buffer, std::size_t startOffset,
                    std::size_t maxLength, double timeout, std::size_t readLength,
                    std::optional<platform::Bytes> term, long tag);

  // Available or length read: how much to ask for in one pass. Throws AssertionFailure on a
  // terminator read.
  std::size_t readLengthForNonTerm() const;
  // Terminator read without read-ahead: never more than reaches the end of a terminator whose
  // start may already be read. Throws AssertionFailure on another kind of read.
  std::size_t readLengthForTerm() const;
  // Terminator read that may read ahead (the excess goes to the read-ahead buffer).
  std::size_t prebufferReadLengthForTerm() const;
  // Terminator read served from a non-empty read-ahead buffer: how many of its bytes to take;
  // `found` tells whether they end with the terminator (left alone when too few bytes exist to
  // tell).
  std::size_t readLengthForTermWithPreBuffer(const platform::Bytes& preBuffer, bool& found) const;
  // After a read-ahead pass of `numBytes`: how many bytes follow the terminator in what was
  // read, or -1 when it is not there.
  long searchForTermAfterPreBuffering(std::size_t numBytes) const;

  std::shared_ptr<platform::Bytes> buffer;
  std::size_t startOffset;
  std::size_t bytesDone = 0;
  std::size_t maxLength;
  double timeout;
  std::size_t readLength;
  std::optional<platform::Bytes> term;
  bool bufferOwner;
  std::size_t originalBufferLength;
  long tag;

 private:
  // A caller's buffer that still has its queued length limits a pass to the space left in it.
  std::size_t capToCallerBuffer(std::size_t length) const;
};
