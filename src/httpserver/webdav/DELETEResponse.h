#pragma once
// DELETEResponse: removes a file or a folder with its contents, in its factory, and answers 200
// (it existed), 404 (it could not be removed, a missing item included) or 403 for the served
// root itself, which is never removed. No body.

#include <memory>
#include <string>

#include "httpserver/core/HTTPResponse.h"

class DELETEResponse : public HTTPResponse {
 public:
  // `rootPath`: the served folder.
  static std::shared_ptr<DELETEResponse> initWithFilePath(const std::string& path,
                                                          const std::string& rootPath);

  std::uint64_t contentLength() override { return 0; }
  std::uint64_t offset() override { return 0; }
  void setOffset(std::uint64_t) override {}
  std::optional<platform::Bytes> readDataOfLength(std::size_t) override { return std::nullopt; }
  bool isDone() override { return true; }
  std::optional<int> status() override { return _status; }

 private:
  explicit DELETEResponse(int status) : _status(status) {}
  const int _status;
};
