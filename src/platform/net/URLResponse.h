#pragma once
// URLResponse: the head of an HTTP response: the final URL (after redirects), the status, the
// header fields and the length the server announced.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/net/HeaderFields.h"

namespace platform {

class URLResponse {
 public:
  URLResponse() = default;
  URLResponse(std::string url, int statusCode, HeaderFields headers)
      : url_(std::move(url)), status_(statusCode), headers_(std::move(headers)) {}

  const std::string& url() const { return url_; }
  int statusCode() const { return status_; }
  const HeaderFields& allHeaderFields() const { return headers_; }
  std::optional<std::string> valueForHTTPHeaderField(const std::string& name) const {
    return headers_.value(name);
  }
  // The "Content-Length" announced, -1 when unknown or when the body is coded (gzip, deflate:
  // the connection delivers it decoded, so the announced length does not count those bytes).
  std::int64_t expectedContentLength() const;
  // The media type of "Content-Type" without parameters, lower case; empty when none.
  std::string mimeType() const;
  // The "charset" parameter of "Content-Type", lower case; empty when none.
  std::string textEncodingName() const;

 private:
  std::string url_;
  int status_ = 0;
  HeaderFields headers_;
};

}  // namespace platform
