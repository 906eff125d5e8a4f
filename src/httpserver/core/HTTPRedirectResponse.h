#pragma once
// HTTPRedirectResponse: a 302 without a body whose only extra header is "Location".

#include "httpserver/core/HTTPResponse.h"

class HTTPRedirectResponse : public HTTPResponse {
 public:
  explicit HTTPRedirectResponse(std::string path) : redirectPath(std::move(path)) {}

  std::uint64_t contentLength() override { return 0; }
  std::uint64_t offset() override { return 0; }
  void setOffset(std::uint64_t) override {}
  std::optional<platform::Bytes> readDataOfLength(std::size_t) override { return std::nullopt; }
  bool isDone() override { return true; }
  std::optional<int> status() override { return 302; }
  std::optional<std::map<std::string, std::string>> httpHeaders() override {
    return std::map<std::string, std::string>{{"Location", redirectPath}};
  }

 private:
  const std::string redirectPath;
};
