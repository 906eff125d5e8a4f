#pragma once
// HTTPDataResponse: serves bytes held in memory. Used on its connection's queue.

#include "httpserver/core/HTTPResponse.h"

class HTTPDataResponse : public HTTPResponse {
 public:
  explicit HTTPDataResponse(platform::Bytes data) : data(std::move(data)) {}

  std::uint64_t contentLength() override { return data.size(); }
  std::uint64_t offset() override { return _offset; }
  // The caller keeps the offset within the length.
  void setOffset(std::uint64_t offset) override { _offset = offset; }
  // Up to `length` bytes from the offset (none past the end), advancing it.
  std::optional<platform::Bytes> readDataOfLength(std::size_t length) override;
  bool isDone() override { return _offset >= data.size(); }

 private:
  const platform::Bytes data;
  std::uint64_t _offset = 0;
};
