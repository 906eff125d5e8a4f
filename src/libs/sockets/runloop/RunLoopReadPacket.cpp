#include "sockets/runloop/RunLoopReadPacket.h"

#include <algorithm>
#include <cstring>

#include "platform/foundation/Assert.h"

namespace {
// Bytes per stream read for available reads and read-ahead terminator reads.
constexpr std::size_t kChunk = 256;
}  // namespace

RunLoopReadPacket::RunLoopReadPacket(std::shared_ptr<platform::Bytes> callerBuffer,
                                     std::size_t offset, std::size_t maximum, double seconds,
                                     std::size_t length, std::optional<platform::Bytes> terminator,
                                     long readTag)
    : startOffset(callerBuffer ? offset : 0),
      maxLength(maximum),
      timeout(seconds),
      readLength(length),
      term(std::move(terminator)),
      bufferOwner(callerBuffer == nullptr),
      originalBufferLength(callerBuffer ? callerBuffer->size() : 0),
      tag(readTag) {
  buffer = callerBuffer ? std::move(callerBuffer) : std::make_shared<platform::Bytes>();
}

std::size_t RunLoopReadPacket::capToCallerBuffer(std::size_t length) const {
  if (bufferOwner || buffer->size() != originalBufferLength) return length;
  std::size_t used = startOffset + bytesDone;
  std::size_t space = buffer->size() > used ? buffer->size() - used : 0;
  return space == 0 ? length : std::min(length, space);
}

std::size_t RunLoopReadPacket::readLengthForNonTerm() const {
  platform::assertThat(!term, "This method does not apply to term reads");
  if (readLength > 0) return readLength - bytesDone;
  std::size_t result = kChunk;
  if (maxLength > 0) result = std::min(result, maxLength - bytesDone);
  return capToCallerBuffer(result);
}

std::size_t RunLoopReadPacket::readLengthForTerm() const {
  platform::assertThat(term.has_value(), "This method does not apply to non-term reads");
  const std::size_t termLength = term->size();
  std::size_t result = termLength;
  if (bytesDone > 0 && termLength > 1) {
    // Where could a terminator that is already partly read begin? Compare the longest tail of
    // what was read with the terminator's head first.
    std::size_t i = bytesDone >= termLength ? bytesDone - termLength + 1 : 0;
    std::size_t j = bytesDone >= termLength ? termLength - 1 : bytesDone;
    const std::uint8_t* read = buffer->data() + startOffset;
    while (i < bytesDone) {
      if (std::memcmp(read + i, term->data(), j) == 0) {
        result = termLength - j;
        break;
      }
      ++i;
      --j;
    }
  }
  if (maxLength > 0) result = std::min(result, maxLength - bytesDone);
  return capToCallerBuffer(result);
}

std::size_t RunLoopReadPacket::prebufferReadLengthForTerm() const {
  std::size_t result = kChunk;
  if (maxLength > 0) result = std::min(result, maxLength - bytesDone);
  return capToCallerBuffer(result);
}

std::size_t RunLoopReadPacket::readLengthForTermWithPreBuffer(const platform::Bytes& preBuffer,
                                                              bool& found) const {
  platform::assertThat(!preBuffer.empty(), "Invoked with empty pre buffer!");
  const std::size_t termLength = term->size();
  const std::size_t m = preBuffer.size();
  if (bytesDone + m < termLength) return m;
  std::size_t candidatesEnd = m;
  if (maxLength > 0) candidatesEnd = std::min(m, maxLength - bytesDone);
  // Candidate k starts k bytes into [last b bytes read][read-ahead bytes].
  const std::size_t b = std::min(bytesDone, termLength - 1);
  const long candidates = static_cast<long>(b + candidatesEnd) - static_cast<long>(termLength) + 1;
  const std::uint8_t* readTail = b == 0 ? nullptr : buffer->data() + startOffset + bytesDone - b;
  for (long k = 0; k < candidates; ++k) {
    std::size_t fromRead = k < static_cast<long>(b) ? b - static_cast<std::size_t>(k) : 0;
    std::size_t preStart = fromRead > 0 ? 0 : static_cast<std::size_t>(k) - b;
    bool match =
        (fromRead == 0 || std::memcmp(readTail + (b - fromRead), term->data(), fromRead) == 0) &&
        std::memcmp(preBuffer.data() + preStart, term->data() + fromRead, termLength - fromRead) ==
            0;
    if (match) {
      found = true;
      return preStart + termLength - fromRead;
    }
  }
  found = false;
  return m;
}

long RunLoopReadPacket::searchForTermAfterPreBuffering(std::size_t numBytes) const {
  platform::assertThat(numBytes <= bytesDone, "Invoked with invalid numBytes!");
  const std::size_t termLength = term->size();
  const std::size_t length = std::min(bytesDone, numBytes + termLength - 1);
  if (length < termLength) return -1;
  const std::uint8_t* start = buffer->data() + startOffset + bytesDone - length;
  for (std::size_t i = 0; i + termLength <= length; ++i) {
    if (std::memcmp(start + i, term->data(), termLength) == 0) {
      return static_cast<long>(length - i - termLength);
    }
  }
  return -1;
}
