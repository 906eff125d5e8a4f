#pragma once
// HTTPStatusResponse: an answer that is only a status: no body and no extra headers. The
// responses that do their whole work when they are made (a WebDAV DELETE or PUT) say how it went
// through it.

#include "httpserver/core/HTTPResponse.h"

class HTTPStatusResponse : public HTTPResponse {
 public:
  explicit HTTPStatusResponse(int status) : _status(status) {}

  std::uint64_t contentLength() override { return 0; }
  std::uint64_t offset() override { return 0; }
  void setOffset(std::uint64_t) override {}
  std::optional<platform::Bytes> readDataOfLength(std::size_t) override { return std::nullopt; }
  bool isDone() override { return true; }
  std::optional<int> status() override { return _status; }

 private:
  const int _status;
};
