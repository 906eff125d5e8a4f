#include "sockets/dispatch/DispatchSocketPreBuffer.h"

#include <cstdlib>
#include <new>

DispatchSocketPreBuffer::DispatchSocketPreBuffer(std::size_t capacity)
    : preBuffer(static_cast<std::uint8_t*>(std::malloc(capacity > 0 ? capacity : 1))),
      preBufferSize(capacity),
      readPointer(preBuffer),
      writePointer(preBuffer) {
  if (!preBuffer) throw std::bad_alloc();
}

DispatchSocketPreBuffer::~DispatchSocketPreBuffer() { std::free(preBuffer); }

void DispatchSocketPreBuffer::ensureCapacityForWrite(std::size_t length) {
  std::size_t space = availableSpace();
  if (length <= space) return;
  std::size_t additional = length - space;
  std::size_t newSize = preBufferSize + additional;
  std::size_t readOffset = static_cast<std::size_t>(readPointer - preBuffer);
  std::size_t writeOffset = static_cast<std::size_t>(writePointer - preBuffer);
  auto* grown = static_cast<std::uint8_t*>(std::realloc(preBuffer, newSize));
  if (!grown) throw std::bad_alloc();
  preBuffer = grown;
  preBufferSize = newSize;
  readPointer = preBuffer + readOffset;
  writePointer = preBuffer + writeOffset;
}

void DispatchSocketPreBuffer::getReadBuffer(std::uint8_t** bufferPtr,
                                            std::size_t* availableBytesPtr) const {
  if (bufferPtr) *bufferPtr = readPointer;
  if (availableBytesPtr) *availableBytesPtr = availableBytes();
}

void DispatchSocketPreBuffer::didRead(std::size_t length) {
  readPointer += length;
  if (readPointer == writePointer) {
    // Drained: rewind, so the whole storage is free for the next read-ahead.
    readPointer = preBuffer;
    writePointer = preBuffer;
  }
}

void DispatchSocketPreBuffer::getWriteBuffer(std::uint8_t** bufferPtr,
                                             std::size_t* availableSpacePtr) const {
  if (bufferPtr) *bufferPtr = writePointer;
  if (availableSpacePtr) *availableSpacePtr = availableSpace();
}

void DispatchSocketPreBuffer::didWrite(std::size_t length) { writePointer += length; }

void DispatchSocketPreBuffer::reset() {
  readPointer = preBuffer;
  writePointer = preBuffer;
}
