#pragma once
// SocketData: an immutable run of bytes that shares ownership of its storage. It is what a read
// delivers and what a write sends: a read into the caller's buffer delivers a view of that buffer
// (offset and length) that keeps it alive, and a write holds the caller's bytes without copying
// them. Cheap to copy; any thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

class SocketData {
 public:
  SocketData() = default;
  // Takes the bytes over (no copy when moved in).
  SocketData(platform::Bytes bytes);  // NOLINT: implicit on purpose, data is passed around freely
  // Copies the text's bytes.
  SocketData(const std::string& text);  // NOLINT
  SocketData(const char* text);         // NOLINT
  // `length` bytes of `storage` from `offset`; both are clamped to the storage's size.
  SocketData(std::shared_ptr<const platform::Bytes> storage, std::size_t offset,
             std::size_t length);
  static SocketData copy(const void* bytes, std::size_t length);

  const std::uint8_t* bytes() const;
  std::size_t length() const { return length_; }
  bool empty() const { return length_ == 0; }
  // The bytes as characters.
  std::string_view view() const;
  std::string toString() const { return std::string(view()); }
  platform::Bytes toBytes() const;

  // The shared storage and where this view of it starts.
  const std::shared_ptr<const platform::Bytes>& storage() const { return storage_; }
  std::size_t offset() const { return offset_; }

  // Same bytes, wherever they are stored.
  bool operator==(const SocketData& other) const { return view() == other.view(); }

 private:
  std::shared_ptr<const platform::Bytes> storage_;
  std::size_t offset_ = 0;
  std::size_t length_ = 0;
};
