// The busy rule: waits for a lock another thread holds, gives up after the retry limit, and
// never waits for a lock held by a connection of its own thread.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/foundation/Clock.h"
#include "sqlite/SQLDatabase.h"
#include "support/TempHome.h"

namespace {

// A flag one thread raises and another waits for, with a generous limit so a broken build fails
// instead of hanging.
class Signal {
 public:
  void raise() {
    std::lock_guard lock(mutex_);
    raised_ = true;
    cv_.notify_all();
  }
  bool wait() {
    std::unique_lock lock(mutex_);
    return platform::waitUntil(cv_, lock,
                               platform::Clock::shared()->monotonicNow() + platform::seconds(60),
                               [&] { return raised_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool raised_ = false;
};

// Another thread holding an exclusive transaction on the file until told to commit.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path) {
    thread_ = std::thread([this, path] {
      auto db = SQLDatabase::databaseWithPath(path);
      ok_ = db->open() && db->beginTransaction() && db->executeUpdate("insert into t values (0)");
      locked_.raise();
      release_.wait();
      ok_ = ok_ && db->commit();
    });
    locked_.wait();
  }
  ~LockHolder() {
    release();
    thread_.join();
  }
  void release() { release_.raise(); }
  bool ok() const { return ok_; }

 private:
  std::thread thread_;
  Signal locked_;
  Signal release_;
  std::atomic<bool> ok_{false};
};

// Counts SQLite's busy answers to a connection without changing them (the layer retries itself).
struct BusyCounter {
  std::atomic<int> count{0};
  std::function<void()> onBusy;
  static int handler(void* self, int) {
    auto* counter = static_cast<BusyCounter*>(self);
    ++counter->count;
    if (counter->onBusy) counter->onBusy();
    return 0;
  }
  void install(SQLDatabase& db) { sqlite3_busy_handler(db.sqliteHandle(), handler, this); }
};

class SQLDatabaseBusyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = home_.path() + "/busy.db";
    db_ = SQLDatabase::databaseWithPath(path_);
    ASSERT_TRUE(db_->open());
    db_->setShouldCacheStatements(true);
    ASSERT_TRUE(db_->executeUpdate("create table t(a)"));
  }

  testsupport::TempHome home_;
  std::string path_;
  std::shared_ptr<SQLDatabase> db_;
};

TEST_F(SQLDatabaseBusyTest, UnlimitedWaitSucceedsOnceTheOtherThreadCommits) {
  LockHolder holder(path_);
  ASSERT_TRUE(holder.ok());
  BusyCounter busy;
  // The holder lets go only once this connection has really met the lock.
  busy.onBusy = [&] { holder.release(); };
  busy.install(*db_);
  EXPECT_TRUE(db_->executeUpdate("insert into t values (?)", 1));
  EXPECT_GE(busy.count, 1);
  EXPECT_EQ(db_->intForQuery("select count(*) from t"), 2);
}

TEST_F(SQLDatabaseBusyTest, ReadWaitsForTheOtherThreadToo) {
  LockHolder holder(path_);
  BusyCounter busy;
  busy.onBusy = [&] { holder.release(); };
  busy.install(*db_);
  auto rs = db_->executeQuery("select count(*) from t");
  ASSERT_TRUE(rs);
  ASSERT_TRUE(rs->next());
  EXPECT_EQ(rs->intForColumnIndex(0), 1);
  EXPECT_GE(busy.count, 1);
}

TEST_F(SQLDatabaseBusyTest, RetryLimitGivesUpAfterLimitPlusOneRetries) {
  struct Case {
    int limit;
    int busyAnswers;
  };
  for (const Case c : {Case{1, 3}, Case{3, 5}}) {
    LockHolder holder(path_);
    BusyCounter busy;
    busy.install(*db_);
    db_->setBusyRetryTimeout(c.limit);
    EXPECT_FALSE(db_->executeUpdate("insert into t values (?)", 1)) << c.limit;
    EXPECT_EQ(db_->lastErrorCode(), SQLITE_BUSY);
    EXPECT_EQ(busy.count, c.busyAnswers) << c.limit;

    busy.count = 0;
    auto rs = db_->executeQuery("select * from t");
    ASSERT_TRUE(rs);
    EXPECT_FALSE(rs->next());
    EXPECT_EQ(rs->parentDB(), nullptr);  // closed by the failed step
    EXPECT_EQ(busy.count, c.busyAnswers) << c.limit;
  }
}

TEST_F(SQLDatabaseBusyTest, LockHeldOnTheSameThreadReportsBusyInsteadOfHanging) {
  ASSERT_TRUE(db_->executeUpdate("insert into t values (1)"));
  ASSERT_TRUE(db_->executeUpdate("insert into t values (2)"));
  auto writer = SQLDatabase::databaseWithPath(path_);
  ASSERT_TRUE(writer->open());
  ASSERT_EQ(writer->busyRetryTimeout(), 0);  // no count limit
  {
    // An unclosed read on one connection of this thread ...
    auto reader = db_->executeQuery("select a from t");
    ASSERT_TRUE(reader && reader->next());
    // ... can never let go while this thread waits for it: busy at once, not a hang.
    EXPECT_FALSE(writer->beginTransaction());
    EXPECT_EQ(writer->lastErrorCode(), SQLITE_BUSY);
    EXPECT_FALSE(writer->inTransaction());
  }
  // The reader closed as it went out of scope; now the transaction begins.
  EXPECT_TRUE(writer->beginTransaction());
  EXPECT_TRUE(writer->executeUpdate("insert into t values (3)"));
  // Likewise a read on this thread does not wait for this thread's own open write.
  EXPECT_EQ(db_->executeQuery("select a from t")->next(), false);
  EXPECT_EQ(db_->lastErrorCode(), SQLITE_BUSY);
  EXPECT_TRUE(writer->commit());
  EXPECT_EQ(db_->intForQuery("select count(*) from t"), 3);
}

}  // namespace
