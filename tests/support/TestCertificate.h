#pragma once
// TestCertificate: a fresh key and a self-signed certificate for TLS tests, made in memory with
// OpenSSL (valid from a minute ago for an hour), for the names given (DNS names, or IP addresses
// such as "127.0.0.1"). Tests hand it out as PEM, PKCS#12 or OpenSSL objects for in-test peers.

#include <openssl/types.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

namespace testsupport {

class TestCertificate {
 public:
  explicit TestCertificate(const std::string& commonName,
                           const std::vector<std::string>& altNames = {"localhost", "127.0.0.1",
                                                                       "::1"},
                           long validFromSeconds = -60, long validForSeconds = 3600);
  ~TestCertificate();
  TestCertificate(const TestCertificate&) = delete;
  TestCertificate& operator=(const TestCertificate&) = delete;

  EVP_PKEY* key() const { return key_; }
  X509* certificate() const { return certificate_; }
  // Key and certificate as PEM text, key first.
  std::string pem() const;
  std::string certificatePEM() const;
  platform::Bytes certificateDER() const;
  platform::Bytes pkcs12(const std::string& password = "") const;
  // An OpenSSL server context presenting this certificate, for an in-test peer.
  SSL_CTX* newServerContext() const;

 private:
  EVP_PKEY* key_ = nullptr;
  X509* certificate_ = nullptr;
};

}  // namespace testsupport
