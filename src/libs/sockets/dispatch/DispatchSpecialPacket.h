#pragma once
// DispatchSpecialPacket: the TLS marker of a DispatchSocket, queued among both the reads and the
// writes so that the upgrade waits until everything queued before it has completed.
//
// Built on the caller's thread, used only on the socket queue afterwards.

#include "platform/foundation/Value.h"

class DispatchSpecialPacket {
 public:
  explicit DispatchSpecialPacket(platform::Dictionary settings)
      : tlsSettings(std::move(settings)) {}

  const platform::Dictionary tlsSettings;
};
