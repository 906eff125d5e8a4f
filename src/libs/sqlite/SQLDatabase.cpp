#include "sqlite/SQLDatabase.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/foundation/Assert.h"
#include "platform/foundation/Mutex.h"
#include "sqlite/SQLSavePoint.h"

namespace {

// Every open connection of the process, so a busy wait can tell whether the lock it waits for
// is held by a connection of its own thread. A connection enters when it opens and leaves before
// its handle is closed, both under the mutex, so a handle read under the mutex is alive.
struct Registry {
  platform::Mutex mutex;
  std::unordered_set<SQLDatabase*> connections GUARDED_BY(mutex);
};

Registry& registry() {
  // Never destroyed: connections may still close during the process's static destruction.
  static auto* instance = new Registry;
  return *instance;
}

constexpr auto kBusyPause = std::chrono::microseconds(20);

bool isBusy(int rc) { return rc == SQLITE_BUSY || rc == SQLITE_LOCKED; }

std::string quotedName(const std::string& name) {
  std::string out;
  out.reserve(name.size() + 2);
  for (char c : name) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

void forwardFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  auto* block = static_cast<SQLDatabase::FunctionBlock*>(sqlite3_user_data(context));
  try {
    (*block)(context, argc, argv);
  } catch (const std::exception& e) {
    sqlite3_result_error(context, e.what(), -1);
  } catch (...) {
    sqlite3_result_error(context, "SQL function failed", -1);
  }
}

}  // namespace

// Sets the in-use guard for the duration of a core operation, whatever way it ends.
class SQLDatabase::Guard {
 public:
  explicit Guard(SQLDatabase& db) : db_(db) { db_._isExecutingStatement = true; }
  ~Guard() { db_._isExecutingStatement = false; }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  SQLDatabase& db_;
};

std::shared_ptr<SQLDatabase> SQLDatabase::databaseWithPath(std::optional<std::string> path) {
  return std::make_shared<SQLDatabase>(Tag(), std::move(path));
}

SQLDatabase::SQLDatabase(Tag, std::optional<std::string> path) : _databasePath(std::move(path)) {
  platform::assertThat(sqlite3_threadsafe() != 0,
                       "The SQLite library was built without thread safety");
}

SQLDatabase::~SQLDatabase() {
  if (close() || !_db) return;
  // Only a statement SQLite will not give up can keep the handle; let SQLite close it later.
  Registry& connections = registry();
  platform::MutexLock lock(connections.mutex);
  connections.connections.erase(this);
  sqlite3_close_v2(_db);
  _db = nullptr;
}

// --- Connection ---

bool SQLDatabase::open() {
  if (_db) return true;
  return openWithFlags(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

bool SQLDatabase::openWithFlags(int flags) {
  if (_db) return true;
  sqlite3* handle = nullptr;
  const char* path = _databasePath ? _databasePath->c_str() : ":memory:";
  int rc = sqlite3_open_v2(path, &handle, flags, nullptr);
  if (rc != SQLITE_OK) {
    // SQLite hands back a handle even when opening fails; keep only its verdict.
    setBindingError(rc, handle ? sqlite3_errmsg(handle) : sqlite3_errstr(rc));
    sqlite3_close(handle);
    return false;
  }
  layerError_.reset();
  Registry& connections = registry();
  platform::MutexLock lock(connections.mutex);
  _db = handle;
  connections.connections.insert(this);
  return true;
}

bool SQLDatabase::close() {
  auto keepAlive = weak_from_this().lock();
  clearCachedStatements();
  closeOpenResultSets();
  if (!_db) return true;
  // Statement objects still held elsewhere finalize their handles here, once; SQLite's own
  // list then holds none of theirs, so the sweep below cannot finalize a handle twice.
  closeTrackedStatements();
  int retries = 0;
  bool swept = false;
  for (;;) {
    {
      Registry& connections = registry();
      platform::MutexLock lock(connections.mutex);
      int rc = sqlite3_close(_db);
      if (!isBusy(rc)) {
        connections.connections.erase(this);
        _db = nullptr;
        _inTransaction = false;
        return true;
      }
    }
    if (!swept) {
      swept = true;
      while (sqlite3_stmt* statement = sqlite3_next_stmt(_db, nullptr)) {
        sqlite3_finalize(statement);
      }
    }
    if (!shouldRetryBusy(retries)) return false;
  }
}

bool SQLDatabase::goodConnection() {
  if (!_db) return false;
  auto resultSet = executeQuery("select name from sqlite_master where type='table'");
  if (!resultSet) return false;
  resultSet->close();
  return true;
}

bool SQLDatabase::databaseExists() {
  if (_db) return true;
  return misuse("The SQLDatabase is not open");
}

std::string SQLDatabase::sqliteLibVersion() { return sqlite3_libversion(); }

bool SQLDatabase::isSQLiteThreadSafe() { return sqlite3_threadsafe() != 0; }

bool SQLDatabase::rekey(const std::string&) { return false; }

bool SQLDatabase::setKey(const std::string&) { return false; }

// --- Errors ---

bool SQLDatabase::misuse(const char* what) {
  if (_crashOnErrors) throw platform::AssertionFailure(what);
  setBindingError(SQLITE_MISUSE, what);
  return false;
}

void SQLDatabase::setBindingError(int code, std::string message) {
  layerError_.emplace(code, std::move(message));
}

std::string SQLDatabase::lastErrorMessage() const {
  if (layerError_) return layerError_->second;
  if (!_db) return "The SQLDatabase is not open";
  return sqlite3_errmsg(_db);
}

int SQLDatabase::lastErrorCode() const {
  if (layerError_) return layerError_->first;
  return sqlite3_errcode(_db);
}

bool SQLDatabase::hadError() const {
  int code = lastErrorCode();
  return code > SQLITE_OK && code < SQLITE_ROW;
}

platform::Error SQLDatabase::lastError() const {
  return platform::Error::withDescription("SQLDatabase", lastErrorCode(), lastErrorMessage());
}

std::int64_t SQLDatabase::lastInsertRowId() {
  if (_isExecutingStatement || !_db) return 0;
  Guard guard(*this);
  return sqlite3_last_insert_rowid(_db);
}

int SQLDatabase::changes() {
  if (_isExecutingStatement || !_db) return 0;
  Guard guard(*this);
  return sqlite3_changes(_db);
}

// --- Busy rule ---

bool SQLDatabase::shouldRetryBusy(int& retries) const {
  if (sameThreadHolderExists()) return false;
  std::this_thread::sleep_for(kBusyPause);
  std::int32_t limit = _busyRetryTimeout;
  if (limit == 0) return true;
  if (retries > limit) return false;
  ++retries;
  return true;
}

bool SQLDatabase::shouldRetryLock(int rc, int& retries) const {
  if (rc == SQLITE_BUSY && waitWouldDeadlock()) return false;
  return shouldRetryBusy(retries);
}

bool SQLDatabase::waitWouldDeadlock() const {
  // Inside an explicit transaction that has read, a busy answer means another connection holds
  // the write lock (or waits to commit) and will wait for our read lock to go before it can
  // commit: SQLite's documented deadlock. Only our caller can end it, by rolling back. A commit
  // holds the write lock itself, and a statement outside a transaction lets go of its read lock
  // when it gets a busy answer, so both keep retrying.
  return !sqlite3_get_autocommit(_db) && sqlite3_txn_state(_db, nullptr) == SQLITE_TXN_READ;
}

int SQLDatabase::stepUnderBusyRule(sqlite3_stmt* statement) {
  int retries = 0;
  for (;;) {
    int rc = sqlite3_step(statement);
    if (!isBusy(rc)) return rc;
    if (rc == SQLITE_LOCKED) rc = sqlite3_reset(statement);
    if (!shouldRetryLock(rc, retries)) return rc;
  }
}

bool SQLDatabase::sameThreadHolderExists() const {
  if (!_db) return false;
  const char* mine = sqlite3_db_filename(_db, "main");
  if (!mine || !*mine) return false;
  auto self = std::this_thread::get_id();
  Registry& connections = registry();
  platform::MutexLock lock(connections.mutex);
  for (SQLDatabase* other : connections.connections) {
    if (other == this || !other->_db || other->lastUseThread_.load() != self) continue;
    const char* theirs = sqlite3_db_filename(other->_db, "main");
    if (!theirs || std::strcmp(mine, theirs) != 0) continue;
    if (sqlite3_txn_state(other->_db, nullptr) != SQLITE_TXN_NONE) return true;
  }
  return false;
}

// --- Statements ---

void SQLDatabase::trackStatement(const std::shared_ptr<SQLStatement>& statement) {
  if (trackedStatements_.size() >= 64) {
    std::erase_if(trackedStatements_, [](const auto& weak) { return weak.expired(); });
  }
  trackedStatements_.push_back(statement);
}

void SQLDatabase::closeTrackedStatements() {
  for (auto& weak : trackedStatements_) {
    if (auto statement = weak.lock()) statement->close();
  }
  trackedStatements_.clear();
}

std::shared_ptr<SQLStatement> SQLDatabase::statementFor(const std::string& sql,
                                                        platform::Error* error, bool* fromCache) {
  *fromCache = false;
  if (_cachedStatements) {
    auto it = _cachedStatements->find(sql);
    // A cached statement that an open result set is still stepping is left alone.
    if (it != _cachedStatements->end() && it->second->statement() && !it->second->inUse()) {
      *fromCache = true;
      return it->second;
    }
  }
  sqlite3_stmt* handle = nullptr;
  int rc;
  int retries = 0;
  for (;;) {
    rc = sqlite3_prepare_v2(_db, sql.c_str(), static_cast<int>(sql.size()), &handle, nullptr);
    if (isBusy(rc)) {
      sqlite3_finalize(handle);
      handle = nullptr;
      if (shouldRetryLock(rc, retries)) continue;
      return nullptr;
    }
    break;
  }
  if (rc != SQLITE_OK) {
    sqlite3_finalize(handle);
    if (_logsErrors && _crashOnErrors) {
      throw platform::AssertionFailure("DB Error: " + std::to_string(rc) + " \"" +
                                       sqlite3_errmsg(_db) + "\" preparing " + sql);
    }
    if (error) *error = platform::Error(sqlite3_errmsg(_db), rc);
    return nullptr;
  }
  auto statement = std::make_shared<SQLStatement>(handle, sql);
  trackStatement(statement);
  return statement;
}

void SQLDatabase::bindObject(const platform::Value& value, int index, sqlite3_stmt* statement) {
  using Kind = platform::Value::Kind;
  switch (value.kind()) {
    case Kind::Null:
      sqlite3_bind_null(statement, index);
      return;
    case Kind::Bytes: {
      const auto& bytes = *value.asBytes();
      // An empty buffer stays an empty blob, not NULL.
      static const std::uint8_t kEmpty = 0;
      const void* data = bytes.empty() ? &kEmpty : bytes.data();
      sqlite3_bind_blob(statement, index, data, static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
      return;
    }
    case Kind::Date:
      sqlite3_bind_double(statement, index, platform::toSeconds(*value.asDate()));
      return;
    case Kind::Bool:
      sqlite3_bind_int(statement, index, *value.asBool() ? 1 : 0);
      return;
    case Kind::Integer:
      sqlite3_bind_int64(statement, index, *value.asInteger());
      return;
    case Kind::Double:
      sqlite3_bind_double(statement, index, *value.asDouble());
      return;
    case Kind::Text: {
      const std::string& text = *value.asText();
      sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT);
      return;
    }
    default: {
      std::string text = value.description();
      sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT);
      return;
    }
  }
}

bool SQLDatabase::bindArguments(sqlite3_stmt* statement, const platform::Value* args, size_t count,
                                const platform::Dictionary* dictionary) {
  int parameters = sqlite3_bind_parameter_count(statement);
  if (dictionary) {
    // A reused statement keeps its last bindings; a parameter no key names must read NULL.
    sqlite3_clear_bindings(statement);
    for (const auto& [key, value] : *dictionary) {
      int index = sqlite3_bind_parameter_index(statement, (":" + key).c_str());
      if (index > 0) bindObject(value, index, statement);
    }
    if (dictionary->size() == static_cast<size_t>(parameters)) return true;
    setBindingError(SQLITE_RANGE, std::to_string(dictionary->size()) + " named arguments for " +
                                      std::to_string(parameters) + " parameters");
    return false;
  }
  if (count < static_cast<size_t>(parameters)) {
    setBindingError(SQLITE_RANGE, std::to_string(count) + " arguments for " +
                                      std::to_string(parameters) + " parameters");
    return false;
  }
  for (int i = 0; i < parameters; ++i) bindObject(args[i], i + 1, statement);
  return true;
}

std::unique_ptr<SQLResultSet> SQLDatabase::executeQueryCore(
    const std::string& sql, const platform::Value* args, size_t count,
    const platform::Dictionary* dictionary) {
  if (!_db) return misuse("The SQLDatabase is not open"), nullptr;
  if (_isExecutingStatement) return misuse("The SQLDatabase is currently in use."), nullptr;
  Guard guard(*this);
  markUsedOnThisThread();
  bool fromCache = false;
  auto statement = statementFor(sql, nullptr, &fromCache);
  if (!statement) return nullptr;
  sqlite3_stmt* handle = statement->statement();
  if (handle && !bindArguments(handle, args, count, dictionary)) {
    if (fromCache) {
      statement->reset();
    } else {
      statement->close();
    }
    return nullptr;
  }
  if (!fromCache && _cachedStatements && handle && !_cachedStatements->contains(sql)) {
    _cachedStatements->emplace(sql, statement);
  }
  auto resultSet = SQLResultSet::resultSetWithStatement(statement, shared_from_this());
  resultSet->setQuery(sql);
  _openResultSets.insert(resultSet.get());
  statement->setInUse(true);
  statement->setUseCount(statement->useCount() + 1);
  return resultSet;
}

bool SQLDatabase::executeUpdateCore(const std::string& sql, platform::Error* error,
                                    const platform::Value* args, size_t count,
                                    const platform::Dictionary* dictionary) {
  if (!_db) return misuse("The SQLDatabase is not open");
  if (_isExecutingStatement) return misuse("The SQLDatabase is currently in use.");
  Guard guard(*this);
  markUsedOnThisThread();
  bool fromCache = false;
  auto statement = statementFor(sql, error, &fromCache);
  if (!statement) return false;
  sqlite3_stmt* handle = statement->statement();
  if (!handle) return true;  // Only white space or comments: nothing to run.
  bool cached = fromCache;
  if (!bindArguments(handle, args, count, dictionary)) {
    if (cached) {
      statement->reset();
    } else {
      statement->close();
    }
    return false;
  }
  int rc = stepUnderBusyRule(handle);
  if (!cached && _cachedStatements && !_cachedStatements->contains(sql)) {
    _cachedStatements->emplace(sql, statement);
    cached = true;
  }
  statement->setUseCount(statement->useCount() + 1);
  if (cached) {
    statement->reset();
  } else {
    statement->close();
  }
  if (rc == SQLITE_ROW) {
    throw platform::AssertionFailure("A executeUpdate is being called with a query string '" + sql +
                                     "'");
  }
  return rc == SQLITE_DONE || rc == SQLITE_OK;
}

std::unique_ptr<SQLResultSet> SQLDatabase::executeQueryWithArgumentsInArray(
    const std::string& sql, const platform::Array& arguments) {
  return executeQueryCore(sql, arguments.data(), arguments.size(), nullptr);
}

std::unique_ptr<SQLResultSet> SQLDatabase::executeQueryWithParameterDictionary(
    const std::string& sql, const platform::Dictionary& arguments) {
  return executeQueryCore(sql, nullptr, 0, &arguments);
}

bool SQLDatabase::executeUpdateWithArgumentsInArray(const std::string& sql,
                                                    const platform::Array& arguments) {
  return executeUpdateCore(sql, nullptr, arguments.data(), arguments.size(), nullptr);
}

bool SQLDatabase::executeUpdateWithParameterDictionary(const std::string& sql,
                                                       const platform::Dictionary& arguments) {
  return executeUpdateCore(sql, nullptr, nullptr, 0, &arguments);
}

// --- Printf-like forms ---

namespace {

class FormatReader {
 public:
  FormatReader(const std::vector<SQLArgument>& args, std::string_view format)
      : args_(args), format_(format) {}

  const SQLArgument& take(const char* specifier, bool integral, bool floating, bool text) {
    if (next_ >= args_.size()) {
      throw platform::AssertionFailure("Too few arguments for format '" + std::string(format_) +
                                       "'");
    }
    const SQLArgument& arg = args_[next_++];
    using Kind = SQLArgument::Kind;
    bool fits = (integral && (arg.kind() == Kind::Signed || arg.kind() == Kind::Unsigned)) ||
                (floating && arg.kind() == Kind::Floating) || (text && arg.kind() == Kind::Text);
    if (!fits) {
      throw platform::AssertionFailure("Argument " + std::to_string(next_) + " does not fit %" +
                                       specifier + " in format '" + std::string(format_) + "'");
    }
    return arg;
  }
  const SQLArgument& takeAny() {
    if (next_ >= args_.size()) {
      throw platform::AssertionFailure("Too few arguments for format '" + std::string(format_) +
                                       "'");
    }
    return args_[next_++];
  }
  void finish() const {
    if (next_ != args_.size()) {
      throw platform::AssertionFailure("Too many arguments for format '" + std::string(format_) +
                                       "'");
    }
  }

 private:
  const std::vector<SQLArgument>& args_;
  std::string_view format_;
  size_t next_ = 0;
};

template <class T>
platform::Value asText(T number) {
  return platform::Value(std::to_string(number));
}

}  // namespace

std::string SQLDatabase::sqlForFormat(std::string_view format, const std::vector<SQLArgument>& args,
                                      platform::Array& values) {
  FormatReader reader(args, format);
  std::string sql;
  sql.reserve(format.size());
  auto at = [&](size_t i) { return i < format.size() ? format[i] : '\0'; };
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%') {
      sql += c;
      continue;
    }
    if (++i >= format.size()) break;
    char s = format[i];
    std::optional<platform::Value> value;
    switch (s) {
      case '@':
        value = reader.takeAny().value();
        break;
      case 'd':
      case 'D':
      case 'i':
        value =
            platform::Value(static_cast<int>(reader.take("d", true, false, false).signedValue()));
        break;
      case 'u':
      case 'U':
        value = asText(static_cast<unsigned>(reader.take("u", true, false, false).unsignedValue()));
        break;
      case 'c':
        value = platform::Value(
            std::string(1, static_cast<char>(reader.take("c", true, false, false).signedValue())));
        break;
      case 's':
        value = reader.take("s", false, false, true).value();
        break;
      case 'f':
        value = platform::Value(reader.take("f", false, true, false).floatingValue());
        break;
      case 'g':
        value = platform::Value(static_cast<double>(
            static_cast<float>(reader.take("g", false, true, false).floatingValue())));
        break;
      case 'h':
        if (at(i + 1) == 'i') {
          value = asText(static_cast<short>(reader.take("hi", true, false, false).signedValue()));
          ++i;
        } else if (at(i + 1) == 'u') {
          value = asText(
              static_cast<unsigned short>(reader.take("hu", true, false, false).unsignedValue()));
          ++i;
        }
        break;
      case 'l':
        if (at(i + 1) == 'd') {
          value = platform::Value(
              static_cast<long long>(reader.take("ld", true, false, false).signedValue()));
          ++i;
        } else if (at(i + 1) == 'u') {
          value = asText(reader.take("lu", true, false, false).unsignedValue());
          ++i;
        } else if (at(i + 1) == 'l' && at(i + 2) == 'd') {
          value = platform::Value(
              static_cast<long long>(reader.take("lld", true, false, false).signedValue()));
          i += 2;
        } else if (at(i + 1) == 'l' && at(i + 2) == 'u') {
          value = asText(reader.take("llu", true, false, false).unsignedValue());
          i += 2;
        }
        break;
      case 'q':
        if (at(i + 1) == 'i') {
          value = platform::Value(
              static_cast<long long>(reader.take("qi", true, false, false).signedValue()));
          ++i;
        } else if (at(i + 1) == 'u') {
          value = asText(reader.take("qu", true, false, false).unsignedValue());
          ++i;
        }
        break;
      default:
        break;
    }
    if (value) {
      sql += '?';
      values.push_back(std::move(*value));
    } else {
      sql += s;
    }
  }
  reader.finish();
  return sql;
}

// --- Result sets ---

void SQLDatabase::closeOpenResultSets() {
  auto openSets = _openResultSets;
  for (SQLResultSet* resultSet : openSets) {
    // Cleared first, so the set does not call back into this connection while it closes.
    std::shared_ptr<SQLDatabase> parent = resultSet->parentDB();
    resultSet->setParentDB(nullptr);
    resultSet->close();
    _openResultSets.erase(resultSet);
  }
}

void SQLDatabase::resultSetDidClose(SQLResultSet* resultSet) { _openResultSets.erase(resultSet); }

// --- Transactions and savepoints ---

bool SQLDatabase::beginTransaction() {
  bool ok = executeUpdate("begin exclusive transaction");
  if (ok) _inTransaction = true;
  return ok;
}

bool SQLDatabase::beginDeferredTransaction() {
  bool ok = executeUpdate("begin deferred transaction");
  if (ok) _inTransaction = true;
  return ok;
}

bool SQLDatabase::commit() {
  bool ok = executeUpdate("commit transaction");
  if (ok) _inTransaction = false;
  return ok;
}

bool SQLDatabase::rollback() {
  bool ok = executeUpdate("rollback transaction");
  if (ok) _inTransaction = false;
  return ok;
}

bool SQLDatabase::savePointStatement(const char* pattern, const std::string& name,
                                     platform::Error* error) {
  if (name.empty()) throw platform::AssertionFailure("Invalid parameter not satisfying: name");
  std::string sql = pattern;
  sql.replace(sql.find("%@"), 2, quotedName(name));
  if (executeUpdate(sql)) return true;
  if (error) *error = lastError();
  return false;
}

bool SQLDatabase::startSavePointWithName(const std::string& name, platform::Error* error) {
  return savePointStatement("savepoint '%@';", name, error);
}

bool SQLDatabase::releaseSavePointWithName(const std::string& name, platform::Error* error) {
  return savePointStatement("release savepoint '%@';", name, error);
}

bool SQLDatabase::rollbackToSavePointWithName(const std::string& name, platform::Error* error) {
  return savePointStatement("rollback transaction to savepoint '%@';", name, error);
}

std::optional<platform::Error> SQLDatabase::inSavePoint(const SavePointBlock& block) {
  static std::atomic<long> savePointIndex{0};
  return SQLSavePoint::run(*this, "dbSavePoint" + std::to_string(savePointIndex++), block);
}

// --- Statement cache ---

void SQLDatabase::setShouldCacheStatements(bool value) {
  _shouldCacheStatements = value;
  if (value && !_cachedStatements) _cachedStatements.emplace();
  if (!value) _cachedStatements.reset();
}

std::shared_ptr<SQLStatement> SQLDatabase::cachedStatementForQuery(const std::string& sql) const {
  if (!_cachedStatements) return nullptr;
  auto it = _cachedStatements->find(sql);
  return it == _cachedStatements->end() ? nullptr : it->second;
}

void SQLDatabase::setCachedStatement(const std::shared_ptr<SQLStatement>& statement,
                                     const std::string& sql) {
  if (!_cachedStatements || !statement) return;
  statement->setQuery(sql);
  trackStatement(statement);
  (*_cachedStatements)[sql] = statement;
}

void SQLDatabase::clearCachedStatements() {
  if (!_cachedStatements) return;
  for (auto& [sql, statement] : *_cachedStatements) statement->close();
  _cachedStatements->clear();
}

// --- User functions ---

void SQLDatabase::makeFunctionNamed(const std::string& name, int maximumArguments,
                                    FunctionBlock block) {
  if (!_db) return;
  _openFunctions.push_back(std::move(block));
  sqlite3_create_function(_db, name.c_str(), maximumArguments, SQLITE_UTF8, &_openFunctions.back(),
                          forwardFunction, nullptr, nullptr);
}
