// Opening containers through openers and futures (non-default and fresh waits, time-outs, waits
// shared between openers), and data-layer events running every open container's tags.

#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"
#include "tagmanager/TagContainerSupport.h"
#include "tagmanager/TagLogRecorder.h"
#include "tagmanager/TagResourceMaker.h"
#include "tagmanager/container/TAGContainerOpener.h"
#include "tagmanager/manager/TAGManager.h"
#include "tagmanager/manager/TAGPreviewManager.h"

namespace {

using testsupport::ResourceMaker;
using testsupport::ScriptedReply;

constexpr double kHour = 3600.0;

tagpb::TAGPResource versioned(const std::string& version) {
  tagpb::TAGPResource resource;
  resource.set_version(version);
  return resource;
}

// Remembers the container it was told of and the container's refresh time at that moment.
class RecordingNotifier : public TAGContainerOpenerNotifier {
 public:
  void containerAvailable(const std::shared_ptr<TAGContainer>& container) override {
    ++count;
    this->container = container;
    refreshTimeWhenTold = container->lastRefreshTime();
  }
  int count = 0;
  std::shared_ptr<TAGContainer> container;
  double refreshTimeWhenTold = -1;
};

// A custom tag handler that records the tags it runs.
class RecordingTagHandler : public TAGFunctionCallTagHandler {
 public:
  void execute(const std::string& tagName, const TAGCustomParameters&) override {
    names.push_back(tagName);
  }
  std::vector<std::string> names;
};

class TAGManagerTest : public ::testing::Test {
 protected:
  ~TAGManagerTest() override {
    for (const auto& id : {"CTR-A", "CTR-B"}) {
      if (auto container = manager_->getContainerById(id)) container->close();
    }
    TAGManager::clearManagerInstance();
  }

  static void runFor(double seconds) {
    platform::RunLoop::main()->runFor(platform::seconds(seconds));
  }
  double nowMs() { return platform::toSeconds(clock_->now()) * 1000.0; }
  // The container server never answers.
  void serverStalls() {
    ScriptedReply stall;
    stall.behaviour = ScriptedReply::Behaviour::StallBeforeHead;
    server_.answer(stall);
  }

  testsupport::TempHome home_;
  platform::ScopedManualClock clock_;
  testsupport::TagLogRecorder log_;
  testsupport::ContainerServer server_;
  std::shared_ptr<TAGManager> manager_ = TAGManager::initWithSameInstance(false);
};

TEST_F(TAGManagerTest, FutureOfANonDefaultOpenIsDoneAtTheSavedCopy) {
  testsupport::writeSavedCopy("CTR-A", versioned("1"), nowMs() - 1000);
  serverStalls();
  auto future = TAGContainerOpener::openContainerWithId("CTR-A", manager_, 0, std::nullopt);
  ASSERT_NE(future, nullptr);
  EXPECT_FALSE(future->isDone());
  auto container = future->get();
  ASSERT_NE(container, nullptr);
  EXPECT_EQ(container, manager_->getContainerById("CTR-A"));
  EXPECT_FALSE(container->isDefault());
}

TEST_F(TAGManagerTest, NonDefaultOpenWithoutAnyContentTimesOutAfterTwoSeconds) {
  serverStalls();
  auto notifier = std::make_shared<RecordingNotifier>();
  TAGContainerOpener::openContainerWithId("CTR-A", manager_, 0, std::nullopt, notifier);
  ASSERT_TRUE(testsupport::runUntil([&] { return server_.requestCount() == 1; }))
      << "the saved-copy failure sends the container to the network, and is not enough";
  runFor(1.9);
  EXPECT_EQ(notifier->count, 0);
  runFor(0.2);
  EXPECT_EQ(notifier->count, 1);
  EXPECT_TRUE(notifier->container->isDefault());
}

TEST_F(TAGManagerTest, FreshOpenSkipsAStaleSavedCopyAndTakesTheNetworkAnswer) {
  testsupport::writeSavedCopy("CTR-A", versioned("1"), nowMs() - 13 * kHour * 1000);
  server_.answerResource(versioned("2"));
  auto notifier = std::make_shared<RecordingNotifier>();
  TAGContainerOpener::openContainerWithId("CTR-A", manager_, 1, 5.0, notifier);
  ASSERT_TRUE(testsupport::runUntil([&] { return notifier->count == 1; }));
  EXPECT_EQ(notifier->refreshTimeWhenTold, nowMs()) << "told at the network success";
  runFor(6);
  EXPECT_EQ(notifier->count, 1) << "told once; the time-out finds it told";
}

TEST_F(TAGManagerTest, FreshOpenTakesASavedCopyFromTheLast12Hours) {
  double stamp = nowMs() - 11 * kHour * 1000;
  testsupport::writeSavedCopy("CTR-A", versioned("1"), stamp);
  serverStalls();
  auto notifier = std::make_shared<RecordingNotifier>();
  TAGContainerOpener::openContainerWithId("CTR-A", manager_, 1, 5.0, notifier);
  ASSERT_TRUE(testsupport::runUntil([&] { return notifier->count == 1; }));
  EXPECT_EQ(notifier->refreshTimeWhenTold, stamp);
}

TEST_F(TAGManagerTest, FreshOpenIsToldOfANetworkFailureAndOfItsTimeOut) {
  server_.answer(ScriptedReply::text(500, ""));
  auto failed = std::make_shared<RecordingNotifier>();
  TAGContainerOpener::openContainerWithId("CTR-A", manager_, 1, 5.0, failed);
  ASSERT_TRUE(testsupport::runUntil([&] { return failed->count == 1; }));
  EXPECT_TRUE(failed->container->isDefault());

  serverStalls();
  auto timedOut = std::make_shared<RecordingNotifier>();
  TAGContainerOpener::openContainerWithId("CTR-B", manager_, 1, 3.0, timedOut);
  runFor(2.9);
  EXPECT_EQ(timedOut->count, 0);
  runFor(0.2);
  EXPECT_EQ(timedOut->count, 1);
}

TEST_F(TAGManagerTest, OpenersOfOneIdAreToldTogetherOrAtOnce) {
  serverStalls();
  auto first = std::make_shared<RecordingNotifier>();
  auto second = std::make_shared<RecordingNotifier>();
  TAGContainerOpener::openContainerWithId("CTR-A", manager_, 0, 1.0, first);
  TAGContainerOpener::openContainerWithId("CTR-A", manager_, 0, 30.0, second);
  runFor(1.1);
  EXPECT_EQ(first->count, 1);
  EXPECT_EQ(second->count, 1) << "told together with the first";

  auto third = std::make_shared<RecordingNotifier>();
  TAGContainerOpener::openContainerWithId("CTR-A", manager_, 0, 30.0, third);
  EXPECT_EQ(third->count, 1) << "already told: handed over at once";
  EXPECT_EQ(third->container, first->container);
}

TEST_F(TAGManagerTest, OpenerArgumentsAreChecked) {
  EXPECT_EQ(TAGContainerOpener::openContainerWithId(std::nullopt, manager_, 0, std::nullopt),
            nullptr);
  EXPECT_EQ(TAGContainerOpener::openContainerWithId("CTR-A", nullptr, 0, std::nullopt), nullptr);
  TAGContainerOpener::openContainerWithId("CTR-A", manager_, 0, std::nullopt, nullptr);
  EXPECT_EQ(log_.lines("error"),
            (std::vector<std::string>{"containerId must be non-nil", "tagManager must be non-nil",
                                      "notifier must be non-nil"}));
  EXPECT_EQ(manager_->getContainerById("CTR-A"), nullptr);

  serverStalls();
  auto opener = TAGContainerOpener::initWithContainerId("CTR-A", manager_, 150.0,
                                                        std::make_shared<RecordingNotifier>());
  EXPECT_EQ(opener->timeout(), 150.0);
  EXPECT_EQ(log_.lines("warning").back(),
            "Excessive timeout detected (150.000000). Timeout should be in seconds.");
  EXPECT_EQ(TAGContainerOpener::initWithContainerId("CTR-A", manager_, std::nullopt,
                                                    std::make_shared<RecordingNotifier>())
                ->timeout(),
            2.0);
}

TEST_F(TAGManagerTest, AnEventRunsTheTagsOfEveryOpenContainer) {
  ResourceMaker r;
  int eventName = r.string("event");
  *r.resource.add_macro() =
      r.call(r.functionId("_e"), {r.property(r.key("instance_name"), eventName)});
  int isGo = r.addPredicate("_eq", r.macroReference(eventName), r.string("go"));
  int tag = r.addTag("_func", {{"function_call_macro_name", r.string("recorder")}});
  r.addRule({isGo}, {tag});
  r.resource.set_version("1");
  server_.answerResource(r.resource);

  auto recorderA = std::make_shared<testsupport::ContainerCallbackRecorder>();
  auto recorderB = std::make_shared<testsupport::ContainerCallbackRecorder>();
  auto a = manager_->openContainerById("CTR-A", recorderA);
  auto b = manager_->openContainerById("CTR-B", recorderB);
  ASSERT_TRUE(testsupport::runUntil(
      [&] { return recorderA->heard("success:1") && recorderB->heard("success:1"); }));
  auto handlerA = std::make_shared<RecordingTagHandler>();
  auto handlerB = std::make_shared<RecordingTagHandler>();
  a->registerFunctionCallTagHandler(handlerA, "recorder");
  b->registerFunctionCallTagHandler(handlerB, "recorder");

  manager_->dataLayer()->push({{"page", platform::Value("home")}});
  manager_->dataLayer()->push({{"event", platform::Value("stay")}});
  EXPECT_TRUE(handlerA->names.empty());
  manager_->dataLayer()->push({{"event", platform::Value("go")}});
  EXPECT_EQ(handlerA->names, (std::vector<std::string>{"recorder"}));
  EXPECT_EQ(handlerB->names, (std::vector<std::string>{"recorder"}));
}

TEST(TAGManagerInstanceTest, SharedManagerIsKeptUnlessReplacedOrCleared) {
  auto shared = TAGManager::instance();
  EXPECT_EQ(TAGManager::instance(), shared);
  EXPECT_EQ(TAGManager::initWithSameInstance(true), shared);
  auto replaced = TAGManager::initWithSameInstance(false);
  EXPECT_NE(replaced, shared);
  EXPECT_EQ(TAGManager::instance(), replaced);
  TAGManager::clearManagerInstance();
  EXPECT_NE(TAGManager::instance(), replaced);
  TAGManager::clearManagerInstance();
}

}  // namespace
