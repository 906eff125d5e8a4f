#include <gtest/gtest.h>

#include "fakeserver/FakeCourseServer.h"
#include "net/CheckVersion.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/RunLoop.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"

namespace {

class RecordingUI : public CheckVersionUI {
 public:
  void showAlert(const Alert& alert, ButtonHandler onButton) override {
    alerts.push_back(alert);
    handlers.push_back(std::move(onButton));
  }
  void openURL(const std::string& url) override { opened.push_back(url); }

  std::vector<Alert> alerts;
  std::vector<ButtonHandler> handlers;
  std::vector<std::string> opened;
};

class CheckVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start());
    CheckVersion::setEndpoints(server.apiHost(), "apps.store.test", "42");
    CheckVersion::setUI(ui);
    previousVersion = platform::Bundle::main().version();
  }
  void TearDown() override {
    CheckVersion::setUI(nullptr);
    platform::Bundle::main().setInfo("CFBundleVersion", previousVersion);
  }

  // Runs one check against the fake store with `local` as the bundle version.
  void check(const std::string& local) {
    platform::Bundle::main().setInfo("CFBundleVersion", local);
    bool done = false;
    CheckVersion::checkVersion([&] { done = true; });
    ASSERT_TRUE(testsupport::runUntil([&] { return done; }));
  }

  testsupport::TempHome home;
  fakeserver::FakeCourseServer server;
  std::shared_ptr<RecordingUI> ui = std::make_shared<RecordingUI>();
  std::string previousVersion;
};

TEST_F(CheckVersionTest, ANewerStoreVersionOffersTheUpdate) {
  check("1.2.9");  // the store fixture answers 1.2.10
  auto lookups = server.requestsTo("/lookup");
  ASSERT_EQ(lookups.size(), 1u);
  EXPECT_EQ(lookups[0].method, "GET");
  EXPECT_EQ(lookups[0].param("id"), "42");
  ASSERT_EQ(ui->alerts.size(), 1u);
  EXPECT_EQ(ui->alerts[0].title, "有新的版本");
  EXPECT_EQ(ui->alerts[0].message, "发现新版本(1.2.10),是否进行更新？");
  EXPECT_EQ(ui->alerts[0].cancelButtonTitle, "以后再说");
  EXPECT_EQ(ui->alerts[0].otherButtonTitles, std::vector<std::string>{"下载更新"});
  ASSERT_TRUE(ui->handlers[0]);

  ui->handlers[0](0);  // "以后再说"
  EXPECT_TRUE(ui->opened.empty());
  ui->handlers[0](1);  // "下载更新"
  EXPECT_EQ(ui->opened, std::vector<std::string>{"https://apps.store.test/app/id42"});
}

TEST_F(CheckVersionTest, AnEqualOrLaterLocalVersionIsTheLatest) {
  for (const char* local : {"1.2.10", "1.10", "2.0"}) {
    ui->alerts.clear();
    check(local);
    ASSERT_EQ(ui->alerts.size(), 1u) << local;
    EXPECT_EQ(ui->alerts[0].title, "当前版本为最新版本");
    EXPECT_FALSE(ui->alerts[0].message.has_value());
    EXPECT_EQ(ui->alerts[0].cancelButtonTitle, "确定");
    EXPECT_TRUE(ui->alerts[0].otherButtonTitles.empty());
    EXPECT_FALSE(ui->handlers[0]);
  }
}

TEST_F(CheckVersionTest, AnswersWithoutAMatchShowNothing) {
  const std::pair<int, const char*> answers[] = {
      {200, "{\"resultCount\": 0, \"results\": []}"},
      {200, "{\"resultCount\": 1}"},
      {200, "{\"results\": [{\"trackName\": \"x\"}]}"},
      {200, "{\"results\": {\"version\": \"9.9\"}}"},
      {200, "not json"},
      {200, ""},
      {404, "<html>not found</html>"},
  };
  for (const auto& [status, body] : answers) {
    server.setAnswer("/lookup", status, body);
    check("1.0");
    EXPECT_TRUE(ui->alerts.empty()) << body;
  }
}

TEST_F(CheckVersionTest, ATransportFailureShowsNothing) {
  server.stop();
  check("1.0");
  EXPECT_TRUE(ui->alerts.empty());
}

}  // namespace
