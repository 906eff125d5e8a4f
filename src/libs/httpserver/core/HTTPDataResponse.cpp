#include "httpserver/core/HTTPDataResponse.h"

#include <algorithm>

std::optional<platform::Bytes> HTTPDataResponse::readDataOfLength(std::size_t length) {
  if (_offset >= data.size()) return platform::Bytes();
  std::size_t start = static_cast<std::size_t>(_offset);
  std::size_t count = std::min(length, data.size() - start);
  _offset += count;
  return platform::Bytes(data.begin() + static_cast<std::ptrdiff_t>(start),
                         data.begin() + static_cast<std::ptrdiff_t>(start + count));
}
