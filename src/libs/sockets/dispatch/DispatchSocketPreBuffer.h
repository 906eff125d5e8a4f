#pragma once
// DispatchSocketPreBuffer: the read-ahead buffer of a socket, the bytes read from the descriptor
// that no queued read has taken yet. Writers ask for room with `ensureCapacityForWrite`, write at
// `writeBuffer()` and report the count with `didWrite`; readers take `readBuffer()` and
// `availableBytes()` and report what they consumed with `didRead`. The buffer rewinds to its
// start whenever it drains, so the usual read that takes everything leaves the whole storage
// free; it grows only when one write needs more room than is left and never shrinks.
//
// Used only on its socket's queue.

#include <cstddef>
#include <cstdint>

class DispatchSocketPreBuffer {
 public:
  explicit DispatchSocketPreBuffer(std::size_t capacity);
  ~DispatchSocketPreBuffer();
  DispatchSocketPreBuffer(const DispatchSocketPreBuffer&) = delete;
  DispatchSocketPreBuffer& operator=(const DispatchSocketPreBuffer&) = delete;

  // After this, at least `length` bytes fit after the write pointer; unread bytes keep their
  // offsets from the start of the storage.
  void ensureCapacityForWrite(std::size_t length);

  std::size_t availableBytes() const {
    return static_cast<std::size_t>(writePointer - readPointer);
  }
  std::uint8_t* readBuffer() const { return readPointer; }
  void getReadBuffer(std::uint8_t** bufferPtr, std::size_t* availableBytesPtr) const;
  // Consumes `length` bytes; when nothing unread is left both pointers return to the start.
  void didRead(std::size_t length);

  // The room after the write pointer (not counting consumed bytes before the read pointer).
  std::size_t availableSpace() const {
    return preBufferSize - static_cast<std::size_t>(writePointer - preBuffer);
  }
  std::uint8_t* writeBuffer() const { return writePointer; }
  void getWriteBuffer(std::uint8_t** bufferPtr, std::size_t* availableSpacePtr) const;
  void didWrite(std::size_t length);

  // Drops every unread byte; the storage and its size stay.
  void reset();

  std::size_t capacity() const { return preBufferSize; }

 private:
  // Invariant: preBuffer <= readPointer <= writePointer <= preBuffer + preBufferSize.
  std::uint8_t* preBuffer;
  std::size_t preBufferSize;
  std::uint8_t* readPointer;
  std::uint8_t* writePointer;
};
