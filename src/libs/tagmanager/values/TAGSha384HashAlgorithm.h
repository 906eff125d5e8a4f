#pragma once
// TAGSha384HashAlgorithm: the SHA-384 digest (48 bytes), on OpenSSL. Stateless; any thread.

#include <string_view>

#include "platform/foundation/Digest.h"
#include "tagmanager/values/TAGHashAlgorithm.h"

class TAGSha384HashAlgorithm : public TAGHashAlgorithm {
 public:
  platform::Bytes hashData(const platform::Bytes& data) const override {
    return platform::digest(
        platform::DigestKind::SHA384,
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  }
};
