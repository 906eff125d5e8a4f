#pragma once
// The status codes of a TLS context (platform/security/SslContext.h), numbered as the phone
// platform numbers its TLS statuses so that an error's code means the same on both; 0 is success.
// `sslStatusText` gives each a short English description.

#include <string>

namespace platform::security {

enum SslStatus : int {
  kSslNoErr = 0,
  errSSLProtocol = -9800,
  errSSLNegotiation = -9801,
  errSSLFatalAlert = -9802,
  errSSLWouldBlock = -9803,
  errSSLSessionNotFound = -9804,
  errSSLClosedGraceful = -9805,
  errSSLClosedAbort = -9806,
  errSSLXCertChainInvalid = -9807,
  errSSLBadCert = -9808,
  errSSLCrypto = -9809,
  errSSLInternal = -9810,
  errSSLUnknownRootCert = -9812,
  errSSLNoRootCert = -9813,
  errSSLCertExpired = -9814,
  errSSLCertNotYetValid = -9815,
  errSSLClosedNoNotify = -9816,
  errSSLBufferOverflow = -9817,
  errSSLBadCipherSuite = -9818,
  errSSLPeerUnexpectedMsg = -9819,
  errSSLPeerBadRecordMac = -9820,
  errSSLPeerDecryptionFail = -9821,
  errSSLPeerRecordOverflow = -9822,
  errSSLPeerDecompressFail = -9823,
  errSSLPeerHandshakeFail = -9824,
  errSSLPeerBadCert = -9825,
  errSSLPeerUnsupportedCert = -9826,
  errSSLPeerCertRevoked = -9827,
  errSSLPeerCertExpired = -9828,
  errSSLPeerCertUnknown = -9829,
  errSSLIllegalParam = -9830,
  errSSLPeerUnknownCA = -9831,
  errSSLPeerAccessDenied = -9832,
  errSSLPeerDecodeError = -9833,
  errSSLPeerDecryptError = -9834,
  errSSLPeerProtocolVersion = -9836,
  errSSLPeerInsufficientSecurity = -9837,
  errSSLPeerInternalError = -9838,
  errSSLPeerUserCancelled = -9839,
  errSSLPeerNoRenegotiation = -9840,
  errSSLHostNameMismatch = -9843,
  errSSLBadRecordMac = -9846,
  errSSLRecordOverflow = -9847,
  errSSLBadConfiguration = -9848,
  // The peer took too long: a handshake that did not finish within its time limit.
  errSSLNetworkTimeout = -9853,
  // A parameter the context cannot take (an unreadable identity, an unknown protocol).
  paramErr = -50,
};

// A short description of `status`; "Unknown TLS status <n>" for a number not listed above.
std::string sslStatusText(int status);

}  // namespace platform::security

namespace platform::security {

// How OpenSSL's failures read as statuses: a certificate verification error (X509_V_ERR_...),
// and a fatal alert the peer sent (its TLS alert number).
int sslStatusForVerifyError(long verifyError);
int sslStatusForAlert(int alert);

}  // namespace platform::security
