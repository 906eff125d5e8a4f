// The whole road of a tag: a container opened against a loopback container server; a data-layer
// push of an "event" fires its image-pixel tag, whose hit reaches a loopback pixel endpoint, and
// its analytics tag, whose hit reaches the analytics collection endpoint.

#include <gtest/gtest.h>

#include "analytics/Analytics.h"
#include "analytics/AnalyticsServerConfig.h"
#include "platform/foundation/Clock.h"
#include "platform/net/FakeReachabilitySource.h"
#include "support/MainLoop.h"
#include "support/TempHome.h"
#include "tagmanager/TagContainerSupport.h"
#include "tagmanager/TagPixelSupport.h"
#include "tagmanager/TagResourceMaker.h"
#include "tagmanager/container/TAGContainerOpener.h"
#include "tagmanager/manager/TAGManager.h"
#include "tagmanager/pixel/TAGDispatcher.h"

namespace {

using testsupport::ResourceMaker;
using testsupport::ScriptedReply;
using testsupport::ScriptedRequest;
using testsupport::ScriptedServer;

class TAGEndToEndTest : public ::testing::Test {
 protected:
  TAGEndToEndTest()
      : pixelEndpoint_([](const ScriptedRequest&) { return ScriptedReply::text(204, ""); }),
        collectionEndpoint_([](const ScriptedRequest&) { return ScriptedReply::text(200, ""); }) {
    TAGServerConfig::setPixelHost("127.0.0.1");
    std::string origin = "http://127.0.0.1:" + std::to_string(collectionEndpoint_.port());
    AnalyticsServerConfig::setSecureHost(origin);
    AnalyticsServerConfig::setPlainHost(origin);
    Analytics::sharedInstance()->reset();
  }
  ~TAGEndToEndTest() override {
    if (auto container = manager_->getContainerById("CTR-E2E")) container->close();
    TAGManager::clearManagerInstance();
    Analytics::sharedInstance()->reset();
    AnalyticsServerConfig::setSecureHost("");
    AnalyticsServerConfig::setPlainHost("");
    TAGServerConfig::setPixelHost("");
  }

  // Fires, on the event "purchase", a pixel to the pixel endpoint and an analytics event.
  tagpb::TAGPResource container() {
    ResourceMaker r;
    int eventName = r.string("event");
    *r.resource.add_macro() =
        r.call(r.functionId("_e"), {r.property(r.key("instance_name"), eventName)});
    int isPurchase = r.addPredicate("_eq", r.macroReference(eventName), r.string("purchase"));
    int pixel = r.addTag("_img", {{"url", r.string(pixelEndpoint_.url("/px?c=1"))}});
    int analytics =
        r.addTag("_ua", {{"analytics_pass_through", r.boolean(true)},
                         {"analytics_fields", r.stringMap({{"&t", r.string("event")},
                                                           {"&ec", r.string("shop")},
                                                           {"&ea", r.string("purchase")}})}});
    r.addRule({isPurchase}, {pixel, analytics});
    r.resource.set_version("42");
    return r.resource;
  }

  testsupport::TempHome home_;
  platform::ScopedManualClock clock_;
  platform::ScopedFakeReachability reachability_;
  ScriptedServer pixelEndpoint_;
  ScriptedServer collectionEndpoint_;
  testsupport::ContainerServer containerServer_;
  std::shared_ptr<TAGManager> manager_ = TAGManager::instance();
};

TEST_F(TAGEndToEndTest, AnEventPushFiresThePixelAndTheAnalyticsTag) {
  containerServer_.answerResource(container());
  auto future = TAGContainerOpener::openContainerWithId("CTR-E2E", manager_, 1, 10.0);
  auto opened = future->get();
  ASSERT_NE(opened, nullptr);
  ASSERT_EQ(opened->resourceVersion(), "42");

  manager_->dataLayer()->push({{"event", platform::Value("browse")}});
  manager_->dataLayer()->push({{"event", platform::Value("purchase")}});
  testsupport::onTagThread();

  // The pixel dispatcher sends its first batch a second after it was made.
  clock_->advanceSeconds(1);
  ASSERT_TRUE(pixelEndpoint_.waitForRequests(1));
  auto pixel = pixelEndpoint_.requests()[0];
  EXPECT_EQ(pixel.target, "/px?c=1");
  EXPECT_EQ(pixel.header("User-Agent"), TAGDispatchUtil::userAgentString());
  ASSERT_TRUE(testsupport::runUntil(
      [] { return testsupport::storedHits(*TAGDispatcher::instance()->store()).empty(); }));

  Analytics::performOnThreadAndWait([] {});
  Analytics::sharedInstance()->dispatch();
  ASSERT_TRUE(collectionEndpoint_.waitForRequests(1));
  auto hit = collectionEndpoint_.requests()[0];
  EXPECT_EQ(hit.path(), "/collect");
  std::string query = hit.query().empty() ? hit.body : hit.query();
  EXPECT_NE(query.find("t=event"), std::string::npos) << query;
  EXPECT_NE(query.find("ec=shop"), std::string::npos) << query;
  EXPECT_NE(query.find("ea=purchase"), std::string::npos) << query;
  EXPECT_NE(query.find("tid=__TM_DEFAULT_TRACKER__"), std::string::npos) << query;
  EXPECT_EQ(pixelEndpoint_.requestCount(), 1u) << "the other event fired nothing";
  EXPECT_EQ(collectionEndpoint_.requestCount(), 1u);
}

}  // namespace
