#pragma once
// RunLoopSpecialPacket: the TLS marker of a RunLoopSocket. One object goes on both the read and
// the write queue; each side stops there until the other side has reached it too.

#include "platform/foundation/Value.h"

class RunLoopSpecialPacket {
 public:
  explicit RunLoopSpecialPacket(platform::Dictionary settings) : tlsSettings(std::move(settings)) {}

  platform::Dictionary tlsSettings;
};
