#include "sockets/dispatch/SocketData.h"

#include <algorithm>
#include <cstring>

SocketData::SocketData(platform::Bytes bytes)
    : storage_(std::make_shared<const platform::Bytes>(std::move(bytes))),
      length_(storage_->size()) {}

SocketData::SocketData(const std::string& text)
    : SocketData(platform::Bytes(text.begin(), text.end())) {}

SocketData::SocketData(const char* text) : SocketData(std::string(text ? text : "")) {}

SocketData::SocketData(std::shared_ptr<const platform::Bytes> storage, std::size_t offset,
                       std::size_t length)
    : storage_(std::move(storage)) {
  std::size_t size = storage_ ? storage_->size() : 0;
  offset_ = std::min(offset, size);
  length_ = std::min(length, size - offset_);
}

SocketData SocketData::copy(const void* bytes, std::size_t length) {
  const auto* first = static_cast<const std::uint8_t*>(bytes);
  return SocketData(platform::Bytes(first, first + length));
}

const std::uint8_t* SocketData::bytes() const {
  return storage_ ? storage_->data() + offset_ : nullptr;
}

std::string_view SocketData::view() const {
  if (length_ == 0) return {};
  return std::string_view(reinterpret_cast<const char*>(bytes()), length_);
}

platform::Bytes SocketData::toBytes() const {
  if (length_ == 0) return {};
  return platform::Bytes(bytes(), bytes() + length_);
}
