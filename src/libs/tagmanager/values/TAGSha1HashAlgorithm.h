#pragma once
// TAGSha1HashAlgorithm: the SHA-1 digest (20 bytes), on OpenSSL. Stateless; any thread.

#include <string_view>

#include "platform/foundation/Digest.h"
#include "tagmanager/values/TAGHashAlgorithm.h"

class TAGSha1HashAlgorithm : public TAGHashAlgorithm {
 public:
  platform::Bytes hashData(const platform::Bytes& data) const override {
    return platform::digest(
        platform::DigestKind::SHA1,
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  }
};
