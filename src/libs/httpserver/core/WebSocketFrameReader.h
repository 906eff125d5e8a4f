#pragma once
// WebSocketFrameReader: how a WebSocket endpoint reads messages off its socket, apart from the
// socket. It says which reads to queue (so many bytes, or up to a terminator byte within a cap)
// and takes what each gave, answering with a message, more reads, or the end of the endpoint.
// The endpoint drives it with its socket reads; the fuzz target drives it from a buffer.
//
// RFC 6455: a frame is a prefix byte (no reserved bits, a known opcode), a length byte (mask
// bit, 7-bit length, 126 for a 16-bit length after it, 127 for a 64-bit one, which is refused),
// the masking key when masked, and the payload, unmasked here. Only text frames carry
// messages; any other opcode, and a length above `maxMessageLength`, ends the endpoint.
// Old drafts: a 0x00 byte (any byte up to 0x7F), the text, and 0xFF; a message longer than the
// cap ends the endpoint through the socket's capped terminator read.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

class WebSocketFrameReader {
 public:
  // The read tags: they come back with each completed read.
  static constexpr long kPrefix = 300;
  static constexpr long kMessagePlusSuffix = 301;
  static constexpr long kPayload = 302;
  static constexpr long kMaskingKey = 303;
  static constexpr long kPayloadPrefix = 304;
  static constexpr long kPayloadLength = 305;
  static constexpr long kPayloadLength16 = 306;
  static constexpr long kPayloadLength64 = 307;
  static constexpr std::uint8_t kTerminator = 0xFF;

  struct Read {
    long tag;
    std::size_t length;  // the bytes to read, or the cap of a terminator read
    bool toTerminator;   // up to and including kTerminator, at most `length` bytes
  };
  struct Step {
    std::vector<Read> reads;             // to queue, in order
    std::optional<std::string> message;  // delivered before the reads are queued
    bool close = false;                  // the endpoint ends; nothing else to do
  };

  WebSocketFrameReader(bool isRFC6455, std::size_t maxMessageLength);

  // The read that starts reading messages.
  Read first() const;
  // What the read tagged `tag` gave.
  Step didRead(long tag, std::string_view data);

 private:
  Step didReadFrameLength(std::uint64_t length);
  Step processFramePayload(platform::Bytes payload);

  const bool isRFC6455_;
  const std::size_t maxMessageLength_;
  bool nextFrameMasked_ = false;
  unsigned nextOpCode_ = 0;
  std::optional<platform::Bytes> maskingKey_;
  // The frame being read has an empty payload, taken once its masking key has come.
  bool emptyPayloadPending_ = false;
};
