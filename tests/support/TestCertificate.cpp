#include "support/TestCertificate.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <atomic>

namespace testsupport {

namespace {

bool isIPAddress(const std::string& text) {
  unsigned char address[16];
  return inet_pton(AF_INET, text.c_str(), address) == 1 ||
         inet_pton(AF_INET6, text.c_str(), address) == 1;
}

std::string bioText(BIO* bio) {
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<std::size_t>(length));
}

}  // namespace

TestCertificate::TestCertificate(const std::string& commonName,
                                 const std::vector<std::string>& altNames, long validFromSeconds,
                                 long validForSeconds) {
  key_ = EVP_EC_gen("P-256");
  certificate_ = X509_new();
  X509_set_version(certificate_, 2);
  static std::atomic<long> serial{1};
  ASN1_INTEGER_set(X509_get_serialNumber(certificate_), serial++);
  X509_gmtime_adj(X509_getm_notBefore(certificate_), validFromSeconds);
  X509_gmtime_adj(X509_getm_notAfter(certificate_), validFromSeconds + validForSeconds);
  X509_set_pubkey(certificate_, key_);
  X509_NAME* name = X509_get_subject_name(certificate_);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(certificate_, name);
  if (!altNames.empty()) {
    std::string list;
    for (const auto& altName : altNames) {
      if (!list.empty()) list += ',';
      list += (isIPAddress(altName) ? "IP:" : "DNS:") + altName;
    }
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate_, certificate_, nullptr, nullptr, 0);
    X509_EXTENSION* extension =
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, list.c_str());
    X509_add_ext(certificate_, extension, -1);
    X509_EXTENSION_free(extension);
  }
  X509_sign(certificate_, key_, EVP_sha256());
}

TestCertificate::~TestCertificate() {
  X509_free(certificate_);
  EVP_PKEY_free(key_);
}

std::string TestCertificate::pem() const {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, key_, nullptr, nullptr, 0, nullptr, nullptr);
  PEM_write_bio_X509(bio, certificate_);
  std::string text = bioText(bio);
  BIO_free(bio);
  return text;
}

std::string TestCertificate::certificatePEM() const {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, certificate_);
  std::string text = bioText(bio);
  BIO_free(bio);
  return text;
}

platform::Bytes TestCertificate::certificateDER() const {
  unsigned char* der = nullptr;
  int length = i2d_X509(certificate_, &der);
  platform::Bytes bytes(der, der + length);
  OPENSSL_free(der);
  return bytes;
}

platform::Bytes TestCertificate::pkcs12(const std::string& password) const {
  PKCS12* p12 =
      PKCS12_create(password.c_str(), "identity", key_, certificate_, nullptr, 0, 0, 0, 0, 0);
  unsigned char* der = nullptr;
  int length = i2d_PKCS12(p12, &der);
  platform::Bytes bytes(der, der + length);
  OPENSSL_free(der);
  PKCS12_free(p12);
  return bytes;
}

SSL_CTX* TestCertificate::newServerContext() const {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  SSL_CTX_use_certificate(context, certificate_);
  SSL_CTX_use_PrivateKey(context, key_);
  return context;
}

}  // namespace testsupport
