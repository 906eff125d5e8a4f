#pragma once
// HTTPRedirectResponse: a 302 without a body whose only extra header is "Location".

#include "httpserver/core/HTTPStatusResponse.h"

class HTTPRedirectResponse : public HTTPStatusResponse {
 public:
  explicit HTTPRedirectResponse(std::string path)
      : HTTPStatusResponse(302), redirectPath(std::move(path)) {}

  std::optional<std::map<std::string, std::string>> httpHeaders() override {
    return std::map<std::string, std::string>{{"Location", redirectPath}};
  }

 private:
  const std::string redirectPath;
};
