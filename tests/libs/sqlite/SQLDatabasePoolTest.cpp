#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/foundation/Assert.h"
#include "sqlite/SQLDatabasePool.h"
#include "sqlite/SQLPoolCheckout.h"
#include "support/TempHome.h"

namespace {

class RefusingDelegate : public SQLDatabasePoolDelegate {
 public:
  std::optional<bool> databasePool(SQLDatabasePool& pool,
                                   const std::shared_ptr<SQLDatabase>&) override {
    ++asked;
    if (callBack) pool.countOfOpenDatabases();
    return accept;
  }
  bool accept = true;
  bool callBack = false;
  int asked = 0;
};

class SQLDatabasePoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = home_.path() + "/pool.db";
    pool_ = SQLDatabasePool::databasePoolWithPath(path_);
    pool_->inDatabase([](const auto& db) { ASSERT_TRUE(db->executeUpdate("create table t(a)")); });
  }

  void expectCounts(size_t in, size_t out) {
    EXPECT_EQ(pool_->countOfCheckedInDatabases(), in);
    EXPECT_EQ(pool_->countOfCheckedOutDatabases(), out);
    EXPECT_EQ(pool_->countOfOpenDatabases(), in + out);
  }

  testsupport::TempHome home_;
  std::string path_;
  std::shared_ptr<SQLDatabasePool> pool_;
};

TEST_F(SQLDatabasePoolTest, LimitOfOneHandsOutOneConnection) {
  pool_->setMaximumNumberOfDatabasesToCreate(1);
  auto first = pool_->db();
  ASSERT_TRUE(first);
  expectCounts(0, 1);
  EXPECT_EQ(pool_->db(), nullptr);  // at the limit: no waiting, no second connection
  pool_->pushDatabaseBackInPool(first);
  expectCounts(1, 0);
  EXPECT_EQ(pool_->db(), first);
}

TEST_F(SQLDatabasePoolTest, LastReturnedIsHandedOutFirst) {
  pool_->releaseAllDatabases();
  auto a = pool_->db();
  auto b = pool_->db();
  auto c = pool_->db();
  ASSERT_TRUE(a && b && c);
  expectCounts(0, 3);
  pool_->pushDatabaseBackInPool(a);
  pool_->pushDatabaseBackInPool(c);
  pool_->pushDatabaseBackInPool(b);
  expectCounts(3, 0);
  EXPECT_EQ(pool_->db(), b);
  EXPECT_EQ(pool_->db(), c);
  EXPECT_EQ(pool_->db(), a);
  expectCounts(0, 3);
}

TEST_F(SQLDatabasePoolTest, PushingBackTwiceRaises) {
  auto db = pool_->db();
  pool_->pushDatabaseBackInPool(db);
  try {
    pool_->pushDatabaseBackInPool(db);
    ADD_FAILURE() << "no exception";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.name(), "Database already in pool");
    EXPECT_EQ(e.reason(),
              "The SQLDatabase being put back into the pool is already present in the pool");
  }
  pool_->pushDatabaseBackInPool(nullptr);
  expectCounts(1, 0);
}

TEST_F(SQLDatabasePoolTest, RefusedConnectionLeavesTheBooks) {
  auto delegate = std::make_shared<RefusingDelegate>();
  pool_->setDelegate(delegate);
  expectCounts(1, 0);  // the connection of SetUp waits
  delegate->accept = false;
  // Taken from the waiting list, refused: neither waiting nor handed out any more.
  EXPECT_EQ(pool_->db(), nullptr);
  expectCounts(0, 0);
  // A fresh one, refused: not counted either, so a limit is not used up by refusals.
  pool_->setMaximumNumberOfDatabasesToCreate(1);
  EXPECT_EQ(pool_->db(), nullptr);
  expectCounts(0, 0);
  delegate->accept = true;
  EXPECT_TRUE(pool_->db());
  expectCounts(0, 1);
  EXPECT_EQ(delegate->asked, 3);
}

TEST_F(SQLDatabasePoolTest, DelegateThatAnswersNothingLetsConnectionsThrough) {
  auto delegate = std::make_shared<SQLDatabasePoolDelegate>();
  pool_->setDelegate(delegate);
  EXPECT_TRUE(pool_->db());
}

TEST_F(SQLDatabasePoolTest, CallingThePoolFromItsLockedWorkRaisesInsteadOfDeadlocking) {
  EXPECT_THROW(pool_->executeLocked([&] { pool_->countOfOpenDatabases(); }),
               platform::AssertionFailure);
  auto delegate = std::make_shared<RefusingDelegate>();
  delegate->callBack = true;
  pool_->setDelegate(delegate);
  EXPECT_THROW(pool_->db(), platform::AssertionFailure);
  // Still usable afterwards.
  delegate->callBack = false;
  EXPECT_TRUE(pool_->db());
}

TEST_F(SQLDatabasePoolTest, TransactionsAndSavePointsReturnTheConnection) {
  EXPECT_EQ(pool_->inTransaction(
                [](const auto& db, bool*) { db->executeUpdate("insert into t values (1)"); }),
            std::nullopt);
  EXPECT_EQ(pool_->inDeferredTransaction([](const auto& db, bool* rollback) {
    db->executeUpdate("insert into t values (2)");
    *rollback = true;
  }),
            std::nullopt);
  EXPECT_EQ(pool_->inSavePoint([](const auto& db, bool* rollback) {
    db->executeUpdate("insert into t values (3)");
    *rollback = true;
  }),
            std::nullopt);
  expectCounts(1, 0);
  pool_->inDatabase([](const auto& db) {
    EXPECT_EQ(db->intForQuery("select count(*) from t"), 1);
    EXPECT_TRUE(sqlite3_get_autocommit(db->sqliteHandle()));
  });
}

TEST_F(SQLDatabasePoolTest, TransactionThatCannotBeginDoesNotRunItsBlock) {
  // Another connection of this thread holds the file: the exclusive begin is refused at once.
  auto holder = SQLDatabase::databaseWithPath(path_);
  ASSERT_TRUE(holder->open() && holder->beginTransaction());
  bool ran = false;
  auto error = pool_->inTransaction([&](const auto& db, bool* rollback) {
    ran = true;
    db->executeUpdate("insert into t values (1)");
    *rollback = true;
  });
  EXPECT_FALSE(ran);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), SQLITE_BUSY);
  expectCounts(1, 0);
  ASSERT_TRUE(holder->rollback());

  // No connection to be had: nothing runs either.
  pool_->setMaximumNumberOfDatabasesToCreate(1);
  auto taken = pool_->db();
  error = pool_->inDeferredTransaction([&](const auto&, bool*) { ran = true; });
  EXPECT_FALSE(ran);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), SQLITE_CANTOPEN);
  pool_->pushDatabaseBackInPool(taken);
}

TEST_F(SQLDatabasePoolTest, ConnectionGoesBackWhenABlockThrows) {
  EXPECT_THROW(pool_->inDatabase([](const auto&) { throw std::runtime_error("stop"); }),
               std::runtime_error);
  expectCounts(1, 0);
  EXPECT_THROW(pool_->inTransaction([](const auto& db, bool*) {
    db->executeUpdate("insert into t values (1)");
    throw std::runtime_error("stop");
  }),
               std::runtime_error);
  expectCounts(1, 0);
  pool_->inDatabase([](const auto& db) {
    EXPECT_EQ(db->intForQuery("select count(*) from t"), 0);
    EXPECT_FALSE(db->inTransaction());
  });
}

TEST_F(SQLDatabasePoolTest, CheckoutPushesBackOnce) {
  {
    SQLPoolCheckout checkout(*pool_);
    ASSERT_TRUE(checkout.db());
    expectCounts(0, 1);
  }
  expectCounts(1, 0);
  {
    SQLPoolCheckout checkout(*pool_);
    checkout.pushBack();
    checkout.pushBack();  // once only
    expectCounts(1, 0);
  }
  expectCounts(1, 0);
  {
    // Pushed back by hand meanwhile: the explicit push-back raises, the scope's end does not.
    SQLPoolCheckout checkout(*pool_);
    pool_->pushDatabaseBackInPool(checkout.db());
    EXPECT_THROW(checkout.pushBack(), platform::Exception);
  }
  {
    SQLPoolCheckout checkout(*pool_);
    pool_->pushDatabaseBackInPool(checkout.db());
  }
  expectCounts(1, 0);
}

TEST_F(SQLDatabasePoolTest, UnopenableFileHandsOutNothing) {
  auto pool = SQLDatabasePool::databasePoolWithPath(home_.path() + "/no/such/dir/x.db");
  bool called = false;
  pool->inDatabase([&](const auto& db) {
    called = true;
    EXPECT_EQ(db, nullptr);
  });
  EXPECT_TRUE(called);
  EXPECT_EQ(pool->countOfOpenDatabases(), 0u);
  EXPECT_TRUE(pool->inSavePoint([](const auto&, bool*) {}).has_value());
}

TEST_F(SQLDatabasePoolTest, SeveralThreadsWorkThroughTheirOwnConnections) {
  constexpr int kThreads = 4;
  constexpr int kInserts = 20;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kInserts; ++i) {
        pool_->inDatabase([&](const auto& db) {
          ASSERT_TRUE(db);
          EXPECT_TRUE(db->executeUpdate("insert into t values (?)", t * 100 + i));
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(pool_->countOfCheckedOutDatabases(), 0u);
  EXPECT_LE(pool_->countOfCheckedInDatabases(), static_cast<size_t>(kThreads));
  pool_->inDatabase([&](const auto& db) {
    EXPECT_EQ(db->intForQuery("select count(*) from t"), kThreads * kInserts);
  });
}

}  // namespace
