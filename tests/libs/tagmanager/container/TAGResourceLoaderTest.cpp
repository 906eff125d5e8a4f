// Fetching a container from a loopback container server, the fetch URL, the pending-load
// schedule on the manual clock, and preview links.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "support/MainLoop.h"
#include "support/ScriptedServer.h"
#include "tagmanager/TagLoadRecorder.h"
#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/base/TAGServerConfig.h"
#include "tagmanager/container/TAGResourceLoader.h"
#include "tagmanager/container/TAGResourceLoaderScheduler.h"
#include "tagmanager/manager/TAGPreviewManager.h"

namespace {

using testsupport::ScriptedReply;
using testsupport::ScriptedRequest;
using testsupport::ScriptedServer;
using Recorder = testsupport::TagLoadRecorder<tagpb::TAGPResource>;

std::string optionalResourceBytes(const std::string& version) {
  tagpb::TAGPOptionalResource answer;
  answer.mutable_resource()->set_version(version);
  return answer.SerializeAsString();
}

class TAGResourceLoaderTest : public ::testing::Test {
 protected:
  explicit TAGResourceLoaderTest() : server_([this](const ScriptedRequest&) { return reply_; }) {
    TAGServerConfig::setContainerServer("http://127.0.0.1:" + std::to_string(server_.port()));
  }
  ~TAGResourceLoaderTest() override { TAGServerConfig::setContainerServer(""); }

  // Fetches once with `reply` and waits for the outcome.
  std::vector<std::string> fetch(ScriptedReply reply) {
    reply_ = std::move(reply);
    auto loader = TAGResourceLoader::create("CTR-ABC");
    loader->setCallback(recorder_);
    loader->loadResourceAsync();
    EXPECT_TRUE(testsupport::runUntil([&] { return recorder_->count() == 2; }));
    return recorder_->events();
  }

  testsupport::TagLogRecorder log_;
  ScriptedReply reply_;
  ScriptedServer server_;
  std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
};

TEST_F(TAGResourceLoaderTest, UrlCarriesIdVersionAndOnlyANonBlankPreviousVersion) {
  auto loader = TAGResourceLoader::create("CTR-ABC");
  loader->setCtfeServerAddress("https://tags.example");
  EXPECT_EQ(TAGResourceLoader::sdkVersion(), "i50809091");
  struct Case {
    std::optional<std::string> previous;
    std::string expected;
  };
  const Case cases[] = {
      {std::nullopt, "https://tags.example/r?id=CTR-ABC&v=i50809091"},
      {"", "https://tags.example/r?id=CTR-ABC&v=i50809091"},
      {" \n\t", "https://tags.example/r?id=CTR-ABC&v=i50809091"},
      {"7", "https://tags.example/r?id=CTR-ABC&v=i50809091&pv=7"},
      // What the server sent is one query value, whatever it holds.
      {" 7 ", "https://tags.example/r?id=CTR-ABC&v=i50809091&pv=%207%20"},
      {"1 &x=y#z", "https://tags.example/r?id=CTR-ABC&v=i50809091&pv=1%20%26x%3Dy%23z"},
      {"\xff", "https://tags.example/r?id=CTR-ABC&v=i50809091"},
  };
  for (const auto& c : cases) {
    loader->setPreviousVersion(c.previous);
    EXPECT_EQ(loader->ctfeUrl(), c.expected) << c.previous.value_or("(none)");
  }
  loader->setPreviousVersion(std::nullopt);
  loader->setCtfeUrlPathAndQuery("/r?id=CTR-ABC&ctr_auth=x&ctr_preview=5");
  EXPECT_EQ(loader->ctfeUrl(),
            "https://tags.example/r?id=CTR-ABC&ctr_auth=x&ctr_preview=5&v=i50809091");
  loader->setCtfeUrlPathAndQuery(std::nullopt);
  EXPECT_EQ(loader->ctfeUrl(), "https://tags.example/r?id=CTR-ABC&v=i50809091");

  auto oddId = TAGResourceLoader::create("CTR A&b");
  oddId->setCtfeServerAddress("https://tags.example");
  EXPECT_EQ(oddId->ctfeUrl(), "https://tags.example/r?id=CTR%20A%26b&v=i50809091");
}

TEST_F(TAGResourceLoaderTest, AnswerWithAResourceIsASuccess) {
  EXPECT_EQ(fetch(ScriptedReply::text(200, optionalResourceBytes("12"))),
            (std::vector<std::string>{"start", "success"}));
  EXPECT_EQ(recorder_->last()->version(), "12");
  ASSERT_EQ(server_.requestCount(), 1u);
  EXPECT_EQ(server_.requests()[0].target, "/r?id=CTR-ABC&v=i50809091");
  EXPECT_EQ(log_.lines("verbose").back(), "Load resource from network finished");
}

TEST_F(TAGResourceLoaderTest, OutcomesByAnswer) {
  struct Case {
    ScriptedReply reply;
    std::string outcome;
    bool finishedLogged;
  };
  const Case cases[] = {
      {ScriptedReply::text(200, ""), "success:none", true},
      {ScriptedReply::text(200, "\xff\xff\xff garbage"), "failure:3", true},
      {ScriptedReply::text(404, "missing"), "failure:3", false},
      {ScriptedReply::text(500, "broken"), "failure:2", false},
  };
  for (const auto& c : cases) {
    recorder_ = std::make_shared<Recorder>();
    log_.clear();
    auto events = fetch(c.reply);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1], c.outcome) << c.reply.status;
    auto verbose = log_.lines("verbose");
    bool finished = std::find(verbose.begin(), verbose.end(),
                              "Load resource from network finished") != verbose.end();
    EXPECT_EQ(finished, c.finishedLogged) << c.reply.status;
  }
  auto warnings = log_.lines("warning");
  ASSERT_FALSE(warnings.empty());
  EXPECT_EQ(warnings.back(),
            "Error when loading resources from url: " + TAGServerConfig::containerServer() +
                "/r?id=CTR-ABC&v=i50809091 status code = 500");
}

TEST_F(TAGResourceLoaderTest, AnAnswerLongerThanAContainerCanBeIsAFailedFetch) {
  struct Case {
    std::size_t versionBytes;
    std::string outcome;
  };
  const Case cases[] = {
      {1u << 20, "success"},
      {TAGResourceLoader::kMaxContainerBytes + 1, "failure:1"},
  };
  for (const auto& c : cases) {
    recorder_ = std::make_shared<Recorder>();
    auto events =
        fetch(ScriptedReply::text(200, optionalResourceBytes(std::string(c.versionBytes, '9'))));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1], c.outcome) << c.versionBytes;
  }
}

TEST_F(TAGResourceLoaderTest, NotFoundNamesTheUrlAndTheContainer) {
  fetch(ScriptedReply::text(404, ""));
  EXPECT_EQ(log_.lines("warning").back(),
            "No data was retrieved from the given url:" + TAGServerConfig::containerServer() +
                "/r?id=CTR-ABC&v=i50809091. Make sure container_id:CTR-ABC is correct.");
}

TEST_F(TAGResourceLoaderTest, NoConnectionIsFailureOne) {
  reply_.behaviour = ScriptedReply::Behaviour::CloseBeforeHead;
  auto events = fetch(reply_);
  EXPECT_EQ(events, (std::vector<std::string>{"start", "failure:1"}));
}

TEST_F(TAGResourceLoaderTest, ConnectionCallbacksOffTheStartingThreadFailAnAssertion) {
  reply_ = ScriptedReply{};
  auto loader = TAGResourceLoader::create("CTR-ABC");
  loader->setCallback(recorder_);
  loader->loadResourceAsync();
  auto stray = platform::URLConnection::make(platform::URLRequest("http://127.0.0.1:1/"), {});
  std::vector<std::string> refused;
  std::thread([&] {
    const std::vector<std::pair<std::string, std::function<void()>>> calls = {
        {"response", [&] { loader->connectionDidReceiveResponse(*stray, {}); }},
        {"data", [&] { loader->connectionDidReceiveData(*stray, {}); }},
        {"failure", [&] { loader->connectionDidFailWithError(*stray, {}); }},
        {"finish", [&] { loader->connectionDidFinishLoading(*stray); }},
    };
    for (const auto& [name, call] : calls) {
      try {
        call();
      } catch (const platform::AssertionFailure&) {
        refused.push_back(name);
      }
    }
  }).join();
  EXPECT_EQ(refused, (std::vector<std::string>{"response", "data", "failure", "finish"}));
  // The fetch itself, answered on the starting thread, ends as ever.
  EXPECT_TRUE(testsupport::runUntil([&] { return recorder_->count() == 2; }));
}

class TAGResourceLoaderSchedulerTest : public TAGResourceLoaderTest {
 protected:
  platform::ScopedManualClock clock_;
};

TEST_F(TAGResourceLoaderSchedulerTest, OnlyTheLastScheduleFiresWithItsSettings) {
  reply_ = ScriptedReply::text(200, optionalResourceBytes("3"));
  auto scheduler = TAGResourceLoaderScheduler::create("CTR-ABC");
  scheduler->setLoadCallback(recorder_);
  scheduler->setCtfeUrlPathAndQuery("/r?id=CTR-ABC&ctr_auth=a&ctr_preview=1");
  scheduler->loadAfterDelay(1000, "1");
  scheduler->loadAfterDelay(5000, "2");

  platform::RunLoop::main()->runFor(platform::seconds(4.9));
  EXPECT_EQ(server_.requestCount(), 0u);
  platform::RunLoop::main()->runFor(platform::seconds(0.2));
  ASSERT_TRUE(testsupport::runUntil([&] { return recorder_->count() == 2; }));
  ASSERT_EQ(server_.requestCount(), 1u);
  EXPECT_EQ(server_.requests()[0].target,
            "/r?id=CTR-ABC&ctr_auth=a&ctr_preview=1&v=i50809091&pv=2");
  EXPECT_FALSE(scheduler->hasPendingLoad());
}

TEST_F(TAGResourceLoaderSchedulerTest, CloseCancelsThePendingLoad) {
  auto scheduler = TAGResourceLoaderScheduler::create("CTR-ABC");
  scheduler->setLoadCallback(recorder_);
  scheduler->loadAfterDelay(0, std::nullopt);
  scheduler->close();
  platform::RunLoop::main()->runFor(platform::seconds(1));
  EXPECT_EQ(server_.requestCount(), 0u);
  EXPECT_EQ(recorder_->count(), 0u);
}

TEST_F(TAGResourceLoaderSchedulerTest, FiringWithoutACallbackIsAnIllegalState) {
  auto scheduler = TAGResourceLoaderScheduler::create("CTR-ABC");
  try {
    scheduler->requestResource();
    FAIL() << "no exception";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.name(), "IllegalStateException");
    EXPECT_STREQ(e.what(), "Callback must be set before scheduleTaskWithDelay is called.");
  }
}

TEST(TAGPreviewManagerTest, LinksStartAndEndAPreview) {
  testsupport::TagLogRecorder log;
  auto& preview = TAGPreviewManager::instance();
  preview.clear();
  struct Case {
    std::string url;
    bool accepted;
    std::int32_t mode;
  };
  const Case cases[] = {
      {"tagmanager.c.com.example.app://preview/p?id=CTR-1&tm_auth=xyz&tm_preview=12", true, 1},
      // Any character stands where the dots are.
      {"tagmanagerXcYcom.example.app://preview/p?id=CTR-1&tm_auth=xyz&tm_preview=12", true, 1},
      {"tagmanager.c.app://preview/p?id=CTR-1&tm_auth=xyz&tm_preview=12x", false, 1},
      {"tagmanager.c.app://preview/p?id=CTR-2&tm_preview=", false, 1},
      {"http://example.com/", false, 1},
      {"tagmanager.c.app://preview/p?id=CTR-1&tm_preview=", true, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(preview.generatePreviewDataForUrl(c.url), c.accepted) << c.url;
    EXPECT_EQ(preview.previewMode(), c.mode) << c.url;
  }
  EXPECT_EQ(preview.containerId(), "CTR-1");
  EXPECT_EQ(preview.ctfeUrlPath(), std::nullopt);
  EXPECT_FALSE(preview.generatePreviewDataForUrl(std::nullopt));
  auto info = log.lines("info");
  EXPECT_NE(
      std::find(info.begin(), info.end(), "Not a tag manager Preview Url = http://example.com/"),
      info.end());
  preview.clear();
}

TEST(TAGPreviewManagerTest, PreviewsOnlyTheLinkedContainerWithTheLinkQuery) {
  auto& preview = TAGPreviewManager::instance();
  // A blank where the link needs non-blank text.
  EXPECT_FALSE(preview.generatePreviewDataForUrl(
      "tagmanager.c.app://preview/p?id=CTR-1&tm_auth=a b&tm_preview=3"));
  EXPECT_FALSE(preview.isPreviewingContainer("CTR-1"));
  ASSERT_TRUE(preview.generatePreviewDataForUrl(
      "tagmanager.c.app://preview/p?id=CTR-1&tm_auth=ab&tm_preview=3"));
  EXPECT_TRUE(preview.isPreviewingContainer("CTR-1"));
  EXPECT_FALSE(preview.isPreviewingContainer("CTR-2"));
  EXPECT_EQ(preview.ctfeUrlPath(), "/r?id=CTR-1&tm_auth=ab&tm_preview=3");
  EXPECT_EQ(TAGPreviewManager::containerIdForQuery("id=CTR-9&x=1"), "CTR-9");
  // A long link that almost matches is refused within the expression's limits.
  std::string longLink = "tagmanager.c.app://preview/p?id=" + std::string(1 << 16, 'a');
  for (int i = 0; i < 200; ++i) longLink += "&tm_auth=x";
  EXPECT_FALSE(preview.generatePreviewDataForUrl(longLink + "&tm_preview=1x"));
  EXPECT_TRUE(preview.isPreviewingContainer("CTR-1"));
  preview.clear();
  EXPECT_FALSE(preview.isPreviewingContainer("CTR-1"));
}

}  // namespace
