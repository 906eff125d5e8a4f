#pragma once
// SQLStatement: one prepared SQLite statement, owned. The connection keeps these in its statement
// cache (keyed by SQL text) and result sets hold the one they step. The handle is finalized by
// `close()` and at destruction, exactly once: `close()` nulls it, and a connection that closes
// first closes every statement object it made, so no handle outlives its connection.

#include <sqlite3.h>

#include <string>

class SQLStatement {
 public:
  SQLStatement() = default;
  explicit SQLStatement(sqlite3_stmt* statement, std::string query = {})
      : _statement(statement), _query(std::move(query)) {}
  ~SQLStatement();
  SQLStatement(const SQLStatement&) = delete;
  SQLStatement& operator=(const SQLStatement&) = delete;

  // Finalizes the handle (if any) and forgets it.
  void close();
  // Resets the handle (if any) so it can be bound and stepped again.
  void reset();

  sqlite3_stmt* statement() const { return _statement; }
  void setStatement(sqlite3_stmt* statement) { _statement = statement; }
  const std::string& query() const { return _query; }
  void setQuery(std::string query) { _query = std::move(query); }
  // How many queries and updates have used this statement.
  long useCount() const { return _useCount; }
  void setUseCount(long count) { _useCount = count; }
  // Set while an open result set steps this statement: the connection then prepares a fresh
  // statement for the same SQL text instead of rebinding this one under the reader.
  bool inUse() const { return inUse_; }
  void setInUse(bool inUse) { inUse_ = inUse; }

  // "<SQLStatement: 0x...> N hit(s) for query SQL".
  std::string description() const;

 private:
  sqlite3_stmt* _statement = nullptr;
  std::string _query;
  long _useCount = 0;
  bool inUse_ = false;
};
