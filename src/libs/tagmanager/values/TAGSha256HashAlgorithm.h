#pragma once
// TAGSha256HashAlgorithm: the SHA-256 digest (32 bytes), on OpenSSL. Stateless; any thread.

#include <string_view>

#include "platform/foundation/Digest.h"
#include "tagmanager/values/TAGHashAlgorithm.h"

class TAGSha256HashAlgorithm : public TAGHashAlgorithm {
 public:
  platform::Bytes hashData(const platform::Bytes& data) const override {
    return platform::digest(
        platform::DigestKind::SHA256,
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  }
};
