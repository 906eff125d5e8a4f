// The busy rule: waits for a lock another thread holds, gives up after the retry limit, and
// never waits where the wait could not end: for a lock held by a connection of its own thread,
// or for the write lock while holding a read lock inside a transaction.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <barrier>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "sqlite/SQLDatabase.h"
#include "sqlite/SQLDatabasePool.h"
#include "sqlite/SQLDatabaseQueue.h"
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
  // A watchdog for a wait that must not happen: after `answers` busy answers the connection
  // gets a retry limit, so a wait that would never end ends and the test fails instead of
  // hanging.
  void endWaitAfter(int answers, SQLDatabase& db) {
    onBusy = [this, answers, &db] {
      if (count == answers) db.setBusyRetryTimeout(1);
    };
  }
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
  BusyCounter writerBusy;
  writerBusy.install(*writer);
  writerBusy.endWaitAfter(50, *writer);
  {
    // An unclosed read on one connection of this thread ...
    auto reader = db_->executeQuery("select a from t");
    ASSERT_TRUE(reader && reader->next());
    // ... can never let go while this thread waits for it: busy at the first answer.
    EXPECT_FALSE(writer->beginTransaction());
    EXPECT_EQ(writer->lastErrorCode(), SQLITE_BUSY);
    EXPECT_EQ(writerBusy.count, 1);
    EXPECT_FALSE(writer->inTransaction());
  }
  // The reader closed as it went out of scope; now the transaction begins.
  writer->setBusyRetryTimeout(0);
  EXPECT_TRUE(writer->beginTransaction());
  EXPECT_TRUE(writer->executeUpdate("insert into t values (3)"));
  // Likewise a read on this thread does not wait for this thread's own open write.
  BusyCounter readerBusy;
  readerBusy.install(*db_);
  readerBusy.endWaitAfter(50, *db_);
  EXPECT_EQ(db_->executeQuery("select a from t")->next(), false);
  EXPECT_EQ(db_->lastErrorCode(), SQLITE_BUSY);
  EXPECT_EQ(readerBusy.count, 1);
  db_->setBusyRetryTimeout(0);
  EXPECT_TRUE(writer->commit());
  EXPECT_EQ(db_->intForQuery("select count(*) from t"), 3);
}

// Runs a deferred transaction with a block through a queue or a pool.
using DeferredRunner = std::function<std::optional<platform::Error>(
    const std::function<void(const std::shared_ptr<SQLDatabase>&, bool*)>&)>;

struct ContendedRun {
  int rounds = 0;
  int successes = 0;
  std::vector<int> failureCodes;
  bool deadlocked = false;
};

// Two threads, each round: a deferred transaction that reads, waits until the other thread has
// read too, then inserts a row. Both then hold read locks and want the write lock: SQLite's
// documented deadlock, met in the first round. Rounds go on for at most 2 s (a limit only; no
// result depends on it). A watchdog that sees no round finish for 10 s ends the waits through
// the retry limit and marks the run deadlocked.
ContendedRun readThenWriteFromTwoThreads(const std::array<DeferredRunner, 2>& runners) {
  constexpr int kMaxRounds = 400;
  const platform::Duration kRunFor = platform::seconds(2);
  const platform::Duration kNoProgressLimit = platform::seconds(10);
  auto clock = platform::Clock::shared();
  const auto start = clock->monotonicNow();

  std::mutex mutex;
  std::condition_variable progressed;
  ContendedRun run;
  std::vector<std::shared_ptr<SQLDatabase>> seen;
  bool finished = false;
  std::atomic<bool> stop{false};

  std::barrier bothRead(2);
  std::barrier roundEnd(2, [&]() noexcept {
    std::lock_guard lock(mutex);
    ++run.rounds;
    if (run.rounds >= kMaxRounds || clock->monotonicNow() - start >= kRunFor) stop = true;
    progressed.notify_all();
  });

  auto side = [&](int index) {
    while (!stop) {
      bool inserted = false;
      int insertFailure = SQLITE_OK;
      auto error = runners[index]([&](const std::shared_ptr<SQLDatabase>& db, bool* rollback) {
        {
          std::lock_guard lock(mutex);
          if (std::find(seen.begin(), seen.end(), db) == seen.end()) seen.push_back(db);
        }
        db->intForQuery("select count(*) from t");
        bothRead.arrive_and_wait();
        inserted = db->executeUpdate("insert into t values (?)", index);
        if (!inserted) {
          insertFailure = db->lastErrorCode();
          *rollback = true;
        }
      });
      {
        std::lock_guard lock(mutex);
        if (inserted && !error) ++run.successes;
        if (!inserted) run.failureCodes.push_back(insertFailure);
        if (error) run.failureCodes.push_back(error->code());
      }
      roundEnd.arrive_and_wait();
    }
  };

  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    int lastRounds = -1;
    while (!finished) {
      if (run.rounds != lastRounds) {
        lastRounds = run.rounds;
        platform::waitUntil(progressed, lock,
                            platform::Clock::shared()->monotonicNow() + kNoProgressLimit,
                            [&] { return finished || run.rounds != lastRounds; });
        continue;
      }
      run.deadlocked = true;
      stop = true;
      for (const auto& db : seen) db->setBusyRetryTimeout(1);
      progressed.wait(lock, [&] { return finished; });
    }
  });
  std::thread first(side, 0);
  std::thread second(side, 1);
  first.join();
  second.join();
  {
    std::lock_guard lock(mutex);
    finished = true;
    progressed.notify_all();
  }
  watchdog.join();
  return run;
}

void expectNoDeadlock(const ContendedRun& run, SQLDatabase& db) {
  EXPECT_FALSE(run.deadlocked) << "two read-then-write transactions waited for each other";
  EXPECT_GT(run.successes, 0);
  // Every failure is the busy answer of the side that had to give way ...
  for (int code : run.failureCodes) EXPECT_EQ(code, SQLITE_BUSY);
  // ... and every success was committed.
  EXPECT_EQ(db.intForQuery("select count(*) from t"), run.successes);
  EXPECT_EQ(run.successes + static_cast<int>(run.failureCodes.size()), 2 * run.rounds);
}

TEST_F(SQLDatabaseBusyTest, ReadThenWriteTransactionsOfTwoQueuesDoNotDeadlock) {
  auto one = SQLDatabaseQueue::databaseQueueWithPath(path_);
  auto two = SQLDatabaseQueue::databaseQueueWithPath(path_);
  ASSERT_TRUE(one && two);
  auto run = readThenWriteFromTwoThreads(
      {[&](const auto& block) { return one->inDeferredTransaction(block); },
       [&](const auto& block) { return two->inDeferredTransaction(block); }});
  expectNoDeadlock(run, *db_);
}

TEST_F(SQLDatabaseBusyTest, ReadThenWriteTransactionsOnPoolConnectionsDoNotDeadlock) {
  auto pool = SQLDatabasePool::databasePoolWithPath(path_);
  auto run = readThenWriteFromTwoThreads(
      {[&](const auto& block) { return pool->inDeferredTransaction(block); },
       [&](const auto& block) { return pool->inDeferredTransaction(block); }});
  expectNoDeadlock(run, *db_);
  EXPECT_EQ(pool->countOfCheckedOutDatabases(), 0u);
}

}  // namespace
