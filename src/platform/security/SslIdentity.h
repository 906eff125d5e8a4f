#pragma once
// SslIdentity: a private key with its certificate and the certificates that vouch for it, as a
// TLS context presents them to its peer. Read from PKCS#12 bytes (with their password) or from
// PEM text holding the key and the certificates, the identity's own first.

#include <openssl/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace platform::security {

class SslIdentity {
 public:
  // Null when the bytes are not PKCS#12, the password is wrong, or a key or certificate is
  // missing.
  static std::shared_ptr<SslIdentity> fromPKCS12(const platform::Bytes& der,
                                                 const std::string& password = "");
  // Null without a private key or a certificate, or when the key does not match the first
  // certificate.
  static std::shared_ptr<SslIdentity> fromPEM(std::string_view pem);
  // A certificate in DER or PEM, as held in a certificate list; null when neither reads.
  static std::shared_ptr<X509> certificateFromBytes(const platform::Bytes& bytes);

  EVP_PKEY* privateKey() const { return key_.get(); }
  X509* certificate() const { return certificate_.get(); }
  // Intermediate certificates, nearest first.
  const std::vector<std::shared_ptr<X509>>& chain() const { return chain_; }

 private:
  SslIdentity(std::shared_ptr<EVP_PKEY> key, std::shared_ptr<X509> certificate,
              std::vector<std::shared_ptr<X509>> chain);

  std::shared_ptr<EVP_PKEY> key_;
  std::shared_ptr<X509> certificate_;
  std::vector<std::shared_ptr<X509>> chain_;
};

}  // namespace platform::security
