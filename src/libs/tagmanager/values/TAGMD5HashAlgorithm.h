#pragma once
// TAGMD5HashAlgorithm: the MD5 digest (16 bytes), on OpenSSL. Stateless; any thread.

#include <string_view>

#include "platform/foundation/Digest.h"
#include "tagmanager/values/TAGHashAlgorithm.h"

class TAGMD5HashAlgorithm : public TAGHashAlgorithm {
 public:
  platform::Bytes hashData(const platform::Bytes& data) const override {
    return platform::digest(
        platform::DigestKind::MD5,
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  }
};
