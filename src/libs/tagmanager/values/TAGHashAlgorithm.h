#pragma once
// TAGHashAlgorithm: one digest the hash macro offers by name. Stateless; any thread.

#include "platform/foundation/Value.h"

class TAGHashAlgorithm {
 public:
  virtual ~TAGHashAlgorithm() = default;
  virtual platform::Bytes hashData(const platform::Bytes& data) const = 0;
};
