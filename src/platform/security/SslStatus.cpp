#include "platform/security/SslStatus.h"

#include <map>

namespace platform::security {

std::string sslStatusText(int status) {
  static const std::map<int, const char*> texts = {
      {kSslNoErr, "No error"},
      {errSSLProtocol, "TLS protocol error"},
      {errSSLNegotiation, "Cipher suite or protocol negotiation failed"},
      {errSSLFatalAlert, "Fatal alert"},
      {errSSLWouldBlock, "I/O would block"},
      {errSSLSessionNotFound, "Attempt to restore an unknown session"},
      {errSSLClosedGraceful, "Connection closed gracefully"},
      {errSSLClosedAbort, "Connection closed via error"},
      {errSSLXCertChainInvalid, "Invalid certificate chain"},
      {errSSLBadCert, "Bad certificate format"},
      {errSSLCrypto, "Underlying cryptographic error"},
      {errSSLInternal, "Internal error"},
      {errSSLUnknownRootCert, "Valid certificate chain, untrusted root"},
      {errSSLNoRootCert, "Certificate chain not verified by root"},
      {errSSLCertExpired, "Chain had an expired certificate"},
      {errSSLCertNotYetValid, "Chain had a certificate not yet valid"},
      {errSSLClosedNoNotify, "Server closed session with no notification"},
      {errSSLBufferOverflow, "Insufficient buffer provided"},
      {errSSLBadCipherSuite, "Bad cipher suite"},
      {errSSLPeerUnexpectedMsg, "Unexpected message received"},
      {errSSLPeerBadRecordMac, "Bad MAC"},
      {errSSLPeerDecryptionFail, "Decryption failed"},
      {errSSLPeerRecordOverflow, "Record overflow"},
      {errSSLPeerDecompressFail, "Decompression failure"},
      {errSSLPeerHandshakeFail, "Handshake failure"},
      {errSSLPeerBadCert, "Misc. bad certificate"},
      {errSSLPeerUnsupportedCert, "Bad unsupported certificate format"},
      {errSSLPeerCertRevoked, "Certificate revoked"},
      {errSSLPeerCertExpired, "Certificate expired"},
      {errSSLPeerCertUnknown, "Unknown certificate"},
      {errSSLIllegalParam, "Illegal parameter"},
      {errSSLPeerUnknownCA, "Unknown certificate authority"},
      {errSSLPeerAccessDenied, "Access denied"},
      {errSSLPeerDecodeError, "Decoding error"},
      {errSSLPeerDecryptError, "Decryption error"},
      {errSSLPeerProtocolVersion, "Bad protocol version"},
      {errSSLPeerInsufficientSecurity, "Insufficient security"},
      {errSSLPeerInternalError, "Internal error"},
      {errSSLPeerUserCancelled, "User canceled"},
      {errSSLPeerNoRenegotiation, "No renegotiation allowed"},
      {errSSLHostNameMismatch, "Peer host name mismatch"},
      {errSSLBadRecordMac, "Bad MAC in a record"},
      {errSSLRecordOverflow, "Record overflow"},
      {errSSLBadConfiguration, "Configuration error"},
      {errSSLNetworkTimeout, "Network timeout triggered"},
      {paramErr, "Invalid parameter"},
  };
  auto it = texts.find(status);
  if (it != texts.end()) return it->second;
  return "Unknown TLS status " + std::to_string(status);
}

}  // namespace platform::security

#include <openssl/x509_vfy.h>

namespace platform::security {

int sslStatusForVerifyError(long verifyError) {
  switch (verifyError) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return errSSLUnknownRootCert;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return errSSLNoRootCert;
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return errSSLCertExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return errSSLCertNotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return errSSLHostNameMismatch;
    default:
      return errSSLXCertChainInvalid;
  }
}

int sslStatusForAlert(int alert) {
  static const std::map<int, int> statuses = {
      {10, errSSLPeerUnexpectedMsg},    {20, errSSLPeerBadRecordMac},
      {21, errSSLPeerDecryptionFail},   {22, errSSLPeerRecordOverflow},
      {30, errSSLPeerDecompressFail},   {40, errSSLPeerHandshakeFail},
      {42, errSSLPeerBadCert},          {43, errSSLPeerUnsupportedCert},
      {44, errSSLPeerCertRevoked},      {45, errSSLPeerCertExpired},
      {46, errSSLPeerCertUnknown},      {47, errSSLIllegalParam},
      {48, errSSLPeerUnknownCA},        {49, errSSLPeerAccessDenied},
      {50, errSSLPeerDecodeError},      {51, errSSLPeerDecryptError},
      {70, errSSLPeerProtocolVersion},  {71, errSSLPeerInsufficientSecurity},
      {80, errSSLPeerInternalError},    {90, errSSLPeerUserCancelled},
      {100, errSSLPeerNoRenegotiation},
  };
  auto it = statuses.find(alert);
  return it != statuses.end() ? it->second : errSSLFatalAlert;
}

}  // namespace platform::security
