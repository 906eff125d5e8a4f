#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/FakeReachabilitySource.h"
#include "platform/net/Reachability.h"
#include "support/MainLoop.h"

namespace platform {
namespace {

TEST(ReachabilityTest, StatusFollowsTheFlags) {
  struct Case {
    std::optional<std::uint32_t> flags;
    bool onWWAN;
    bool reachable;
    NetworkStatus status;
    bool viaWWAN;
    bool viaWiFi;
  };
  const Case cases[] = {
      {0x7, true, false, NotReachable, false, true},
      {0x6, true, true, ReachableViaWiFi, false, true},
      {0x40002, true, true, ReachableViaWWAN, true, false},
      {0x40002, false, false, NotReachable, true, false},
      {0x0, true, false, NotReachable, false, false},
      {std::nullopt, true, false, NotReachable, false, false},
  };
  for (const auto& c : cases) {
    ScopedFakeReachability fake;
    if (c.flags) fake->setFlags(*c.flags);
    fake->setUnreadable(!c.flags);
    auto r = Reachability::reachabilityForInternetConnection();
    ASSERT_TRUE(r);
    r->setReachableOnWWAN(c.onWWAN);
    SCOPED_TRACE(c.flags ? *c.flags : 0xFFFFFFFF);
    EXPECT_EQ(r->isReachable(), c.reachable);
    EXPECT_EQ(r->currentReachabilityStatus(), c.status);
    EXPECT_EQ(r->isReachableViaWWAN(), c.viaWWAN);
    EXPECT_EQ(r->isReachableViaWiFi(), c.viaWiFi);
    EXPECT_EQ(r->reachabilityFlags(), c.flags.value_or(0));
  }
}

TEST(ReachabilityTest, ConnectionQueriesAndTexts) {
  ScopedFakeReachability fake(0x40002);
  auto r = Reachability::reachabilityWithHostname("api.example.test");
  EXPECT_EQ(r->currentReachabilityFlags(), "WR -------");
  EXPECT_EQ(r->currentReachabilityString(), "Cellular");
  fake->setFlags(kReachabilityFlagsReachable | kReachabilityFlagsConnectionRequired |
                 kReachabilityFlagsConnectionOnTraffic | kReachabilityFlagsInterventionRequired);
  EXPECT_EQ(r->currentReachabilityFlags(), "-R c-iC---");
  EXPECT_TRUE(r->isConnectionRequired());
  EXPECT_TRUE(r->isConnectionOnDemand());
  EXPECT_TRUE(r->isInterventionRequired());
  EXPECT_EQ(r->currentReachabilityString(), "WiFi");
  fake->setFlags(0);
  EXPECT_EQ(r->currentReachabilityString(), "No Connection");
  EXPECT_FALSE(r->isConnectionOnDemand());
}

TEST(ReachabilityTest, HostPartDecidesPerHostFlagsAndEmptyHostIsRefused) {
  ScopedFakeReachability fake(0);
  fake->setFlags("api.example.test", kReachabilityFlagsReachable);
  EXPECT_TRUE(Reachability::reachabilityWithHostname("api.example.test/api")->isReachable());
  EXPECT_TRUE(Reachability::reachabilityWithHostname("api.example.test:8080")->isReachable());
  EXPECT_FALSE(Reachability::reachabilityWithHostname("other.example.test")->isReachable());
  EXPECT_EQ(Reachability::reachabilityWithHostname(""), nullptr);
}

TEST(ReachabilityTest, NotifierPostsOncePerChangeOnTheMainThreadWithItself) {
  ScopedFakeReachability fake(kReachabilityFlagsReachable);
  auto r = Reachability::reachabilityWithHostname("api.example.test");
  std::vector<const void*> senders;
  bool onMain = true;
  auto token = NotificationCenter::defaultCenter().addObserver(
      kReachabilityChangedNotification, [&](const Notification& n) {
        senders.push_back(n.object.identity());
        onMain = onMain && RunLoop::isMainThread();
      });
  std::atomic<int> reachable{0}, unreachable{0};
  r->setReachableBlock([&](Reachability&) { ++reachable; });
  r->setUnreachableBlock([&](Reachability&) { ++unreachable; });
  ASSERT_TRUE(r->startNotifier());
  fake->setFlags(kReachabilityFlagsReachable | kReachabilityFlagsIsWWAN);
  fake->setFlags(0);
  fake->setFlags(0);  // no change, no notification
  ASSERT_TRUE(testsupport::runUntil([&] { return senders.size() == 2; }));
  EXPECT_EQ(senders, (std::vector<const void*>{r.get(), r.get()}));
  EXPECT_TRUE(onMain);
  EXPECT_EQ(reachable, 1);
  EXPECT_EQ(unreachable, 1);
  r->stopNotifier();
}

TEST(ReachabilityTest, StoppedWatcherIsReleasedAndHearsNothingMore) {
  ScopedFakeReachability fake(kReachabilityFlagsReachable);
  int notifications = 0;
  auto token = NotificationCenter::defaultCenter().addObserver(
      kReachabilityChangedNotification, [&](const Notification&) { ++notifications; });
  std::weak_ptr<Reachability> weak;
  {
    auto r = Reachability::reachabilityWithHostname("api.example.test");
    weak = r;
    ASSERT_TRUE(r->startNotifier());
    EXPECT_EQ(fake->watcherCount(), 1u);
    r->stopNotifier();
  }
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(fake->watcherCount(), 0u);
  fake->setFlags(0);
  // A running watcher on another host shows when the loop has handled the change.
  auto other = Reachability::reachabilityWithHostname("other.example.test");
  ASSERT_TRUE(other->startNotifier());
  fake->setFlags(kReachabilityFlagsReachable);
  ASSERT_TRUE(testsupport::runUntil([&] { return notifications == 1; }));
  other->stopNotifier();
  testsupport::runUntil([] { return RunLoop::main()->pendingCount() == 0; });
  EXPECT_EQ(notifications, 1);
}

TEST(ReachabilityTest, SystemSourceSeesLoopbackAsLocalAndDirect) {
  auto r = Reachability::reachabilityWithHostname("127.0.0.1");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->reachabilityFlags(), kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress |
                                        kReachabilityFlagsIsDirect);
  EXPECT_EQ(r->currentReachabilityStatus(), ReachableViaWiFi);
  sockaddr_in loopback{};
  loopback.sin_family = AF_INET;
  loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto byAddress = Reachability::reachabilityWithAddress(reinterpret_cast<sockaddr*>(&loopback));
  ASSERT_TRUE(byAddress);
  EXPECT_EQ(byAddress->currentReachabilityStatus(), ReachableViaWiFi);
  EXPECT_EQ(Reachability::reachabilityWithAddress(nullptr), nullptr);
  // The link-local network is watched by its address, whatever this machine has.
  EXPECT_TRUE(Reachability::reachabilityForLocalWiFi());
  // Whatever this machine's routes, the internet watcher answers one of the three statuses.
  auto internet = Reachability::reachabilityForInternetConnection();
  EXPECT_LE(static_cast<int>(internet->currentReachabilityStatus()), 2);
}

}  // namespace
}  // namespace platform
