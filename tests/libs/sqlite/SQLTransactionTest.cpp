// The transaction and savepoint scopes: what they leave behind however the scope ends.

#include <gtest/gtest.h>

#include <stdexcept>

#include "sqlite/SQLDatabase.h"
#include "sqlite/SQLSavePoint.h"
#include "sqlite/SQLTransaction.h"
#include "support/TempHome.h"

namespace {

class SQLTransactionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = home_.path() + "/scopes.db";
    db_ = SQLDatabase::databaseWithPath(path_);
    ASSERT_TRUE(db_->open());
    ASSERT_TRUE(db_->executeUpdate("create table t(a)"));
  }

  int rows() { return db_->intForQuery("select count(*) from t"); }
  bool autocommit() { return sqlite3_get_autocommit(db_->sqliteHandle()) != 0; }

  testsupport::TempHome home_;
  std::string path_;
  std::shared_ptr<SQLDatabase> db_;
};

TEST_F(SQLTransactionTest, ScopeRollsBackUnlessCommitted) {
  for (auto kind : {SQLTransaction::Kind::Exclusive, SQLTransaction::Kind::Deferred}) {
    {
      SQLTransaction transaction(*db_, kind);
      ASSERT_TRUE(transaction.begun());
      EXPECT_TRUE(db_->inTransaction());
      ASSERT_TRUE(db_->executeUpdate("insert into t values (1)"));
    }
    EXPECT_EQ(rows(), 0);
    EXPECT_TRUE(autocommit());
    EXPECT_FALSE(db_->inTransaction());
  }
  {
    SQLTransaction transaction(*db_);
    ASSERT_TRUE(db_->executeUpdate("insert into t values (1)"));
    EXPECT_TRUE(transaction.commit());
    EXPECT_FALSE(transaction.commit());
    EXPECT_FALSE(transaction.rollback());  // nothing left to undo
  }
  EXPECT_EQ(rows(), 1);
}

TEST_F(SQLTransactionTest, ExceptionLeavingTheScopeRollsBack) {
  try {
    SQLTransaction transaction(*db_);
    ASSERT_TRUE(db_->executeUpdate("insert into t values (1)"));
    throw std::runtime_error("stop");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(rows(), 0);
  EXPECT_TRUE(autocommit());
}

TEST_F(SQLTransactionTest, ScopeThatDidNotBeginLeavesTheOpenTransactionAlone) {
  ASSERT_TRUE(db_->beginTransaction());
  ASSERT_TRUE(db_->executeUpdate("insert into t values (1)"));
  {
    SQLTransaction inner(*db_);
    EXPECT_FALSE(inner.begun());
    EXPECT_EQ(db_->lastErrorCode(), SQLITE_ERROR);  // a transaction within a transaction
    EXPECT_FALSE(inner.commit());
  }
  // The inner scope neither committed nor rolled back the outer transaction.
  EXPECT_FALSE(autocommit());
  ASSERT_TRUE(db_->commit());
  EXPECT_EQ(rows(), 1);
}

TEST_F(SQLTransactionTest, FailedCommitIsRolledBack) {
  auto reader = SQLDatabase::databaseWithPath(path_);
  ASSERT_TRUE(reader->open());
  db_->setBusyRetryTimeout(1);
  {
    SQLTransaction transaction(*db_, SQLTransaction::Kind::Deferred);
    ASSERT_TRUE(db_->executeUpdate("insert into t values (1)"));
    // A read left open keeps the commit from taking the file: it gives up.
    auto open = reader->executeQuery("select count(*) from t");
    ASSERT_TRUE(open && open->next());
    EXPECT_FALSE(transaction.commit());
    EXPECT_EQ(db_->lastErrorCode(), SQLITE_BUSY);
  }
  // The scope rolled the transaction back rather than leaving it open with its write lock.
  EXPECT_TRUE(autocommit());
  EXPECT_EQ(rows(), 0);
  EXPECT_TRUE(reader->executeUpdate("insert into t values (2)"));
}

TEST_F(SQLTransactionTest, RunSkipsTheBlockWhenTheTransactionCannotBegin) {
  ASSERT_TRUE(db_->beginTransaction());
  bool ran = false;
  auto error =
      SQLTransaction::run(*db_, SQLTransaction::Kind::Deferred, [&](bool*) { ran = true; });
  EXPECT_FALSE(ran);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), "SQLDatabase");
  EXPECT_EQ(error->code(), SQLITE_ERROR);
  ASSERT_TRUE(db_->rollback());

  EXPECT_EQ(SQLTransaction::run(*db_, SQLTransaction::Kind::Exclusive,
                                [&](bool*) { db_->executeUpdate("insert into t values (1)"); }),
            std::nullopt);
  EXPECT_EQ(SQLTransaction::run(*db_, SQLTransaction::Kind::Exclusive,
                                [&](bool* rollback) {
                                  db_->executeUpdate("insert into t values (2)");
                                  *rollback = true;
                                }),
            std::nullopt);
  EXPECT_EQ(rows(), 1);
}

TEST_F(SQLTransactionTest, SavePointScopeRollsBackAndReleasesUnlessReleased) {
  {
    SQLSavePoint savePoint(*db_, "kept");
    ASSERT_TRUE(savePoint.started());
    ASSERT_TRUE(db_->executeUpdate("insert into t values (1)"));
    EXPECT_TRUE(savePoint.release());
  }
  {
    SQLSavePoint savePoint(*db_, "dropped");
    ASSERT_TRUE(db_->executeUpdate("insert into t values (2)"));
  }
  EXPECT_TRUE(autocommit());
  {
    SQLSavePoint savePoint(*db_, "undone");
    ASSERT_TRUE(db_->executeUpdate("insert into t values (3)"));
    EXPECT_TRUE(savePoint.rollback());
    EXPECT_TRUE(autocommit());  // rolled back to and released
    EXPECT_FALSE(savePoint.release());
  }
  EXPECT_EQ(rows(), 1);
}

TEST_F(SQLTransactionTest, SavePointsNestInsideATransaction) {
  SQLTransaction transaction(*db_);
  ASSERT_TRUE(db_->executeUpdate("insert into t values (1)"));
  {
    SQLSavePoint savePoint(*db_, "inner");
    ASSERT_TRUE(db_->executeUpdate("insert into t values (2)"));
  }
  // Only the savepoint's work went; the transaction is still open.
  EXPECT_FALSE(autocommit());
  EXPECT_EQ(rows(), 1);
  EXPECT_TRUE(transaction.commit());
  EXPECT_EQ(rows(), 1);
}

}  // namespace
