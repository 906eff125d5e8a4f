#pragma once
// Socket addresses as the sockets pass them around: data holding the whole system structure
// (16 bytes for IPv4, 28 for IPv6, Linux layout with the family first).

#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/foundation/Value.h"

namespace socketaddress {

template <class Sockaddr>
platform::Bytes addressData(const Sockaddr& address) {
  const auto* first = reinterpret_cast<const std::uint8_t*>(&address);
  return platform::Bytes(first, first + sizeof address);
}

// The structure held by `data`, zero-filled past its end.
template <class Sockaddr>
Sockaddr sockaddrFrom(const platform::Bytes& data) {
  Sockaddr address{};
  std::memcpy(&address, data.data(), std::min(data.size(), sizeof address));
  return address;
}

// The family field, AF_UNSPEC when the data is too short to hold one.
inline sa_family_t familyOf(const platform::Bytes& address) {
  sa_family_t family = AF_UNSPEC;
  if (address.size() >= offsetof(sockaddr, sa_family) + sizeof family) {
    std::memcpy(&family, address.data() + offsetof(sockaddr, sa_family), sizeof family);
  }
  return family;
}

}  // namespace socketaddress
