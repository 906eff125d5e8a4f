#pragma once
// SQLDatabaseQueue: one connection used from any thread, one caller at a time. Every use runs
// synchronously on a serial dispatch queue; the callable gets the connection (null when it
// could not be opened). After `close()` the next use opens a fresh connection on the same path.
//
// Calling the queue again from inside one of its own callables would wait on itself for ever;
// it raises platform::AssertionFailure instead. An exception thrown by a callable is passed on
// to the caller (an open transaction is rolled back first).

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/Error.h"
#include "sqlite/SQLDatabase.h"

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

  void inDatabase(const DatabaseBlock& block);
  // Exclusive (or deferred) transaction around `block`: rolled back when it sets the flag,
  // committed otherwise.
  void inTransaction(const TransactionBlock& block);
  void inDeferredTransaction(const TransactionBlock& block);
  // Savepoint "savePointN" around `block`; the error of the failing savepoint step, if any.
  std::optional<platform::Error> inSavePoint(const TransactionBlock& block);
  // Closes and drops the connection.
  void close();

  // "<SQLDatabaseQueue: 0x...>"; the queue's label is "sqldb." followed by it.
  std::string description() const;

 private:
  void beginTransaction(bool useDeferred, const TransactionBlock& block);
  // Runs `work` on the serial queue, refusing a nested call and passing exceptions back.
  void run(const std::function<void()>& work);
  // The connection, opened anew after `close()`; null when that open fails.
  std::shared_ptr<SQLDatabase> database();

  std::string _path;
  std::shared_ptr<platform::dispatch::Queue> _queue;
  std::shared_ptr<SQLDatabase> _db;
};
