#pragma once
// SslContext: one side of a TLS connection over OpenSSL, driven entirely through two functions
// the owner supplies, so the owner keeps the descriptor and decides when it is read or written.
//
// I/O contract. The read function is asked for up to `*length` encrypted bytes and answers how
// many it delivered in `*length` with a status: 0 when it delivered all, errSSLWouldBlock when it
// delivered fewer (possibly none) and more may come later, errSSLClosedAbort (or another status)
// when the connection is gone. The write function is offered bytes and answers the count it took
// the same way. The context keeps whatever the write function did not take and offers it again
// on the next call.
//
// Calls follow the platform's TLS engine: `handshake`, `read` and `write` answer errSSLWouldBlock
// when they must wait for the owner's descriptor and are simply called again. A `write` that
// answers errSSLWouldBlock has taken the bytes (encrypted and queued) and reports 0 processed;
// the owner flushes them later with an empty write, which answers 0 once they are all out.
//
// Trust (client side): the peer's chain is verified against the system's default trust store
// and, when a peer name is set, its host name (or IP address) is checked. Self-signed, unknown
// or expired certificates are refused unless the matching `allows...` setting relaxes the check;
// `setValidatesCertificateChain(false)` accepts any certificate. A server side does not ask the
// client for a certificate.
//
// Protocol numbers are the platform's (2 SSLv3, 4 TLS 1.0, 7 TLS 1.1, 8 TLS 1.2, 10 TLS 1.3);
// cipher suites are their 16-bit IANA numbers. The system's OpenSSL security level refuses some
// of what can be asked for here (see docs/DESIGN.md); a handshake that cannot agree fails with
// errSSLNegotiation or the peer's alert.
//
// Threads: not thread-safe; the owner calls it from one queue at a time, and the I/O functions
// run inside its calls.

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/security/SslStatus.h"

namespace platform::security {

enum SslProtocol : int {
  kSSLProtocolUnknown = 0,
  kSSLProtocol3 = 2,
  kTLSProtocol1 = 4,
  kTLSProtocol11 = 7,
  kTLSProtocol12 = 8,
  kTLSProtocol13 = 10,
};

enum class SslProtocolSide { kServerSide, kClientSide };

class SslContext {
 public:
  using ReadFunction = std::function<int(void* data, std::size_t* length)>;
  using WriteFunction = std::function<int(const void* data, std::size_t* length)>;

  // Null when OpenSSL cannot make a context.
  static std::unique_ptr<SslContext> create(SslProtocolSide side);
  ~SslContext();
  SslContext(const SslContext&) = delete;
  SslContext& operator=(const SslContext&) = delete;

  SslProtocolSide side() const { return side_; }

  int setIOFuncs(ReadFunction read, WriteFunction write);
  // The name the peer's certificate must carry (client side); also sent as the server name
  // unless it is an IP address.
  int setPeerDomainName(const std::string& peerName);
  // The local identity and its chain: the first entry is an SslIdentity object, PKCS#12 bytes
  // without a password, or PEM bytes with key and certificates; the others are certificates
  // (DER or PEM bytes). paramErr when an entry does not read.
  int setCertificate(const platform::Array& certRefs);
  // kSSLProtocolUnknown leaves the bound as it is; paramErr for a number not listed above.
  int setProtocolVersionMin(int protocol);
  int setProtocolVersionMax(int protocol);
  // Exactly these suites (those OpenSSL does not know are skipped); errSSLBadCipherSuite when
  // none of them is known.
  int setEnabledCiphers(const std::vector<std::uint16_t>& ciphers);

  void setAllowsAnyRoot(bool allows) { allowsAnyRoot_ = allows; }
  void setAllowsExpiredRoots(bool allows) { allowsExpiredRoots_ = allows; }
  void setAllowsExpiredCertificates(bool allows) { allowsExpiredCertificates_ = allows; }
  void setValidatesCertificateChain(bool validates) { validatesCertificateChain_ = validates; }

  // One step of the handshake: 0 once it is complete (and its last bytes are out).
  int handshake();
  // Decrypted bytes, up to `length`; 0 when all were delivered, errSSLWouldBlock when fewer,
  // errSSLClosedGraceful when the peer closed the TLS session.
  int read(void* data, std::size_t length, std::size_t* processed);
  int write(const void* data, std::size_t length, std::size_t* processed);
  // Bytes that can be read without calling the read function: decrypted ones and encrypted
  // ones already taken in.
  std::size_t bufferedReadSize() const;
  // Sends the closing alert (best effort) and ends the session.
  int close();

 private:
  explicit SslContext(SslProtocolSide side);
  bool setUp();
  int setProtocolBound(int protocol, bool minimum);
  int flushOutput();
  int fillInput();
  // The status for an OpenSSL call that failed with SSL_get_error's `error`.
  int failureStatus(int error);
  // After a handshake or read step that did not finish: sends what it produced and, when it
  // wants input, takes some in. kSslNoErr means "step again".
  int continueAfter(int result);
  // Applies the trust settings before the first handshake step.
  void configureTrust();
  static int verifyCallback(int preverifyOk, X509_STORE_CTX* storeContext);

  SslProtocolSide side_;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  BIO* networkIn_ = nullptr;   // owned by ssl_
  BIO* networkOut_ = nullptr;  // owned by ssl_
  ReadFunction read_;
  WriteFunction write_;
  std::vector<std::uint8_t> outbox_;  // encrypted bytes the write function has yet to take
  std::size_t outboxOffset_ = 0;
  bool handshakeDone_ = false;
  bool configured_ = false;  // the trust settings have been applied to ssl_
  bool allowsAnyRoot_ = false;
  bool allowsExpiredRoots_ = false;
  bool allowsExpiredCertificates_ = false;
  bool validatesCertificateChain_ = true;
};

}  // namespace platform::security
