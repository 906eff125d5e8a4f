#include "httpserver/core/WebSocketFrameReader.h"

namespace {

constexpr unsigned WS_OP_CONTINUATION_FRAME = 0;
constexpr unsigned WS_OP_TEXT_FRAME = 1;
constexpr unsigned WS_OP_BINARY_FRAME = 2;
constexpr unsigned WS_OP_CONNECTION_CLOSE = 8;
constexpr unsigned WS_OP_PING = 9;
constexpr unsigned WS_OP_PONG = 10;

bool isValidOpCode(unsigned op) {
  return op == WS_OP_CONTINUATION_FRAME || op == WS_OP_TEXT_FRAME || op == WS_OP_BINARY_FRAME ||
         op == WS_OP_CONNECTION_CLOSE || op == WS_OP_PING || op == WS_OP_PONG;
}

WebSocketFrameReader::Step closing() {
  WebSocketFrameReader::Step step;
  step.close = true;
  return step;
}

WebSocketFrameReader::Step reading(long tag, std::size_t length) {
  WebSocketFrameReader::Step step;
  step.reads.push_back({tag, length, false});
  return step;
}

}  // namespace

WebSocketFrameReader::WebSocketFrameReader(bool isRFC6455, std::size_t maxMessageLength)
    : isRFC6455_(isRFC6455), maxMessageLength_(maxMessageLength) {}

WebSocketFrameReader::Read WebSocketFrameReader::first() const {
  return {isRFC6455_ ? kPayloadPrefix : kPrefix, 1, false};
}

WebSocketFrameReader::Step WebSocketFrameReader::didRead(long tag, std::string_view data) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(data[i]); };
  switch (tag) {
    case kPrefix:
      if (data.size() == 1 && byte(0) <= 0x7F) {
        // The terminator read is capped: a message longer than allowed closes the socket.
        Step step;
        step.reads.push_back({kMessagePlusSuffix, maxMessageLength_ + 1, true});
        return step;
      }
      return closing();
    case kPayloadPrefix: {
      if (data.size() != 1) return closing();
      unsigned opCode = byte(0) & 0x0F;
      if ((byte(0) & 0x70) != 0 || !isValidOpCode(opCode)) return closing();
      nextOpCode_ = opCode;
      return reading(kPayloadLength, 1);
    }
    case kPayloadLength: {
      if (data.size() != 1) return closing();
      nextFrameMasked_ = (byte(0) & 0x80) != 0;
      maskingKey_.reset();
      std::uint8_t length = byte(0) & 0x7F;
      if (length < 126) return didReadFrameLength(length);
      return reading(length == 126 ? kPayloadLength16 : kPayloadLength64, length == 126 ? 2 : 8);
    }
    case kPayloadLength16:
      if (data.size() != 2) return closing();
      return didReadFrameLength(static_cast<std::uint64_t>(byte(0)) << 8 | byte(1));
    case kPayloadLength64:
      return closing();  // 64-bit lengths are refused
    case kMaskingKey:
      maskingKey_ = platform::Bytes(data.begin(), data.end());
      if (!emptyPayloadPending_) return {};
      emptyPayloadPending_ = false;
      return processFramePayload({});
    case kPayload:
      return processFramePayload(platform::Bytes(data.begin(), data.end()));
    case kMessagePlusSuffix:
    default: {
      std::string_view text = data;
      if (!text.empty()) text.remove_suffix(1);
      Step step = reading(kPrefix, 1);
      step.message = std::string(text);
      return step;
    }
  }
}

WebSocketFrameReader::Step WebSocketFrameReader::didReadFrameLength(std::uint64_t length) {
  if (length > maxMessageLength_) return closing();
  Step step;
  if (nextFrameMasked_) step.reads.push_back({kMaskingKey, 4, false});
  if (length > 0) {
    step.reads.push_back({kPayload, static_cast<std::size_t>(length), false});
    return step;
  }
  if (nextFrameMasked_) {
    // A socket reads nothing for 0 bytes: the empty payload is taken once the key is in.
    emptyPayloadPending_ = true;
    return step;
  }
  return processFramePayload({});
}

WebSocketFrameReader::Step WebSocketFrameReader::processFramePayload(platform::Bytes payload) {
  if (nextFrameMasked_ && maskingKey_ && maskingKey_->size() == 4) {
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] ^= (*maskingKey_)[i % 4];
  }
  if (nextOpCode_ != WS_OP_TEXT_FRAME) return closing();
  Step step = reading(kPayloadPrefix, 1);
  step.message = std::string(payload.begin(), payload.end());
  return step;
}
