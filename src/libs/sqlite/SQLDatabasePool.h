#pragma once
// SQLDatabasePool: several connections to one file, one per use, so several threads can work on
// the file at once. Connections are opened on demand, handed out (`db`) and pushed back; the one
// pushed back last is handed out first. A limit caps waiting + handed-out connections (0: none);
// at the limit `db` answers null at once instead of waiting. A delegate may refuse a connection
// before it is handed out; a refused connection is closed and leaves the pool's books.
//
// The bookkeeping runs on a serial lock queue. Calling the pool from inside `executeLocked` or
// from the delegate (both run on that queue) would wait on itself: it raises
// platform::AssertionFailure instead. Pushing back a connection that is already waiting raises
// platform::Exception "Database already in pool".

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "sqlite/SQLDatabase.h"
#include "sqlite/SQLSerialQueue.h"

class SQLDatabasePool;

// Asked before a connection is handed out. Answering nothing (the default) lets it through.
class SQLDatabasePoolDelegate {
 public:
  virtual ~SQLDatabasePoolDelegate() = default;
  virtual std::optional<bool> databasePool(SQLDatabasePool& pool,
                                           const std::shared_ptr<SQLDatabase>& database) {
    (void)pool;
    (void)database;
    return std::nullopt;
  }
};

class SQLDatabasePool : public std::enable_shared_from_this<SQLDatabasePool> {
  class Tag {
    Tag() = default;
    friend class SQLDatabasePool;
  };

 public:
  using DatabaseBlock = std::function<void(const std::shared_ptr<SQLDatabase>& db)>;
  using TransactionBlock =
      std::function<void(const std::shared_ptr<SQLDatabase>& db, bool* rollback)>;

  // No connection is opened yet.
  static std::shared_ptr<SQLDatabasePool> databasePoolWithPath(const std::string& path);
  SQLDatabasePool(Tag, std::string path);
  ~SQLDatabasePool();

  const std::string& path() const { return _path; }
  std::weak_ptr<SQLDatabasePoolDelegate> delegate() const EXCLUDES(_lockQueue);
  void setDelegate(std::weak_ptr<SQLDatabasePoolDelegate> delegate) EXCLUDES(_lockQueue);
  std::uint32_t maximumNumberOfDatabasesToCreate() const {
    return _maximumNumberOfDatabasesToCreate;
  }
  void setMaximumNumberOfDatabasesToCreate(std::uint32_t limit) {
    _maximumNumberOfDatabasesToCreate = limit;
  }

  // Checks a connection out: the last one pushed back, else a new one (unless at the limit);
  // null when none can be had or opened, or the delegate refuses it.
  std::shared_ptr<SQLDatabase> db() EXCLUDES(_lockQueue);
  // Returns a connection to the waiting list; null does nothing.
  void pushDatabaseBackInPool(const std::shared_ptr<SQLDatabase>& db) EXCLUDES(_lockQueue);

  // Checks a connection out, runs `block` with it (null when none could be had), pushes it back.
  void inDatabase(const DatabaseBlock& block);
  // Exclusive (or deferred) transaction around `block` on a connection of the pool: rolled back
  // when it sets the flag, committed otherwise. When no connection can be had or the transaction
  // cannot begin, `block` is not run. The error of the step that failed, or none.
  std::optional<platform::Error> inTransaction(const TransactionBlock& block);
  std::optional<platform::Error> inDeferredTransaction(const TransactionBlock& block);
  // Savepoint "savePointN" around `block`; the error of the failing savepoint step, if any.
  std::optional<platform::Error> inSavePoint(const TransactionBlock& block);

  std::size_t countOfCheckedInDatabases() EXCLUDES(_lockQueue);
  std::size_t countOfCheckedOutDatabases() EXCLUDES(_lockQueue);
  std::size_t countOfOpenDatabases() EXCLUDES(_lockQueue);
  // Lets go of every connection, waiting or handed out.
  void releaseAllDatabases() EXCLUDES(_lockQueue);
  // Runs `block` on the lock queue.
  void executeLocked(const std::function<void()>& block) EXCLUDES(_lockQueue);

  std::string description() const;

 private:
  std::optional<platform::Error> beginTransaction(bool useDeferred, const TransactionBlock& block);

  // Set at creation, read-only after.
  const std::string _path;
  // Keeps the books below.
  mutable SQLSerialQueue _lockQueue;

  // Owned by _lockQueue.
  std::vector<std::shared_ptr<SQLDatabase>> _databaseInPool GUARDED_BY(_lockQueue);
  std::vector<std::shared_ptr<SQLDatabase>> _databaseOutPool GUARDED_BY(_lockQueue);
  std::weak_ptr<SQLDatabasePoolDelegate> _delegate GUARDED_BY(_lockQueue);

  // Read and written from any thread.
  std::atomic<std::uint32_t> _maximumNumberOfDatabasesToCreate{0};
};
