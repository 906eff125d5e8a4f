#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/foundation/Assert.h"
#include "sqlite/SQLDatabaseQueue.h"
#include "support/TempHome.h"

namespace {

class SQLDatabaseQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = home_.path() + "/queue.db";
    queue_ = SQLDatabaseQueue::databaseQueueWithPath(path_);
    ASSERT_TRUE(queue_);
    queue_->inDatabase([](const auto& db) { ASSERT_TRUE(db->executeUpdate("create table t(a)")); });
  }

  int count() {
    int n = -1;
    queue_->inDatabase([&](const auto& db) { n = db->intForQuery("select count(*) from t"); });
    return n;
  }

  testsupport::TempHome home_;
  std::string path_;
  std::shared_ptr<SQLDatabaseQueue> queue_;
};

TEST_F(SQLDatabaseQueueTest, UnopenableFileMakesNoQueue) {
  EXPECT_EQ(SQLDatabaseQueue::databaseQueueWithPath(home_.path() + "/no/such/dir/x.db"), nullptr);
}

TEST_F(SQLDatabaseQueueTest, CloseThenReopenOnNextUse) {
  std::shared_ptr<SQLDatabase> first;
  queue_->inDatabase([&](const auto& db) {
    first = db;
    EXPECT_TRUE(db->executeUpdate("insert into t values (1)"));
  });
  queue_->close();
  EXPECT_EQ(first->sqliteHandle(), nullptr);
  queue_->inDatabase([&](const auto& db) {
    ASSERT_TRUE(db);
    EXPECT_NE(db, first);
    EXPECT_EQ(db->databasePath(), path_);
    EXPECT_EQ(db->intForQuery("select count(*) from t"), 1);
  });
  EXPECT_EQ(queue_->path(), path_);
}

TEST_F(SQLDatabaseQueueTest, TransactionsCommitOrRollBack) {
  queue_->inTransaction(
      [](const auto& db, bool*) { db->executeUpdate("insert into t values (1)"); });
  queue_->inDeferredTransaction([](const auto& db, bool* rollback) {
    EXPECT_TRUE(db->inTransaction());
    db->executeUpdate("insert into t values (2)");
    *rollback = true;
  });
  EXPECT_EQ(count(), 1);
}

TEST_F(SQLDatabaseQueueTest, SavePointsCommitOrRollBack) {
  EXPECT_EQ(queue_->inSavePoint(
                [](const auto& db, bool*) { db->executeUpdate("insert into t values (1)"); }),
            std::nullopt);
  EXPECT_EQ(queue_->inSavePoint([](const auto& db, bool* rollback) {
    db->executeUpdate("insert into t values (2)");
    *rollback = true;
  }),
            std::nullopt);
  EXPECT_EQ(count(), 1);
  queue_->inDatabase(
      [](const auto& db) { EXPECT_TRUE(sqlite3_get_autocommit(db->sqliteHandle())); });
}

TEST_F(SQLDatabaseQueueTest, CallingTheQueueFromItsOwnBlockRaisesInsteadOfDeadlocking) {
  bool raised = false;
  queue_->inDatabase([&](const auto&) {
    try {
      queue_->inDatabase([](const auto&) {});
    } catch (const platform::AssertionFailure&) {
      raised = true;
    }
  });
  EXPECT_TRUE(raised);
  EXPECT_THROW(queue_->inTransaction([&](const auto&, bool*) { queue_->close(); }),
               platform::AssertionFailure);
  // The queue is still usable, and the transaction was rolled back.
  queue_->inDatabase([](const auto& db) { EXPECT_FALSE(db->inTransaction()); });
}

TEST_F(SQLDatabaseQueueTest, ExceptionFromABlockReachesTheCallerAndRollsBack) {
  EXPECT_THROW(queue_->inTransaction([](const auto& db, bool*) {
    db->executeUpdate("insert into t values (1)");
    throw std::runtime_error("stop");
  }),
               std::runtime_error);
  EXPECT_EQ(count(), 0);
}

TEST_F(SQLDatabaseQueueTest, ServesSeveralThreadsOneAtATime) {
  constexpr int kThreads = 4;
  constexpr int kInserts = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kInserts; ++i) {
        queue_->inDatabase([&](const auto& db) {
          EXPECT_TRUE(db->executeUpdate("insert into t values (?)", t * 100 + i));
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(count(), kThreads * kInserts);
}

}  // namespace
