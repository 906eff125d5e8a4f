#pragma once
// PUTResponse: stores an uploaded body at a path, in its factory, and answers 201 (new), 200
// (replaced), 400 ("Content-Range" is not supported), 405 (the path is a folder: a folder is
// never replaced by a file) or 403 (the body could not be stored). A body held in memory is
// written to a sibling temporary file and renamed into place; a body held in a file is renamed
// into place. No body.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "httpserver/core/HTTPStatusResponse.h"

class PUTResponse : public HTTPStatusResponse {
 public:
  using Headers = std::map<std::string, std::string>;
  // The bytes, or the path of the file that holds them.
  using Body = std::variant<std::monostate, platform::Bytes, std::string>;

  static std::shared_ptr<PUTResponse> initWithFilePath(const std::string& path,
                                                       const Headers& headers, const Body& body);
  static std::shared_ptr<PUTResponse> initWithFilePathBodyData(const std::string& path,
                                                               const Headers& headers,
                                                               const platform::Bytes& body) {
    return initWithFilePath(path, headers, Body(body));
  }
  static std::shared_ptr<PUTResponse> initWithFilePathBodyFile(const std::string& path,
                                                               const Headers& headers,
                                                               const std::string& body) {
    return initWithFilePath(path, headers, Body(body));
  }
  // An upload that could not be received whole: 403, nothing stored.
  static std::shared_ptr<PUTResponse> failedUpload(const std::string& path);

 private:
  explicit PUTResponse(int status) : HTTPStatusResponse(status) {}
};
