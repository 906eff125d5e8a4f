#pragma once
// The TLS settings a socket stream pair (kStreamPropertySSLSettings) and a dispatch socket's
// `startTLS` take: one dictionary, one set of keys. Booleans unless said otherwise.

namespace platform {

inline constexpr const char* kStreamSSLIsServer = "kCFStreamSSLIsServer";
inline constexpr const char* kStreamSSLPeerName = "kCFStreamSSLPeerName";  // text
// Array: the identity (an SslIdentity object, PKCS#12 bytes without a password, or PEM bytes
// with the key and certificates), then further certificates (DER or PEM bytes).
inline constexpr const char* kStreamSSLCertificates = "kCFStreamSSLCertificates";
// Text: one of the security levels below.
inline constexpr const char* kStreamSSLLevel = "kCFStreamSSLLevel";
// Default true.
inline constexpr const char* kStreamSSLValidatesCertificateChain =
    "kCFStreamSSLValidatesCertificateChain";
inline constexpr const char* kStreamSSLAllowsAnyRoot = "kCFStreamSSLAllowsAnyRoot";
inline constexpr const char* kStreamSSLAllowsExpiredRoots = "kCFStreamSSLAllowsExpiredRoots";
inline constexpr const char* kStreamSSLAllowsExpiredCertificates =
    "kCFStreamSSLAllowsExpiredCertificates";

inline constexpr const char* kStreamSocketSecurityLevelSSLv3 = "kCFStreamSocketSecurityLevelSSLv3";
inline constexpr const char* kStreamSocketSecurityLevelTLSv1 = "kCFStreamSocketSecurityLevelTLSv1";
inline constexpr const char* kStreamSocketSecurityLevelNegotiatedSSL =
    "kCFStreamSocketSecurityLevelNegotiatedSSL";

}  // namespace platform
