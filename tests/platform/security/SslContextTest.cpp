// SslContext against an OpenSSL peer on loopback: handshakes both ways, data both ways, trust
// decisions, protocol and cipher settings, closes. Our side runs on a non-blocking descriptor,
// polled between steps, the way a socket queue drives it.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "platform/security/SslContext.h"
#include "platform/security/SslIdentity.h"
#include "support/TestCertificate.h"

using namespace platform::security;
using testsupport::TestCertificate;

namespace {

// The in-test peers write with plain write(): a peer we have left must not end the process.
const bool sigpipeIgnored = [] {
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}();

// A connected loopback pair: `ours` non-blocking, `theirs` blocking (for the in-test peer).
struct LoopbackPair {
  int ours = -1;
  int theirs = -1;
  LoopbackPair() {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    ours = ::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(::connect(ours, reinterpret_cast<sockaddr*>(&address), length), 0);
    theirs = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    ::fcntl(ours, F_SETFL, ::fcntl(ours, F_GETFL) | O_NONBLOCK);
  }
  ~LoopbackPair() {
    if (ours != -1) ::close(ours);
    if (theirs != -1) ::close(theirs);
  }
};

// Our context over the non-blocking descriptor, with the socket's would-block answers.
std::unique_ptr<SslContext> makeContext(SslProtocolSide side, int fd) {
  auto context = SslContext::create(side);
  context->setIOFuncs(
      [fd](void* data, std::size_t* length) {
        const std::size_t wanted = *length;
        ssize_t got = ::read(fd, data, wanted);
        *length = got > 0 ? static_cast<std::size_t>(got) : 0;
        if (got == 0) return static_cast<int>(errSSLClosedAbort);
        if (got < 0)
          return static_cast<int>(errno == EAGAIN ? errSSLWouldBlock : errSSLClosedAbort);
        return static_cast<int>(*length == wanted ? kSslNoErr : errSSLWouldBlock);
      },
      [fd](const void* data, std::size_t* length) {
        const std::size_t offered = *length;
        ssize_t sent = ::send(fd, data, offered, MSG_NOSIGNAL);
        *length = sent > 0 ? static_cast<std::size_t>(sent) : 0;
        if (sent < 0)
          return static_cast<int>(errno == EAGAIN ? errSSLWouldBlock : errSSLClosedAbort);
        return static_cast<int>(*length == offered ? kSslNoErr : errSSLWouldBlock);
      });
  return context;
}

// Repeats `step` while it would block, waiting for the descriptor in between.
int drive(int fd, const std::function<int()>& step) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    int status = step();
    if (status != errSSLWouldBlock) return status;
    if (std::chrono::steady_clock::now() > deadline) return status;
    pollfd pfd{fd, POLLIN | POLLOUT, 0};
    ::poll(&pfd, 1, 50);
  }
}

std::string readExactly(SslContext& context, int fd, std::size_t count) {
  std::string text(count, '\0');
  std::size_t done = 0;
  int status = drive(fd, [&] {
    std::size_t processed = 0;
    int s = context.read(text.data() + done, count - done, &processed);
    done += processed;
    return s;
  });
  EXPECT_EQ(status, kSslNoErr);
  text.resize(done);
  return text;
}

void writeAll(SslContext& context, int fd, const std::string& text) {
  std::size_t processed = 0;
  int status = context.write(text.data(), text.size(), &processed);
  if (status == errSSLWouldBlock) {
    // Taken already: only the flush is left.
    status = drive(fd, [&] { return context.write(nullptr, 0, &processed); });
  }
  EXPECT_EQ(status, kSslNoErr);
}

// An OpenSSL server on the blocking end that echoes `count` bytes, or runs `body` after the
// handshake.
class PeerThread {
 public:
  PeerThread(SSL_CTX* context, int fd, bool server, std::function<void(SSL*)> body = {}) : fd_(fd) {
    thread_ = std::thread([this, context, fd, server, body = std::move(body)] {
      SSL* ssl = SSL_new(context);
      SSL_set_fd(ssl, fd);
      if (!server) SSL_set1_host(ssl, "localhost");
      handshakeOk = (server ? SSL_accept(ssl) : SSL_connect(ssl)) == 1;
      if (handshakeOk) {
        version = SSL_version(ssl);
        cipher = SSL_CIPHER_get_protocol_id(SSL_get_current_cipher(ssl));
        if (body) body(ssl);
      }
      SSL_free(ssl);
      SSL_CTX_free(context);
      ERR_clear_error();
    });
  }
  // A test that stops early must not leave the peer waiting for it.
  ~PeerThread() {
    if (thread_.joinable()) ::shutdown(fd_, SHUT_RDWR);
    join();
  }
  void join() {
    if (thread_.joinable()) thread_.join();
  }

  bool handshakeOk = false;
  int version = 0;
  unsigned cipher = 0;

 private:
  int fd_;
  std::thread thread_;
};

// Echoes everything back until the other side closes.
void echo(SSL* ssl) {
  char buffer[16384];
  for (;;) {
    int got = SSL_read(ssl, buffer, sizeof buffer);
    if (got <= 0) return;
    if (SSL_write(ssl, buffer, got) <= 0) return;
  }
}

std::string pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 23);
  return text;
}

TEST(SslContextTest, ClientHandshakesAndExchangesDataBothWays) {
  TestCertificate certificate("localhost");
  LoopbackPair pair;
  PeerThread peer(certificate.newServerContext(), pair.theirs, true, echo);
  auto context = makeContext(SslProtocolSide::kClientSide, pair.ours);
  ASSERT_EQ(context->setPeerDomainName("localhost"), kSslNoErr);
  context->setAllowsAnyRoot(true);
  ASSERT_EQ(drive(pair.ours, [&] { return context->handshake(); }), kSslNoErr);

  writeAll(*context, pair.ours, "hello");
  EXPECT_EQ(readExactly(*context, pair.ours, 5), "hello");
  // Larger than the send buffers, so writes are taken while the descriptor is full.
  const std::string big = pattern(3 * 1024 * 1024 + 17);
  std::string echoed;
  std::size_t processed = 0;
  int status = context->write(big.data(), big.size(), &processed);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while ((status == errSSLWouldBlock || echoed.size() < big.size()) &&
         std::chrono::steady_clock::now() < deadline) {
    if (status == errSSLWouldBlock) status = context->write(nullptr, 0, &processed);
    char buffer[65536];
    std::size_t got = 0;
    int readStatus = context->read(buffer, sizeof buffer, &got);
    echoed.append(buffer, got);
    ASSERT_TRUE(readStatus == kSslNoErr || readStatus == errSSLWouldBlock) << readStatus;
    pollfd pfd{pair.ours, POLLIN | POLLOUT, 0};
    ::poll(&pfd, 1, 20);
  }
  EXPECT_EQ(status, kSslNoErr);
  EXPECT_TRUE(echoed == big) << echoed.size();
  context->close();
  ::shutdown(pair.ours, SHUT_RDWR);
  peer.join();
  EXPECT_TRUE(peer.handshakeOk);
}

TEST(SslContextTest, ServerSideTakesItsIdentityInEveryForm) {
  TestCertificate certificate("localhost");
  auto identityObject = SslIdentity::fromPEM(certificate.pem());
  ASSERT_NE(identityObject, nullptr);
  const std::string pem = certificate.pem();
  const std::vector<platform::Array> forms = {
      {platform::Value(certificate.pkcs12())},
      {platform::Value(platform::Bytes(pem.begin(), pem.end()))},
      {platform::Value::object(identityObject)},
  };
  for (const auto& certRefs : forms) {
    LoopbackPair pair;
    SSL_CTX* clientContext = SSL_CTX_new(TLS_client_method());
    X509_STORE_add_cert(SSL_CTX_get_cert_store(clientContext), certificate.certificate());
    SSL_CTX_set_verify(clientContext, SSL_VERIFY_PEER, nullptr);
    PeerThread peer(clientContext, pair.theirs, false, [](SSL* ssl) {
      SSL_write(ssl, "ping", 4);
      char answer[4];
      SSL_read(ssl, answer, 4);
    });
    auto context = makeContext(SslProtocolSide::kServerSide, pair.ours);
    ASSERT_EQ(context->setCertificate(certRefs), kSslNoErr);
    ASSERT_EQ(drive(pair.ours, [&] { return context->handshake(); }), kSslNoErr);
    EXPECT_EQ(readExactly(*context, pair.ours, 4), "ping");
    writeAll(*context, pair.ours, "pong");
    peer.join();
    EXPECT_TRUE(peer.handshakeOk);
  }
}

TEST(SslContextTest, TrustIsVerifiedUnlessTheCallerRelaxesIt) {
  struct Case {
    const char* name;
    long validFrom;  // seconds from now
    std::string peerName;
    bool anyRoot, expiredCertificates, validates;
    int expected;
  };
  const Case cases[] = {
      {"self-signed refused", -60, "localhost", false, false, true, errSSLUnknownRootCert},
      {"any root accepted", -60, "localhost", true, false, true, kSslNoErr},
      {"any root, by address", -60, "127.0.0.1", true, false, true, kSslNoErr},
      {"any root, wrong name", -60, "other.invalid", true, false, true, errSSLHostNameMismatch},
      {"expired refused", -7200, "localhost", true, false, true, errSSLCertExpired},
      {"expired allowed", -7200, "localhost", true, true, true, kSslNoErr},
      {"not yet valid refused", 3600, "localhost", true, false, true, errSSLCertNotYetValid},
      {"no validation", -7200, "other.invalid", false, false, false, kSslNoErr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestCertificate certificate("localhost", {"localhost", "127.0.0.1"}, c.validFrom, 3600);
    LoopbackPair pair;
    PeerThread peer(certificate.newServerContext(), pair.theirs, true);
    auto context = makeContext(SslProtocolSide::kClientSide, pair.ours);
    context->setPeerDomainName(c.peerName);
    context->setAllowsAnyRoot(c.anyRoot);
    context->setAllowsExpiredCertificates(c.expiredCertificates);
    context->setValidatesCertificateChain(c.validates);
    EXPECT_EQ(drive(pair.ours, [&] { return context->handshake(); }), c.expected);
    context->close();
    ::shutdown(pair.ours, SHUT_RDWR);
    peer.join();
  }
}

TEST(SslContextTest, ProtocolBoundsAndCiphersReachTheWire) {
  struct Case {
    const char* name;
    int min, max;
    std::vector<std::uint16_t> ciphers;
    int serverMax;
    int expectedVersion;  // 0: the handshake fails
    unsigned expectedCipher;
  };
  const Case cases[] = {
      {"unbounded", kSSLProtocolUnknown, kSSLProtocolUnknown, {}, 0, TLS1_3_VERSION, 0},
      {"at most TLS 1.2", kSSLProtocolUnknown, kTLSProtocol12, {}, 0, TLS1_2_VERSION, 0},
      {"at least TLS 1.3 against 1.2",
       kTLSProtocol13,
       kSSLProtocolUnknown,
       {},
       TLS1_2_VERSION,
       0,
       0},
      {"one suite", kSSLProtocolUnknown, kTLSProtocol12, {0xC02B}, 0, TLS1_2_VERSION, 0xC02B},
      {"one TLS 1.3 suite",
       kSSLProtocolUnknown,
       kSSLProtocolUnknown,
       {0x1303},
       0,
       TLS1_3_VERSION,
       0x1303},
      // The system's security level refuses TLS 1.0 and 1.1 (see docs/DESIGN.md).
      {"TLS 1.0 only", kTLSProtocol1, kTLSProtocol1, {}, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestCertificate certificate("localhost");
    LoopbackPair pair;
    SSL_CTX* serverContext = certificate.newServerContext();
    if (c.serverMax) SSL_CTX_set_max_proto_version(serverContext, c.serverMax);
    PeerThread peer(serverContext, pair.theirs, true);
    auto context = makeContext(SslProtocolSide::kClientSide, pair.ours);
    context->setAllowsAnyRoot(true);
    ASSERT_EQ(context->setProtocolVersionMin(c.min), kSslNoErr);
    ASSERT_EQ(context->setProtocolVersionMax(c.max), kSslNoErr);
    if (!c.ciphers.empty()) {
      ASSERT_EQ(context->setEnabledCiphers(c.ciphers), kSslNoErr);
    }
    int status = drive(pair.ours, [&] { return context->handshake(); });
    context->close();
    ::shutdown(pair.ours, SHUT_RDWR);
    peer.join();
    if (c.expectedVersion == 0) {
      EXPECT_NE(status, kSslNoErr);
      EXPECT_NE(status, errSSLWouldBlock);
      EXPECT_FALSE(peer.handshakeOk);
    } else {
      EXPECT_EQ(status, kSslNoErr);
      EXPECT_EQ(peer.version, c.expectedVersion);
      if (c.expectedCipher) {
        EXPECT_EQ(peer.cipher, c.expectedCipher);
      }
    }
  }
}

TEST(SslContextTest, RefusesSettingsItCannotTake) {
  auto context = SslContext::create(SslProtocolSide::kClientSide);
  EXPECT_EQ(context->setProtocolVersionMin(5), paramErr);
  EXPECT_EQ(context->setEnabledCiphers({0x0000, 0xFFFF}), errSSLBadCipherSuite);
  EXPECT_EQ(context->setCertificate({platform::Value(platform::Bytes{1, 2, 3})}), paramErr);
  EXPECT_EQ(context->setCertificate({}), paramErr);
  EXPECT_EQ(context->handshake(), errSSLBadConfiguration);

  TestCertificate certificate("localhost");
  EXPECT_EQ(SslIdentity::fromPKCS12(certificate.pkcs12("secret"), "wrong"), nullptr);
  EXPECT_NE(SslIdentity::fromPKCS12(certificate.pkcs12("secret"), "secret"), nullptr);
  EXPECT_EQ(SslIdentity::fromPEM(certificate.certificatePEM()), nullptr);  // no key
  TestCertificate other("localhost");
  EXPECT_EQ(SslIdentity::fromPEM(other.pem().substr(0, other.pem().find("-----BEGIN CERT")) +
                                 certificate.certificatePEM()),
            nullptr);  // key of another certificate
  EXPECT_NE(SslIdentity::certificateFromBytes(certificate.certificateDER()), nullptr);
}

TEST(SslContextTest, PeerClosingMidHandshakeIsAnAbort) {
  LoopbackPair pair;
  std::thread peer([&] {
    char hello[5];
    ::recv(pair.theirs, hello, sizeof hello, MSG_WAITALL);
    ::close(pair.theirs);
    pair.theirs = -1;
  });
  auto context = makeContext(SslProtocolSide::kClientSide, pair.ours);
  EXPECT_EQ(drive(pair.ours, [&] { return context->handshake(); }), errSSLClosedAbort);
  peer.join();
}

TEST(SslContextTest, PeerClosingTheSessionIsGraceful) {
  TestCertificate certificate("localhost");
  LoopbackPair pair;
  PeerThread peer(certificate.newServerContext(), pair.theirs, true, [](SSL* ssl) {
    SSL_write(ssl, "bye", 3);
    SSL_shutdown(ssl);
  });
  auto context = makeContext(SslProtocolSide::kClientSide, pair.ours);
  context->setAllowsAnyRoot(true);
  ASSERT_EQ(drive(pair.ours, [&] { return context->handshake(); }), kSslNoErr);
  EXPECT_EQ(readExactly(*context, pair.ours, 3), "bye");
  char more[8];
  std::size_t processed = 0;
  EXPECT_EQ(drive(pair.ours, [&] { return context->read(more, sizeof more, &processed); }),
            errSSLClosedGraceful);
  peer.join();
}

TEST(SslContextTest, FailuresMapToStatusesWithTexts) {
  EXPECT_EQ(sslStatusForVerifyError(X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT), errSSLUnknownRootCert);
  EXPECT_EQ(sslStatusForVerifyError(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY),
            errSSLNoRootCert);
  EXPECT_EQ(sslStatusForVerifyError(X509_V_ERR_CERT_REVOKED), errSSLXCertChainInvalid);
  EXPECT_EQ(sslStatusForAlert(48), errSSLPeerUnknownCA);
  EXPECT_EQ(sslStatusForAlert(70), errSSLPeerProtocolVersion);
  EXPECT_EQ(sslStatusForAlert(255), errSSLFatalAlert);
  EXPECT_EQ(sslStatusText(errSSLClosedAbort), "Connection closed via error");
  EXPECT_EQ(sslStatusText(-1), "Unknown TLS status -1");
}

}  // namespace
