#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "logging/LGLogBacklog.h"

namespace {

TEST(LGLogBacklogTest, SlotsRunOutAtTheCapacityAndComeBackWhenReleased) {
  LGLogBacklog backlog(3, 1);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(backlog.tryAcquire());
  EXPECT_FALSE(backlog.tryAcquire());
  backlog.release();
  EXPECT_TRUE(backlog.tryAcquire());
  EXPECT_FALSE(backlog.tryAcquire());
}

TEST(LGLogBacklogTest, ACallerHeldByAFullBacklogGoesOnOnlyOnceItHasDrainedToTheLowWaterMark) {
  LGLogBacklog backlog(4, 2);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(backlog.tryAcquire());
  std::atomic<bool> through{false};
  std::thread caller([&] {
    backlog.acquire();
    through = true;
  });
  for (int i = 0; i < 3000 && backlog.waiting() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(backlog.waiting(), 1);
  // One slot free is not enough: the caller waits for the backlog to fall to two.
  backlog.release();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(through);
  backlog.release();
  caller.join();
  EXPECT_TRUE(through);
  // Two released, one taken again by the caller: one slot left.
  EXPECT_TRUE(backlog.tryAcquire());
  EXPECT_FALSE(backlog.tryAcquire());
}

TEST(LGLogBacklogTest, EveryHeldCallerGoesOnWhenSlotsComeBackTogether) {
  LGLogBacklog backlog(4, 2);
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(backlog.tryAcquire());
  std::vector<std::thread> callers;
  for (int i = 0; i < 2; ++i) callers.emplace_back([&] { backlog.acquire(); });
  backlog.release(4);
  for (auto& caller : callers) caller.join();
  EXPECT_TRUE(backlog.tryAcquire());
  EXPECT_TRUE(backlog.tryAcquire());
  EXPECT_FALSE(backlog.tryAcquire());
}

}  // namespace
