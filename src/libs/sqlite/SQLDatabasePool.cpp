#include "sqlite/SQLDatabasePool.h"

#include <algorithm>
#include <cstdio>

#include "platform/foundation/Assert.h"
#include "sqlite/SQLPoolCheckout.h"
#include "sqlite/SQLSavePoint.h"
#include "sqlite/SQLTransaction.h"

namespace {

template <class List>
void removeFrom(List& list, const std::shared_ptr<SQLDatabase>& db) {
  list.erase(std::remove(list.begin(), list.end(), db), list.end());
}

template <class List>
bool contains(const List& list, const std::shared_ptr<SQLDatabase>& db) {
  return std::find(list.begin(), list.end(), db) != list.end();
}

platform::Error noConnection() {
  return platform::Error::withDescription("SQLDatabase", SQLITE_CANTOPEN,
                                          "no connection could be had from the pool");
}

}  // namespace

std::shared_ptr<SQLDatabasePool> SQLDatabasePool::databasePoolWithPath(const std::string& path) {
  return std::make_shared<SQLDatabasePool>(Tag(), path);
}

SQLDatabasePool::SQLDatabasePool(Tag, std::string path)
    : _path(std::move(path)), _lockQueue("sqldb." + description()) {}

SQLDatabasePool::~SQLDatabasePool() { _delegate.reset(); }

std::string SQLDatabasePool::description() const {
  char text[64];
  std::snprintf(text, sizeof text, "<SQLDatabasePool: %p>", static_cast<const void*>(this));
  return text;
}

std::weak_ptr<SQLDatabasePoolDelegate> SQLDatabasePool::delegate() const {
  std::weak_ptr<SQLDatabasePoolDelegate> delegate;
  _lockQueue.sync([&] {
    _lockQueue.assertOnQueue();
    delegate = _delegate;
  });
  return delegate;
}

void SQLDatabasePool::setDelegate(std::weak_ptr<SQLDatabasePoolDelegate> delegate) {
  _lockQueue.sync([&] {
    _lockQueue.assertOnQueue();
    _delegate = std::move(delegate);
  });
}

void SQLDatabasePool::executeLocked(const std::function<void()>& block) { _lockQueue.sync(block); }

std::shared_ptr<SQLDatabase> SQLDatabasePool::db() {
  std::shared_ptr<SQLDatabase> handedOut;
  _lockQueue.sync([&] {
    _lockQueue.assertOnQueue();
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
  _lockQueue.sync([&] {
    _lockQueue.assertOnQueue();
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
  SQLPoolCheckout checkout(*this);
  block(checkout.db());
  checkout.pushBack();
}

std::optional<platform::Error> SQLDatabasePool::inTransaction(const TransactionBlock& block) {
  return beginTransaction(false, block);
}

std::optional<platform::Error> SQLDatabasePool::inDeferredTransaction(
    const TransactionBlock& block) {
  return beginTransaction(true, block);
}

std::optional<platform::Error> SQLDatabasePool::beginTransaction(bool useDeferred,
                                                                 const TransactionBlock& block) {
  SQLPoolCheckout checkout(*this);
  const auto& db = checkout.db();
  if (!db) return noConnection();
  auto kind = useDeferred ? SQLTransaction::Kind::Deferred : SQLTransaction::Kind::Exclusive;
  auto result = SQLTransaction::run(*db, kind, [&](bool* rollback) { block(db, rollback); });
  checkout.pushBack();
  return result;
}

std::optional<platform::Error> SQLDatabasePool::inSavePoint(const TransactionBlock& block) {
  static std::atomic<long> savePointIndex{0};
  std::string name = "savePoint" + std::to_string(savePointIndex++);
  SQLPoolCheckout checkout(*this);
  const auto& db = checkout.db();
  if (!db) return noConnection();
  auto result =
      SQLSavePoint::run(*db, std::move(name), [&](bool* rollback) { block(db, rollback); });
  checkout.pushBack();
  return result;
}

std::size_t SQLDatabasePool::countOfCheckedInDatabases() {
  std::size_t count = 0;
  _lockQueue.sync([&] {
    _lockQueue.assertOnQueue();
    count = _databaseInPool.size();
  });
  return count;
}

std::size_t SQLDatabasePool::countOfCheckedOutDatabases() {
  std::size_t count = 0;
  _lockQueue.sync([&] {
    _lockQueue.assertOnQueue();
    count = _databaseOutPool.size();
  });
  return count;
}

std::size_t SQLDatabasePool::countOfOpenDatabases() {
  std::size_t count = 0;
  _lockQueue.sync([&] {
    _lockQueue.assertOnQueue();
    count = _databaseInPool.size() + _databaseOutPool.size();
  });
  return count;
}

void SQLDatabasePool::releaseAllDatabases() {
  _lockQueue.sync([&] {
    _lockQueue.assertOnQueue();
    _databaseInPool.clear();
    _databaseOutPool.clear();
  });
}
