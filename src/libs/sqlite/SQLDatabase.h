#pragma once
// SQLDatabase: one connection to one SQLite database file. It prepares SQL text, binds arguments
// to its `?` (or `:name`) parameters, steps statements, keeps prepared statements in a cache
// keyed by their exact SQL text, hands query results out as SQLResultSet cursors, and offers
// transactions, savepoints, user functions, single-value queries and schema probes.
//
// Failures come back as results (null result set, false, 0); the SQLite code and message stay
// readable through `lastErrorCode()`, `lastErrorMessage()`, `hadError()` and `lastError()`.
// Nothing is logged. Exceptions are raised only for programming errors: an update given SQL that
// yields rows, a printf-like format whose arguments do not match, an empty savepoint name, and
// (when `crashOnErrors` is set) use of a closed or busy connection.
//
// Binding, by the kind of each argument Value:
//   null                          NULL
//   bytes                         blob
//   date                          double, seconds since 1970-01-01 00:00 UTC
//   bool                          integer 1 or 0
//   integer                       64-bit integer
//   double                        double
//   text                          UTF-8 text
//   array, dictionary, object     text of the value's description
// The variadic forms convert C++ arguments first (see SQLArgument.h). SQLite copies bound text
// and blobs, so arguments need not outlive the call.
//
// Busy rule: preparing, stepping and closing retry on SQLITE_BUSY and SQLITE_LOCKED, pausing
// 20 microseconds between attempts. `busyRetryTimeout()` 0 retries without a count limit; a
// limit L gives up at the (L+2)-th busy answer in a row. Either way the wait ends at once, with
// SQLITE_BUSY, where waiting could never end:
//   - the lock is held by another connection to the same file that was last used on the calling
//     thread (an unclosed read, an open transaction): that holder cannot let go while this
//     thread waits;
//   - a statement inside an explicit transaction that has read (holds a read lock) is refused
//     the write lock: its holder waits for that read lock to go before it can commit. The caller
//     ends the transaction (rolls back) and may try again. A commit, and statements outside a
//     transaction, keep retrying.
//
// A connection is used by one thread at a time; SQLDatabaseQueue and SQLDatabasePool serialise
// use from several threads. Always owned by a std::shared_ptr (result sets keep their
// connection alive): make it with `databaseWithPath`.

#include <sqlite3.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"
#include "sqlite/SQLArgument.h"
#include "sqlite/SQLResultSet.h"
#include "sqlite/SQLStatement.h"

class SQLDatabase : public std::enable_shared_from_this<SQLDatabase> {
  class Tag {
    Tag() = default;
    friend class SQLDatabase;
  };

 public:
  // Called with SQLite's function context and the arguments; sets the result through SQLite's
  // own result calls (sqlite3_result_int64, ...). An exception it throws becomes the SQL
  // function's error.
  using FunctionBlock = std::function<void(sqlite3_context*, int argc, sqlite3_value** argv)>;
  // Told of a rollback wish through the flag: set `*rollback = true` to undo the block's work.
  using SavePointBlock = std::function<void(bool* rollback)>;

  // A connection object on `path` (absent: an in-memory database), not open yet.
  static std::shared_ptr<SQLDatabase> databaseWithPath(std::optional<std::string> path);
  SQLDatabase(Tag, std::optional<std::string> path);
  ~SQLDatabase();
  SQLDatabase(const SQLDatabase&) = delete;
  SQLDatabase& operator=(const SQLDatabase&) = delete;

  // --- Connection ---
  // True at once when already open; else opens the path (":memory:" when absent). A failed open
  // leaves no handle behind.
  bool open();
  // Opens with SQLite's open flags (SQLITE_OPEN_READONLY, ...); meant for a connection not yet
  // open (an open one answers true at once, its flags unchanged).
  bool openWithFlags(int flags);
  // Finalizes cached statements, closes open result sets, then the connection. False when the
  // connection stayed busy past the retry limit (it is then still open).
  bool close();
  // Whether the connection is open and can prepare a query on the schema table.
  bool goodConnection();
  // Whether the connection is open.
  bool databaseExists();
  static std::string sqliteLibVersion();
  static bool isSQLiteThreadSafe();
  // Encryption is not supported: always false.
  bool rekey(const std::string& key);
  bool setKey(const std::string& key);

  const std::optional<std::string>& databasePath() const { return _databasePath; }
  sqlite3* sqliteHandle() const { return _db; }

  // --- Settings ---
  // With `crashOnErrors`, a failed prepare raises platform::AssertionFailure.
  bool logsErrors() const { return _logsErrors; }
  void setLogsErrors(bool v) { _logsErrors = v; }
  // Raise platform::AssertionFailure on misuse (closed connection, nested use) instead of only
  // answering null / false.
  bool crashOnErrors() const { return _crashOnErrors; }
  void setCrashOnErrors(bool v) { _crashOnErrors = v; }
  // Kept from the design; nothing sets them, and they would change nothing.
  bool traceExecution() const { return _traceExecution; }
  void setTraceExecution(bool v) { _traceExecution = v; }
  bool checkedOut() const { return _checkedOut; }
  void setCheckedOut(bool v) { _checkedOut = v; }
  // Retry limit for busy or locked answers; 0 retries without a count limit (see the busy rule).
  std::int32_t busyRetryTimeout() const { return _busyRetryTimeout; }
  void setBusyRetryTimeout(std::int32_t v) { _busyRetryTimeout = v; }

  // --- Queries: a result set, or null on failure. Nothing is stepped yet. ---
  // Arguments bound to parameters 1..n in order; arguments beyond n are ignored, fewer than n
  // fail the call (SQLITE_RANGE).
  template <class... Args>
  std::unique_ptr<SQLResultSet> executeQuery(const std::string& sql, const Args&... args) {
    std::array<platform::Value, sizeof...(Args)> values{SQLArgument::toValue(args)...};
    return executeQueryCore(sql, values.data(), values.size(), nullptr);
  }
  std::unique_ptr<SQLResultSet> executeQueryWithArgumentsInArray(const std::string& sql,
                                                                 const platform::Array& arguments);
  // Each key binds the parameter ":key"; the number of keys must equal the number of parameters.
  std::unique_ptr<SQLResultSet> executeQueryWithParameterDictionary(
      const std::string& sql, const platform::Dictionary& arguments);
  // Printf-like form: see `sqlForFormat`.
  template <class... Args>
  std::unique_ptr<SQLResultSet> executeQueryWithFormat(std::string_view format,
                                                       const Args&... args) {
    platform::Array values;
    std::string sql = sqlForFormat(format, {SQLArgument::from(args)...}, values);
    return executeQueryWithArgumentsInArray(sql, values);
  }

  // --- Updates: true when the statement ran to its end (SQLITE_DONE or SQLITE_OK). ---
  template <class... Args>
  bool executeUpdate(const std::string& sql, const Args&... args) {
    std::array<platform::Value, sizeof...(Args)> values{SQLArgument::toValue(args)...};
    return executeUpdateCore(sql, nullptr, values.data(), values.size(), nullptr);
  }
  bool executeUpdateWithArgumentsInArray(const std::string& sql, const platform::Array& arguments);
  bool executeUpdateWithParameterDictionary(const std::string& sql,
                                            const platform::Dictionary& arguments);
  template <class... Args>
  bool executeUpdateWithFormat(std::string_view format, const Args&... args) {
    platform::Array values;
    std::string sql = sqlForFormat(format, {SQLArgument::from(args)...}, values);
    return executeUpdateWithArgumentsInArray(sql, values);
  }
  // As executeUpdate; a failed prepare also fills `error` (domain: SQLite's message, code: its
  // result code).
  template <class... Args>
  bool update(const std::string& sql, platform::Error* error, const Args&... args) {
    std::array<platform::Value, sizeof...(Args)> values{SQLArgument::toValue(args)...};
    return executeUpdateCore(sql, error, values.data(), values.size(), nullptr);
  }

  // Printf-like forms: the format is copied into SQL text, each specifier becoming one "?" and
  // taking the next argument, converted as the specifier says:
  //   %@                  any argument, bound as a positional argument would be
  //   %d %D %i            an integer, narrowed to int          %u %U   unsigned int, bound as text
  //   %c                  an integer, as a one-character text  %s      a text (null: NULL)
  //   %f                  a floating value                     %g      narrowed to float
  //   %hi %hu             short / unsigned short, as text
  //   %ld %lld %qi        long / long long, as integer        %lu %llu %qu  unsigned, as text
  // Any other character after "%" is copied as it is ("%%" gives "%"). An argument whose kind
  // does not fit its specifier, or a count of arguments different from the count of specifiers,
  // raises platform::AssertionFailure: both are mistakes in the calling code.
  static std::string sqlForFormat(std::string_view format, const std::vector<SQLArgument>& args,
                                  platform::Array& values);

  // --- State and errors ---
  std::string lastErrorMessage() const;
  int lastErrorCode() const;
  // True when the last code is an error (greater than 0 and below SQLITE_ROW).
  bool hadError() const;
  // Domain "SQLDatabase", code `lastErrorCode()`, description `lastErrorMessage()`.
  platform::Error lastError() const;
  // 0 while the connection is in use by a statement.
  std::int64_t lastInsertRowId();
  int changes();
  bool hasOpenResultSets() const { return !_openResultSets.empty(); }
  void closeOpenResultSets();
  // Called by a result set as it closes.
  void resultSetDidClose(SQLResultSet* resultSet);

  // --- Transactions and savepoints ---
  bool beginTransaction();          // "begin exclusive transaction"
  bool beginDeferredTransaction();  // "begin deferred transaction"
  bool commit();
  bool rollback();
  bool inTransaction() const { return _inTransaction; }
  // The name is quoted (a "'" is doubled); an empty name raises platform::AssertionFailure.
  bool startSavePointWithName(const std::string& name, platform::Error* error = nullptr);
  bool releaseSavePointWithName(const std::string& name, platform::Error* error = nullptr);
  bool rollbackToSavePointWithName(const std::string& name, platform::Error* error = nullptr);
  // Runs `block` inside a savepoint of its own; the error of the failing step, if any.
  std::optional<platform::Error> inSavePoint(const SavePointBlock& block);

  // --- Statement cache ---
  bool shouldCacheStatements() const { return _shouldCacheStatements; }
  void setShouldCacheStatements(bool value);
  std::shared_ptr<SQLStatement> cachedStatementForQuery(const std::string& sql) const;
  void setCachedStatement(const std::shared_ptr<SQLStatement>& statement, const std::string& sql);
  void clearCachedStatements();
  // The cache, or null while caching is off.
  const std::unordered_map<std::string, std::shared_ptr<SQLStatement>>* cachedStatements() const {
    return _cachedStatements ? &*_cachedStatements : nullptr;
  }

  // --- User functions ---
  // Registers `block` as the SQL function `name` taking `maximumArguments` arguments (-1: any).
  void makeFunctionNamed(const std::string& name, int maximumArguments, FunctionBlock block);

  // --- Single-value queries and schema probes ---
  // The first column of the first row, or absent / 0 when there is no row or the query fails.
  template <class... Args>
  std::optional<std::string> stringForQuery(const std::string& sql, const Args&... args);
  template <class... Args>
  int intForQuery(const std::string& sql, const Args&... args);
  template <class... Args>
  long longForQuery(const std::string& sql, const Args&... args);
  template <class... Args>
  bool boolForQuery(const std::string& sql, const Args&... args);
  template <class... Args>
  double doubleForQuery(const std::string& sql, const Args&... args);
  template <class... Args>
  std::optional<platform::Bytes> dataForQuery(const std::string& sql, const Args&... args);
  template <class... Args>
  std::optional<platform::Date> dateForQuery(const std::string& sql, const Args&... args);
  // Whether a table (not a view) of that name exists, whatever the case of the name.
  bool tableExists(const std::string& tableName);
  // Every table, index, view and trigger of the main and temporary schemas.
  std::unique_ptr<SQLResultSet> getSchema();
  // "PRAGMA table_info(<table>)" with the name put in as it is.
  std::unique_ptr<SQLResultSet> getTableSchema(const std::string& tableName);
  bool columnExists(const std::string& tableName, const std::string& columnName);
  // Whether the SQL text prepares; nothing is run. A failure fills `error` (Cocoa error domain).
  bool validateSQL(const std::string& sql, platform::Error* error);

 private:
  friend class SQLResultSet;
  class Guard;

  std::unique_ptr<SQLResultSet> executeQueryCore(const std::string& sql,
                                                 const platform::Value* args, size_t count,
                                                 const platform::Dictionary* dictionary);
  bool executeUpdateCore(const std::string& sql, platform::Error* error,
                         const platform::Value* args, size_t count,
                         const platform::Dictionary* dictionary);
  // Prepares `sql` (under the busy rule) or takes it from the cache. Null on failure.
  std::shared_ptr<SQLStatement> statementFor(const std::string& sql, platform::Error* error,
                                             bool* fromCache);
  bool bindArguments(sqlite3_stmt* statement, const platform::Value* args, size_t count,
                     const platform::Dictionary* dictionary);
  void bindObject(const platform::Value& value, int index, sqlite3_stmt* statement);
  // Whether a busy answer should be retried once more; `retries` counts this operation's tries.
  bool shouldRetryBusy(int& retries) const;
  // The same for a statement that waits for a lock (prepare, step): a wait that would deadlock
  // is not retried either.
  bool shouldRetryLock(int rc, int& retries) const;
  // Whether this connection holds a read lock inside an explicit transaction, so that waiting
  // for the write lock could wait for ever.
  bool waitWouldDeadlock() const;
  // Whether another connection to this file, last used on this thread, holds a lock.
  bool sameThreadHolderExists() const;
  // Steps `statement` under the busy rule; SQLite's last answer.
  int stepUnderBusyRule(sqlite3_stmt* statement);
  // Called as a statement starts or steps: the thread now using the connection, and a fresh
  // last code from SQLite rather than an earlier refusal of the layer.
  void markUsedOnThisThread() {
    lastUseThread_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    layerError_.reset();
  }
  bool misuse(const char* what);
  void setBindingError(int code, std::string message);
  void trackStatement(const std::shared_ptr<SQLStatement>& statement);
  void closeTrackedStatements();
  bool savePointStatement(const char* pattern, const std::string& name, platform::Error* error);
  template <class Read>
  auto firstValue(std::unique_ptr<SQLResultSet> resultSet, Read read)
      -> decltype(read(std::declval<SQLResultSet&>()));

  // Set at creation, read-only after.
  const std::optional<std::string> _databasePath;

  // Read and written from any thread.
  std::atomic<bool> _logsErrors{false};
  std::atomic<bool> _crashOnErrors{false};
  std::atomic<bool> _traceExecution{false};
  std::atomic<bool> _checkedOut{false};
  std::atomic<std::int32_t> _busyRetryTimeout{0};

  // Written by the thread using the connection under the registry's mutex (open, close); read by
  // that thread without it, and by other connections' busy checks under it.
  sqlite3* _db = nullptr;
  // The thread that last ran or stepped a statement here; read by other connections' busy
  // checks.
  std::atomic<std::thread::id> lastUseThread_{};

  // Used by one thread at a time: the one using the connection.
  bool _shouldCacheStatements = false;
  bool _isExecutingStatement = false;
  bool _inTransaction = false;
  std::optional<std::unordered_map<std::string, std::shared_ptr<SQLStatement>>> _cachedStatements;
  std::unordered_set<SQLResultSet*> _openResultSets;
  std::list<FunctionBlock> _openFunctions;
  // Every statement object this connection made or cached, so `close` can finalize each once.
  std::vector<std::weak_ptr<SQLStatement>> trackedStatements_;
  // A failure found by the layer itself (argument count, misuse) rather than by SQLite; it
  // answers `lastErrorCode` until the next statement runs.
  std::optional<std::pair<int, std::string>> layerError_;
};

template <class Read>
auto SQLDatabase::firstValue(std::unique_ptr<SQLResultSet> resultSet, Read read)
    -> decltype(read(std::declval<SQLResultSet&>())) {
  using R = decltype(read(std::declval<SQLResultSet&>()));
  if (!resultSet || !resultSet->next()) return R{};
  R value = read(*resultSet);
  resultSet->close();
  return value;
}

template <class... Args>
std::optional<std::string> SQLDatabase::stringForQuery(const std::string& sql,
                                                       const Args&... args) {
  return firstValue(executeQuery(sql, args...),
                    [](SQLResultSet& rs) { return rs.stringForColumnIndex(0); });
}
template <class... Args>
int SQLDatabase::intForQuery(const std::string& sql, const Args&... args) {
  return firstValue(executeQuery(sql, args...),
                    [](SQLResultSet& rs) { return rs.intForColumnIndex(0); });
}
template <class... Args>
long SQLDatabase::longForQuery(const std::string& sql, const Args&... args) {
  return firstValue(executeQuery(sql, args...),
                    [](SQLResultSet& rs) { return rs.longForColumnIndex(0); });
}
template <class... Args>
bool SQLDatabase::boolForQuery(const std::string& sql, const Args&... args) {
  return firstValue(executeQuery(sql, args...),
                    [](SQLResultSet& rs) { return rs.boolForColumnIndex(0); });
}
template <class... Args>
double SQLDatabase::doubleForQuery(const std::string& sql, const Args&... args) {
  return firstValue(executeQuery(sql, args...),
                    [](SQLResultSet& rs) { return rs.doubleForColumnIndex(0); });
}
template <class... Args>
std::optional<platform::Bytes> SQLDatabase::dataForQuery(const std::string& sql,
                                                         const Args&... args) {
  return firstValue(executeQuery(sql, args...),
                    [](SQLResultSet& rs) { return rs.dataForColumnIndex(0); });
}
template <class... Args>
std::optional<platform::Date> SQLDatabase::dateForQuery(const std::string& sql,
                                                        const Args&... args) {
  return firstValue(executeQuery(sql, args...),
                    [](SQLResultSet& rs) { return rs.dateForColumnIndex(0); });
}
