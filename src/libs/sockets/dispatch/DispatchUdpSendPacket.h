#pragma once
// DispatchUdpSendPacket: one queued datagram of a DispatchUdpSocket, with where it goes (an
// address, or a host still being resolved) and the stages it is in.

#include <sys/socket.h>

#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

struct DispatchUdpSendPacket {
  DispatchUdpSendPacket(std::shared_ptr<const platform::Bytes> d, double t, long g)
      : buffer(std::move(d)), timeout(t), tag(g) {}

  std::shared_ptr<const platform::Bytes> buffer;  // held, not copied
  double timeout;                                 // seconds; below 0 means none
  long tag;
  bool resolveInProgress = false;
  bool filterInProgress = false;
  // Set once a host destination has been resolved.
  std::optional<std::vector<platform::Bytes>> resolvedAddresses;
  std::optional<platform::Error> resolveError;
  // The chosen destination and its family (AF_UNSPEC until chosen).
  std::optional<platform::Bytes> address;
  int addressFamily = AF_UNSPEC;
};
