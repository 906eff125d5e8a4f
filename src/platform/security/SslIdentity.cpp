#include "platform/security/SslIdentity.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

namespace platform::security {

namespace {

std::shared_ptr<X509> holdCertificate(X509* certificate) {
  return std::shared_ptr<X509>(certificate, X509_free);
}

std::shared_ptr<EVP_PKEY> holdKey(EVP_PKEY* key) {
  return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
}

std::unique_ptr<BIO, decltype(&BIO_free)> memoryReader(const void* data, std::size_t length) {
  return {BIO_new_mem_buf(data, static_cast<int>(length)), BIO_free};
}

}  // namespace

SslIdentity::SslIdentity(std::shared_ptr<EVP_PKEY> key, std::shared_ptr<X509> certificate,
                         std::vector<std::shared_ptr<X509>> chain)
    : key_(std::move(key)), certificate_(std::move(certificate)), chain_(std::move(chain)) {}

std::shared_ptr<SslIdentity> SslIdentity::fromPKCS12(const platform::Bytes& der,
                                                     const std::string& password) {
  const unsigned char* cursor = der.data();
  std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(
      d2i_PKCS12(nullptr, &cursor, static_cast<long>(der.size())), PKCS12_free);
  if (!p12) {
    ERR_clear_error();
    return nullptr;
  }
  EVP_PKEY* key = nullptr;
  X509* certificate = nullptr;
  STACK_OF(X509)* others = nullptr;
  if (PKCS12_parse(p12.get(), password.c_str(), &key, &certificate, &others) != 1) {
    ERR_clear_error();
    return nullptr;
  }
  auto heldKey = holdKey(key);
  auto heldCertificate = holdCertificate(certificate);
  std::vector<std::shared_ptr<X509>> chain;
  for (int i = 0; others && i < sk_X509_num(others); ++i) {
    chain.push_back(holdCertificate(sk_X509_value(others, i)));
  }
  sk_X509_free(others);  // the certificates are held by `chain` now
  if (!key || !certificate) return nullptr;
  return std::shared_ptr<SslIdentity>(
      new SslIdentity(std::move(heldKey), std::move(heldCertificate), std::move(chain)));
}

std::shared_ptr<SslIdentity> SslIdentity::fromPEM(std::string_view pem) {
  auto keyReader = memoryReader(pem.data(), pem.size());
  auto key = holdKey(PEM_read_bio_PrivateKey(keyReader.get(), nullptr, nullptr, nullptr));
  auto certificateReader = memoryReader(pem.data(), pem.size());
  std::vector<std::shared_ptr<X509>> certificates;
  while (X509* certificate =
             PEM_read_bio_X509(certificateReader.get(), nullptr, nullptr, nullptr)) {
    certificates.push_back(holdCertificate(certificate));
  }
  ERR_clear_error();
  if (!key || certificates.empty()) return nullptr;
  if (X509_check_private_key(certificates.front().get(), key.get()) != 1) {
    ERR_clear_error();
    return nullptr;
  }
  auto certificate = certificates.front();
  certificates.erase(certificates.begin());
  return std::shared_ptr<SslIdentity>(
      new SslIdentity(std::move(key), std::move(certificate), std::move(certificates)));
}

std::shared_ptr<X509> SslIdentity::certificateFromBytes(const platform::Bytes& bytes) {
  const unsigned char* cursor = bytes.data();
  if (X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(bytes.size()))) {
    return holdCertificate(certificate);
  }
  auto reader = memoryReader(bytes.data(), bytes.size());
  X509* certificate = PEM_read_bio_X509(reader.get(), nullptr, nullptr, nullptr);
  ERR_clear_error();
  return certificate ? holdCertificate(certificate) : nullptr;
}

}  // namespace platform::security
