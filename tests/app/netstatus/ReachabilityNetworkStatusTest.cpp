#include <gtest/gtest.h>

#include "netstatus/NetWorkUtil.h"
#include "netstatus/ReachabilityNetworkStatus.h"
#include "platform/net/FakeReachabilitySource.h"

namespace {

TEST(ReachabilityNetworkStatusTest, NetWorkUtilAsksTheInternetWatcherEachTime) {
  platform::ScopedFakeReachability fake(0);
  ReachabilityNetworkStatus::install();
  EXPECT_FALSE(NetWorkUtil::netWorkIsEnable());
  EXPECT_EQ(NetWorkUtil::currNetworkState(), 0);
  fake->setFlags(platform::kReachabilityFlagsReachable | platform::kReachabilityFlagsIsWWAN);
  EXPECT_TRUE(NetWorkUtil::netWorkIsEnable());
  EXPECT_EQ(NetWorkUtil::currNetworkState(), 1);
  fake->setFlags("0.0.0.0", platform::kReachabilityFlagsReachable);
  EXPECT_EQ(NetWorkUtil::currNetworkState(), 2);
  // Questions start no notifier.
  EXPECT_EQ(fake->watcherCount(), 0u);
  NetWorkUtil::setStatusSource(nullptr);
}

}  // namespace
