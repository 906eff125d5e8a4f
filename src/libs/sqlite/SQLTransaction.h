#pragma once
// SQLTransaction: a transaction for the length of a scope. The constructor begins it (exclusive
// or deferred); the destructor rolls it back unless it was committed or rolled back, so an early
// return, an exception or a failed commit never leaves the connection inside a transaction that
// would keep the file locked.
//
//   SQLTransaction transaction(*db);
//   if (!transaction.begun()) return;   // db->lastError() says why
//   ... statements ...
//   transaction.commit();
//
// `run` is the whole pattern for the queue's and the pool's transactions: the block runs only
// inside a transaction that began.

#include <functional>
#include <optional>

#include "platform/foundation/Error.h"

class SQLDatabase;

class SQLTransaction {
 public:
  enum class Kind { Exclusive, Deferred };
  // Told of a rollback wish through the flag: set `*rollback = true` to undo the block's work.
  using Block = std::function<void(bool* rollback)>;

  explicit SQLTransaction(SQLDatabase& db, Kind kind = Kind::Exclusive);
  ~SQLTransaction();
  SQLTransaction(const SQLTransaction&) = delete;
  SQLTransaction& operator=(const SQLTransaction&) = delete;

  // Whether the transaction began.
  bool begun() const { return begun_; }
  // False when it did not begin or the commit failed (the destructor then rolls it back).
  bool commit();
  bool rollback();

  // Begins a transaction on `db`, runs `block` and commits, or rolls back when the block sets
  // the flag. When the transaction cannot begin, the block is not run. The error of the step
  // that failed (begin, commit or rollback), or none. An exception from the block rolls back and
  // reaches the caller.
  static std::optional<platform::Error> run(SQLDatabase& db, Kind kind, const Block& block);

 private:
  SQLDatabase& db_;
  bool begun_ = false;
  // Begun, and neither committed nor rolled back yet.
  bool open_ = false;
};
