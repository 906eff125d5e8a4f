#pragma once
// HTTPAuthenticationRequest: one request's "Authorization" header taken apart into what Basic
// and Digest authentication need. It checks nothing itself; the connection compares the fields
// with its passwords and nonces.
//
// The scheme word is matched without regard to case ("basic " counts as Basic). Digest
// parameters are read as the comma-separated list of `name=value` pairs the header is, each
// value a token or a quoted string (backslash escapes resolved), names matched without regard
// to case, so "nonce" is never found inside "cnonce". A parameter given twice keeps its first
// value.

#include <optional>
#include <string>
#include <string_view>

class HTTPMessage;

class HTTPAuthenticationRequest {
 public:
  explicit HTTPAuthenticationRequest(const HTTPMessage& request);

  bool isBasic() const { return isBasic_; }
  bool isDigest() const { return isDigest_; }
  // Basic: the credentials after the scheme word, trimmed, still in Base64.
  const std::optional<std::string>& base64Credentials() const { return base64Credentials_; }
  const std::optional<std::string>& username() const { return username_; }
  const std::optional<std::string>& realm() const { return realm_; }
  const std::optional<std::string>& nonce() const { return nonce_; }
  const std::optional<std::string>& uri() const { return uri_; }
  const std::optional<std::string>& qop() const { return qop_; }
  const std::optional<std::string>& nc() const { return nc_; }
  const std::optional<std::string>& cnonce() const { return cnonce_; }
  const std::optional<std::string>& response() const { return response_; }

  // The value of parameter `param` in `header` when it is written as a quoted string (without
  // its quotes); absent when the parameter is missing, unquoted or the list is malformed.
  static std::optional<std::string> quotedSubHeaderFieldValue(std::string_view param,
                                                              std::string_view header);
  // The value of parameter `param` as written: a token as it stands, a quoted string with its
  // quotes; absent when the parameter is missing or the list is malformed.
  static std::optional<std::string> nonquotedSubHeaderFieldValue(std::string_view param,
                                                                 std::string_view header);

 private:
  bool isBasic_ = false;
  bool isDigest_ = false;
  std::optional<std::string> base64Credentials_;
  std::optional<std::string> username_;
  std::optional<std::string> realm_;
  std::optional<std::string> nonce_;
  std::optional<std::string> uri_;
  std::optional<std::string> qop_;
  std::optional<std::string> nc_;
  std::optional<std::string> cnonce_;
  std::optional<std::string> response_;
};
