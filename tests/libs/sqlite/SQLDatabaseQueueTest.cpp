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
  queue_->inDatabase([&](const auto&) {
    EXPECT_EQ(platform::dispatch::Queue::currentLabel(), "sqldb." + queue_->description());
  });
}

TEST_F(SQLDatabaseQueueTest, TransactionsCommitOrRollBack) {
  EXPECT_EQ(queue_->inTransaction(
                [](const auto& db, bool*) { db->executeUpdate("insert into t values (1)"); }),
            std::nullopt);
  EXPECT_EQ(queue_->inDeferredTransaction([](const auto& db, bool* rollback) {
    EXPECT_TRUE(db->inTransaction());
    db->executeUpdate("insert into t values (2)");
    *rollback = true;
  }),
            std::nullopt);
  EXPECT_EQ(count(), 1);
}

// A block that runs outside the transaction it asked for cannot undo its work: a rollback it
// asks for would be lost, and the commit after it would end a transaction someone else began.
TEST_F(SQLDatabaseQueueTest, TransactionThatCannotBeginDoesNotRunItsBlock) {
  auto insertAndRollBack = [](bool* ran) {
    return [ran](const std::shared_ptr<SQLDatabase>& db, bool* rollback) {
      *ran = true;
      db->executeUpdate("insert into t values (1)");
      *rollback = true;
    };
  };
  // Another connection of this thread holds the file: the exclusive begin is refused at once.
  {
    auto holder = SQLDatabase::databaseWithPath(path_);
    ASSERT_TRUE(holder->open() && holder->beginTransaction());
    bool ran = false;
    auto error = queue_->inTransaction(insertAndRollBack(&ran));
    EXPECT_FALSE(ran);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), SQLITE_BUSY);
    EXPECT_EQ(error->domain(), "SQLDatabase");
  }
  // A transaction left open on the queue's connection: neither kind can begin inside it.
  queue_->inDatabase([](const auto& db) {
    ASSERT_TRUE(db->beginTransaction());
    ASSERT_TRUE(db->executeUpdate("insert into t values (2)"));
  });
  for (bool deferred : {false, true}) {
    bool ran = false;
    auto error = deferred ? queue_->inDeferredTransaction(insertAndRollBack(&ran))
                          : queue_->inTransaction(insertAndRollBack(&ran));
    EXPECT_FALSE(ran) << deferred;
    ASSERT_TRUE(error) << deferred;
    EXPECT_EQ(error->code(), SQLITE_ERROR) << deferred;
  }
  // The open transaction was neither committed nor rolled back by them.
  queue_->inDatabase([](const auto& db) {
    EXPECT_TRUE(db->inTransaction());
    EXPECT_TRUE(db->commit());
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
