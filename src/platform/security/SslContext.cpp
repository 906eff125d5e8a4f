#include "platform/security/SslContext.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>

#include "platform/security/SslIdentity.h"

namespace platform::security {

namespace {

// Enough for one whole TLS record with its header, so a record never needs two rounds.
constexpr std::size_t kInputChunk = 16 * 1024 + 512;

int openSslVersion(int protocol) {
  switch (protocol) {
    case kSSLProtocol3:
      return SSL3_VERSION;
    case kTLSProtocol1:
      return TLS1_VERSION;
    case kTLSProtocol11:
      return TLS1_1_VERSION;
    case kTLSProtocol12:
      return TLS1_2_VERSION;
    case kTLSProtocol13:
      return TLS1_3_VERSION;
    default:
      return -1;
  }
}

bool isIPAddress(const std::string& text) {
  unsigned char address[16];
  return inet_pton(AF_INET, text.c_str(), address) == 1 ||
         inet_pton(AF_INET6, text.c_str(), address) == 1;
}

// OpenSSL's own reasons, for failures that are not an alert from the peer.
int statusForReason(int reason) {
  switch (reason) {
    case SSL_R_NO_SHARED_CIPHER:
    case SSL_R_NO_CIPHERS_AVAILABLE:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_VERSION_TOO_HIGH:
    case SSL_R_NO_SUITABLE_SIGNATURE_ALGORITHM:
      return errSSLNegotiation;
    case SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC:
      return errSSLBadRecordMac;
    case SSL_R_UNEXPECTED_EOF_WHILE_READING:
      return errSSLClosedAbort;
    case SSL_R_PACKET_LENGTH_TOO_LONG:
    case SSL_R_ENCRYPTED_LENGTH_TOO_LONG:
    case SSL_R_DATA_LENGTH_TOO_LONG:
      return errSSLRecordOverflow;
    case SSL_R_CA_MD_TOO_WEAK:
    case SSL_R_CA_KEY_TOO_SMALL:
    case SSL_R_EE_KEY_TOO_SMALL:
      return errSSLBadCert;
    default:
      return errSSLProtocol;
  }
}

}  // namespace

std::unique_ptr<SslContext> SslContext::create(SslProtocolSide side) {
  std::unique_ptr<SslContext> context(new SslContext(side));
  if (!context->setUp()) return nullptr;
  return context;
}

SslContext::SslContext(SslProtocolSide side) : side_(side) {}

SslContext::~SslContext() {
  SSL_free(ssl_);  // frees both memory BIOs
  SSL_CTX_free(ctx_);
}

bool SslContext::setUp() {
  const bool server = side_ == SslProtocolSide::kServerSide;
  ctx_ = SSL_CTX_new(server ? TLS_server_method() : TLS_client_method());
  if (!ctx_) return false;
  ssl_ = SSL_new(ctx_);
  networkIn_ = BIO_new(BIO_s_mem());
  networkOut_ = BIO_new(BIO_s_mem());
  if (!ssl_ || !networkIn_ || !networkOut_) {
    BIO_free(networkIn_);
    BIO_free(networkOut_);
    networkIn_ = networkOut_ = nullptr;
    ERR_clear_error();
    return false;
  }
  // An empty input buffer means "wait for more", never the end of the stream.
  BIO_set_mem_eof_return(networkIn_, -1);
  SSL_set_bio(ssl_, networkIn_, networkOut_);
  SSL_set_app_data(ssl_, this);
  // A renegotiation would make a write wait for input, which the write contract cannot say.
  SSL_set_options(ssl_, SSL_OP_NO_RENEGOTIATION);
  if (server) {
    SSL_set_accept_state(ssl_);
  } else {
    SSL_set_connect_state(ssl_);
  }
  return true;
}

int SslContext::setIOFuncs(ReadFunction read, WriteFunction write) {
  if (!read || !write) return paramErr;
  read_ = std::move(read);
  write_ = std::move(write);
  return kSslNoErr;
}

int SslContext::setPeerDomainName(const std::string& peerName) {
  if (peerName.empty()) return kSslNoErr;
  bool ok;
  if (isIPAddress(peerName)) {
    ok = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), peerName.c_str()) == 1;
  } else {
    ok = SSL_set1_host(ssl_, peerName.c_str()) == 1;
    if (ok && side_ == SslProtocolSide::kClientSide) {
      ok = SSL_set_tlsext_host_name(ssl_, peerName.c_str()) == 1;
    }
  }
  ERR_clear_error();
  return ok ? kSslNoErr : paramErr;
}

int SslContext::setCertificate(const platform::Array& certRefs) {
  if (certRefs.empty()) return paramErr;
  std::shared_ptr<SslIdentity> identity = certRefs.front().object<SslIdentity>();
  if (!identity) {
    if (const platform::Bytes* bytes = certRefs.front().asBytes()) {
      identity = SslIdentity::fromPKCS12(*bytes);
      if (!identity) {
        identity = SslIdentity::fromPEM(
            std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
      }
    }
  }
  if (!identity) return paramErr;
  std::vector<std::shared_ptr<X509>> chain = identity->chain();
  for (std::size_t i = 1; i < certRefs.size(); ++i) {
    const platform::Bytes* bytes = certRefs[i].asBytes();
    std::shared_ptr<X509> certificate = bytes ? SslIdentity::certificateFromBytes(*bytes) : nullptr;
    if (!certificate) return paramErr;
    chain.push_back(std::move(certificate));
  }
  bool ok = SSL_use_certificate(ssl_, identity->certificate()) == 1 &&
            SSL_use_PrivateKey(ssl_, identity->privateKey()) == 1 &&
            SSL_check_private_key(ssl_) == 1 && SSL_clear_chain_certs(ssl_) == 1;
  for (const auto& certificate : chain) {
    ok = ok && SSL_add1_chain_cert(ssl_, certificate.get()) == 1;
  }
  ERR_clear_error();
  return ok ? kSslNoErr : errSSLBadCert;
}

int SslContext::setProtocolVersionMin(int protocol) { return setProtocolBound(protocol, true); }

int SslContext::setProtocolVersionMax(int protocol) { return setProtocolBound(protocol, false); }

int SslContext::setProtocolBound(int protocol, bool minimum) {
  if (protocol == kSSLProtocolUnknown) return kSslNoErr;
  const int version = openSslVersion(protocol);
  if (version < 0) return paramErr;
  const bool ok = (minimum ? SSL_set_min_proto_version(ssl_, version)
                           : SSL_set_max_proto_version(ssl_, version)) == 1;
  ERR_clear_error();
  return ok ? kSslNoErr : paramErr;
}

int SslContext::setEnabledCiphers(const std::vector<std::uint16_t>& ciphers) {
  // TLS 1.3 suites and the older ones are configured separately in OpenSSL.
  std::string suites13;
  std::string suites12;
  for (std::uint16_t id : ciphers) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(id >> 8),
                                    static_cast<unsigned char>(id & 0xff)};
    const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl_, bytes);
    if (!cipher) continue;
    std::string& list = (id >> 8) == 0x13 ? suites13 : suites12;
    if (!list.empty()) list += ':';
    list += SSL_CIPHER_get_name(cipher);
  }
  if (suites13.empty() && suites12.empty()) return errSSLBadCipherSuite;
  bool ok = SSL_set_ciphersuites(ssl_, suites13.c_str()) == 1;
  if (suites12.empty()) {
    // OpenSSL cannot switch every older suite off; none enabled means no older protocol.
    ok = ok && SSL_set_min_proto_version(ssl_, TLS1_3_VERSION) == 1;
  } else {
    ok = ok && SSL_set_cipher_list(ssl_, suites12.c_str()) == 1;
  }
  ERR_clear_error();
  return ok ? kSslNoErr : errSSLBadCipherSuite;
}

void SslContext::configureTrust() {
  if (configured_) return;
  configured_ = true;
  if (side_ != SslProtocolSide::kClientSide) return;
  if (!validatesCertificateChain_) {
    SSL_set_verify(ssl_, SSL_VERIFY_NONE, nullptr);
    return;
  }
  SSL_CTX_set_default_verify_paths(ctx_);
  ERR_clear_error();
  SSL_set_verify(ssl_, SSL_VERIFY_PEER, &SslContext::verifyCallback);
}

int SslContext::verifyCallback(int preverifyOk, X509_STORE_CTX* storeContext) {
  if (preverifyOk) return 1;
  auto* ssl = static_cast<SSL*>(
      X509_STORE_CTX_get_ex_data(storeContext, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* self = static_cast<SslContext*>(SSL_get_app_data(ssl));
  if (!self) return 0;
  const int depth = X509_STORE_CTX_get_error_depth(storeContext);
  switch (X509_STORE_CTX_get_error(storeContext)) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      return self->allowsAnyRoot_ ? 1 : 0;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return (depth == 0 ? self->allowsExpiredCertificates_ : self->allowsExpiredRoots_) ? 1 : 0;
    default:
      return 0;
  }
}

int SslContext::flushOutput() {
  if (outboxOffset_ == outbox_.size()) {
    outbox_.clear();
    outboxOffset_ = 0;
  }
  const std::size_t pending = BIO_ctrl_pending(networkOut_);
  if (pending > 0) {
    const std::size_t end = outbox_.size();
    outbox_.resize(end + pending);
    const int got = BIO_read(networkOut_, outbox_.data() + end, static_cast<int>(pending));
    outbox_.resize(end + static_cast<std::size_t>(std::max(got, 0)));
  }
  while (outboxOffset_ < outbox_.size()) {
    std::size_t length = outbox_.size() - outboxOffset_;
    const int status = write_(outbox_.data() + outboxOffset_, &length);
    if (status == kSslNoErr && length == 0) return errSSLWouldBlock;
    outboxOffset_ += std::min(length, outbox_.size() - outboxOffset_);
    if (status == errSSLWouldBlock && outboxOffset_ < outbox_.size()) return errSSLWouldBlock;
    if (status != kSslNoErr && status != errSSLWouldBlock) return status;
  }
  outbox_.clear();
  outboxOffset_ = 0;
  return kSslNoErr;
}

int SslContext::fillInput() {
  std::uint8_t buffer[kInputChunk];
  std::size_t length = sizeof buffer;
  const int status = read_(buffer, &length);
  length = std::min(length, sizeof buffer);
  if (length > 0) {
    BIO_write(networkIn_, buffer, static_cast<int>(length));
    return kSslNoErr;
  }
  return status == kSslNoErr ? errSSLWouldBlock : status;
}

int SslContext::failureStatus(int error) {
  int status;
  if (error == SSL_ERROR_ZERO_RETURN) {
    status = errSSLClosedGraceful;
  } else if (error == SSL_ERROR_SYSCALL) {
    status = errSSLClosedAbort;
  } else if (error != SSL_ERROR_SSL) {
    status = errSSLInternal;
  } else {
    const unsigned long failure = ERR_peek_last_error();
    const int reason = ERR_GET_REASON(failure);
    const long verifyResult = SSL_get_verify_result(ssl_);
    if (ERR_GET_LIB(failure) != ERR_LIB_SSL) {
      status = errSSLCrypto;
    } else if (reason == SSL_R_CERTIFICATE_VERIFY_FAILED && verifyResult != X509_V_OK) {
      status = sslStatusForVerifyError(verifyResult);
    } else if (reason >= SSL_AD_REASON_OFFSET && reason < SSL_AD_REASON_OFFSET + 256) {
      status = sslStatusForAlert(reason - SSL_AD_REASON_OFFSET);
    } else {
      status = statusForReason(reason);
    }
  }
  ERR_clear_error();
  return status;
}

int SslContext::handshake() {
  if (!read_ || !write_) return errSSLBadConfiguration;
  configureTrust();
  if (handshakeDone_) return flushOutput();
  for (;;) {
    ERR_clear_error();
    const int result = SSL_do_handshake(ssl_);
    if (result == 1) {
      handshakeDone_ = true;
      return flushOutput();
    }
    // Whatever the step produced goes out first, an alert that ends a failed handshake too.
    const int status = continueAfter(result);
    if (status != kSslNoErr) return status;
  }
}

int SslContext::continueAfter(int result) {
  const int error = SSL_get_error(ssl_, result);
  const int flushed = flushOutput();
  if (error != SSL_ERROR_WANT_READ) return failureStatus(error);
  if (flushed != kSslNoErr && flushed != errSSLWouldBlock) return flushed;
  return fillInput();
}

int SslContext::read(void* data, std::size_t length, std::size_t* processed) {
  *processed = 0;
  if (!handshakeDone_) return errSSLProtocol;
  auto* bytes = static_cast<std::uint8_t*>(data);
  while (*processed < length) {
    ERR_clear_error();
    std::size_t got = 0;
    const int result = SSL_read_ex(ssl_, bytes + *processed, length - *processed, &got);
    if (result == 1) {
      *processed += got;
      continue;
    }
    // Reading may produce bytes to send (a key update's answer); they go out on the way.
    const int status = continueAfter(result);
    if (status != kSslNoErr) return status;
  }
  return kSslNoErr;
}

int SslContext::write(const void* data, std::size_t length, std::size_t* processed) {
  *processed = 0;
  if (!handshakeDone_) return errSSLProtocol;
  if (length > 0) {
    // A memory BIO takes every record, so the bytes are always taken whole here.
    ERR_clear_error();
    std::size_t written = 0;
    const int result = SSL_write_ex(ssl_, data, length, &written);
    if (result != 1) return failureStatus(SSL_get_error(ssl_, result));
  }
  const int flushed = flushOutput();
  if (flushed == kSslNoErr) *processed = length;
  return flushed;
}

std::size_t SslContext::bufferedReadSize() const {
  return static_cast<std::size_t>(SSL_pending(ssl_)) + BIO_ctrl_pending(networkIn_);
}

int SslContext::close() {
  if (handshakeDone_ && write_) {
    ERR_clear_error();
    SSL_shutdown(ssl_);
    ERR_clear_error();
    flushOutput();
  }
  handshakeDone_ = false;
  return kSslNoErr;
}

}  // namespace platform::security
