// TLS on DispatchSocket over real loopback connections, IPv4 and IPv6: as the server against an
// in-test OpenSSL client, as the client against an in-test OpenSSL server, and two sockets
// talking to each other. Certificates are made by the test fixture.

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <thread>

#include "SocketHarness.h"
#include "platform/foundation/Clock.h"
#include "platform/security/SslStatus.h"
#include "support/Files.h"
#include "support/TempHome.h"
#include "support/TestCertificate.h"

using namespace sockettest;
using platform::Bytes;
using platform::Dictionary;
using platform::Value;
using testsupport::TestCertificate;

namespace {

class SecureRecorder : public Recorder {
 public:
  void socketDidSecure(const std::shared_ptr<DispatchSocket>&) override { record("secure"); }
};

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

Dictionary serverSettings(const TestCertificate& certificate) {
  Dictionary settings;
  settings[platform::kStreamSSLIsServer] = Value(true);
  settings[platform::kStreamSSLCertificates] =
      Value(platform::Array{Value(bytesOf(certificate.pem()))});
  return settings;
}

// An OpenSSL client on the blocking client socket that trusts `certificate` for "localhost".
struct OpenSslClient {
  OpenSslClient(const TestCertificate& certificate, int fd) {
    context = SSL_CTX_new(TLS_client_method());
    X509_STORE_add_cert(SSL_CTX_get_cert_store(context), certificate.certificate());
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    ssl = SSL_new(context);
    SSL_set_fd(ssl, fd);
    SSL_set1_host(ssl, "localhost");
  }
  ~OpenSslClient() {
    SSL_free(ssl);
    SSL_CTX_free(context);
    ERR_clear_error();
  }
  bool connect() { return SSL_connect(ssl) == 1; }
  void write(const std::string& text) {
    ASSERT_EQ(SSL_write(ssl, text.data(), static_cast<int>(text.size())),
              static_cast<int>(text.size()));
  }
  std::string read(std::size_t n) {
    std::string text(n, '\0');
    std::size_t done = 0;
    while (done < n) {
      int got = SSL_read(ssl, text.data() + done, static_cast<int>(n - done));
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    text.resize(done);
    return text;
  }

  SSL_CTX* context;
  SSL* ssl;
};

}  // namespace

class TlsTest : public ConnectionTest {
 protected:
  TestCertificate certificate{"localhost"};
};

INSTANTIATE_TEST_SUITE_P(Families, TlsTest, testing::Values("127.0.0.1", "::1"), familyName);

TEST_P(TlsTest, AsServerItHandshakesAndCarriesDataBothWays) {
  auto recorder = std::make_shared<SecureRecorder>();
  connect(recorder);
  sock->startTLS(serverSettings(certificate));
  // A connection takes one upgrade: a second request is dropped, not run after the first.
  sock->startTLS(serverSettings(certificate));
  sock->readDataToData(DispatchSocket::CRLFData(), -1, 1);
  sock->writeData(SocketData("welcome\r\n"), -1, 2);

  OpenSslClient tls(certificate, client->fd());
  ASSERT_TRUE(tls.connect());
  tls.write("hello\r\n");
  EXPECT_EQ(tls.read(9), "welcome\r\n");
  ASSERT_TRUE(events().waitForCount("read", 1));
  ASSERT_TRUE(events().waitForCount("write", 1));
  // After the handshake the read and the write are independent of each other.
  auto seen = withoutAccept(events().events());
  std::sort(seen.begin() + 1, seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"secure", "read 1 hello\r\n", "write 2"}));
  EXPECT_TRUE(sock->isSecure());
}

TEST_P(TlsTest, RequestsQueuedBeforeTheUpgradeCompleteInTheClear) {
  auto recorder = std::make_shared<SecureRecorder>();
  connect(recorder);
  sock->writeData(SocketData("plain"), -1, 1);
  sock->readDataToData(DispatchSocket::LFData(), -1, 2);
  sock->startTLS(serverSettings(certificate));
  sock->readDataToData(DispatchSocket::CRLFData(), -1, 3);
  sock->writeData(SocketData("sealed"), -1, 4);

  EXPECT_EQ(client->receive(5), "plain");
  // The clear line and the handshake's first bytes leave together, so the line's read takes
  // some of the handshake into the read-ahead buffer: the engine must be given those first.
  ASSERT_EQ(::send(client->fd(), "PLAIN\n", 6, MSG_MORE), 6);
  OpenSslClient tls(certificate, client->fd());
  ASSERT_TRUE(tls.connect());
  tls.write("secret\r\n");
  EXPECT_EQ(tls.read(6), "sealed");
  ASSERT_TRUE(events().waitForCount("read", 2));
  ASSERT_TRUE(events().waitForCount("write", 2));
  auto seen = withoutAccept(events().events());
  const std::vector<std::string> inTheClear = {"write 1", "read 2 PLAIN\n"};
  ASSERT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 2), inTheClear);
  EXPECT_EQ(seen[2], "secure");
  std::sort(seen.begin() + 3, seen.end());
  EXPECT_EQ(std::vector<std::string>(seen.begin() + 3, seen.end()),
            (std::vector<std::string>{"read 3 secret\r\n", "write 4"}));
}

// Gathered and file writes go through the engine piece by piece; the file's bytes are read
// through the socket's own buffer, more of them than one pass takes.
TEST_P(TlsTest, GatheredAndFileWritesArriveWholeThroughTheEngine) {
  auto recorder = std::make_shared<SecureRecorder>();
  connect(recorder);
  testsupport::TempHome home;
  std::string content(300000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i)
    content[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  testsupport::writeFile(home.path() + "/body.bin", content);
  auto file = SocketFile::openRegular(home.path() + "/body.bin");
  ASSERT_TRUE(file);
  sock->startTLS(serverSettings(certificate));
  sock->writeData(SocketData("head|"), SocketData("body|"), -1, 1);
  sock->writeFile(SocketData("file|"), file, 7, content.size() - 7, -1, 2);

  OpenSslClient tls(certificate, client->fd());
  ASSERT_TRUE(tls.connect());
  const std::string expected = "head|body|file|" + content.substr(7);
  std::string received = tls.read(expected.size());
  EXPECT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected);
  ASSERT_TRUE(events().waitForCount("write", 2));
  EXPECT_EQ(events().eventsStartingWith("write "),
            (std::vector<std::string>{"write 1", "write 2"}));
}

TEST_P(TlsTest, APeerClosingMidHandshakeEndsTheSocketWithTheAbortStatus) {
  auto recorder = std::make_shared<SecureRecorder>();
  connect(recorder);
  sock->startTLS(serverSettings(certificate));
  // The start of a handshake record, and then nothing more.
  client->send(std::string("\x16\x03\x01\x02", 4));
  client.reset();
  ASSERT_TRUE(events().waitForCount("disconnect", 1));
  EXPECT_EQ(withoutAccept(events().events()),
            (std::vector<std::string>{"disconnect kCFStreamErrorDomainSSL -9806"}));
}

// A peer that connects and never says a word: the handshake ends on its own time limit, the
// first positive time-out of the read or write queued behind the upgrade, else 30 seconds.
TEST_P(TlsTest, AHandshakeThePeerNeverAnswersEndsAsATlsTimeOut) {
  struct Case {
    const char* name;
    bool asServer;
    double readTimeout;
    double writeTimeout;
    double limit;
  };
  const Case cases[] = {
      {"server, a read of 5 s queued", true, 5.0, -1.0, 5.0},
      {"server, nothing with a limit queued", true, -1.0, 0.0, 30.0},
      {"client, a write of 3 s before a read of 8 s", false, 8.0, 3.0, 3.0},
      {"client, nothing with a limit queued", false, -1.0, -1.0, 30.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::ScopedManualClock clock;
    std::shared_ptr<Recorder> recorder = std::make_shared<SecureRecorder>();
    std::shared_ptr<DispatchSocket> securing;
    std::shared_ptr<platform::dispatch::Queue> clientQueue;
    Dictionary settings;
    if (c.asServer) {
      connect(recorder);
      securing = sock;
      settings = serverSettings(certificate);
    } else {
      // The accepted end is a socket that never reads or writes.
      server = std::make_unique<Server>(GetParam());
      clientQueue = platform::dispatch::Queue::serial("test.tls.silent");
      securing = DispatchSocket::create(recorder, clientQueue);
      ASSERT_TRUE(securing->connectToAddress(addressOf(GetParam(), server->port)));
      ASSERT_TRUE(recorder->waitForCount("connect", 1));
      settings = {{platform::kStreamSSLAllowsAnyRoot, Value(true)}};
    }
    securing->startTLS(settings);
    securing->readDataToData(DispatchSocket::CRLFData(), c.readTimeout, 1);
    if (c.writeTimeout >= 0.0) securing->writeData(SocketData("x"), c.writeTimeout, 2);
    // A query waits behind the requests: the handshake has started and its limit runs.
    EXPECT_FALSE(securing->isSecure());
    clock->advanceSeconds(c.limit - 0.5);
    EXPECT_TRUE(recorder->quietFor("disconnect", 50));
    clock->advanceSeconds(1.0);
    ASSERT_TRUE(recorder->waitForCount("disconnect", 1));
    EXPECT_EQ(recorder->eventsStartingWith("disconnect"),
              std::vector<std::string>{"disconnect kCFStreamErrorDomainSSL -9853"});
    EXPECT_EQ(recorder->disconnectError()->localizedDescription(), "Network timeout triggered");
    if (clientQueue) drain(clientQueue);
    client.reset();
    server.reset();
  }
}

// A failure of the session that arrives while no read is pending (here a record whose
// authentication fails) ends the socket with that failure, not as a closed connection.
TEST_P(TlsTest, ASessionFailureArrivingWhileNoReadIsPendingIsWhatTheSocketEndsWith) {
  auto recorder = std::make_shared<SecureRecorder>();
  connect(recorder);
  sock->startTLS(serverSettings(certificate));
  OpenSslClient tls(certificate, client->fd());
  ASSERT_TRUE(tls.connect());
  ASSERT_TRUE(events().waitForCount("secure", 1));
  std::string record("\x17\x03\x03\x00\x20", 5);
  record += std::string(32, '\x5a');
  client->send(record);
  client->shutdownWrite();
  ASSERT_TRUE(events().waitForCount("disconnect", 1));
  EXPECT_EQ(events().eventsStartingWith("disconnect"),
            std::vector<std::string>{"disconnect kCFStreamErrorDomainSSL -9846"});
}

TEST_P(TlsTest, SettingsThatCannotBeAppliedCloseWithTheStepThatFailed) {
  struct Case {
    const char* key;
    Value value;
    const char* text;
  };
  const Case cases[] = {
      {platform::kStreamSSLCertificates, Value(platform::Array{Value(Bytes{1, 2, 3})}),
       "Error in SSLSetCertificate"},
      {platform::kStreamSSLCertificates, Value("not an array"), "Error in SSLSetCertificate"},
      {kDispatchSocketSSLCipherSuites, Value(platform::Array{Value(0)}),
       "Error in SSLSetEnabledCiphers"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    connect(std::make_shared<SecureRecorder>());
    Dictionary settings = serverSettings(certificate);
    settings[c.key] = c.value;
    sock->startTLS(settings);
    ASSERT_TRUE(events().waitForCount("disconnect", 1));
    EXPECT_EQ(withoutAccept(events().events()),
              (std::vector<std::string>{"disconnect DispatchSocketErrorDomain 8"}));
    EXPECT_EQ(events().disconnectError()->localizedDescription(), c.text);
    client.reset();
    server.reset();
  }
}

// As the client, against an OpenSSL server presenting the fixture's self-signed certificate.
TEST_P(TlsTest, AsClientAnUntrustedCertificateIsRefusedUnlessTheSettingsRelaxTrust) {
  struct Case {
    const char* name;
    Dictionary settings;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"verified by default",
       {{platform::kStreamSSLPeerName, Value("localhost")}},
       {"connect", "disconnect kCFStreamErrorDomainSSL -9812"}},
      {"any root allowed",
       {{platform::kStreamSSLPeerName, Value("localhost")},
        {platform::kStreamSSLAllowsAnyRoot, Value(true)}},
       {"connect", "secure", "write 1", "read 2 pong\r\n"}},
      {"any root, but another name",
       {{platform::kStreamSSLPeerName, Value("elsewhere.invalid")},
        {platform::kStreamSSLAllowsAnyRoot, Value(true)}},
       {"connect", "disconnect kCFStreamErrorDomainSSL -9843"}},
      {"chain not validated",
       {{platform::kStreamSSLValidatesCertificateChain, Value(false)},
        {kDispatchSocketSSLProtocolVersionMax, Value("kTLSProtocol12")}},
       {"connect", "secure", "write 1", "read 2 pong\r\n"}},
      {"a minimum alone, an unknown maximum",
       {{platform::kStreamSSLAllowsAnyRoot, Value(true)},
        {kDispatchSocketSSLProtocolVersionMin, Value("kTLSProtocol1")},
        {kDispatchSocketSSLProtocolVersionMax, Value("kTLSProtocol99")}},
       {"connect", "secure", "write 1", "read 2 pong\r\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    socklen_t length = 0;
    auto address = socketAddress(GetParam(), 0, &length);
    int listener = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const std::uint16_t port =
        ntohs(address.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                           : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    std::thread peer([&] {
      int fd = ::accept(listener, nullptr, nullptr);
      SSL_CTX* context = certificate.newServerContext();
      SSL* ssl = SSL_new(context);
      SSL_set_fd(ssl, fd);
      if (SSL_accept(ssl) == 1) {
        char line[6];
        if (SSL_read(ssl, line, sizeof line) == 6) SSL_write(ssl, "pong\r\n", 6);
        SSL_shutdown(ssl);
      }
      SSL_free(ssl);
      SSL_CTX_free(context);
      ERR_clear_error();
      ::close(fd);
    });

    auto recorder = std::make_shared<SecureRecorder>();
    auto delegateQueue = platform::dispatch::Queue::serial("test.tls.client");
    auto tlsClient = DispatchSocket::create(recorder, delegateQueue);
    ASSERT_TRUE(tlsClient->connectToHost(GetParam(), port));
    tlsClient->startTLS(c.settings);
    tlsClient->writeData(SocketData("ping\r\n"), -1, 1);
    tlsClient->readDataToData(DispatchSocket::CRLFData(), -1, 2);
    ASSERT_TRUE(recorder->waitFor(
        [&](const std::vector<std::string>& seen) { return seen.size() >= c.expected.size(); }));
    auto seen = recorder->events();
    for (auto& event : seen) {
      if (event.rfind("connect", 0) == 0) event = "connect";
    }
    EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + c.expected.size()), c.expected);
    tlsClient->disconnect();
    peer.join();
    ::close(listener);
    drain(delegateQueue);
  }
}

// Both ends are DispatchSockets: the accepted one as the server (identity from PKCS#12), an
// outgoing one as the client. A large reply crosses many records and full send buffers.
TEST_P(TlsTest, TwoSocketsTalkTlsToEachOther) {
  auto serverRecorder = std::make_shared<SecureRecorder>();
  std::string reply(3 * 1024 * 1024 + 5, '\0');
  for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<char>('A' + i % 26);
  serverRecorder->onRead = [&reply](const std::shared_ptr<DispatchSocket>& s, const SocketData&,
                                    long) { s->writeData(SocketData(reply), -1, 20); };
  server = std::make_unique<Server>(GetParam(), serverRecorder);

  auto clientRecorder = std::make_shared<SecureRecorder>();
  auto delegateQueue = platform::dispatch::Queue::serial("test.tls.peer");
  auto tlsClient = DispatchSocket::create(clientRecorder, delegateQueue);
  ASSERT_TRUE(tlsClient->connectToHost(GetParam(), server->port));
  sock = server->accepted();
  ASSERT_TRUE(sock);
  Dictionary settings;
  settings[platform::kStreamSSLIsServer] = Value(true);
  settings[platform::kStreamSSLCertificates] = Value(platform::Array{Value(certificate.pkcs12())});
  sock->startTLS(settings);
  sock->readDataToData(DispatchSocket::CRLFData(), -1, 10);

  tlsClient->startTLS({{platform::kStreamSSLPeerName, Value("localhost")},
                       {platform::kStreamSSLAllowsAnyRoot, Value(true)}});
  tlsClient->writeData(SocketData("request\r\n"), -1, 1);
  tlsClient->readDataToLength(reply.size(), -1, 2);

  ASSERT_TRUE(clientRecorder->waitForCount("read", 1));
  ASSERT_TRUE(serverRecorder->waitForCount("write", 1));
  EXPECT_TRUE(clientRecorder->reads().at(0).toString() == reply);
  EXPECT_EQ(serverRecorder->eventsStartingWith("read"),
            (std::vector<std::string>{"read 10 request\r\n"}));
  EXPECT_EQ(clientRecorder->eventsStartingWith("secure").size(), 1u);
  EXPECT_EQ(serverRecorder->eventsStartingWith("secure").size(), 1u);
  EXPECT_TRUE(tlsClient->isSecure());

  // A closing peer ends the other side as a closed connection.
  tlsClient->disconnect();
  ASSERT_TRUE(serverRecorder->waitForCount("disconnect", 1));
  EXPECT_EQ(serverRecorder->eventsStartingWith("disconnect"),
            (std::vector<std::string>{"disconnect DispatchSocketErrorDomain 7"}));
  drain(delegateQueue);
}
