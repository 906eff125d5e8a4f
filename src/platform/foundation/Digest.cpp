#include "platform/foundation/Digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <uuid/uuid.h>

#include <cctype>

namespace platform {

namespace {

// Detached threads (pool workers hashing request keys, the curl worker) may still be running
// while the process exits. OpenSSL's own exit-time cleanup would free its locks and digests
// under them, so it is initialised here, before main, without that cleanup, and stays until the
// process ends like the rest of the process-wide state. Only the first initialisation decides:
// a shared library that initialises OpenSSL while it loads (the test servers' HTTP library
// does) still gets the cleanup.
[[maybe_unused]] const bool kCryptoKeptUntilExit =
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

}  // namespace

static const EVP_MD* algorithm(DigestKind kind) {
  switch (kind) {
    case DigestKind::MD5:
      return EVP_md5();
    case DigestKind::SHA1:
      return EVP_sha1();
    case DigestKind::SHA256:
      return EVP_sha256();
    case DigestKind::SHA384:
      return EVP_sha384();
    case DigestKind::SHA512:
      return EVP_sha512();
  }
  return EVP_md5();
}

Bytes digest(DigestKind kind, std::string_view data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), out, &length, algorithm(kind), nullptr);
  return Bytes(out, out + length);
}

std::string hexString(const Bytes& bytes) {
  static const char* kHex = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (auto b : bytes) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

std::string digestHex(DigestKind kind, std::string_view data) {
  return hexString(digest(kind, data));
}

std::string makeUuid() {
  uuid_t id;
  uuid_generate_random(id);
  char text[37];
  uuid_unparse_upper(id, text);
  return text;
}

}  // namespace platform
