#include <gtest/gtest.h>
#include <httplib.h>

#include <string>
#include <vector>

#include "LoopbackServer.h"
#include "platform/foundation/RunLoop.h"
#include "platform/media/WebView.h"
#include "platform/net/URLError.h"
#include "support/Files.h"
#include "support/TempHome.h"

namespace platform {
namespace {

using mediatest::LoopbackServer;

const char* const kPage = "<html><head><title>讲义</title></head><body>第一讲</body></html>";

class Recorder : public WebViewDelegate {
 public:
  void webViewDidStartLoad(WebView&) override { events.push_back("start"); }
  void webViewDidFinishLoad(WebView&) override { events.push_back("finish"); }
  void webViewDidFailLoadWithError(WebView&, const Error& e) override {
    events.push_back("fail");
    error = e;
  }
  bool ended() const {
    return !events.empty() && (events.back() == "finish" || events.back() == "fail");
  }

  std::vector<std::string> events;
  std::optional<Error> error;
};

class WebViewTest : public ::testing::Test {
 protected:
  void load(const std::string& url) {
    web->loadRequest(URLRequest(url));
    ASSERT_TRUE(RunLoop::main()->runUntil([&] { return delegate->ended(); })) << url;
  }
  // Writes a page into the test's home folder and answers its path.
  std::string writePage(const std::string& name, const std::string& content) {
    std::string path = home.path() + "/" + name;
    testsupport::writeFile(path, content);
    return path;
  }

  testsupport::TempHome home;
  std::shared_ptr<WebView> web = WebView::create(Rect{480, 0, 480, 212});
  std::shared_ptr<Recorder> delegate = std::make_shared<Recorder>();
  void SetUp() override { web->setDelegate(delegate); }
};

TEST_F(WebViewTest, LoadsAPageFromTheServer) {
  LoopbackServer server([](httplib::Server& s) {
    s.Get("/notes/leture.htm", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(kPage, "text/html; charset=utf-8");
    });
  });
  std::string url = server.url("/notes/leture.htm");
  web->loadRequest(URLRequest(url));
  EXPECT_TRUE(web->isLoading());
  EXPECT_EQ(delegate->events, std::vector<std::string>{"start"});
  ASSERT_TRUE(RunLoop::main()->runUntil([&] { return delegate->ended(); }));

  EXPECT_EQ(delegate->events, (std::vector<std::string>{"start", "finish"}));
  EXPECT_FALSE(web->isLoading());
  EXPECT_EQ(web->loadedHTML(), kPage);
  EXPECT_EQ(web->statusCode(), 200);
  ASSERT_TRUE(web->request());
  EXPECT_EQ(web->request()->url(), url);
}

TEST_F(WebViewTest, AnErrorPageStillLoadsAsTheServerSentIt) {
  LoopbackServer server([](httplib::Server&) {});
  load(server.url("/missing.htm"));
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"start", "finish"}));
  EXPECT_EQ(web->statusCode(), 404);
}

TEST_F(WebViewTest, FailsOnAPortThatRefusesConnections) {
  mediatest::RefusingPort refusing;
  load("http://127.0.0.1:" + std::to_string(refusing.port()) + "/leture.htm");
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"start", "fail"}));
  ASSERT_TRUE(delegate->error);
  EXPECT_EQ(delegate->error->domain(), kURLErrorDomain);
  EXPECT_EQ(delegate->error->code(), kURLErrorCannotConnectToHost);
  EXPECT_EQ(web->loadedHTML(), "");
  EXPECT_FALSE(web->isLoading());
}

TEST_F(WebViewTest, LoadsAFileFromDiskAndFailsOnAMissingOne) {
  std::string path = writePage("leture page.htm", kPage);
  load("file://" + path.substr(0, path.rfind(' ')) + "%20page.htm");
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"start", "finish"}));
  EXPECT_EQ(web->loadedHTML(), kPage);

  load("file://" + home.path() + "/absent.htm");
  EXPECT_EQ(delegate->events.back(), "fail");
  EXPECT_EQ(delegate->error->code(), -1100);
  EXPECT_EQ(web->loadedHTML(), kPage) << "a failed load keeps the page that was loaded";

  load("file://" + home.path());
  EXPECT_EQ(delegate->events.back(), "fail");
  EXPECT_EQ(delegate->error->code(), -1101);
}

TEST_F(WebViewTest, ANewLoadReplacesTheOneUnderWaySilently) {
  std::string first = writePage("first.htm", "first");
  std::string second = writePage("second.htm", "second");
  web->loadRequest(URLRequest("file://" + first));
  load("file://" + second);
  EXPECT_EQ(delegate->events, (std::vector<std::string>{"start", "start", "finish"}));
  EXPECT_EQ(web->loadedHTML(), "second");

  web->loadRequest(URLRequest("file://" + first));
  web->stopLoading();
  EXPECT_FALSE(web->isLoading());
  load("file://" + second);
  EXPECT_EQ(delegate->events.size(), 6u);
  EXPECT_EQ(web->loadedHTML(), "second");
}

TEST_F(WebViewTest, AViewGoneBeforeItsPageArrivesHearsNothing) {
  std::string page = writePage("page.htm", kPage);
  web->loadRequest(URLRequest("file://" + page));
  web.reset();
  auto probe = WebView::create();
  auto probeDelegate = std::make_shared<Recorder>();
  probe->setDelegate(probeDelegate);
  probe->loadRequest(URLRequest("file://" + page));
  ASSERT_TRUE(RunLoop::main()->runUntil([&] { return probeDelegate->ended(); }));
  EXPECT_EQ(delegate->events, std::vector<std::string>{"start"});
}

}  // namespace
}  // namespace platform
