#include "sockets/dispatch/DispatchReadPacket.h"

#include <algorithm>
#include <cstring>

#include "platform/foundation/Assert.h"

using platform::assertThat;

DispatchReadPacket::DispatchReadPacket(std::shared_ptr<platform::Bytes> d, std::size_t s,
                                       std::size_t m, double t, std::size_t l,
                                       std::optional<SocketData> e, long i)
    : startOffset(s),
      maxLength(m),
      timeout(t),
      readLength(l),
      // A copy the caller cannot change while the read waits.
      term(e ? std::optional<SocketData>(e->toBytes()) : std::nullopt),
      tag(i) {
  if (d) {
    buffer = std::move(d);
    bufferOwner = false;
    originalBufferLength = buffer->size();
  } else {
    buffer = std::make_shared<platform::Bytes>(readLength);
    startOffset = 0;
    bufferOwner = true;
    originalBufferLength = 0;
  }
}

void DispatchReadPacket::ensureCapacityForAdditionalDataOfLength(std::size_t bytesToRead) {
  std::size_t buffSize = buffer->size();
  std::size_t buffUsed = startOffset + bytesDone;
  std::size_t buffSpace = buffSize - buffUsed;
  if (bytesToRead > buffSpace) buffer->resize(buffSize + (bytesToRead - buffSpace));
}

std::size_t DispatchReadPacket::optimalReadLengthWithDefault(std::size_t defaultValue,
                                                             bool* shouldPreBufferPtr) {
  std::size_t result;
  if (readLength > 0) {
    // Read exactly what is still missing, straight into the buffer.
    result = std::min(defaultValue, readLength - bytesDone);
    if (shouldPreBufferPtr) *shouldPreBufferPtr = false;
    return result;
  }
  result = defaultValue;
  if (maxLength > 0) result = std::min(result, maxLength - bytesDone);
  if (shouldPreBufferPtr) {
    std::size_t buffSpace = buffer->size() - startOffset - bytesDone;
    *shouldPreBufferPtr = buffSpace < result;
  }
  return result;
}

std::size_t DispatchReadPacket::readLengthForNonTermWithHint(std::size_t bytesAvailable) {
  assertThat(!term, "This method does not apply to term reads");
  assertThat(bytesAvailable > 0, "Invalid parameter: bytesAvailable");
  if (readLength > 0) return std::min(bytesAvailable, readLength - bytesDone);
  if (maxLength > 0) return std::min(bytesAvailable, maxLength - bytesDone);
  return bytesAvailable;
}

std::size_t DispatchReadPacket::readLengthForTermWithHint(std::size_t bytesAvailable,
                                                          bool* shouldPreBufferPtr) {
  assertThat(term.has_value(), "This method does not apply to non-term reads");
  assertThat(bytesAvailable > 0, "Invalid parameter: bytesAvailable");
  std::size_t result = bytesAvailable;
  if (maxLength > 0) result = std::min(result, maxLength - bytesDone);
  if (shouldPreBufferPtr) {
    std::size_t buffSpace = buffer->size() - startOffset - bytesDone;
    *shouldPreBufferPtr = buffSpace < result;
  }
  return result;
}

std::size_t DispatchReadPacket::readLengthForTermWithPreBuffer(
    const DispatchSocketPreBuffer& preBuffer, bool* foundPtr) {
  assertThat(term.has_value(), "This method does not apply to non-term reads");
  assertThat(preBuffer.availableBytes() > 0, "Invoked with empty pre buffer!");

  const std::size_t termLength = term->length();
  const std::uint8_t* termBuf = term->bytes();
  const std::size_t preBufferLength = preBuffer.availableBytes();
  const std::uint8_t* pre = preBuffer.readBuffer();

  // Too few bytes for a terminator yet: take them all.
  if (bytesDone + preBufferLength < termLength) return preBufferLength;

  std::size_t maxPreBufferLength = preBufferLength;
  if (maxLength > 0) maxPreBufferLength = std::min(maxPreBufferLength, maxLength - bytesDone);

  // The terminator may begin in the bytes already collected: try the windows that straddle
  // them and the read-ahead first, through a scratch copy of one window.
  std::size_t bufLen = std::min(bytesDone, termLength - 1);
  const std::uint8_t* collected = buffer->data() + startOffset + bytesDone - bufLen;
  long loopCount =
      static_cast<long>(bufLen + maxPreBufferLength) - static_cast<long>(termLength) + 1;
  std::uint8_t scratch[64];
  std::vector<std::uint8_t> bigScratch;
  std::uint8_t* window = scratch;
  if (termLength > sizeof scratch) {
    bigScratch.resize(termLength);
    window = bigScratch.data();
  }
  while (loopCount > 0 && bufLen > 0) {
    std::memcpy(window, collected, bufLen);
    std::memcpy(window + bufLen, pre, termLength - bufLen);
    if (std::memcmp(window, termBuf, termLength) == 0) {
      if (foundPtr) *foundPtr = true;
      return termLength - bufLen;
    }
    ++collected;
    --bufLen;
    --loopCount;
  }
  // The rest lie wholly in the read-ahead: the first terminator within its first
  // `maxPreBufferLength` bytes.
  if (loopCount > 0) {
    const void* match = memmem(pre, maxPreBufferLength, termBuf, termLength);
    if (match) {
      if (foundPtr) *foundPtr = true;
      return static_cast<std::size_t>(static_cast<const std::uint8_t*>(match) - pre) + termLength;
    }
  }
  if (foundPtr) *foundPtr = false;
  return maxPreBufferLength;
}

long DispatchReadPacket::searchForTermAfterPreBuffering(long numBytes) {
  assertThat(term.has_value(), "This method does not apply to non-term reads");
  const std::size_t termLength = term->length();
  const std::uint8_t* buff = buffer->data() + startOffset;
  const std::size_t end = bytesDone + static_cast<std::size_t>(numBytes);
  std::size_t i = bytesDone >= termLength ? bytesDone - termLength + 1 : 0;
  if (i + termLength > end) return -1;
  const void* match = memmem(buff + i, end - i, term->bytes(), termLength);
  if (!match) return -1;
  std::size_t termEnd =
      static_cast<std::size_t>(static_cast<const std::uint8_t*>(match) - buff) + termLength;
  return static_cast<long>(end - termEnd);
}
