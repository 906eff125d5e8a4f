#pragma once
// URLRequest: what one HTTP request asks for: URL, method, header fields, a body (bytes or a
// stream read while sending), the idle time-out and how the connection treats redirects and
// server certificates. A plain value; copy it freely.

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"
#include "platform/net/HeaderFields.h"

namespace platform {

// Client identity for TLS: a PKCS#12 file and its pass phrase.
struct ClientCertificate {
  std::string path;
  std::optional<std::string> password;
  bool operator==(const ClientCertificate&) const = default;
};

// User name and password answered to an HTTP authentication challenge (Basic, Digest, NTLM).
struct Credential {
  std::string user;
  std::string password;
  bool operator==(const Credential&) const = default;
};

class URLRequest {
 public:
  static constexpr double kDefaultTimeout = 60.0;
  // Generous for anything a caller keeps in memory (a page, a picture, a JSON answer).
  static constexpr std::uint64_t kDefaultMaximumBodyLength = std::uint64_t{64} << 20;

  URLRequest() = default;
  explicit URLRequest(std::string url) : url_(std::move(url)) {}

  const std::string& url() const { return url_; }
  void setURL(std::string url) { url_ = std::move(url); }

  const std::string& httpMethod() const { return method_; }
  void setHTTPMethod(std::string method) { method_ = std::move(method); }

  const HeaderFields& allHTTPHeaderFields() const { return headers_; }
  std::optional<std::string> valueForHTTPHeaderField(const std::string& name) const {
    return headers_.value(name);
  }
  void setValue(const std::string& value, const std::string& field) { headers_.set(field, value); }
  void addValue(const std::string& value, const std::string& field) { headers_.add(field, value); }
  void removeHTTPHeaderField(const std::string& field) { headers_.remove(field); }

  // The body; absent and empty differ (an empty body still sends "Content-Length: 0").
  const std::optional<Bytes>& httpBody() const { return body_; }
  void setHTTPBody(std::optional<Bytes> body) { body_ = std::move(body); }
  // A body read while sending, in place of `httpBody`.
  const std::shared_ptr<std::istream>& httpBodyStream() const { return bodyStream_; }
  void setHTTPBodyStream(std::shared_ptr<std::istream> stream) { bodyStream_ = std::move(stream); }

  // Seconds without progress (connecting, or no byte moving) after which the request fails
  // with the time-out error. Not a limit on the whole transfer.
  double timeoutInterval() const { return timeout_; }
  void setTimeoutInterval(double seconds) { timeout_ = seconds; }

  // The most body bytes (as delivered, after decoding) the connection accepts; beyond it the
  // transfer fails with kURLErrorDataLengthExceedsMaximum. Absent: no limit, for a caller that
  // writes the body away as it arrives instead of keeping it.
  const std::optional<std::uint64_t>& maximumBodyLength() const { return maxBody_; }
  void setMaximumBodyLength(std::optional<std::uint64_t> bytes) { maxBody_ = bytes; }

  // Redirects are followed; by default a POST that is redirected becomes a GET as browsers do,
  // unless the request keeps its method (and body) across redirects.
  bool keepsMethodOnRedirect() const { return keepMethod_; }
  void setKeepsMethodOnRedirect(bool keep) { keepMethod_ = keep; }

  // Server certificates and host names are verified unless the caller explicitly accepts
  // invalid ones for this request.
  bool allowsInvalidCertificates() const { return allowInvalid_; }
  void setAllowsInvalidCertificates(bool allow) { allowInvalid_ = allow; }

  const std::optional<ClientCertificate>& clientCertificate() const { return clientCert_; }
  void setClientCertificate(std::optional<ClientCertificate> c) { clientCert_ = std::move(c); }

  const std::optional<Credential>& credential() const { return credential_; }
  void setCredential(std::optional<Credential> c) { credential_ = std::move(c); }

 private:
  std::string url_;
  std::string method_ = "GET";
  HeaderFields headers_;
  std::optional<Bytes> body_;
  std::shared_ptr<std::istream> bodyStream_;
  double timeout_ = kDefaultTimeout;
  std::optional<std::uint64_t> maxBody_ = kDefaultMaximumBodyLength;
  bool keepMethod_ = false;
  bool allowInvalid_ = false;
  std::optional<ClientCertificate> clientCert_;
  std::optional<Credential> credential_;
};

}  // namespace platform
