#include <gtest/gtest.h>

#include "platform/foundation/Assert.h"
#include "sqlite/SQLSerialQueue.h"

namespace {

TEST(SQLSerialQueueTest, WorkRunsOnTheQueueAndWorkOffItIsCaught) {
  SQLSerialQueue queue("sqldb.test");
  bool ran = false;
  queue.sync([&] {
    // Before the assertion, which would make the compiler refuse this nested call outright.
    EXPECT_THROW(queue.sync([] {}), platform::AssertionFailure);
    queue.assertOnQueue();
    EXPECT_EQ(platform::dispatch::Queue::currentLabel(), "sqldb.test");
    ran = true;
  });
  EXPECT_TRUE(ran);
#ifdef NDEBUG
  GTEST_SKIP() << "the off-queue check runs in debug builds";
#else
  EXPECT_THROW(queue.assertOnQueue(), platform::AssertionFailure);
#endif
}

}  // namespace
