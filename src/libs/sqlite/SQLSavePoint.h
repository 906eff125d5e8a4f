#pragma once
// SQLSavePoint: a savepoint for the length of a scope. The constructor starts it; the destructor
// rolls back to it and releases it unless it was released or rolled back already. A savepoint
// that was rolled back to is released as well, so an outermost savepoint never leaves a
// transaction open behind it.
//
// `run` is the whole pattern shared by the connection's, the queue's and the pool's
// `inSavePoint`: the block runs only inside a savepoint that started.

#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"

class SQLDatabase;

class SQLSavePoint {
 public:
  // Told of a rollback wish through the flag: set `*rollback = true` to undo the block's work.
  using Block = std::function<void(bool* rollback)>;

  // Starts the savepoint `name` (quoted by the connection); a failure fills `error`.
  SQLSavePoint(SQLDatabase& db, std::string name, platform::Error* error = nullptr);
  ~SQLSavePoint();
  SQLSavePoint(const SQLSavePoint&) = delete;
  SQLSavePoint& operator=(const SQLSavePoint&) = delete;

  bool started() const { return started_; }
  // Keeps the work done since the start.
  bool release(platform::Error* error = nullptr);
  // Undoes the work done since the start, then releases the savepoint.
  bool rollback(platform::Error* error = nullptr);

  // Starts `name`, runs `block`, then releases the savepoint, or rolls back to it and releases it
  // when the block sets the flag. The error of the step that failed, or none; when the savepoint
  // cannot start the block is not run. An exception from the block rolls back and reaches the
  // caller.
  static std::optional<platform::Error> run(SQLDatabase& db, std::string name, const Block& block);

 private:
  SQLDatabase& db_;
  const std::string name_;
  bool started_ = false;
  // Started, and neither released nor rolled back yet.
  bool open_ = false;
};
