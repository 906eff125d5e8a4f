#pragma once
// SQLDatabaseQueue: one connection used from any thread, one caller at a time. Every use runs
// synchronously on a serial dispatch queue; the callable gets the connection (null when it
// could not be opened). After `close()` the next use opens a fresh connection on the same path.
//
// Calling the queue again from inside one of its own callables would wait on itself for ever;
// it raises platform::AssertionFailure instead. An exception thrown by a callable is passed on
// to the caller (an open transaction or savepoint is undone first).

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "sqlite/SQLDatabase.h"
#include "sqlite/SQLSerialQueue.h"

class SQLDatabaseQueue : public std::enable_shared_from_this<SQLDatabaseQueue> {
  class Tag {
    Tag() = default;
    friend class SQLDatabaseQueue;
  };

 public:
  using DatabaseBlock = std::function<void(const std::shared_ptr<SQLDatabase>& db)>;
  using TransactionBlock =
      std::function<void(const std::shared_ptr<SQLDatabase>& db, bool* rollback)>;

  // A queue over an open connection on `path`; null when the file cannot be opened.
  static std::shared_ptr<SQLDatabaseQueue> databaseQueueWithPath(const std::string& path);
  SQLDatabaseQueue(Tag, std::string path, std::shared_ptr<SQLDatabase> db);
  ~SQLDatabaseQueue();

  const std::string& path() const { return _path; }

  void inDatabase(const DatabaseBlock& block) EXCLUDES(_queue);
  // Exclusive (or deferred) transaction around `block`: rolled back when it sets the flag,
  // committed otherwise. When no connection can be opened or the transaction cannot begin (the
  // file is locked, a transaction is already open), `block` is not run. The error of the step
  // that failed (open, begin, commit or rollback), or none.
  std::optional<platform::Error> inTransaction(const TransactionBlock& block) EXCLUDES(_queue);
  std::optional<platform::Error> inDeferredTransaction(const TransactionBlock& block)
      EXCLUDES(_queue);
  // Savepoint "savePointN" around `block`; the error of the failing savepoint step, if any.
  std::optional<platform::Error> inSavePoint(const TransactionBlock& block) EXCLUDES(_queue);
  // Closes and drops the connection.
  void close() EXCLUDES(_queue);

  // "<SQLDatabaseQueue: 0x...>"; the queue's label is "sqldb." followed by it.
  std::string description() const;

 private:
  std::optional<platform::Error> beginTransaction(bool useDeferred, const TransactionBlock& block)
      EXCLUDES(_queue);
  // The connection, opened anew after `close()`; null when that open fails.
  std::shared_ptr<SQLDatabase> database() REQUIRES(_queue);

  // Set at creation, read-only after.
  const std::string _path;
  // Runs every use of the connection.
  SQLSerialQueue _queue;

  // Owned by _queue.
  std::shared_ptr<SQLDatabase> _db GUARDED_BY(_queue);
};
