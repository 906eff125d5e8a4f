#pragma once
// DispatchUdpSpecialPacket: a connect request of a DispatchUdpSocket, queued among the
// datagrams so that it takes its turn behind the sends before it.

#include <optional>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

struct DispatchUdpSpecialPacket {
  bool resolveInProgress = false;
  std::vector<platform::Bytes> addresses;
  std::optional<platform::Error> error;
};
