#pragma once
// TAGSha512HashAlgorithm: the SHA-512 digest (64 bytes), on OpenSSL. Stateless; any thread.

#include <string_view>

#include "platform/foundation/Digest.h"
#include "tagmanager/values/TAGHashAlgorithm.h"

class TAGSha512HashAlgorithm : public TAGHashAlgorithm {
 public:
  platform::Bytes hashData(const platform::Bytes& data) const override {
    return platform::digest(
        platform::DigestKind::SHA512,
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  }
};
