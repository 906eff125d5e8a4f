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

  bool isBasic() const { return _isBasic; }
  bool isDigest() const { return _isDigest; }
  // Basic: the credentials after the scheme word, trimmed, still in Base64.
  const std::optional<std::string>& base64Credentials() const { return _base64Credentials; }
  const std::optional<std::string>& username() const { return _username; }
  const std::optional<std::string>& realm() const { return _realm; }
  const std::optional<std::string>& nonce() const { return _nonce; }
  const std::optional<std::string>& uri() const { return _uri; }
  const std::optional<std::string>& qop() const { return _qop; }
  const std::optional<std::string>& nc() const { return _nc; }
  const std::optional<std::string>& cnonce() const { return _cnonce; }
  const std::optional<std::string>& response() const { return _response; }

  // The value of parameter `param` in `header` when it is written as a quoted string (without
  // its quotes); absent when the parameter is missing, unquoted or the list is malformed.
  static std::optional<std::string> quotedSubHeaderFieldValue(std::string_view param,
                                                              std::string_view header);
  // The value of parameter `param` as written: a token as it stands, a quoted string with its
  // quotes; absent when the parameter is missing or the list is malformed.
  static std::optional<std::string> nonquotedSubHeaderFieldValue(std::string_view param,
                                                                 std::string_view header);

 private:
  bool _isBasic = false;
  bool _isDigest = false;
  std::optional<std::string> _base64Credentials;
  std::optional<std::string> _username;
  std::optional<std::string> _realm;
  std::optional<std::string> _nonce;
  std::optional<std::string> _uri;
  std::optional<std::string> _qop;
  std::optional<std::string> _nc;
  std::optional<std::string> _cnonce;
  std::optional<std::string> _response;
};
