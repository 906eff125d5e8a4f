#pragma once
// DELETEResponse: removes a file or a folder with its contents, in its factory, and answers 200
// (it existed), 404 (it could not be removed, a missing item included) or 403 for the served
// root itself, which is never removed. No body.

#include <memory>
#include <string>

#include "httpserver/core/HTTPStatusResponse.h"

class DELETEResponse : public HTTPStatusResponse {
 public:
  // `rootPath`: the served folder.
  static std::shared_ptr<DELETEResponse> initWithFilePath(const std::string& path,
                                                          const std::string& rootPath);

 private:
  explicit DELETEResponse(int status) : HTTPStatusResponse(status) {}
};
