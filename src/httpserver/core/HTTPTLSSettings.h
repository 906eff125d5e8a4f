#pragma once
// Keys of the settings dictionary a connection hands to `DispatchSocket::startTLS` to secure
// itself as a server, and the one security level it asks for (whatever both sides negotiate).

inline constexpr const char* kDispatchSocketTLSIsServer = "DispatchSocketTLSIsServer";
inline constexpr const char* kDispatchSocketTLSCertificates = "DispatchSocketTLSCertificates";
inline constexpr const char* kDispatchSocketTLSLevel = "DispatchSocketTLSLevel";
inline constexpr const char* kDispatchSocketTLSLevelNegotiated = "DispatchSocketTLSLevelNegotiated";
