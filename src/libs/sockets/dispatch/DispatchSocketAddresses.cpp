// DispatchSocket: class operations for socket addresses, the common terminators and the error
// values every other part of the socket reports.

#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>
#include <cstring>

#include "sockets/dispatch/DispatchSocket.h"

using platform::Bytes;
using platform::Error;

namespace {

template <class Sockaddr>
Sockaddr copySockaddr(const Bytes& address) {
  Sockaddr result;
  std::memcpy(&result, address.data(), sizeof result);
  return result;
}

}  // namespace

// --- Socket addresses ----------------------------------------------------------------------------

std::string DispatchSocket::hostFromSockaddr4(const sockaddr_in* pSockaddr4) {
  char addrBuf[INET_ADDRSTRLEN];
  if (!inet_ntop(AF_INET, &pSockaddr4->sin_addr, addrBuf, sizeof addrBuf)) return "";
  return addrBuf;
}

std::string DispatchSocket::hostFromSockaddr6(const sockaddr_in6* pSockaddr6) {
  char addrBuf[INET6_ADDRSTRLEN];
  if (!inet_ntop(AF_INET6, &pSockaddr6->sin6_addr, addrBuf, sizeof addrBuf)) return "";
  return addrBuf;
}

std::uint16_t DispatchSocket::portFromSockaddr4(const sockaddr_in* pSockaddr4) {
  return ntohs(pSockaddr4->sin_port);
}

std::uint16_t DispatchSocket::portFromSockaddr6(const sockaddr_in6* pSockaddr6) {
  return ntohs(pSockaddr6->sin6_port);
}

bool DispatchSocket::getHost(std::string* hostPtr, std::uint16_t* portPtr, const Bytes& address) {
  if (address.size() < sizeof(sockaddr)) return false;
  // The family leads the structure (no length byte before it on this platform).
  sa_family_t family;
  std::memcpy(&family, address.data() + offsetof(sockaddr, sa_family), sizeof family);
  if (family == AF_INET && address.size() >= sizeof(sockaddr_in)) {
    auto sockaddr4 = copySockaddr<sockaddr_in>(address);
    if (hostPtr) *hostPtr = hostFromSockaddr4(&sockaddr4);
    if (portPtr) *portPtr = portFromSockaddr4(&sockaddr4);
    return true;
  }
  if (family == AF_INET6 && address.size() >= sizeof(sockaddr_in6)) {
    auto sockaddr6 = copySockaddr<sockaddr_in6>(address);
    if (hostPtr) *hostPtr = hostFromSockaddr6(&sockaddr6);
    if (portPtr) *portPtr = portFromSockaddr6(&sockaddr6);
    return true;
  }
  return false;
}

std::optional<std::string> DispatchSocket::hostFromAddress(const Bytes& address) {
  std::string host;
  if (getHost(&host, nullptr, address)) return host;
  return std::nullopt;
}

std::uint16_t DispatchSocket::portFromAddress(const Bytes& address) {
  std::uint16_t port = 0;
  if (getHost(nullptr, &port, address)) return port;
  return 0;
}

// --- Terminators ---------------------------------------------------------------------------------

SocketData DispatchSocket::CRLFData() { return SocketData(Bytes{0x0D, 0x0A}); }

SocketData DispatchSocket::CRData() { return SocketData(Bytes{0x0D}); }

SocketData DispatchSocket::LFData() { return SocketData(Bytes{0x0A}); }

SocketData DispatchSocket::ZeroData() { return SocketData(Bytes{0x00}); }

// --- Errors --------------------------------------------------------------------------------------
// No string table "DispatchSocket" is supplied, so the descriptions are the default texts.

namespace {

Error domainError(DispatchSocketError code, const std::string& description) {
  return Error::withDescription(kDispatchSocketErrorDomain, code, description);
}

}  // namespace

Error DispatchSocket::badConfigError(const std::string& errMsg) {
  return domainError(kDispatchSocketBadConfigError, errMsg);
}

Error DispatchSocket::badParamError(const std::string& errMsg) {
  return domainError(kDispatchSocketBadParamError, errMsg);
}

Error DispatchSocket::connectTimeoutError() {
  return domainError(kDispatchSocketConnectTimeoutError, "Attempt to connect to host timed out");
}

Error DispatchSocket::readTimeoutError() {
  return domainError(kDispatchSocketReadTimeoutError, "Read operation timed out");
}

Error DispatchSocket::writeTimeoutError() {
  return domainError(kDispatchSocketWriteTimeoutError, "Write operation timed out");
}

Error DispatchSocket::readMaxedOutError() {
  return domainError(kDispatchSocketReadMaxedOutError, "Read operation reached set maximum length");
}

Error DispatchSocket::connectionClosedError() {
  return domainError(kDispatchSocketClosedError, "Socket closed by remote peer");
}

Error DispatchSocket::otherError(const std::string& errMsg) {
  return domainError(kDispatchSocketOtherError, errMsg);
}

Error DispatchSocket::errnoErrorWithReason(const std::string& reason) {
  return Error::posix(errno, reason);
}

Error DispatchSocket::errnoError() { return Error::posix(errno); }

Error DispatchSocket::gaiError(int gai_error) {
  return Error::withDescription("kCFStreamErrorDomainNetDB", gai_error, gai_strerror(gai_error));
}
