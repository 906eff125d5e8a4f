#pragma once
// DAVResponse: carries out one WebDAV request (OPTIONS, PROPFIND, MKCOL, COPY, MOVE, LOCK,
// UNLOCK) on the files under the root, all of it in its factory, and then serves the outcome
// through the response interface: a status, extra headers and an XML body for PROPFIND and
// LOCK. A null result means the request cannot be served (the connection answers 404).
//
// Every path, the COPY/MOVE destination included, is resolved and held inside the root the way
// a GET is. The root itself cannot be moved (403), nor copied into itself. Locks are granted
// (exclusive write locks of depth 0 only) but not recorded. A destination that exists is
// replaced unless the request says "Overwrite: F" (412).

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "httpserver/core/HTTPResponse.h"

class DAVResponse : public HTTPResponse {
 public:
  using Headers = std::map<std::string, std::string>;

  static std::shared_ptr<DAVResponse> initWithMethod(const std::string& method,
                                                     const Headers& headers,
                                                     const std::optional<platform::Bytes>& body,
                                                     const std::string& resourcePath,
                                                     const std::string& rootPath);

  std::uint64_t contentLength() override { return _data ? _data->size() : 0; }
  std::uint64_t offset() override { return _offset; }
  void setOffset(std::uint64_t offset) override { _offset = offset; }
  std::optional<platform::Bytes> readDataOfLength(std::size_t length) override;
  bool isDone() override { return !_data || _offset >= _data->size(); }
  std::optional<int> status() override { return _status; }
  std::optional<std::map<std::string, std::string>> httpHeaders() override { return _headers; }

  // Text made safe for XML character data and attribute values (libxml2's escaping of
  // "<>&\"" and CR).
  static std::string xmlEscaped(const std::string& text);
  // A path percent-escaped for an href: every byte outside the unreserved characters and
  // "!$'()*,;:@/=" is escaped, "<&>?+%#" included.
  static std::string hrefEscaped(const std::string& path);

 private:
  DAVResponse() = default;

  // Each fills the response; false when the request cannot be served.
  bool options(const Headers& headers);
  bool propfind(const Headers& headers, const std::optional<platform::Bytes>& body,
                const std::string& resourcePath, const std::string& path);
  void mkcol(const std::string& path);
  bool copyOrMove(bool isMove, const Headers& headers, const std::string& resourcePath,
                  const std::string& rootPath, const std::string& sourcePath);
  void lock(const Headers& headers, const std::optional<platform::Bytes>& body,
            const std::string& resourcePath, const std::string& path);
  bool unlock(const Headers& headers, const std::string& path);
  void setXMLBody(const std::string& xml);

  int _status = 200;
  Headers _headers;
  std::optional<platform::Bytes> _data;
  std::uint64_t _offset = 0;
};
