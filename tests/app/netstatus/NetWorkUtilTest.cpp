#include <gtest/gtest.h>

#include "netstatus/NetWorkUtil.h"

namespace {

class FixedSource : public NetworkStatusSource {
 public:
  explicit FixedSource(int status) : status_(status) {}
  int currentReachabilityStatus() const override { return status_; }
  void setStatus(int status) { status_ = status; }

 private:
  int status_;
};

class NetWorkUtilTest : public ::testing::Test {
 protected:
  void TearDown() override { NetWorkUtil::setStatusSource(nullptr); }
};

TEST_F(NetWorkUtilTest, WithoutAnInstalledSourceTheNetworkCountsAsThere) {
  NetWorkUtil::setStatusSource(nullptr);
  EXPECT_TRUE(NetWorkUtil::netWorkIsEnable());
  EXPECT_EQ(NetWorkUtil::currNetworkState(), NetworkStatusSource::kReachableViaWiFi);
}

TEST_F(NetWorkUtilTest, AsksTheInstalledSourceAtEveryCall) {
  auto source = std::make_shared<FixedSource>(NetworkStatusSource::kNotReachable);
  NetWorkUtil::setStatusSource(source);
  struct Case {
    int status;
    bool enabled;
  } cases[] = {{0, false}, {1, true}, {2, true}};
  for (const auto& c : cases) {
    source->setStatus(c.status);
    EXPECT_EQ(NetWorkUtil::netWorkIsEnable(), c.enabled) << c.status;
    EXPECT_EQ(NetWorkUtil::currNetworkState(), c.status);
  }
}

}  // namespace
