#include "sqlite/SQLDatabasePool.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "platform/foundation/Assert.h"

namespace {

template <class List>
void removeFrom(List& list, const std::shared_ptr<SQLDatabase>& db) {
  list.erase(std::remove(list.begin(), list.end(), db), list.end());
}

template <class List>
bool contains(const List& list, const std::shared_ptr<SQLDatabase>& db) {
  return std::find(list.begin(), list.end(), db) != list.end();
}

}  // namespace

std::shared_ptr<SQLDatabasePool> SQLDatabasePool::databasePoolWithPath(const std::string& path) {
  return std::make_shared<SQLDatabasePool>(Tag(), path);
}

SQLDatabasePool::SQLDatabasePool(Tag, std::string path) : _path(std::move(path)) {
  _lockQueue = platform::dispatch::Queue::serial("sqldb." + description());
}

SQLDatabasePool::~SQLDatabasePool() { _delegate.reset(); }

std::string SQLDatabasePool::description() const {
  char text[64];
  std::snprintf(text, sizeof text, "<SQLDatabasePool: %p>", static_cast<const void*>(this));
  return text;
}

void SQLDatabasePool::executeLocked(const std::function<void()>& block) {
  // Runs on the caller's thread once the queue is free; a call from inside the queue's own work
  // fails the dispatch layer's nested-sync assertion instead of waiting for ever, and an
  // exception from the work reaches the caller.
  _lockQueue->sync(block);
}

std::shared_ptr<SQLDatabase> SQLDatabasePool::db() {
  std::shared_ptr<SQLDatabase> handedOut;
  executeLocked([&] {
    std::shared_ptr<SQLDatabase> db;
    if (!_databaseInPool.empty()) {
      db = _databaseInPool.back();
      _databaseInPool.pop_back();
      _databaseOutPool.push_back(db);
    } else {
      std::uint32_t limit = _maximumNumberOfDatabasesToCreate;
      if (limit && _databaseInPool.size() + _databaseOutPool.size() >= limit) return;
      db = SQLDatabase::databaseWithPath(_path);
    }
    // A connection that cannot be used leaves the books, so it no longer counts as handed out.
    if (!db->open()) {
      removeFrom(_databaseOutPool, db);
      return;
    }
    if (auto delegate = _delegate.lock()) {
      std::optional<bool> accepted = delegate->databasePool(*this, db);
      if (accepted && !*accepted) {
        db->close();
        removeFrom(_databaseOutPool, db);
        return;
      }
    }
    if (!contains(_databaseOutPool, db)) _databaseOutPool.push_back(db);
    handedOut = db;
  });
  return handedOut;
}

void SQLDatabasePool::pushDatabaseBackInPool(const std::shared_ptr<SQLDatabase>& db) {
  if (!db) return;
  executeLocked([&] {
    if (contains(_databaseInPool, db)) {
      throw platform::Exception(
          "Database already in pool",
          "The SQLDatabase being put back into the pool is already present in the pool");
    }
    _databaseInPool.push_back(db);
    removeFrom(_databaseOutPool, db);
  });
}

void SQLDatabasePool::inDatabase(const DatabaseBlock& block) {
  auto db = this->db();
  try {
    block(db);
  } catch (...) {
    pushDatabaseBackInPool(db);
    throw;
  }
  pushDatabaseBackInPool(db);
}

void SQLDatabasePool::inTransaction(const TransactionBlock& block) {
  beginTransaction(false, block);
}

void SQLDatabasePool::inDeferredTransaction(const TransactionBlock& block) {
  beginTransaction(true, block);
}

void SQLDatabasePool::beginTransaction(bool useDeferred, const TransactionBlock& block) {
  auto db = this->db();
  if (db) useDeferred ? db->beginDeferredTransaction() : db->beginTransaction();
  bool shouldRollback = false;
  try {
    block(db, &shouldRollback);
  } catch (...) {
    if (db) db->rollback();
    pushDatabaseBackInPool(db);
    throw;
  }
  if (db) shouldRollback ? db->rollback() : db->commit();
  pushDatabaseBackInPool(db);
}

std::optional<platform::Error> SQLDatabasePool::inSavePoint(const TransactionBlock& block) {
  static std::atomic<long> savePointIndex{0};
  std::string name = "savePoint" + std::to_string(savePointIndex++);
  auto db = this->db();
  if (!db) {
    return platform::Error::withDescription("SQLDatabase", SQLITE_CANTOPEN,
                                            "no connection could be had from the pool");
  }
  std::optional<platform::Error> result;
  platform::Error error;
  if (!db->startSavePointWithName(name, &error)) {
    pushDatabaseBackInPool(db);
    return error;
  }
  bool shouldRollback = false;
  try {
    block(db, &shouldRollback);
  } catch (...) {
    db->rollbackToSavePointWithName(name);
    db->releaseSavePointWithName(name);
    pushDatabaseBackInPool(db);
    throw;
  }
  // Rolling back to a savepoint leaves it open; it is released either way.
  if (shouldRollback && !db->rollbackToSavePointWithName(name, &error)) {
    result = error;
  } else if (!db->releaseSavePointWithName(name, &error)) {
    result = error;
  }
  pushDatabaseBackInPool(db);
  return result;
}

std::size_t SQLDatabasePool::countOfCheckedInDatabases() {
  std::size_t count = 0;
  executeLocked([&] { count = _databaseInPool.size(); });
  return count;
}

std::size_t SQLDatabasePool::countOfCheckedOutDatabases() {
  std::size_t count = 0;
  executeLocked([&] { count = _databaseOutPool.size(); });
  return count;
}

std::size_t SQLDatabasePool::countOfOpenDatabases() {
  std::size_t count = 0;
  executeLocked([&] { count = _databaseInPool.size() + _databaseOutPool.size(); });
  return count;
}

void SQLDatabasePool::releaseAllDatabases() {
  executeLocked([&] {
    _databaseInPool.clear();
    _databaseOutPool.clear();
  });
}
