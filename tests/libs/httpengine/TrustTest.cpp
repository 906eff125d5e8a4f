// Server trust and client certificates over real TLS on loopback.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <fstream>
#include <thread>

#include "httpengine/HttpEngine.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/URLError.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"

namespace {

// A key pair and a self-signed certificate naming 127.0.0.1.
struct Identity {
  Identity() {
    key = EVP_EC_gen("prime256v1");
    certificate = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -60);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
    X509_set_pubkey(certificate, key);
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    X509_sign(certificate, key, EVP_sha256());
  }
  ~Identity() {
    X509_free(certificate);
    EVP_PKEY_free(key);
  }
  // Writes the identity as a PKCS#12 file protected by `password`.
  void writePkcs12(const std::string& path, const char* password) const {
    PKCS12* p12 = PKCS12_create(password, "client", key, certificate, nullptr, 0, 0, 0, 0, 0);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    i2d_PKCS12_fp(file, p12);
    std::fclose(file);
    PKCS12_free(p12);
  }
  EVP_PKEY* key = nullptr;
  X509* certificate = nullptr;
};

// An HTTPS server on 127.0.0.1 with a self-signed certificate; with `clientCA` it demands a
// client certificate signed by it.
class TlsServer {
 public:
  TlsServer(const Identity& server, const Identity* clientCA) {
    X509_STORE* store = nullptr;
    if (clientCA) {
      store = X509_STORE_new();
      X509_STORE_add_cert(store, clientCA->certificate);
    }
    server_ = std::make_unique<httplib::SSLServer>(server.certificate, server.key, store);
    server_->Get("/secret", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("secret", "text/plain");
    });
    // One request per connection, so stopping never waits for an idle keep-alive connection.
    server_->set_keep_alive_max_count(1);
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
  }
  ~TlsServer() {
    server_->stop();
    thread_.join();
  }
  std::string url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/secret"; }

 private:
  std::unique_ptr<httplib::SSLServer> server_;
  int port_ = 0;
  std::thread thread_;
};

struct Result {
  std::optional<std::string> body;
  std::optional<platform::Error> error;
  bool done() const { return body || error; }
};

Result fetch(const HttpOperation::Ptr& op) {
  auto engine = HttpEngine::create();
  Result result;
  op->addCompletionHandler(
      [&](const HttpOperation::Ptr& done) { result.body = done->responseString(); },
      [&](const HttpOperation::Ptr&, const platform::Error& e) { result.error = e; });
  engine->enqueueOperation(op);
  testsupport::runUntil([&] { return result.done(); });
  return result;
}

TEST(TrustTest, SelfSignedServerIsRefusedUnlessTheCallerAcceptsInvalidCertificates) {
  Identity identity;
  TlsServer server(identity, nullptr);

  auto strict = fetch(HttpOperation::make(server.url()));
  ASSERT_TRUE(strict.error);
  EXPECT_EQ(strict.error->domain(), "NSURLErrorDomain");
  EXPECT_EQ(strict.error->code(), platform::kURLErrorServerCertificateUntrusted);

  auto lenientOp = HttpOperation::make(server.url());
  lenientOp->setShouldContinueWithInvalidCertificate(true);
  auto lenient = fetch(lenientOp);
  EXPECT_EQ(lenient.body, "secret");
}

TEST(TrustTest, ClientCertificateFromPkcs12) {
  testsupport::TempHome home;
  Identity serverIdentity, clientIdentity;
  TlsServer server(serverIdentity, &clientIdentity);
  std::string p12 = home.path() + "/client.p12";
  clientIdentity.writePkcs12(p12, "pass");

  auto withCertificate = HttpOperation::make(server.url());
  withCertificate->setShouldContinueWithInvalidCertificate(true);
  withCertificate->setClientCertificate(p12);
  withCertificate->setClientCertificatePassword("pass");
  EXPECT_EQ(fetch(withCertificate).body, "secret");

  // A certificate that does not import cancels the challenge, and the request fails.
  auto wrongPassword = HttpOperation::make(server.url());
  wrongPassword->setShouldContinueWithInvalidCertificate(true);
  wrongPassword->setClientCertificate(p12);
  wrongPassword->setClientCertificatePassword("wrong");
  auto failed = fetch(wrongPassword);
  ASSERT_TRUE(failed.error);
  EXPECT_EQ(failed.error->code(), platform::kURLErrorUserCancelledAuthentication);

  auto without = HttpOperation::make(server.url());
  without->setShouldContinueWithInvalidCertificate(true);
  EXPECT_TRUE(fetch(without).error);
}

}  // namespace
