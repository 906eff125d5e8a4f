// A secure media server: a connection that says it is secure starts TLS on its socket before
// reading, with the identity it hands over; curl fetches a file over HTTPS with the fixture's
// certificate as its trust anchor, and a plain-text client gets no answer in the clear.

#include <gtest/gtest.h>

#include <filesystem>

#include "HttpServerTestSupport.h"
#include "httpserver/core/HTTPConnection.h"
#include "httpserver/core/HTTPServer.h"
#include "platform/foundation/Paths.h"
#include "support/Files.h"
#include "support/TempHome.h"
#include "support/TestCertificate.h"

namespace {

using httpservertest::RawClient;
using httpservertest::run;
using testsupport::writeFile;

class SecureConnection : public HTTPConnection {
  CH_SHARED_OBJECT(SecureConnection)

 public:
  static std::string& identityPEM() {
    static auto* pem = new std::string();
    return *pem;
  }

 protected:
  using HTTPConnection::HTTPConnection;
  bool isSecureServer() override { return true; }
  platform::Array sslIdentityAndCertificates() override {
    const std::string& pem = identityPEM();
    return {platform::Value(platform::Bytes(pem.begin(), pem.end()))};
  }
};

class HTTPSConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = platform::Paths::documents() + "/secure";
    std::filesystem::create_directories(root);
    content = httpservertest::patternBytes(200000, 3);
    writeFile(root + "/lecture.ts", content);
    SecureConnection::identityPEM() = certificate.pem();
    caFile = home.path() + "/ca.pem";
    writeFile(caFile, certificate.certificatePEM());
    server =
        httpservertest::startServer(root, &HTTPConnection::initWithAsyncSocket<SecureConnection>);
    ASSERT_TRUE(server);
    port = server->listeningPort();
  }
  void TearDown() override {
    if (server) server->stop();
  }

  testsupport::TempHome home;
  testsupport::TestCertificate certificate{"localhost"};
  std::string root;
  std::string content;
  std::string caFile;
  std::shared_ptr<HTTPServer> server;
  std::uint16_t port = 0;
};

TEST_F(HTTPSConnectionTest, CurlGetsTheFileOverHttpsTrustingTheFixtureCertificate) {
  const std::string got = home.path() + "/got.ts";
  auto result = run("curl -s --cacert " + caFile + " -o " + got + " -w '%{http_code}' https://" +
                    "localhost:" + std::to_string(port) +
                    "/lecture.ts --resolve localhost:" + std::to_string(port) + ":127.0.0.1");
  EXPECT_EQ(result.output, "200");
  EXPECT_TRUE(testsupport::readFile(got) == content);
}

TEST_F(HTTPSConnectionTest, AClientThatDoesNotTrustTheCertificateGetsNothing) {
  auto result =
      run("curl -s -o /dev/null -w '%{http_code}' https://localhost:" + std::to_string(port) +
          "/lecture.ts --resolve localhost:" + std::to_string(port) + ":127.0.0.1");
  EXPECT_EQ(result.output, "000");
  EXPECT_NE(result.status, 0);
}

TEST_F(HTTPSConnectionTest, APlainRequestIsNotAnsweredInTheClear) {
  RawClient client(port);
  client.send("GET /lecture.ts HTTP/1.1\r\nHost: a\r\n\r\n");
  // The server reads the request as a broken handshake and closes without an HTTP answer.
  EXPECT_EQ(client.readToEnd().find("HTTP/1.1"), std::string::npos);
}

}  // namespace
